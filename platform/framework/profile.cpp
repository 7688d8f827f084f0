#include "profile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSet>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <stdio.h>
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

namespace {

// What a look at the profile's file found.
struct Inspection
{
    enum Kind
    {
        Absent,       // no file: reads give defaults, a write starts one
        Clean,        // an INI file that a rewrite carries over whole
        Unfit,        // a rewrite would lose what it holds: it is set aside first
        Inaccessible, // cannot be looked at (rights): reads give defaults, writes fail
    } kind;
    std::string reason; // for Unfit: what is wrong, as "is a FIFO"
};

const char* fileKind(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

// Percent escapes stand for the characters they encode in names.
QByteArray plainName(const QByteArray& name)
{
    return QByteArray::fromPercentEncoding(name.trimmed());
}

// The first line that a rewrite through QSettings would not give back:
// comments are dropped, lines that are no setting are dropped, a setting
// given twice keeps its last value only, and text that is not UTF-8 is
// replaced. Empty when every line comes back.
std::string lossOnRewrite(const QByteArray& text)
{
    if (text.contains('\0'))
        return "holds binary data";
    if (QString::fromUtf8(text).toUtf8() != text)
        return "holds text that is not UTF-8";
    QByteArray section = "General";
    std::map<std::pair<QByteArray, QByteArray>, int> seen;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const std::string where = " (line " + std::to_string(i + 1) + ")";
        if (line.isEmpty())
            continue;
        if (line.startsWith(';') || line.startsWith('#'))
            return "holds a comment" + where;
        if (line.startsWith('[')) {
            if (!line.endsWith(']') || line.size() < 3)
                return "holds a line that is not a setting" + where;
            section = plainName(line.mid(1, line.size() - 2));
            if (section.isEmpty())
                return "holds a line that is not a setting" + where;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        const QByteArray key = equals > 0 ? plainName(line.left(equals)) : QByteArray();
        if (key.isEmpty())
            return "holds a line that is not a setting" + where;
        const auto [it, added] = seen.emplace(std::make_pair(section, key), i + 1);
        if (!added)
            return "gives a setting twice" + where;
    }
    return {};
}

Inspection inspect(const QByteArray& path)
{
    struct stat st
    {
    };
    if (::lstat(path.constData(), &st) != 0)
        return {errno == ENOENT ? Inspection::Absent : Inspection::Inaccessible, {}};
    const bool link = S_ISLNK(st.st_mode);
    const std::string is = link ? "is a symbolic link to " : "is ";
    if (link && ::stat(path.constData(), &st) != 0) {
        if (errno == ENOENT)
            return {Inspection::Unfit, "is a symbolic link to nothing"};
        if (errno == ELOOP)
            return {Inspection::Unfit, "is a loop of symbolic links"};
        return {Inspection::Inaccessible, {}};
    }
    if (!S_ISREG(st.st_mode))
        return {Inspection::Unfit, is + fileKind(st.st_mode)};
    if (st.st_size > Profile::kMaxFileSize)
        return {Inspection::Unfit, is + "a file larger than 1 MiB"};
    // Without blocking: a FIFO put in its place meanwhile must not hang us.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {Inspection::Inaccessible, {}};
    QByteArray text;
    bool readable = ::fstat(fd, &st) == 0;
    if (readable && !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {Inspection::Unfit, is + fileKind(st.st_mode)};
    }
    char buffer[16384];
    while (readable && text.size() <= Profile::kMaxFileSize) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            readable = got == 0;
            break;
        }
        text.append(buffer, qsizetype(got));
    }
    ::close(fd);
    if (!readable)
        return {Inspection::Inaccessible, {}};
    if (text.size() > Profile::kMaxFileSize)
        return {Inspection::Unfit, is + "a file larger than 1 MiB"};
    std::string loss = lossOnRewrite(text);
    if (!loss.empty())
        return {Inspection::Unfit, (link ? "is a symbolic link to a file that " : "") + loss};
    return {Inspection::Clean, {}};
}

// The folder of `path`, or of the file a symbolic link at `path` leads to.
QByteArray folderOf(const QByteArray& path)
{
    return path.left(std::max<qsizetype>(path.lastIndexOf('/'), 1));
}

