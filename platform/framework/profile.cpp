#include "profile.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <algorithm>

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace framework {
namespace {

QString settingsKey(const char* section, const char* entry)
{
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(entry);
}

bool isValidUtf8(const std::string& text)
{
    const QByteArray bytes = QByteArray::fromRawData(text.data(), qsizetype(text.size()));
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

} // namespace

Profile::Profile(QString filePath) : m_filePath(std::move(filePath)) {}

QString Profile::locationFor(const QString& company, const QString& application)
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(base)) {
        QString home = qEnvironmentVariable("HOME");
        if (!QDir::isAbsolutePath(home))
            home = QDir::homePath();
        base = home + QStringLiteral("/.config");
    }
    return base + QLatin1Char('/') + company + QLatin1Char('/') + application +
           QStringLiteral(".ini");
}

// The file must be a regular file of sensible size that we can read: a
// directory, a device, a FIFO (which would block the reader) or a huge file is
// treated as unreadable, and is never overwritten, since its old content could
// not be carried over. A write also needs the file and its folder to be
// writable, checked beforehand: a write that fails inside QSettings would stay
// pending in its per-process cache and show to later reads.
bool Profile::usable(Access access) const
{
    if (m_filePath.isEmpty())
        return false;
    const QByteArray path = QFile::encodeName(m_filePath);
    struct stat st
    {
    };
    if (::stat(path.constData(), &st) != 0) {
        if (access == Access::Read || errno != ENOENT)
            return false;
    } else {
        if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileSize)
            return false;
        const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        ::close(fd);
        if (access == Access::Read)
            return true;
        if (::access(path.constData(), W_OK) != 0)
            return false;
    }
    // The new file is written beside the old one and renamed over it, under a
    // lock file in the same folder; a missing folder is made, so its nearest
    // existing ancestor must take new entries.
    QByteArray folder = path.left(std::max<qsizetype>(path.lastIndexOf('/'), 1));
    while (::stat(folder.constData(), &st) != 0) {
        if (errno != ENOENT || folder == "/")
            return false;
        folder = folder.left(std::max<qsizetype>(folder.lastIndexOf('/'), 1));
    }
    return S_ISDIR(st.st_mode) && ::access(folder.constData(), W_OK | X_OK) == 0;
}

namespace {

// Writes one change. Should QSettings fail all the same, the old value is put
// back into its cache so that reads in this process keep matching the file.
bool writeValue(const QString& file, const QString& key, const std::optional<QVariant>& value)
{
    QSettings settings(file, QSettings::IniFormat);
    const QVariant old = settings.value(key);
    if (value)
        settings.setValue(key, *value);
    else
        settings.remove(key);
    settings.sync();
    // A format error only says the old file held lines that could not be
    // parsed; the new file was written all the same.
    if (settings.status() != QSettings::AccessError)
        return true;
    if (old.isValid())
        settings.setValue(key, old);
    else
        settings.remove(key);
    return false;
}

QVariant storedText(const std::string& value)
{
    if (isValidUtf8(value))
        return QString::fromStdString(value);
    return QByteArray(value.data(), qsizetype(value.size()));
}

} // namespace

int Profile::getInt(const char* section, const char* entry, int defaultValue) const
{
    if (!usable(Access::Read))
        return defaultValue;
    const QSettings settings(m_filePath, QSettings::IniFormat);
    const QVariant value = settings.value(settingsKey(section, entry));
    bool ok = false;
    qlonglong number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        // A value this process wrote comes back from Qt's file cache typed.
        number = value.toLongLong(&ok);
        break;
    case QMetaType::QString:
        number = value.toString().trimmed().toLongLong(&ok);
        break;
    default:
        return defaultValue;
    }
    if (!ok || number < std::numeric_limits<qint32>::min() ||
        number > std::numeric_limits<quint32>::max())
        return defaultValue;
    return static_cast<int>(static_cast<quint32>(number));
}

std::optional<std::string> Profile::getString(const char* section, const char* entry) const
{
    if (!usable(Access::Read))
        return std::nullopt;
    const QSettings settings(m_filePath, QSettings::IniFormat);
    const QVariant value = settings.value(settingsKey(section, entry));
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString().toStdString();
    case QMetaType::QByteArray: {
        // Text that is not valid UTF-8 (a file name's raw bytes) is kept as bytes.
        const QByteArray bytes = value.toByteArray();
        return std::string(bytes.constData(), std::size_t(bytes.size()));
    }
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toString().toStdString();
    case QMetaType::QStringList:
        // An unquoted comma in a hand-edited file splits the text; join it again.
        return value.toStringList().join(QStringLiteral(", ")).toStdString();
    default:
        return std::nullopt;
    }
}

bool Profile::writeInt(const char* section, const char* entry, int value) const
{
    return usable(Access::Write) && writeValue(m_filePath, settingsKey(section, entry), value);
}

bool Profile::writeString(const char* section, const char* entry, const std::string& value) const
{
    return usable(Access::Write) &&
           writeValue(m_filePath, settingsKey(section, entry), storedText(value));
}

bool Profile::removeEntry(const char* section, const char* entry) const
{
    return usable(Access::Write) &&
           writeValue(m_filePath, settingsKey(section, entry), std::nullopt);
}

bool Profile::replaceSection(const char* section,
                             const std::vector<std::pair<std::string, std::string>>& entries) const
{
    if (!usable(Access::Write))
        return false;
    QSettings settings(m_filePath, QSettings::IniFormat);
    const QString group = QString::fromUtf8(section);
    settings.beginGroup(group);
    std::vector<std::pair<QString, QVariant>> old;
    for (const QString& key : settings.childKeys())
        old.emplace_back(key, settings.value(key));
    settings.endGroup();

    settings.remove(group);
    for (const auto& [entry, value] : entries)
        settings.setValue(settingsKey(section, entry.c_str()), storedText(value));
    settings.sync();
    if (settings.status() != QSettings::AccessError)
        return true;
    // Keep this process's view in step with the file (see writeValue).
    settings.remove(group);
    for (const auto& [key, value] : old)
        settings.setValue(group + QLatin1Char('/') + key, value);
    return false;
}

} // namespace framework
