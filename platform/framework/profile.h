// The per-user profile: named integer and string values in sections of an INI
// file. Nothing is kept in memory: every read goes to the file and every write
// reaches the file before it returns, so another running copy sees it at once.
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

private:
    enum class Access
    {
        Read,
        Write
    };
    bool usable(Access access) const;

    QString m_filePath;
};

} // namespace framework
