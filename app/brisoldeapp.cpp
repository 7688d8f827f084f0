#include "brisoldeapp.h"

#include "brisoldedoc.h"
#include "brisoldeview.h"
#include "engine.h"
#include "mainfrm.h"
#include "shellverb.h"

#include "doctemplate.h"
#include "profilenames.h"
#include "resource.h"
#include "tolvernversion.h"

#include <QApplication>
#include <QFile>
#include <QPrintDialog>
#include <QPrinter>

// Registry company key; the profile's last component is the application title.
static constexpr char kRegistryKey[] = "Tolvern Midi Applications";

CBrisoldeApp::CBrisoldeApp()
{
    onCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
    onCommand(ID_FILE_PRINT_SETUP, [this] { OnFilePrintSetup(); });
}

CBrisoldeApp::~CBrisoldeApp() = default;

bool CBrisoldeApp::InitInstance()
{
    // OLE, ActiveX hosting and COM need no start-up here.
    SetRegistryKey(kRegistryKey);
    LoadStdProfileSettings(profile::kRecentFileCount);

    ResetEngineVariables();
    if (!InitDirectMusic()) {
        FreeDirectMusic();
        return false;
    }

    AddDocTemplate(new framework::SingleDocTemplate(
        IDR_MAINFRAME, [] { return new CBrisoldeDoc; },
        [] { return new CMainFrame(&RegisterPlayVerb); },
        [](QWidget* parent) { return new CBrisoldeView(parent); }));

    RegisterShellFileTypes();

    QList<QByteArray> arguments;
    if (m_arguments) {
        arguments = *m_arguments;
    } else {
        const QStringList args = QCoreApplication::arguments();
        for (qsizetype i = 1; i < args.size(); ++i)
            arguments << QFile::encodeName(args.at(i));
    }
    const CCommandLineInfo info = ParseCommandLine(arguments);

    // A run that ends without a main window shuts the engine down itself;
    // otherwise the main frame's destructor does.
    auto endWithoutWindow = [this] {
        if (!docTemplate()->frame())
            FreeDirectMusic();
        return false;
    };
    // Serving embedded objects needs the embedding server, which this
    // program does not carry yet: a start for a container ends at once.
    if (info.m_bRunEmbedded || info.m_bRunAutomated)
        return endWithoutWindow();

    if (!ProcessShellCommand(info))
        return endWithoutWindow();

    m_pMainWnd->show();
    m_pMainWnd->setAcceptDrops(true);
    return true;
}

void CBrisoldeApp::OnExitWhileRunning()
{
    FreeDirectMusic();
}

bool CBrisoldeApp::ProcessShellCommand(const CCommandLineInfo& info)
{
    switch (info.m_nShellCommand) {
    case CCommandLineInfo::FileNew:
    case CCommandLineInfo::FileDDE:
        OnFileNew();
        return m_pMainWnd != nullptr;
    case CCommandLineInfo::FileOpen:
        return OpenDocumentFile(info.m_strFileName) != nullptr && m_pMainWnd;
    case CCommandLineInfo::FilePrint:
    case CCommandLineInfo::FilePrintTo:
        // Prints the file without showing the window, then the program ends.
        if (OpenDocumentFile(info.m_strFileName) && m_pMainWnd)
            m_pMainWnd->sendCommand(ID_FILE_PRINT_DIRECT);
        return false;
    case CCommandLineInfo::AppRegister:
        RegisterShellFileTypes();
        RegisterPlayVerb();
        setSaveSettingsAtExit(false);
        return false;
    case CCommandLineInfo::AppUnregister:
        UnregisterShellFileTypes();
        setSaveSettingsAtExit(false);
        return false;
    }
    return false;
}

void CBrisoldeApp::OnAppAbout()
{
    TolvernVersionAbout(nullptr, m_hInstance, IDR_MAINFRAME, IDB_ABOUT_PICTURE);
}

void CBrisoldeApp::OnFilePrintSetup()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>();
    QPrintDialog dialog(m_printer.get(), m_pMainWnd);
    dialog.exec();
}
