#include "shellverb.h"

#include "resource.h"
#include "shell.h"
#include "stringtable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <climits>
#include <unistd.h>

namespace {

// The verb's key name and the desktop entry named after it.
constexpr char kVerbId[] = "kestrune.desktop";
constexpr char kMenuText[] = "Play using Brisolde";
constexpr char kProgramId[] = "brisolde.desktop";
constexpr char kIconName[] = "brisolde";
constexpr char kMidExtension[] = ".mid";

shell::DocumentType documentType(const QString& mimeType, const QString& program)
{
    const QString templateString = res::loadString(IDR_MAINFRAME);
    shell::DocumentType type;
    type.desktopId = QString::fromUtf8(kProgramId);
    type.name = res::docTemplateField(templateString, res::DocField::WindowTitle);
    type.typeName = res::docTemplateField(templateString, res::DocField::RegFileTypeName);
    type.mimeType = mimeType;
    type.program = program;
    type.iconName = QString::fromUtf8(kIconName);
    type.iconFile = QStringLiteral(":/brisolde/icons/128-256.png");
    return type;
}

} // namespace

QString programPath()
{
    char buffer[PATH_MAX + 1];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (length <= 0)
        return {};
    return desktopProgramPath(QByteArray(buffer, length));
}

QString desktopProgramPath(const QByteArray& realPath)
{
    const QString path = QString::fromUtf8(realPath);
    if (path.toUtf8() == realPath && !realPath.contains('%'))
        return path;
    // Desktop entries are UTF-8, and GLib looks a program up before it
    // expands "%%": such a path is reached through a link of our own.
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    const QString folder = data + QStringLiteral("/brisolde");
    QDir().mkpath(folder);
    const QString link = folder + QStringLiteral("/brisolde");
    const QByteArray linkBytes = QFile::encodeName(link);
    ::unlink(linkBytes.constData());
    if (::symlink(realPath.constData(), linkBytes.constData()) != 0)
        return {};
    return link;
}

void RegisterPlayVerb()
{
    const QString mimeType = shell::mimeTypeForExtension(QString::fromUtf8(kMidExtension));
    const QString program = programPath();
    if (mimeType.isEmpty() || program.isEmpty())
        return;
    shell::Verb verb;
    verb.desktopId = QString::fromUtf8(kVerbId);
    verb.menuText = QString::fromUtf8(kMenuText);
    verb.mimeType = mimeType;
    verb.program = program;
    verb.iconName = QString::fromUtf8(kIconName);
    shell::registerVerb(verb);
}

void RegisterShellFileTypes()
{
    const QString mimeType = shell::mimeTypeForExtension(QString::fromUtf8(kMidExtension));
    const QString program = programPath();
    if (mimeType.isEmpty() || program.isEmpty())
        return;
    shell::registerDocumentType(documentType(mimeType, program));
}

void UnregisterShellFileTypes()
{
    const QString mimeType = shell::mimeTypeForExtension(QString::fromUtf8(kMidExtension));
    shell::unregisterDocumentType(documentType(mimeType, programPath()));
    shell::Verb verb;
    verb.desktopId = QString::fromUtf8(kVerbId);
    shell::unregisterVerb(verb);
}