// Whether a new file can be made at `path`: its nearest existing ancestor
// must take new entries, since missing folders are made.
bool canCreateIn(QByteArray folder)
{
    struct stat st
    {
    };
    while (::stat(folder.constData(), &st) != 0) {
        if (errno != ENOENT || folder == "/")
            return false;
        folder = folderOf(folder);
    }
    return S_ISDIR(st.st_mode) && ::access(folder.constData(), W_OK | X_OK) == 0;
}

// Says once per process and profile that a profile could not be kept.
void sayOnce(const QString& filePath, const std::string& text)
{
    static QSet<QString> told;
    if (told.contains(filePath))
        return;
    told.insert(filePath);
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, text.c_str());
}

} // namespace

// A write needs the file and the folder it is rewritten in to be writable,
// checked beforehand: a write that fails inside QSettings would stay
// pending in its per-process cache and show to later reads.
bool Profile::usable(Access access) const
{
    if (m_filePath.isEmpty())
        return false;
    const QByteArray path = QFile::encodeName(m_filePath);
    Inspection::Kind kind = inspect(path).kind;
    if (kind == Inspection::Unfit) {
        // Reads give defaults, as for a profile that is not there: the
        // program then behaves the same before and after the file is set aside.
        if (access == Access::Read || !setAside())
            return false;
        // Gone now, or already replaced by another copy of the program.
        kind = inspect(path).kind;
    }
    switch (kind) {
    case Inspection::Clean:
        if (access == Access::Read)
            return true;
        break;
    case Inspection::Absent:
        return access == Access::Write && canCreateIn(folderOf(path));
    case Inspection::Unfit:
    case Inspection::Inaccessible:
        return false;
    }
    // The new file is written beside the old one (beside the link's target,
    // for a link) and renamed over it.
    const QByteArray target = QFile::encodeName(QFileInfo(m_filePath).canonicalFilePath());
    return !target.isEmpty() && ::access(target.constData(), W_OK) == 0 &&
           ::access(folderOf(target).constData(), W_OK | X_OK) == 0;
}

bool Profile::setAside() const
{
    const QByteArray path = QFile::encodeName(m_filePath);
    // Under the lock that QSettings takes to write, so that a profile another
    // copy of the program has just started is not taken for the bad one.
    QLockFile lock(m_filePath + QStringLiteral(".lock"));
    Inspection found = inspect(path);
    int error = 0;
    if (!lock.tryLock(10000)) {
        error = lock.error() == QLockFile::PermissionError ? EACCES : EBUSY;
    } else {
        found = inspect(path);
        if (found.kind != Inspection::Unfit)
            return true;
    }

    const QByteArray stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toLatin1();
    const QByteArray base = path + kSetAsideInfix + stamp;
    QByteArray aside;
    bool moved = false;
    for (int n = 1; error == 0 && n < 100; ++n) {
        aside = n == 1 ? base : base + '-' + QByteArray::number(n);
        // renameat2 moves the link itself, never what it points to, and
        // refuses to replace a file that is already there.
        if (::renameat2(AT_FDCWD, path.constData(), AT_FDCWD, aside.constData(),
                        RENAME_NOREPLACE) == 0) {
            moved = true;
            break;
        }
        const int failure = errno;
        if (failure == EEXIST)
            continue;
        if (failure == EINVAL || failure == ENOSYS) {
            // A file system without that flag: look first, then rename.
            struct stat st
            {
            };
            if (::lstat(aside.constData(), &st) == 0)
                continue;
            moved = ::rename(path.constData(), aside.constData()) == 0;
            error = moved ? 0 : errno;
            break;
        }
        error = failure;
    }
    if (!moved && error == 0)
        error = EEXIST;
    const std::string what = "the profile \"" + m_filePath.toStdString() + "\" " + found.reason +
                             ": it cannot be rewritten without loss";
    if (!moved) {
        sayOnce(m_filePath, what + ", and it cannot be moved aside (" + std::strerror(error) +
                                "), so settings are not saved.");
        return false;
    }
    sayOnce(m_filePath, what + ", so it was moved aside to \"" +
                            QFile::decodeName(aside).toStdString() +
                            "\" and a new profile was started.");
    return true;
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
