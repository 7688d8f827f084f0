#include "brisoldeapp.h"

#include "brisoldedoc.h"
#include "brisoldeview.h"
#include "ipframe.h"
#include "mainfrm.h"
#include "shellverb.h"

#include "images.h"
#include "menus.h"
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

CBrisoldeApp::CBrisoldeApp(CTransport::Options transportOptions)
    : framework::WinApp(res::module()), m_transportOptions(std::move(transportOptions))
{
    onCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
    onCommand(ID_FILE_PRINT_SETUP, [this] { OnFilePrintSetup(); });
}

CBrisoldeApp::~CBrisoldeApp()
{
    // The frame and the document hold the transport: they go first.
    if (docTemplate())
        docTemplate()->CloseAllDocuments();
}

bool CBrisoldeApp::InitInstance()
{
    // OLE, ActiveX hosting and COM need no start-up here.
    SetRegistryKey(kRegistryKey);
    LoadStdProfileSettings(profile::kRecentFileCount);

    // A fresh engine: nothing created and nothing loaded.
    m_pTransport = std::make_unique<CTransport>(profile(), m_transportOptions);
    CTransport& transport = *m_pTransport;
    if (!transport.InitDirectMusic()) {
        transport.FreeDirectMusic();
        return false;
    }

    // The document, the frames and the view are given the transport and the profile.
    auto* pDocTemplate = new embedding::ServerDocTemplate(
        IDR_MAINFRAME, [this, &transport] { return new CBrisoldeDoc(transport, profile()); },
        [this, &transport] { return new CMainFrame(transport, profile(), &RegisterPlayVerb); },
        [](QWidget* parent) { return new CBrisoldeView(parent); });
    pDocTemplate->SetServerInfo(IDR_SRVR_EMBEDDED, IDR_SRVR_INPLACE,
                                [&transport] { return new CInPlaceFrame(transport); });
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
    auto endWithoutWindow = [this, &transport] {
        if (!docTemplate()->frame())
            transport.FreeDirectMusic();
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
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, &transport, [this, &transport] {
            if (!docTemplate()->frame())
                transport.FreeDirectMusic();
        });
        return true;
    }

    // A stand-alone start repairs the server's registration.
    m_server.UpdateRegistry(programPath());

    // The media controls' player follows the transport from the first file
    // on (the command line's too); it appears on the bus with the window.
    m_pMprisPlayer = std::make_unique<CMprisPlayer>(transport);
    if (!ProcessShellCommand(info)) {
        m_pMprisPlayer.reset();
        return endWithoutWindow();
    }

    m_pMainWnd->show();
    m_pMainWnd->setAcceptDrops(true);
    // Without a session bus the program runs as before, without media controls.
    if (!m_pMprisPlayer->Publish())
        m_pMprisPlayer.reset();
    return true;
}

void CBrisoldeApp::OnExitWhileRunning()
{
    if (m_pTransport)
        m_pTransport->FreeDirectMusic();
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
    // The program's module, as the About library looks pictures up: by path.
    TolvernVersionAbout(nullptr, res::resourceRoot(), IDR_MAINFRAME, IDB_ABOUT_PICTURE);
}

void CBrisoldeApp::OnFilePrintSetup()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>();
    QPrintDialog dialog(m_printer.get(), m_pMainWnd);
    dialog.exec();
}
