// Desktop integration on freedesktop.org desktops: the program's document
// type and its "Play" verb as desktop entries under $XDG_DATA_HOME/applications,
// the default application for a MIME type and the verb's association in
// $XDG_CONFIG_HOME/mimeapps.list, and the desktop database (mimeinfo.cache)
// of that folder kept current where update-desktop-database exists.
//
// The default is what `xdg-mime query default` answers: the first installed
// entry under [Default Applications] of the mimeapps.list files, else the
// desktop database caches, else any entry that takes the type. The program
// never takes a default over: its entry becomes the default only where that
// answer is nothing or already the program. Where another program answers
// only through a cache, it is named the default in the user's mimeapps.list,
// so that the program's own entries (which GIO prefers as added
// associations, and xdg-mime as the user's own cache) do not take its place.
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
// Takes the entry away, and the program out of the default for the type.
bool unregisterDocumentType(const DocumentType& type);

struct Verb
{
    QString desktopId; // "<verb>.desktop"
    QString menuText;  // Name=
    QString mimeType;  // the type the verb is offered for
    QString program;   // absolute path of the program
    QString iconName;
};

// Writes (or rewrites) the verb's desktop entry, one however often it runs,
// and lists it under [Added Associations] for its type, so that file managers
// offer it in their Open With menus; the default for the type stays as it was.
bool registerVerb(const Verb& verb);
bool unregisterVerb(const Verb& verb);

struct DefaultApplication
{
    QString desktopId;   // empty: no application handles the type
    bool chosen = false; // named under [Default Applications] of a mimeapps.list
};

// The application that opens files of `mimeType`, as `xdg-mime query default`
// finds it. The user's own desktop entries that run `ownProgram` are passed
// over where they count only by being installed (the user's cache, the last
// resort of any entry that takes the type), so that the answer is what the
// desktop would open without the program's own entries.
DefaultApplication currentDefault(const QString& mimeType, const QString& ownProgram = {});
// Its desktop id; empty when none.
QString defaultApplication(const QString& mimeType);

} // namespace shell
