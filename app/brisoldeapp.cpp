#include "brisoldeapp.h"

#include "mainfrm.h"

#include "doctemplate.h"
#include "document.h"
#include "profilenames.h"
#include "resource.h"
#include "tolvernversion.h"

#include <QApplication>
#include <QFile>

// Registry company key; the profile's last component is the application title.
static constexpr char kRegistryKey[] = "Tolvern Midi Applications";

CBrisoldeApp::CBrisoldeApp()
{
    onCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
}

CBrisoldeApp::~CBrisoldeApp() = default;

bool CBrisoldeApp::InitInstance()
{
    SetRegistryKey(kRegistryKey);
    LoadStdProfileSettings(profile::kRecentFileCount);

    AddDocTemplate(new framework::SingleDocTemplate(
        IDR_MAINFRAME, [] { return new framework::Document; }, [] { return new CMainFrame; },
        nullptr));

    // A file named on the command line is opened through the document.
    const QStringList args = QCoreApplication::arguments();
    framework::Document* document = nullptr;
    if (args.size() > 1 && !args.at(1).startsWith(QLatin1Char('-')))
        document = OpenDocumentFile(QFile::encodeName(args.at(1)).toStdString());
    else
        OnFileNew();
    (void)document;
    if (!m_pMainWnd)
        return false;

    m_pMainWnd->show();
    return true;
}

void CBrisoldeApp::OnAppAbout()
{
    TolvernVersionAbout(nullptr, m_hInstance, IDR_MAINFRAME, IDB_ABOUT_PICTURE);
}
