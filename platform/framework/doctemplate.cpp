#include "doctemplate.h"

#include "framewnd.h"
#include "messagebox.h"
#include "winapp.h"

#include "afxres.h"
#include "resourcemodule.h"

namespace framework {

SingleDocTemplate::SingleDocTemplate(int resourceId, DocumentFactory newDocument,
                                     FrameFactory newFrame, ViewFactory newView)
    : m_nIDResource(resourceId), m_newDocument(std::move(newDocument)),
      m_newFrame(std::move(newFrame)), m_newView(std::move(newView))
{
}

SingleDocTemplate::~SingleDocTemplate()
{
    CloseAllDocuments();
}

QString SingleDocTemplate::GetDocString(DocStringIndex index) const
{
    const QStringList fields =
        AfxGetResourceHandle().loadString(m_nIDResource).split(QLatin1Char('\n'));
    return index < fields.size() ? fields.at(index) : QString();
}

FrameWnd* SingleDocTemplate::frame() const
{
    return m_frame.data();
}

FrameWnd* SingleDocTemplate::CreateNewFrame(Document* document)
{
    FrameWnd* frame = m_newFrame ? m_newFrame() : nullptr;
    if (!frame)
        return nullptr;
    CreateContext context{document, this, m_newView};
    if (!frame->LoadFrame(m_nIDResource, &context)) {
        delete frame;
        return nullptr;
    }
    return frame;
}

void SingleDocTemplate::SetDefaultTitle(Document* document) const
{
    QString title = GetDocString(docName);
    if (title.isEmpty())
        title = AfxGetResourceHandle().loadString(AFX_IDS_UNTITLED);
    document->SetTitle(title);
}

Document* SingleDocTemplate::OpenDocumentFile(const std::optional<std::string>& path,
                                              bool makeVisible)
{
    std::optional<std::string> full;
    if (path)
        full = fullPath(*path);

    if (full && m_pOnlyDoc && m_frame && *full == m_pOnlyDoc->GetPathName()) {
        m_frame->ActivateFrame();
        return m_pOnlyDoc.get();
    }

    bool createdDocument = false;
    if (!m_pOnlyDoc) {
        Document* document = m_newDocument ? m_newDocument() : nullptr;
        if (!document) {
            AfxMessageBox(AfxGetResourceHandle().loadString(AFX_IDP_FAILED_TO_CREATE_DOC));
            return nullptr;
        }
        m_pOnlyDoc.reset(document);
        m_pOnlyDoc->m_pDocTemplate = this;
        createdDocument = true;
    }

    bool createdFrame = false;
    if (!m_frame) {
        m_frame = CreateNewFrame(m_pOnlyDoc.get());
        if (!m_frame) {
            AfxMessageBox(AfxGetResourceHandle().loadString(AFX_IDP_FAILED_TO_CREATE_DOC));
            if (createdDocument)
                m_pOnlyDoc.reset();
            return nullptr;
        }
        createdFrame = true;
    }

    Document* document = m_pOnlyDoc.get();
    if (!full) {
        SetDefaultTitle(document);
        if (!document->OnNewDocument()) {
            if (createdFrame)
                delete m_frame.data();
            return nullptr;
        }
    } else {
        document->SetModifiedFlag(false);
        if (!document->OnOpenDocument(*full)) {
            if (createdFrame)
                delete m_frame.data();
            return nullptr;
        }
        document->SetPathName(*full, true);
    }

    if (WinApp* app = WinApp::instance(); createdFrame && app && !app->m_pMainWnd)
        app->m_pMainWnd = m_frame;
    if (m_frame)
        m_frame->InitialUpdateFrame(document, makeVisible);
    return document;
}

void SingleDocTemplate::CloseAllDocuments()
{
    delete m_frame.data();
    m_pOnlyDoc.reset();
}

} // namespace framework
