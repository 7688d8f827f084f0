// Document and view: the document holds the file's path name and title and
// tells its views when something changed; views show it.
#pragma once

#include "command.h"

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

class QObject;
class QWidget;

namespace framework {

class Document;
class SingleDocTemplate;

// Mixin for a widget that shows a document. Views are widgets of their own
// kinds (trees, lists), so this is not a widget itself.
class View : public CommandTarget
{
public:
    ~View() override;

    Document* GetDocument() const { return m_pDocument; }
    virtual QWidget* widget() = 0;

    // First update after a document was opened or made new. The default runs
    // OnUpdate with no sender.
    virtual void OnInitialUpdate();
    // The document changed; `sender` is the view that caused it.
    virtual void OnUpdate(View* sender, std::intptr_t hint, QObject* hintObject);

    // A view handles its own commands first, then its document's.
    bool OnCmdMsg(int id, CommandKind kind, CmdUI* ui) override;

private:
    friend class Document;
    Document* m_pDocument = nullptr;
};

class Document : public CommandTarget
{
public:
    Document();
    ~Document() override;

    // Full path of the file, as bytes (file names need not be valid UTF-8).
    const std::string& GetPathName() const { return m_strPathName; }
    // Takes the path, derives the title from its file name and, with
    // `addToMRU`, puts the path at the top of the recent-file list.
    virtual void SetPathName(const std::string& path, bool addToMRU = true);
    const QString& GetTitle() const { return m_strTitle; }
    virtual void SetTitle(const QString& title);

    bool IsModified() const { return m_bModified; }
    void SetModifiedFlag(bool modified = true) { m_bModified = modified; }

    virtual bool OnNewDocument();
    virtual bool OnOpenDocument(const std::string& path);
    virtual void DeleteContents() {}

    void AddView(View* view);
    void RemoveView(View* view);
    const std::vector<View*>& views() const { return m_views; }

    // Calls OnUpdate of every view of the document but `sender`.
    void UpdateAllViews(View* sender, std::intptr_t hint = 0, QObject* hintObject = nullptr);

    SingleDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }

private:
    friend class SingleDocTemplate;
    std::string m_strPathName;
    QString m_strTitle;
    bool m_bModified = false;
    std::vector<View*> m_views;
    SingleDocTemplate* m_pDocTemplate = nullptr;
};

// Absolute form of `path`: relative to the current directory, with "." and
// ".." components and doubled separators resolved by name (links are not followed).
std::string fullPath(const std::string& path);

} // namespace framework
