// Helpers shared by the tests.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace testsupport {

// Writes `bytes` to `path`, creating folders; false on failure.
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// Runs `check` in a child process that file permissions bind, also when the
// tests run as root (the child gives up the capabilities that override them).
// Returns whether `check` returned true.
bool runBoundByPermissions(const std::function<bool()>& check);

} // namespace testsupport
