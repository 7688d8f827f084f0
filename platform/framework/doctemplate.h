// The single-document template: one document and one frame for the whole run,
// reused for every file that is opened.
#pragma once

#include "command.h"
#include "document.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

namespace framework {

class FrameWnd;

class SingleDocTemplate : public CommandTarget
{
public:
    using DocumentFactory = std::function<Document*()>;
    using FrameFactory = std::function<FrameWnd*()>;
    using ViewFactory = std::function<View*(QWidget* parent)>;

    // Fields of the template string, in the order it lists them.
    enum DocStringIndex
    {
        windowTitle,
        docName,
        fileNewName,
        filterName,
        filterExt,
        regFileTypeId,
        regFileTypeName,
    };

    SingleDocTemplate(int resourceId, DocumentFactory newDocument, FrameFactory newFrame,
                      ViewFactory newView);
    ~SingleDocTemplate() override;

    int resourceId() const { return m_nIDResource; }
    // One field of the template string (string resource `resourceId`).
    QString GetDocString(DocStringIndex index) const;

    Document* document() const { return m_pOnlyDoc.get(); }
    FrameWnd* frame() const;

    // Opens `path`, or makes a new document when there is none. The first
    // call makes the document and its frame. Opening the path the document
    // already has (exact comparison) only brings its frame forward. Returns
    // null when the document or frame could not be made or the open failed.
    Document* OpenDocumentFile(const std::optional<std::string>& path, bool makeVisible = true);

    // Default title of a new document.
    void SetDefaultTitle(Document* document) const;

    // Destroys the frame (with its views), then the document.
    void CloseAllDocuments();

private:
    FrameWnd* CreateNewFrame(Document* document);

    int m_nIDResource;
    DocumentFactory m_newDocument;
    FrameFactory m_newFrame;
    ViewFactory m_newView;
    std::unique_ptr<Document> m_pOnlyDoc;
    QPointer<FrameWnd> m_frame;
};

} // namespace framework
