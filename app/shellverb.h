// The program's place in the desktop: its document type and the
// "Play using Brisolde" verb for MIDI files.
#pragma once

#include <QByteArray>
#include <QString>

// Writes the verb's desktop entry for the type of ".mid" files, pointing at
// this program; skipped when the desktop knows no type for ".mid". Failures
// are ignored. Runs on every construction of the main frame.
void RegisterPlayVerb();

// The path an Exec line can name for the program at `realPath` (bytes): the
// path itself, or, where desktops could not run it from there (a '%' in it,
// or bytes that are not UTF-8), a symbolic link to it in the user's data folder.
QString desktopProgramPath(const QByteArray& realPath);
// The program's own full path as desktop entries and service files name it
// (see desktopProgramPath); empty when it cannot be read.
QString programPath();

// The program's desktop entry for its document type, default for the type
// only where no default is set yet or it is already this program.
void RegisterShellFileTypes();
// Takes the entries away again (the "Unregister" switch).
void UnregisterShellFileTypes();
