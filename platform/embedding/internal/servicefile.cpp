#include "servicefile.h"

#include "protocol.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace embedding::internal {
namespace {

// dbus-daemon splits Exec like a shell does: single quotes keep blanks and
// every other character; a single quote is closed, escaped and reopened.
QString quotedForExec(const QString& path)
{
    QString quoted = path;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// Only a bus that runs already: connecting without an address could make
// libdbus launch one of its own.
bool sessionBusRuns()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

void reloadBusConfig()
{
    // The bus watches the service folders that existed when it started; a
    // folder made later is only read after a reload.
    if (!sessionBusRuns())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    const QDBusMessage reload = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig"));
    bus.call(reload, QDBus::Block, 5000);
}

} // namespace

QString serviceFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/dbus-1/services/") + QLatin1String(kServiceName) +
           QStringLiteral(".service");
}

QByteArray serviceFileText(const ServiceDescription& description)
{
    // The comment names the type for people; the bus reads only the group.
    const QString text =
        QStringLiteral("# %1 (%2, class %3): started by the session bus for a "
                       "container that embeds one\n"
                       "[D-BUS Service]\n"
                       "Name=%4\n"
                       "Exec=%5 -Embedding\n")
            .arg(description.typeName, description.progId, description.classId,
                 QLatin1String(kServiceName), quotedForExec(description.executable));
    return text.toUtf8();
}

bool writeServiceFile(const ServiceDescription& description)
{
    const QString path = serviceFilePath();
    const QByteArray text = serviceFileText(description);
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == text)
        return true;
    existing.close();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return false;
    reloadBusConfig();
    return true;
}

bool removeServiceFile()
{
    const QString path = serviceFilePath();
    if (!QFileInfo::exists(path))
        return true;
    const bool removed = QFile::remove(path);
    reloadBusConfig();
    return removed;
}

} // namespace embedding::internal
