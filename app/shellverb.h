// The program's place in the desktop: its document type and the
// "Play using Brisolde" verb for MIDI files.
#pragma once

// Writes the verb's desktop entry for the type of ".mid" files, pointing at
// this program; skipped when the desktop knows no type for ".mid". Failures
// are ignored. Runs on every construction of the main frame.
void RegisterPlayVerb();

// The program's desktop entry for its document type, default for the type
// only where no default is set yet or it is already this program.
void RegisterShellFileTypes();
// Takes the entries away again (the "Unregister" switch).
void UnregisterShellFileTypes();
