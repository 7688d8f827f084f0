#include "shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

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

// The [Default Applications] entry for `mimeType` of one mimeapps.list.
QString defaultIn(const QString& file, const QString& mimeType)
{
    bool inDefaults = false;
    const QStringList lines = readText(file).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inDefaults = line == QStringLiteral("[Default Applications]");
            continue;
        }
        if (!inDefaults)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed() == mimeType) {
            const QString first = line.mid(eq + 1).split(QLatin1Char(';')).value(0).trimmed();
            if (!first.isEmpty())
                return first;
        }
    }
    return {};
}

// Sets or removes (empty `desktopId`) the user's default for `mimeType`,
// keeping every other line of the file as it is.
bool setUserDefault(const QString& mimeType, const QString& desktopId)
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
            if (line == QStringLiteral("[Default Applications]"))
                section = i;
        }
    }
    const QString entry = mimeType + QLatin1Char('=') + desktopId + QLatin1Char(';');
    if (section < 0) {
        if (desktopId.isEmpty())
            return true;
        lines << QString() << QStringLiteral("[Default Applications]") << entry;
    } else {
        bool replaced = false;
        for (qsizetype i = section + 1; i < sectionEnd; ++i) {
            const QString line = lines.at(i).trimmed();
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq > 0 && line.left(eq).trimmed() == mimeType) {
                if (desktopId.isEmpty())
                    lines.removeAt(i);
                else
                    lines[i] = entry;
                replaced = true;
                break;
            }
        }
        if (!replaced && !desktopId.isEmpty())
            lines.insert(sectionEnd, entry);
    }
    while (!lines.isEmpty() && lines.first().isEmpty())
        lines.removeFirst();
    return writeText(path, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
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

QString defaultApplication(const QString& mimeType)
{
    QStringList files{userMimeAppsFile()};
    QString configDirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (configDirs.isEmpty())
        configDirs = QStringLiteral("/etc/xdg");
    for (const QString& dir : configDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        files << dir + QStringLiteral("/mimeapps.list");
    files << applicationsFolder() + QStringLiteral("/mimeapps.list");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        files << dir + QStringLiteral("/applications/mimeapps.list");
    for (const QString& file : files) {
        const QString found = defaultIn(file, mimeType);
        if (!found.isEmpty())
            return found;
    }
    return {};
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
    const QString current = defaultApplication(type.mimeType);
    if (current.isEmpty() || current == type.desktopId)
        return setUserDefault(type.mimeType, type.desktopId);
    return true;
}

bool unregisterDocumentType(const DocumentType& type)
{
    if (defaultIn(userMimeAppsFile(), type.mimeType) == type.desktopId)
        setUserDefault(type.mimeType, QString());
    const QString path = applicationsFolder() + QLatin1Char('/') + type.desktopId;
    return !QFile::exists(path) || QFile::remove(path);
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
    return writeText(applicationsFolder() + QLatin1Char('/') + verb.desktopId, text);
}

bool unregisterVerb(const Verb& verb)
{
    const QString path = applicationsFolder() + QLatin1Char('/') + verb.desktopId;
    return !QFile::exists(path) || QFile::remove(path);
}

} // namespace shell
