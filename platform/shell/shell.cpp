#include "shell.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

#include <functional>
#include <utility>

namespace shell {
namespace {

QString xdgFolder(const char* variable, const char* fallback)
{
    QString folder = qEnvironmentVariable(variable);
    if (!QDir::isAbsolutePath(folder))
        folder = QDir::homePath() + QLatin1Char('/') + QLatin1String(fallback);
    return folder;
}

// Writes a whole file at once, so that no reader sees half of it.
bool writeText(const QString& path, const QString& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    return file.commit();
}

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// Values of a desktop entry string escape backslashes and line breaks.
QString escapeValue(const QString& value)
{
    QString out;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

constexpr char kDefaultGroup[] = "[Default Applications]";
constexpr char kAddedGroup[] = "[Added Associations]";

QStringList splitIds(const QString& value)
{
    QStringList ids;
    for (const QString& id : value.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (!id.trimmed().isEmpty())
            ids << id.trimmed();
    }
    return ids;
}

// The desktop ids listed for `mimeType` in `group` of one mimeapps.list (or
// a cache, whose group is "[MIME Cache]" or "[Default Applications]").
QStringList idsIn(const QString& file, const QString& group, const QString& mimeType)
{
    bool inGroup = false;
    const QStringList lines = readText(file).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == group;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inGroup && eq > 0 && line.left(eq).trimmed() == mimeType)
            return splitIds(line.mid(eq + 1));
    }
    return {};
}

// Changes the list of `mimeType` in `group` of the user's mimeapps.list by
// `edit`, keeping every other line of the file as it is; an empty list
// takes the line away.
bool editUserList(const QString& group, const QString& mimeType,
                  const std::function<QStringList(QStringList)>& edit)
{
    const QString path = userMimeAppsFile();
    QStringList lines = readText(path).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    qsizetype section = -1;
    qsizetype sectionEnd = lines.size();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            if (section >= 0) {
                sectionEnd = i;
                break;
            }
            if (line == group)
                section = i;
        }
    }
    qsizetype at = -1;
    QStringList ids;
    for (qsizetype i = section + 1; section >= 0 && i < sectionEnd; ++i) {
        const QString line = lines.at(i).trimmed();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed() == mimeType) {
            at = i;
            ids = splitIds(line.mid(eq + 1));
            break;
        }
    }
    const QStringList edited = edit(ids);
    if (edited == ids && (at >= 0 || ids.isEmpty()))
        return true;
    const QString entry =
        mimeType + QLatin1Char('=') + edited.join(QLatin1Char(';')) + QLatin1Char(';');
    if (at >= 0) {
        if (edited.isEmpty())
            lines.removeAt(at);
        else
            lines[at] = entry;
    } else if (section >= 0) {
        // Ends of the group's lines: before the blank lines that part it from the next.
        qsizetype end = sectionEnd;
        while (end > section + 1 && lines.at(end - 1).trimmed().isEmpty())
            --end;
        lines.insert(end, entry);
    } else {
        lines << QString() << group << entry;
    }
    while (!lines.isEmpty() && lines.first().isEmpty())
        lines.removeFirst();
    return writeText(path, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

QString dataHome()
{
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

QStringList dataDirs()
{
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    return dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

// The desktop file of `desktopId` in the applications folders, the user's
// first; a "vendor-name.desktop" id may also live as vendor/name.desktop.
QString desktopFile(const QString& desktopId)
{
    for (const QString& dir : QStringList{dataHome()} + dataDirs()) {
        const QString apps = dir + QStringLiteral("/applications/");
        const qsizetype dash = desktopId.indexOf(QLatin1Char('-'));
        if (dash > 0) {
            const QString nested =
                apps + desktopId.left(dash) + QLatin1Char('/') + desktopId.mid(dash + 1);
            if (QFileInfo(nested).isFile())
                return nested;
        }
        if (QFileInfo(apps + desktopId).isFile())
            return apps + desktopId;
        for (const QFileInfo& sub : QDir(apps).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (QFileInfo(sub.filePath() + QLatin1Char('/') + desktopId).isFile())
                return sub.filePath() + QLatin1Char('/') + desktopId;
        }
    }
    return {};
}

// A desktop entry's string value as it is meant: escapes undone.
QString unescapeValue(const QString& value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        if (next == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else
            out += next;
    }
    return out;
}

// The program an entry's Exec line starts, its quoting undone.
QString execProgram(const QString& file)
{
    for (const QString& raw : readText(file).split(QLatin1Char('\n'))) {
        if (!raw.startsWith(QStringLiteral("Exec=")))
            continue;
        const QString command = unescapeValue(raw.mid(5)).trimmed();
        QString program;
        if (command.startsWith(QLatin1Char('"'))) {
            for (qsizetype i = 1; i < command.size() && command.at(i) != QLatin1Char('"'); ++i) {
                if (command.at(i) == QLatin1Char('\\') && i + 1 < command.size())
                    ++i;
                program += command.at(i);
            }
        } else {
            program = command.section(QLatin1Char(' '), 0, 0);
        }
        return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return {};
}

// Installed: the entry is there and the program it starts can be found.
bool installed(const QString& desktopId)
{
    const QString file = desktopFile(desktopId);
    if (file.isEmpty())
        return false;
    const QString program = execProgram(file);
    if (program.isEmpty())
        return false;
    if (QDir::isAbsolutePath(program))
        return QFileInfo(program).isExecutable();
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// An entry of the user's own applications folder that runs `ownProgram`.
bool isOwn(const QString& folder, const QString& desktopId, const QString& ownProgram)
{
    return !ownProgram.isEmpty() && folder == dataHome() &&
           execProgram(folder + QStringLiteral("/applications/") + desktopId) == ownProgram;
}

// Brings the desktop database of the user's applications folder up to date.
void updateDesktopDatabase()
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
    if (tool.isEmpty())
        return;
    QProcess update;
    update.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    update.start(tool, {QStringLiteral("-q"), applicationsFolder()});
    update.waitForFinished(30000);
}

// Where another program opens the type only because it is installed (a
// cache, or the last resort), it is named the default, so that the program's
// own entries do not come before it.
bool keepOthersDefault(const QString& mimeType, const QString& ownProgram)
{
    const DefaultApplication current = currentDefault(mimeType, ownProgram);
    if (current.desktopId.isEmpty() || current.chosen ||
        execProgram(desktopFile(current.desktopId)) == ownProgram)
        return true;
    return editUserList(QLatin1String(kDefaultGroup), mimeType, [&](QStringList ids) {
        ids.removeAll(current.desktopId);
        ids.prepend(current.desktopId);
        return ids;
    });
}

} // namespace

QString applicationsFolder()
{
    return xdgFolder("XDG_DATA_HOME", ".local/share") + QStringLiteral("/applications");
}

QString userMimeAppsFile()
{
    return xdgFolder("XDG_CONFIG_HOME", ".config") + QStringLiteral("/mimeapps.list");
}

QString mimeTypeForExtension(const QString& extension)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(QStringLiteral("x") + extension,
                                                           QMimeDatabase::MatchExtension);
    return type.isValid() && !type.isDefault() ? type.name() : QString();
}

QString execArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString arg = argument;
    arg.replace(QLatin1Char('%'), QStringLiteral("%%"));
    bool quote = arg.isEmpty();
    for (const QChar c : arg)
        quote = quote || reserved.contains(c);
    if (quote) {
        QString quoted = QStringLiteral("\"");
        for (const QChar c : arg) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        arg = quoted + QLatin1Char('"');
    }
    return escapeValue(arg);
}

DefaultApplication currentDefault(const QString& mimeType, const QString& ownProgram)
{
    // The user's choice and the system's, in mimeapps.list files, for the
    // current desktop first: the first installed entry listed counts.
    QStringList desktops;
    for (const QString& desktop :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        desktops << desktop.toLower() + QLatin1Char('-');
    desktops << QString();
    QStringList folders{xdgFolder("XDG_CONFIG_HOME", ".config")};
    QString configDirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (configDirs.isEmpty())
        configDirs = QStringLiteral("/etc/xdg");
    folders << configDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& dir : QStringList{dataHome()} + dataDirs())
        folders << dir + QStringLiteral("/applications");
    for (const QString& folder : folders) {
        for (const QString& prefix : desktops) {
            const QString file =
                folder + QLatin1Char('/') + prefix + QStringLiteral("mimeapps.list");
            for (const QString& id : idsIn(file, QLatin1String(kDefaultGroup), mimeType)) {
                if (installed(id))
                    return {id, true};
            }
        }
    }
    // The desktop databases: the first entry of the first list for the type.
    const QString menuPrefix = qEnvironmentVariable("XDG_MENU_PREFIX");
    QStringList prefixes{menuPrefix};
    if (!menuPrefix.isEmpty())
        prefixes << QString();
    for (const QString& dir : QStringList{dataHome()} + dataDirs()) {
        for (const QString& prefix : prefixes) {
            const QString apps = dir + QStringLiteral("/applications/") + prefix;
            for (const auto& [name, group] :
                 {std::pair{QStringLiteral("defaults.list"), kDefaultGroup},
                  std::pair{QStringLiteral("mimeinfo.cache"), "[MIME Cache]"}}) {
                QStringList ids = idsIn(apps + name, QLatin1String(group), mimeType);
                ids.removeIf([&](const QString& id) { return isOwn(dir, id, ownProgram); });
                if (!ids.isEmpty())
                    return {ids.first(), false};
            }
        }
    }
    // Last, any entry that takes the type, the one preferred most.
    DefaultApplication best;
    int preference = -1;
    for (const QString& dir : QStringList{dataHome()} + dataDirs()) {
        QDirIterator entries(dir + QStringLiteral("/applications"), {QStringLiteral("*.desktop")},
                             QDir::Files, QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            const QString file = entries.next();
            const QString text = readText(file);
            if (!text.contains(mimeType + QLatin1Char(';')))
                continue;
            const QString id = QFileInfo(file).fileName();
            if (isOwn(dir, id, ownProgram))
                continue;
            int value = 0;
            for (const QString& line : text.split(QLatin1Char('\n'))) {
                if (line.startsWith(QStringLiteral("InitialPreference=")))
                    value = line.mid(18).trimmed().toInt();
            }
            if (value > preference) {
                preference = value;
                best = {id, false};
            }
        }
    }
    return best;
}

QString defaultApplication(const QString& mimeType)
{
    return currentDefault(mimeType).desktopId;
}

bool registerDocumentType(const DocumentType& type)
{
    if (!type.iconFile.isEmpty()) {
        const QString icons = xdgFolder("XDG_DATA_HOME", ".local/share") +
                              QStringLiteral("/icons/hicolor/256x256/apps/");
        QDir().mkpath(icons);
        QFile::remove(icons + type.iconName + QStringLiteral(".png"));
        QFile::copy(type.iconFile, icons + type.iconName + QStringLiteral(".png"));
    }
    QString text;
    QTextStream out(&text);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Version=1.4\n"
        << "Name=" << escapeValue(type.name) << "\n"
        << "GenericName=MIDI Player\n"
        << "Comment=Play " << escapeValue(type.typeName) << " files: MIDI music\n"
        << "Exec=" << execArgument(type.program) << " %f\n"
        << "Icon=" << escapeValue(type.iconName) << "\n"
        << "Terminal=false\n"
        << "Categories=AudioVideo;Audio;Player;Midi;\n"
        << "MimeType=" << type.mimeType << ";\n";
    if (!writeText(applicationsFolder() + QLatin1Char('/') + type.desktopId, text))
        return false;
    const DefaultApplication current = currentDefault(type.mimeType, type.program);
    bool done = true;
    if (current.desktopId.isEmpty() || current.desktopId == type.desktopId) {
        done = editUserList(QLatin1String(kDefaultGroup), type.mimeType, [&](QStringList ids) {
            ids.removeAll(type.desktopId);
            ids.prepend(type.desktopId);
            return ids;
        });
    } else {
        done = keepOthersDefault(type.mimeType, type.program);
    }
    updateDesktopDatabase();
    return done;
}

bool unregisterDocumentType(const DocumentType& type)
{
    editUserList(QLatin1String(kDefaultGroup), type.mimeType, [&](QStringList ids) {
        ids.removeAll(type.desktopId);
        return ids;
    });
    const QString path = applicationsFolder() + QLatin1Char('/') + type.desktopId;
    const bool removed = !QFile::exists(path) || QFile::remove(path);
    updateDesktopDatabase();
    return removed;
}

bool registerVerb(const Verb& verb)
{
    QString text;
    QTextStream out(&text);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Version=1.4\n"
        << "Name=" << escapeValue(verb.menuText) << "\n"
        << "Exec=" << execArgument(verb.program) << " %f\n"
        << "Icon=" << escapeValue(verb.iconName) << "\n"
        << "Terminal=false\n"
        << "NoDisplay=true\n"
        << "MimeType=" << verb.mimeType << ";\n";
    if (!writeText(applicationsFolder() + QLatin1Char('/') + verb.desktopId, text))
        return false;
    // First the default, so that the association never comes before it.
    bool done = keepOthersDefault(verb.mimeType, verb.program);
    done = editUserList(QLatin1String(kAddedGroup), verb.mimeType,
                        [&](QStringList ids) {
                            if (!ids.contains(verb.desktopId))
                                ids << verb.desktopId;
                            return ids;
                        }) &&
           done;
    updateDesktopDatabase();
    return done;
}

bool unregisterVerb(const Verb& verb)
{
    if (!verb.mimeType.isEmpty()) {
        editUserList(QLatin1String(kAddedGroup), verb.mimeType, [&](QStringList ids) {
            ids.removeAll(verb.desktopId);
            return ids;
        });
    }
    const QString path = applicationsFolder() + QLatin1Char('/') + verb.desktopId;
    const bool removed = !QFile::exists(path) || QFile::remove(path);
    updateDesktopDatabase();
    return removed;
}

} // namespace shell
