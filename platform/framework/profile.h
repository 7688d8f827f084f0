// The per-user profile: named integer and string values in sections of an INI
// file. Nothing is kept in memory: every read goes to the file and every write
// reaches the file before it returns, so another running copy sees it at once.
//
// A write rewrites the whole file, so it must never meet a file whose content
// the rewrite would lose. A profile (or the target of a symbolic link to it)
// that is not a regular file, is larger than kMaxFileSize or holds a line the
// INI format as written here cannot carry (a comment, a line that is not a
// setting, a setting given twice, text that is not UTF-8) reads as all
// defaults, and before the first write it is moved aside - the link itself,
// never its target - as "<name>.unreadable-<YYYYMMDD-HHMMSS>"; a new profile
// starts, and standard error says so once. A link to a clean profile is
// written through, so a profile kept in a dotfiles folder stays there.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace framework {

class Profile
{
public:
    // A profile kept in `filePath`; an empty path gives a profile that reads
    // defaults and refuses writes.
    explicit Profile(QString filePath = {});

    // "$XDG_CONFIG_HOME/<company>/<application>.ini", or under "~/.config" when
    // XDG_CONFIG_HOME is unset or not an absolute path.
    static QString locationFor(const QString& company, const QString& application);

    const QString& filePath() const { return m_filePath; }

    // The stored integer, or `defaultValue` when the value is absent or is not
    // a 32-bit integer (unsigned values past 2^31 read as their 32-bit pattern).
    int getInt(const char* section, const char* entry, int defaultValue) const;

    // The stored text (a number stored as such reads as its digits); nothing
    // when the value is absent or unreadable, so that each reader applies
    // its own default.
    std::optional<std::string> getString(const char* section, const char* entry) const;

    // Each write returns false when the file could not be written; the old
    // value then stays in place.
    bool writeInt(const char* section, const char* entry, int value) const;
    bool writeString(const char* section, const char* entry, const std::string& value) const;
    bool removeEntry(const char* section, const char* entry) const;

    // Replaces a whole section in one write, so that a reader never sees it half done.
    bool replaceSection(const char* section,
                        const std::vector<std::pair<std::string, std::string>>& entries) const;

    // Largest profile file that is read at all; a bigger one is not ours to parse.
    static constexpr qint64 kMaxFileSize = 1 << 20;

    // What the name of a profile that was moved aside adds to the profile's name.
    static constexpr char kSetAsideInfix[] = ".unreadable-";

private:
    enum class Access
    {
        Read,
        Write
    };
    bool usable(Access access) const;
    // Moves a profile that a write would damage out of the way; false when it
    // is still there.
    bool setAside() const;

    QString m_filePath;
};

} // namespace framework
