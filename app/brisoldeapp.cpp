#include "brisoldeapp.h"

#include "brisoldedoc.h"
#include "brisoldeview.h"
#include "engine.h"
#include "ipframe.h"
#include "mainfrm.h"
#include "shellverb.h"

#include "profilenames.h"
#include "resource.h"
#include "serverdoc.h"
#include "stringtable.h"
#include "tolvernversion.h"

#include <QApplication>
#include <QFile>
#include <QPrintDialog>
#include <QPrinter>
#include <cstdio>

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

    auto* pDocTemplate = new embedding::ServerDocTemplate(
        IDR_MAINFRAME, [] { return new CBrisoldeDoc; },
        [] { return new CMainFrame(&RegisterPlayVerb); },
        [](QWidget* parent) { return new CBrisoldeView(parent); });
    pDocTemplate->SetServerInfo(IDR_SRVR_EMBEDDED, IDR_SRVR_INPLACE,
                                [] { return new CInPlaceFrame; });
    pDocTemplate->SetEmbeddedTitleFormat(res::loadString(AFX_IDS_APP_TITLE_EMBEDDING));
    AddDocTemplate(pDocTemplate);

    // One server process for each embedded object.
    m_server.ConnectTemplate(kDocumentClassId, pDocTemplate, true);

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
    // Started for a container: the factory waits on the bus, with no window
    // until a container asks for an object.
    if (info.m_bRunEmbedded || info.m_bRunAutomated) {
        QString reason;
        if (!m_server.RegisterAll(&reason)) {
            std::fprintf(stderr, "brisolde: cannot serve embedded objects: %s\n",
                         reason.toLocal8Bit().constData());
            PostQuitMessage(1);
            setSaveSettingsAtExit(false);
            return endWithoutWindow();
        }
        // The engine is the main frame's to shut down; a server that no
        // container asked for has none.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [this] {
            if (!docTemplate()->frame())
                FreeDirectMusic();
        });
        return true;
    }

    // A stand-alone start repairs the server's registration.
    m_server.UpdateRegistry(programPath());

    if (!ProcessShellCommand(info))
        return endWithoutWindow();

    m_pMainWnd->show();
    m_pMainWnd->setAcceptDrops(true);
    return true;
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
        m_server.UpdateRegistry(programPath());
        RegisterShellFileTypes();
        RegisterPlayVerb();
        setSaveSettingsAtExit(false);
        return false;
    case CCommandLineInfo::AppUnregister:
        m_server.UpdateRegistry(programPath(), false);
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
