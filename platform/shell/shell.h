// Desktop integration on freedesktop.org desktops: the program's document
// type and its "Play" verb as desktop entries under $XDG_DATA_HOME/applications
// and the default application for a MIME type in $XDG_CONFIG_HOME/mimeapps.list.
//
// Threads: the user-interface thread.
#pragma once

#include <QString>
#include <QStringList>

namespace shell {

// "$XDG_DATA_HOME/applications" (or ~/.local/share/applications).
QString applicationsFolder();
// "$XDG_CONFIG_HOME/mimeapps.list" (or ~/.config/mimeapps.list).
QString userMimeAppsFile();

// The MIME type the shared MIME database gives a file name extension such
// as ".mid"; empty when it knows none.
QString mimeTypeForExtension(const QString& extension);

// One argument of an Exec line: quoted where the desktop-entry rules want it.
// The result is also escaped for the string value the Exec key holds.
QString execArgument(const QString& argument);

struct DocumentType
{
    QString desktopId; // "brisolde.desktop"
    QString name;      // the program's name
    QString typeName;  // what the documents are called
    QString mimeType;  // "audio/midi"
    QString program;   // absolute path of the program
    QString iconName;  // icon theme name
    QString iconFile;  // a PNG copied into the user's icon theme, or empty
};

// Writes the program's desktop entry for the type, and makes it the default
// application for the type only when there is no default yet or the default
// is already this entry. False when the entry could not be written.
bool registerDocumentType(const DocumentType& type);
bool unregisterDocumentType(const DocumentType& type);

struct Verb
{
    QString desktopId; // "<verb>.desktop"
    QString menuText;  // Name=
    QString mimeType;  // the type the verb is offered for
    QString program;   // absolute path of the program
    QString iconName;
};

// Writes (or rewrites) the verb's desktop entry; one entry however often it runs.
bool registerVerb(const Verb& verb);
bool unregisterVerb(const Verb& verb);

// The default application's desktop id for `mimeType` in the user's and the
// system's mimeapps.list files, the user's first; empty when none is set.
QString defaultApplication(const QString& mimeType);

} // namespace shell
