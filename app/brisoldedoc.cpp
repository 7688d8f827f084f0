#include "brisoldedoc.h"

#include "directoryview.h"
#include "engine.h"
#include "mainfrm.h"
#include "srvritem.h"

#include "profilenames.h"
#include "waitcursor.h"
#include "winapp.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

#include <unistd.h>

CBrisoldeDoc::CBrisoldeDoc() = default;
CBrisoldeDoc::~CBrisoldeDoc() = default;

void CBrisoldeDoc::Serialize(embedding::Archive&) {}

embedding::ServerItem* CBrisoldeDoc::OnGetEmbeddedItem()
{
    return new CBrisoldeSrvrItem(this);
}

bool CBrisoldeDoc::OnNewDocument()
{
    return framework::Document::OnNewDocument();
}

int CBrisoldeDoc::LoadMidiFile(const std::string& path)
{
    return ::LoadMidiFile(path);
}

bool CBrisoldeDoc::OnOpenDocument(const std::string& path)
{
    framework::WaitCursor wait;
    framework::WinApp* app = framework::AfxGetApp();

    const std::size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash);
    if (app)
        app->WriteProfileString(profile::kSettings, profile::kDefaultDirectoryName, directory);
    if (::chdir(directory.c_str()) != 0) {
        // A directory that cannot be entered is no reason not to play.
    }
    directory += '/';
    const std::string stored =
        app ? app->GetProfileString(profile::kSettings, profile::kDefaultDirectory,
                                    profile::defaultDirectoryDefault().c_str())
            : std::string();
    if (stored != directory) {
        if (app)
            app->WriteProfileString(profile::kSettings, profile::kDefaultDirectory, directory);
        auto* mainFrame = app ? qobject_cast<CMainFrame*>(app->m_pMainWnd.data()) : nullptr;
        if (CDirectoryView* tree = mainFrame ? mainFrame->GetDirectoryView() : nullptr)
            tree->RebuildTree();
    }

    // The frame that shows this document: during start-up it is not yet the
    // application's main window. While the panes are lent to a container
    // (in place), the transport stays with the document's own main frame.
    CMainFrame* frame = nullptr;
    for (framework::View* view : views()) {
        if (QWidget* w = view->widget(); w && (frame = qobject_cast<CMainFrame*>(w->window())))
            break;
    }
    if (!frame && GetDocTemplate())
        frame = qobject_cast<CMainFrame*>(GetDocTemplate()->frame());

    const int result = LoadMidiFile(path);
    if (frame) {
        // The one report of a file that does not play: the loader's reason in the status bar.
        if (result != 0) {
            const QString name = QFile::decodeName(QByteArray::fromStdString(
                slash == std::string::npos ? path : path.substr(slash + 1)));
            frame->SetMessageText(QStringLiteral("Cannot play %1: %2")
                                      .arg(name, QString::fromStdString(LastLoadError())));
        } else {
            frame->SetMessageText(QString());
        }
    }

    auto option = [app](const char* entry, int defaultValue) {
        return profile::isOn(app ? app->GetProfileInt(profile::kSettings, entry, defaultValue)
                                 : defaultValue);
    };
    if (option(profile::kAutoplay, profile::kAutoplayDefault) ||
        option(profile::kLoop, profile::kLoopDefault) ||
        option(profile::kPlayDirectory, profile::kPlayDirectoryDefault)) {
        if (frame)
            frame->PlayMidi();
    }
    return true;
}
