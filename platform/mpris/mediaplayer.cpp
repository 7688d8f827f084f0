#include "mediaplayer.h"

#include "internal/adaptors.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace mpris {

using namespace internal;

namespace {

constexpr char kBusNamePrefix[] = "org.mpris.MediaPlayer2.";

} // namespace

std::unique_ptr<MediaPlayer> MediaPlayer::publish(const QString& name, const Identity& identity,
                                                  Player& player, QString* why)
{
    const auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return std::unique_ptr<MediaPlayer>();
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return fail(QStringLiteral("no session bus: %1").arg(bus.lastError().message()));

    // The object first, so that whoever sees the name appear finds it.
    const QString wanted = QString::fromLatin1(kBusNamePrefix) + name;
    std::unique_ptr<MediaPlayer> published(new MediaPlayer(wanted, identity, player));
    if (!bus.registerObject(QString::fromLatin1(kObjectPath), published->m_object,
                            QDBusConnection::ExportAdaptors))
        return fail(QStringLiteral("the object %1 is taken").arg(QLatin1String(kObjectPath)));

    // A second instance takes a name of its own, as MPRIS asks: the first
    // name with ".instance" and the process id after it.
    QDBusConnectionInterface* names = bus.interface();
    const auto take = [names](const QString& busName) {
        return names && names->registerService(busName, QDBusConnectionInterface::DontQueueService,
                                               QDBusConnectionInterface::DontAllowReplacement)
                                .value() == QDBusConnectionInterface::ServiceRegistered;
    };
    if (!take(wanted)) {
        const QString instance =
            wanted + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        if (!take(instance)) {
            bus.unregisterObject(QString::fromLatin1(kObjectPath));
            return fail(QStringLiteral("the names %1 and %2 are taken").arg(wanted, instance));
        }
        published->m_busName = instance;
    }
    published->m_announced = player.state();
    return published;
}

MediaPlayer::MediaPlayer(const QString& busName, const Identity& identity, Player& player)
    : m_busName(busName), m_identity(identity), m_player(player), m_object(new QObject(this))
{
    new RootAdaptor(m_object, *this);
    new PlayerAdaptor(m_object, *this);
    // Whatever changed the player's state (a command, the end of a piece, a
    // file opened) is over once the event loop waits again.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &MediaPlayer::refresh);
}

MediaPlayer::~MediaPlayer()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        if (QDBusConnectionInterface* names = bus.interface())
            names->unregisterService(m_busName);
        bus.unregisterObject(QString::fromLatin1(kObjectPath));
    }
}

void MediaPlayer::refresh()
{
    const PlayerState now = m_player.state();
    if (now == m_announced)
        return;
    // Position is not announced: clients ask for it when they need it.
    QVariantMap changed;
    if (now.status != m_announced.status)
        changed.insert(QStringLiteral("PlaybackStatus"), playbackStatusName(now));
    if (now.canPlay != m_announced.canPlay)
        changed.insert(QStringLiteral("CanPlay"), now.canPlay);
    if (now.canPause != m_announced.canPause)
        changed.insert(QStringLiteral("CanPause"), now.canPause);
    if (now.canGoNext != m_announced.canGoNext)
        changed.insert(QStringLiteral("CanGoNext"), now.canGoNext);
    if (now.track != m_announced.track)
        changed.insert(QStringLiteral("Metadata"), metadataOf(now));
    m_announced = now;

    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

} // namespace mpris
