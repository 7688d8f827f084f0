// The registration of the embedding server: a D-Bus session service file
// that makes the bus start "<program> -Embedding" for the factory's name.
#pragma once

#include <QString>

namespace embedding::internal {

struct ServiceDescription
{
    QString executable; // absolute path of the program
    QString typeName;   // "Qorvel Document"
    QString progId;     // "Brisolde.Document"
    QString classId;    // "{...}"
};

// $XDG_DATA_HOME/dbus-1/services/<service name>.service
QString serviceFilePath();

// The file's text for `description`.
QByteArray serviceFileText(const ServiceDescription& description);

// Writes the file where it differs from `description` (creating the folders)
// and then asks the running session bus, if any, to read its configuration
// again. False when the file could not be written.
bool writeServiceFile(const ServiceDescription& description);

// Removes the file and tells the bus. False when a file stays behind.
bool removeServiceFile();

} // namespace embedding::internal
