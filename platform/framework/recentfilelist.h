// The recent-file list: the paths of the documents opened last, most recent
// first, shown in the File menu and kept in the profile between runs.
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QMenu;

namespace framework {

class Profile;

class RecentFileList
{
public:
    // `section` and `entryFormat` ("File%d", numbered from 1) name the values in the profile.
    RecentFileList(const char* section, const char* entryFormat, int size, int maxDisplayLength);

    int GetSize() const { return int(m_names.size()); }
    // Path of entry `index`; empty when the entry is unused.
    const std::string& operator[](int index) const { return m_names.at(std::size_t(index)); }
    int count() const;

    // Puts `path` at the top; a path already listed (exact comparison) moves there.
    void Add(const std::string& path);
    void Remove(int index);

    void ReadList(const Profile& profile);
    // Rewrites the whole section in one go: the listed entries and nothing else.
    void WriteList(const Profile& profile) const;

    // Menu text of entry `index`: the path in at most the display length.
    QString GetDisplayName(int index) const;

    // `path` shortened to `maxLength` characters: the first directory and the
    // file name stay, the directories between give way to "...".
    static QString abbreviate(const QString& path, int maxLength);

    // Replaces the placeholder item of `menu` (the greyed "Recent File" item)
    // by one item per entry, or shows the placeholder again when the list is
    // empty. `makeAction` gives an action that sends the command `id`.
    void UpdateMenu(QMenu* menu, QAction* placeholder,
                    const std::function<QAction*(int id, const QString& text)>& makeAction) const;

    int firstCommandId() const { return m_firstCommandId; }
    void setFirstCommandId(int id) { m_firstCommandId = id; }

private:
    std::string m_section;
    std::string m_entryFormat;
    int m_maxDisplayLength;
    int m_firstCommandId = 0;
    std::vector<std::string> m_names;
};

} // namespace framework
