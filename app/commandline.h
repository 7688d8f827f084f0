// The command line: an optional file name and the standard switches.
#pragma once

#include <QStringList>
#include <string>

struct CCommandLineInfo
{
    enum ShellCommand
    {
        FileNew,
        FileOpen,
        FilePrint,
        FilePrintTo,
        FileDDE,
        AppRegister,
        AppUnregister,
    };

    ShellCommand m_nShellCommand = FileNew;
    std::string m_strFileName; // bytes of the file name
    std::string m_strPrinterName;
    std::string m_strDriverName;
    std::string m_strPortName;
    bool m_bRunEmbedded = false;
    bool m_bRunAutomated = false;
};

// Reads the arguments after the program's name. A switch is "-" or "/"
// followed by one of the words "p", "pt", "dde" (letter case as written),
// "Register", "Regserver", "Unregister", "Unregserver", "Embedding",
// "Automation" (any letter case); other "-" words are ignored. Because an
// absolute file name starts with "/" too, "/" makes a switch only of those
// words: "/home/ann/song.mid" is a file name.
CCommandLineInfo ParseCommandLine(const QList<QByteArray>& arguments);
