#include "serverdoc.h"

#include "ipframewnd.h"
#include "protocol.h"
#include "serveritem.h"

#include "internal/foreignwindow.h"

#include "framewnd.h"
#include "messagebox.h"
#include "winapp.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace embedding {

ClientSite::~ClientSite() = default;

// ServerDocTemplate

ServerDocTemplate::ServerDocTemplate(int resourceId, DocumentFactory newDocument,
                                     FrameFactory newFrame, ViewFactory newView)
    : SingleDocTemplate(resourceId, std::move(newDocument), std::move(newFrame), newView),
      m_newView(std::move(newView))
{
}

ServerDocTemplate::~ServerDocTemplate() = default;

void ServerDocTemplate::SetServerInfo(int embeddedResource, int inPlaceResource,
                                      InPlaceFrameFactory newInPlaceFrame)
{
    m_embeddedResource = embeddedResource;
    m_inPlaceResource = inPlaceResource;
    m_newInPlaceFrame = std::move(newInPlaceFrame);
}

IPFrameWnd* ServerDocTemplate::CreateInPlaceFrame(framework::Document* document)
{
    IPFrameWnd* frame = m_newInPlaceFrame ? m_newInPlaceFrame() : nullptr;
    if (!frame)
        return nullptr;
    framework::CreateContext context{document, this, m_newView};
    if (!frame->LoadFrame(m_inPlaceResource, &context)) {
        delete frame;
        return nullptr;
    }
    return frame;
}

// The windows of one in-place activation. Ours die before the container's
// (foreign) windows: a foreign window owns the windows parented to it.
struct ServerDoc::InPlace
{
    QPointer<IPFrameWnd> frame;
    QPointer<QWidget> barHost;
    QWindow* site = nullptr;
    QWindow* frameStrip = nullptr;
    int borderHeight = 0;
};

// Watches the document's frame while the document is embedded: closing it
// (File > Exit, the window's close button) only hides it for the container.
// It is also the context of work deferred until a command has returned.
class ServerDoc::FrameWatcher : public QObject
{
public:
    explicit FrameWatcher(ServerDoc* document) : m_document(document) {}

    void watch(QWidget* frame)
    {
        if (m_frame == frame)
            return;
        if (m_frame)
            m_frame->removeEventFilter(this);
        m_frame = frame;
        if (frame)
            frame->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_frame || event->type() != QEvent::Close || !m_document->IsEmbedded())
            return false;
        event->ignore();
        m_document->OnShowDocument(false);
        return true;
    }

private:
    ServerDoc* m_document;
    QPointer<QWidget> m_frame;
};

// ServerDoc

ServerDoc::ServerDoc() : m_frameWatcher(std::make_unique<FrameWatcher>(this))
{
    onCommand(kIdFileUpdate, [this] { OnUpdateDocument(); });
    onCommand(kIdFileSaveCopyAs, [this] { OnFileSaveCopyAs(); });
}

ServerDoc::~ServerDoc()
{
    m_pClientSite = nullptr;
    tearDownInPlace();
    m_frameWatcher.reset();
}

ServerItem* ServerDoc::GetEmbeddedItem()
{
    if (!m_pEmbeddedItem)
        m_pEmbeddedItem.reset(OnGetEmbeddedItem());
    return m_pEmbeddedItem.get();
}

void ServerDoc::Serialize(Archive&) {}

bool ServerDoc::IsInPlaceActive() const
{
    return m_inPlace != nullptr;
}

IPFrameWnd* ServerDoc::inPlaceFrame() const
{
    return m_inPlace ? m_inPlace->frame.data() : nullptr;
}

framework::FrameWnd* ServerDoc::documentFrame() const
{
    return GetDocTemplate() ? GetDocTemplate()->frame() : nullptr;
}

ServerDocTemplate* ServerDoc::serverTemplate() const
{
    return dynamic_cast<ServerDocTemplate*>(GetDocTemplate());
}

