#include "shellverb.h"

#include "resource.h"
#include "shell.h"
#include "stringtable.h"

#include <QCoreApplication>
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

// The program's own full path. Desktop entries are UTF-8: a path whose
// bytes are not cannot be written into one, and gives an empty result.
QString programPath()
{
    char buffer[PATH_MAX + 1];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (length <= 0)
        return {};
    const QByteArray bytes(buffer, length);
    const QString path = QString::fromUtf8(bytes);
    return path.toUtf8() == bytes ? path : QString();
}

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
