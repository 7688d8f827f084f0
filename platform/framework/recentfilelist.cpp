#include "recentfilelist.h"

#include "profile.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QStringList>

#include <algorithm>

namespace framework {
namespace {

constexpr char kMenuEntryProperty[] = "framework.recentFileEntry";

std::string entryName(const std::string& format, int number)
{
    return QString::asprintf(format.c_str(), number).toStdString();
}

QString elideMiddle(const QString& text, int maxLength)
{
    static const QString dots = QStringLiteral("...");
    if (text.size() <= maxLength)
        return text;
    if (maxLength <= dots.size())
        return text.left(maxLength);
    const qsizetype keep = maxLength - dots.size();
    const qsizetype head = keep / 2;
    return text.left(head) + dots + text.right(keep - head);
}

} // namespace

RecentFileList::RecentFileList(const char* section, const char* entryFormat, int size,
                               int maxDisplayLength)
    : m_section(section), m_entryFormat(entryFormat), m_maxDisplayLength(maxDisplayLength),
      m_names(std::size_t(std::max(size, 0)))
{
}

int RecentFileList::count() const
{
    return int(std::count_if(m_names.begin(), m_names.end(),
                             [](const std::string& n) { return !n.empty(); }));
}

void RecentFileList::Add(const std::string& path)
{
    if (path.empty() || m_names.empty())
        return;
    auto it = std::find(m_names.begin(), m_names.end(), path);
    if (it == m_names.end())
        it = m_names.end() - 1; // the oldest entry drops off
    std::rotate(m_names.begin(), it, it + 1);
    m_names.front() = path;
}

void RecentFileList::Remove(int index)
{
    if (index < 0 || index >= GetSize())
        return;
    m_names.erase(m_names.begin() + index);
    m_names.emplace_back();
}

void RecentFileList::ReadList(const Profile& profile)
{
    for (int i = 0; i < GetSize(); ++i) {
        const std::string entry = entryName(m_entryFormat, i + 1);
        m_names[std::size_t(i)] =
            profile.getString(m_section.c_str(), entry.c_str()).value_or(std::string());
    }
}

void RecentFileList::WriteList(const Profile& profile) const
{
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < GetSize(); ++i) {
        if (!m_names[std::size_t(i)].empty())
            entries.emplace_back(entryName(m_entryFormat, i + 1), m_names[std::size_t(i)]);
    }
    profile.replaceSection(m_section.c_str(), entries);
}

QString RecentFileList::GetDisplayName(int index) const
{
    const std::string& name = m_names.at(std::size_t(index));
    return abbreviate(QFile::decodeName(QByteArray::fromStdString(name)), m_maxDisplayLength);
}

QString RecentFileList::abbreviate(const QString& path, int maxLength)
{
    if (path.size() <= maxLength)
        return path;

    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString fileName = path.mid(slash + 1);
    if (fileName.size() > maxLength)
        return elideMiddle(fileName, maxLength);

    // The first directory ("/home/") stays when it is a real directory.
    QStringList dirs = path.left(std::max<qsizetype>(slash, 0)).split(QLatin1Char('/'));
    QString root;
    if (path.startsWith(QLatin1Char('/')) && dirs.size() >= 2) {
        dirs.removeFirst(); // the empty text before the leading '/'
        root = QLatin1Char('/') + dirs.takeFirst() + QLatin1Char('/');
    }
    static const QString dots = QStringLiteral(".../");
    // Keep as many of the last directories as fit.
    for (qsizetype keep = dirs.size() - 1; keep >= 0; --keep) {
        QString tail;
        for (qsizetype i = dirs.size() - keep; i < dirs.size(); ++i)
            tail += dirs.at(i) + QLatin1Char('/');
        const QString candidate = root + dots + tail + fileName;
        if (candidate.size() <= maxLength)
            return candidate;
    }
    if (dots.size() + fileName.size() <= maxLength)
        return dots + fileName;
    return fileName;
}

void RecentFileList::UpdateMenu(
    QMenu* menu, QAction* placeholder,
    const std::function<QAction*(int id, const QString& text)>& makeAction) const
{
    if (!menu || !placeholder)
        return;
    for (QAction* action : menu->actions()) {
        if (action->property(kMenuEntryProperty).toBool()) {
            menu->removeAction(action);
            action->deleteLater();
        }
    }
    int shown = 0;
    for (int i = 0; i < GetSize(); ++i) {
        if (m_names[std::size_t(i)].empty())
            continue;
        QString name = GetDisplayName(i);
        name.replace(QLatin1Char('&'), QStringLiteral("&&"));
        // "&1" to "&9", then "1&0", then plain numbers: each entry keeps a mnemonic while it can.
        QString label;
        if (shown < 9)
            label = QStringLiteral("&%1 %2").arg(shown + 1).arg(name);
        else if (shown == 9)
            label = QStringLiteral("1&0 %1").arg(name);
        else
            label = QStringLiteral("%1 %2").arg(shown + 1).arg(name);
        QAction* action = makeAction(m_firstCommandId + i, label);
        action->setProperty(kMenuEntryProperty, true);
        menu->insertAction(placeholder, action);
        ++shown;
    }
    placeholder->setVisible(shown == 0);
    if (shown == 0)
        placeholder->setEnabled(false);
}

} // namespace framework