void ServerDoc::setClientSite(ClientSite* site)
{
    m_pClientSite = site;
    framework::FrameWnd* frame = documentFrame();
    ServerDocTemplate* docTemplate = serverTemplate();
    if (site && frame && docTemplate && docTemplate->embeddedResource()) {
        frame->LoadMenu(docTemplate->embeddedResource());
        frame->LoadAccelTable(docTemplate->embeddedResource());
    }
    m_frameWatcher->watch(site ? frame : nullptr);
}

QByteArray ServerDoc::saveObject()
{
    QByteArray data;
    Archive ar(&data, Archive::store);
    if (ServerItem* item = GetEmbeddedItem())
        item->Serialize(ar);
    return data;
}

void ServerDoc::loadObject(const QByteArray& data)
{
    QByteArray copy = data;
    Archive ar(&copy, Archive::load);
    if (ServerItem* item = GetEmbeddedItem())
        item->Serialize(ar);
}

void ServerDoc::SetHostNames(const QString&, const QString& containerDocument)
{
    m_strHostObj = containerDocument;
}

InPlaceResult ServerDoc::refuse(const char* error, const QString& message)
{
    InPlaceResult result;
    result.error = error;
    result.message = message;
    return result;
}

InPlaceResult ServerDoc::activateInPlace(quintptr site, quintptr frameStrip, const QSize& siteSize,
                                         int frameStripWidth)
{
    if (m_inPlace) {
        setObjectRects(siteSize, frameStripWidth);
        return InPlaceResult{true, m_inPlace->borderHeight, nullptr, {}};
    }
    if (!internal::foreignWindowsSupported())
        return refuse(kErrorInPlaceNotSupported,
                      QStringLiteral("the windowing system (%1) cannot show a window inside "
                                     "another program's window; open the object instead")
                          .arg(QGuiApplication::platformName()));
    framework::FrameWnd* docFrame = documentFrame();
    ServerDocTemplate* docTemplate = serverTemplate();
    if (!docFrame || !docFrame->centralWidget() || !docTemplate)
        return refuse(kErrorInPlaceFailed, QStringLiteral("the document has no frame to lend"));

    auto state = std::make_unique<InPlace>();
    state->site = internal::adoptForeignWindow(site);
    state->frameStrip = internal::adoptForeignWindow(frameStrip);
    auto giveUp = [&state](const QString& message) {
        delete state->barHost.data();
        delete state->frame.data();
        delete state->site;
        delete state->frameStrip;
        InPlaceResult result;
        result.error = kErrorInPlaceFailed;
        result.message = message;
        return result;
    };
    if (!state->site || !state->frameStrip)
        return giveUp(QStringLiteral("the container's window 0x%1 does not exist")
                          .arg(state->site ? frameStrip : site, 0, 16));

    // Everything is made before anything is shown.
    IPFrameWnd* frame = docTemplate->CreateInPlaceFrame(this);
    if (!frame)
        return giveUp(QStringLiteral("the in-place frame could not be made"));
    state->frame = frame;
    frame->setDocumentFrame(docFrame);
    auto* host = new QWidget(nullptr, Qt::FramelessWindowHint);
    host->setObjectName(QStringLiteral("inPlaceBars"));
    auto* layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    state->barHost = host;
    frame->setControlBarHost(host);
    if (!frame->OnCreateControlBars(host, frame))
        return giveUp(QStringLiteral("the in-place bars could not be made"));

    internal::nameControlWindows(host);
    internal::placeInForeignWindow(frame, state->site);
    internal::placeInForeignWindow(host, state->frameStrip);
    frame->takePanes(docFrame->takeCentralWidget());
    frame->setStatusSink([this](const QString& text) {
        if (m_pClientSite)
            m_pClientSite->SetStatusText(text);
    });
    frame->setResizeSink([this](const QSize& size) {
        if (m_pClientSite)
            m_pClientSite->OnPosRectChange(size);
    });
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    state->borderHeight = frame->layoutControlBars(frameStripWidth);
    frame->setGeometry(0, 0, siteSize.width(), siteSize.height());
    host->setGeometry(0, 0, frameStripWidth, state->borderHeight);

    if (m_bOpen) {
        // In place, the document's own frame is not shown.
        docFrame->hide();
        m_bOpen = false;
        if (m_pClientSite)
            m_pClientSite->OnShowWindow(false);
    }
    frame->show();
    host->show();
    m_inPlace = std::move(state);
    return InPlaceResult{true, m_inPlace->borderHeight, nullptr, {}};
}

