#include "commandline.h"

namespace {

enum class Switch
{
    None,
    Print,
    PrintTo,
    Dde,
    Register,
    Unregister,
    Embedding,
    Automation
};

Switch switchOf(const QByteArray& word)
{
    if (word == "p")
        return Switch::Print;
    if (word == "pt")
        return Switch::PrintTo;
    if (word == "dde")
        return Switch::Dde;
    const QByteArray lower = word.toLower();
    if (lower == "register" || lower == "regserver")
        return Switch::Register;
    if (lower == "unregister" || lower == "unregserver")
        return Switch::Unregister;
    if (lower == "embedding")
        return Switch::Embedding;
    if (lower == "automation")
        return Switch::Automation;
    return Switch::None;
}

} // namespace

CCommandLineInfo ParseCommandLine(const QList<QByteArray>& arguments)
{
    CCommandLineInfo info;
    bool print = false;
    bool printTo = false;
    int printToParameters = 0;
    for (const QByteArray& argument : arguments) {
        // An empty argument names nothing.
        if (argument.isEmpty())
            continue;
        const bool dash = argument.startsWith('-') && argument.size() > 1;
        const bool slash = argument.startsWith('/') && argument.size() > 1 &&
                           switchOf(argument.mid(1)) != Switch::None;
        if (dash || slash) {
            switch (switchOf(argument.mid(1))) {
            case Switch::Print:
                print = true;
                break;
            case Switch::PrintTo:
                printTo = true;
                break;
            case Switch::Dde:
                info.m_nShellCommand = CCommandLineInfo::FileDDE;
                break;
            case Switch::Register:
                info.m_nShellCommand = CCommandLineInfo::AppRegister;
                break;
            case Switch::Unregister:
                info.m_nShellCommand = CCommandLineInfo::AppUnregister;
                break;
            case Switch::Embedding:
                info.m_bRunEmbedded = true;
                break;
            case Switch::Automation:
                info.m_bRunAutomated = true;
                break;
            case Switch::None:
                break;
            }
            continue;
        }
        if (info.m_strFileName.empty()) {
            info.m_strFileName = argument.toStdString();
            if (info.m_nShellCommand == CCommandLineInfo::FileNew)
                info.m_nShellCommand = printTo ? CCommandLineInfo::FilePrintTo
                                       : print ? CCommandLineInfo::FilePrint
                                               : CCommandLineInfo::FileOpen;
        } else if (printTo) {
            // "-pt file printer driver port"
            std::string* targets[] = {&info.m_strPrinterName, &info.m_strDriverName,
                                      &info.m_strPortName};
            if (printToParameters < 3)
                *targets[printToParameters++] = argument.toStdString();
        }
    }
    if (!info.m_strFileName.empty() && info.m_nShellCommand == CCommandLineInfo::FileOpen) {
        if (printTo)
            info.m_nShellCommand = CCommandLineInfo::FilePrintTo;
        else if (print)
            info.m_nShellCommand = CCommandLineInfo::FilePrint;
    }
    return info;
}
