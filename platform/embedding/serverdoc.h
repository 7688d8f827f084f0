// The server document: a document that a container can embed. It keeps the
// container's side of the conversation (the client site), shows itself in
// place inside the container's windows or opened in its own frame, and
// hands its data to the container through its embedded item.
//
// Threads: the user-interface thread only.
#pragma once

#include "doctemplate.h"
#include "document.h"

#include <QByteArray>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

namespace embedding {

class Archive;
class IPFrameWnd;
class ServerItem;

// The framework's standard commands that a server document handles.
inline constexpr int kIdFileUpdate = 57610;
inline constexpr int kIdFileSaveCopyAs = 57611;

// What the document tells its container.
class ClientSite
{
public:
    virtual ~ClientSite();
    // File > Update: the object's data as it is now.
    virtual void OnUpdate(const QByteArray& data) = 0;
    // The object's own window was shown or hidden (File > Exit hides it).
    virtual void OnShowWindow(bool shown) = 0;
    // In-place activation ended (Escape, or the container asked for it).
    virtual void OnDeactivate() = 0;
    // A fly-by prompt of the in-place bars; empty when the pointer left them.
    virtual void SetStatusText(const QString& text) = 0;
    // The user dragged the in-place resize border: the size asked for, in pixels.
    virtual void OnPosRectChange(const QSize& size) = 0;
    // The in-place bars now take `height` pixels of the container's strip.
    virtual void OnBorderSpaceChange(int height) = 0;
};

// A single-document template whose document can also be embedded: it knows
// the resources and the frame to use while the document is embedded.
class ServerDocTemplate : public framework::SingleDocTemplate
{
public:
    using InPlaceFrameFactory = std::function<IPFrameWnd*()>;

    ServerDocTemplate(int resourceId, DocumentFactory newDocument, FrameFactory newFrame,
                      ViewFactory newView);
    ~ServerDocTemplate() override;

    // Menu and accelerators while the document is opened for a container
    // (`embeddedResource`), the in-place menu, accelerators and toolbar
    // (`inPlaceResource`), and the in-place frame.
    void SetServerInfo(int embeddedResource, int inPlaceResource,
                       InPlaceFrameFactory newInPlaceFrame);
    // "%1 in %2": the title of the opened window (application, container's document).
    void SetEmbeddedTitleFormat(const QString& format) { m_embeddedTitleFormat = format; }

    int embeddedResource() const { return m_embeddedResource; }
    int inPlaceResource() const { return m_inPlaceResource; }
    const QString& embeddedTitleFormat() const { return m_embeddedTitleFormat; }

    // A new in-place frame made from the in-place resource for `document`;
    // null when it could not be made.
    IPFrameWnd* CreateInPlaceFrame(framework::Document* document);

private:
    ViewFactory m_newView;
    int m_embeddedResource = 0;
    int m_inPlaceResource = 0;
    InPlaceFrameFactory m_newInPlaceFrame;
    QString m_embeddedTitleFormat = QStringLiteral("%1 in %2");
};

// How an in-place activation went.
struct InPlaceResult
{
    bool ok = false;
    int borderHeight = 0;        // what the bars need of the container's frame strip
    const char* error = nullptr; // error name when refused
    QString message;
};

class ServerDoc : public framework::Document
{
public:
    ServerDoc();
    ~ServerDoc() override;

    // The item that stands for the whole document, made on first use.
    ServerItem* GetEmbeddedItem();
    ServerItem* embeddedItemIfAny() const { return m_pEmbeddedItem.get(); }
    // Makes the embedded item; called once.
    virtual ServerItem* OnGetEmbeddedItem() = 0;
    // Stores or loads the document's data; the base has none.
    virtual void Serialize(Archive& ar);

    bool IsEmbedded() const { return m_pClientSite != nullptr; }
    bool IsInPlaceActive() const;
    // Whether the document is shown in its own frame for the container.
    bool IsOpen() const { return m_bOpen; }

    // Ends in-place activation from the server's side (the in-place Escape
    // command): the panes go back to the document's frame, the in-place
    // frame and its bars go away, the container is told. Runs once the
    // current command has returned. `undoable` is kept for the callers'
    // sake: the document has no undo.
    void OnDeactivateUI(bool undoable);
    // File > Update: sends the object's data to the container.
    void OnUpdateDocument();
    // File > Save Copy As: writes the object's data to a file the user picks.
    void OnFileSaveCopyAs();

    // The container's requests (from the framework's object on the bus).

    // Makes the document embedded for `site`: its frame takes the embedded
    // menu and accelerators. Null detaches it.
    void setClientSite(ClientSite* site);
    QByteArray saveObject();
    void loadObject(const QByteArray& data);
    void SetHostNames(const QString& containerApplication, const QString& containerDocument);
    // Shows the document inside the container's windows: `site` is the
    // object's area, `frameStrip` the strip of the container's frame that
    // takes the bars (X11 window ids). The in-place frame and its bars are
    // made first; when a step fails nothing is shown.
    InPlaceResult activateInPlace(quintptr site, quintptr frameStrip, const QSize& siteSize,
                                  int frameStripWidth);
    // The container's windows changed size.
    void setObjectRects(const QSize& siteSize, int frameStripWidth);
    // The container ends in-place activation.
    void deactivateInPlace();
    // Shows the document in its own frame, or hides that frame again.
    void OnShowDocument(bool show);
    // The container let go of the object: every window of it goes, at once.
    void releaseObject();

    IPFrameWnd* inPlaceFrame() const;

private:
    struct InPlace;
    class FrameWatcher;

    framework::FrameWnd* documentFrame() const;
    ServerDocTemplate* serverTemplate() const;
    void tearDownInPlace();
    InPlaceResult refuse(const char* error, const QString& message);

    std::unique_ptr<ServerItem> m_pEmbeddedItem;
    ClientSite* m_pClientSite = nullptr;
    std::unique_ptr<InPlace> m_inPlace;
    std::unique_ptr<FrameWatcher> m_frameWatcher;
    QString m_strHostObj;
    bool m_bOpen = false;
};

} // namespace embedding