void ServerDoc::setObjectRects(const QSize& siteSize, int frameStripWidth)
{
    if (!m_inPlace)
        return;
    if (m_inPlace->frame)
        m_inPlace->frame->setGeometry(0, 0, siteSize.width(), siteSize.height());
    if (!m_inPlace->frame || !m_inPlace->barHost)
        return;
    const int height = m_inPlace->frame->layoutControlBars(frameStripWidth);
    m_inPlace->barHost->setGeometry(0, 0, frameStripWidth, height);
    if (height != m_inPlace->borderHeight) {
        m_inPlace->borderHeight = height;
        if (m_pClientSite)
            m_pClientSite->OnBorderSpaceChange(height);
    }
}

void ServerDoc::tearDownInPlace()
{
    if (!m_inPlace)
        return;
    const std::unique_ptr<InPlace> state = std::move(m_inPlace);
    if (state->frame) {
        if (QWidget* panes = state->frame->releasePanes()) {
            if (framework::FrameWnd* docFrame = documentFrame())
                docFrame->setCentralWidget(panes);
            else
                panes->setParent(nullptr);
        }
    }
    delete state->barHost.data();
    delete state->frame.data();
    delete state->site;
    delete state->frameStrip;
    if (m_pClientSite)
        m_pClientSite->OnDeactivate();
}

void ServerDoc::deactivateInPlace()
{
    tearDownInPlace();
}

void ServerDoc::OnDeactivateUI(bool)
{
    // Not from inside the key's own command: its windows are about to go.
    QTimer::singleShot(0, m_frameWatcher.get(), [this] { tearDownInPlace(); });
}

void ServerDoc::OnShowDocument(bool show)
{
    framework::FrameWnd* frame = documentFrame();
    if (!frame)
        return;
    if (!show) {
        frame->hide();
        const bool wasOpen = m_bOpen;
        m_bOpen = false;
        if (wasOpen && m_pClientSite)
            m_pClientSite->OnShowWindow(false);
        return;
    }
    tearDownInPlace();
    if (ServerDocTemplate* docTemplate = serverTemplate(); docTemplate && !m_strHostObj.isEmpty()) {
        const framework::WinApp* app = framework::WinApp::instance();
        frame->setWindowTitle(docTemplate->embeddedTitleFormat().arg(
            app ? app->m_pszAppName : QString(), m_strHostObj));
    }
    frame->ActivateFrame();
    m_bOpen = true;
    if (m_pClientSite)
        m_pClientSite->OnShowWindow(true);
}

void ServerDoc::OnUpdateDocument()
{
    if (m_pClientSite)
        m_pClientSite->OnUpdate(saveObject());
}

void ServerDoc::OnFileSaveCopyAs()
{
    const QString path = QFileDialog::getSaveFileName(
        documentFrame(), QStringLiteral("Save Copy As"), QDir::currentPath());
    if (path.isEmpty())
        return;
    const QByteArray data = saveObject();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        framework::AfxMessageBox(QStringLiteral("Cannot save %1: %2").arg(path, file.errorString()),
                                 QMessageBox::Warning);
}

void ServerDoc::releaseObject()
{
    tearDownInPlace();
    if (framework::FrameWnd* frame = documentFrame())
        frame->hide();
    m_bOpen = false;
    setClientSite(nullptr);
    if (m_pEmbeddedItem && m_pEmbeddedItem->m_bAutoDelete)
        m_pEmbeddedItem.reset();
}

} // namespace embedding
