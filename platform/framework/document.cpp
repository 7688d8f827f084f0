#include "document.h"

#include "framewnd.h"
#include "winapp.h"

#include <QFile>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>

namespace framework {

View::~View()
{
    if (m_pDocument)
        m_pDocument->RemoveView(this);
}

void View::OnInitialUpdate()
{
    OnUpdate(nullptr, 0, nullptr);
}

void View::OnUpdate(View*, std::intptr_t, QObject*)
{
    if (QWidget* w = widget())
        w->update();
}

bool View::OnCmdMsg(int id, CommandKind kind, CmdUI* ui)
{
    if (dispatchOwn(id, kind, ui))
        return true;
    return m_pDocument && m_pDocument->OnCmdMsg(id, kind, ui);
}

Document::Document() = default;

Document::~Document()
{
    for (View* view : m_views)
        view->m_pDocument = nullptr;
}

void Document::SetPathName(const std::string& path, bool addToMRU)
{
    m_strPathName = fullPath(path);
    const auto slash = m_strPathName.find_last_of('/');
    const std::string fileName =
        slash == std::string::npos ? m_strPathName : m_strPathName.substr(slash + 1);
    SetTitle(QFile::decodeName(QByteArray::fromStdString(fileName)));
    if (addToMRU) {
        if (WinApp* app = WinApp::instance())
            app->AddToRecentFileList(m_strPathName);
    }
}

void Document::SetTitle(const QString& title)
{
    m_strTitle = title;
    for (View* view : m_views) {
        QWidget* w = view->widget();
        if (auto* frame = w ? qobject_cast<FrameWnd*>(w->window()) : nullptr)
            frame->OnUpdateFrameTitle();
    }
}

bool Document::OnNewDocument()
{
    DeleteContents();
    m_strPathName.clear();
    SetModifiedFlag(false);
    return true;
}

bool Document::OnOpenDocument(const std::string&)
{
    DeleteContents();
    SetModifiedFlag(false);
    return true;
}

void Document::AddView(View* view)
{
    if (!view || view->m_pDocument == this)
        return;
    if (view->m_pDocument)
        view->m_pDocument->RemoveView(view);
    m_views.push_back(view);
    view->m_pDocument = this;
}

void Document::RemoveView(View* view)
{
    const auto it = std::find(m_views.begin(), m_views.end(), view);
    if (it == m_views.end())
        return;
    m_views.erase(it);
    view->m_pDocument = nullptr;
}

void Document::UpdateAllViews(View* sender, std::intptr_t hint, QObject* hintObject)
{
    // A view may open another document or close itself while it updates: walk a copy.
    const std::vector<View*> views = m_views;
    for (View* view : views) {
        if (view != sender && std::find(m_views.begin(), m_views.end(), view) != m_views.end())
            view->OnUpdate(sender, hint, hintObject);
    }
}

std::string fullPath(const std::string& path)
{
    std::string absolute = path;
    if (absolute.empty() || absolute.front() != '/') {
        std::vector<char> buffer(4096);
        while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
            if (errno != ERANGE)
                return path;
            buffer.resize(buffer.size() * 2);
        }
        absolute = std::string(buffer.data()) + '/' + path;
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= absolute.size()) {
        const std::size_t end = std::min(absolute.find('/', start), absolute.size());
        const std::string part = absolute.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& part : parts)
        result += '/' + part;
    if (result.empty() || (!path.empty() && path.back() == '/'))
        result += '/';
    return result;
}

} // namespace framework
