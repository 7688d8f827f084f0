#include "adaptors.h"

#include "mediaplayer.h"

#include <QUrl>

namespace mpris::internal {

QString playbackStatusName(const PlayerState& state)
{
    switch (state.status) {
    case PlaybackStatus::Playing:
        return QStringLiteral("Playing");
    case PlaybackStatus::Paused:
        return QStringLiteral("Paused");
    case PlaybackStatus::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap metadataOf(const PlayerState& state)
{
    // No track, no entries.
    QVariantMap metadata;
    if (!state.track)
        return metadata;
    const Track& track = *state.track;
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(track.id)));
    metadata.insert(QStringLiteral("mpris:length"), QVariant::fromValue(qlonglong(track.length)));
    metadata.insert(QStringLiteral("xesam:title"), track.title);
    metadata.insert(QStringLiteral("xesam:url"), track.url);
    return metadata;
}

RootAdaptor::RootAdaptor(QObject* object, MediaPlayer& player)
    : QDBusAbstractAdaptor(object), m_player(player)
{
}

QString RootAdaptor::identity() const
{
    return m_player.identity().name;
}

QString RootAdaptor::desktopEntry() const
{
    return m_player.identity().desktopEntry;
}

QStringList RootAdaptor::supportedUriSchemes() const
{
    return m_player.identity().uriSchemes;
}

QStringList RootAdaptor::supportedMimeTypes() const
{
    return m_player.identity().mimeTypes;
}

void RootAdaptor::Raise()
{
    m_player.player().raise();
}

void RootAdaptor::Quit()
{
    m_player.player().quit();
}

PlayerAdaptor::PlayerAdaptor(QObject* object, MediaPlayer& player)
    : QDBusAbstractAdaptor(object), m_player(player)
{
}

QString PlayerAdaptor::playbackStatus() const
{
    return playbackStatusName(m_player.player().state());
}

QVariantMap PlayerAdaptor::metadata() const
{
    return metadataOf(m_player.player().state());
}

qlonglong PlayerAdaptor::position() const
{
    return m_player.player().position();
}

bool PlayerAdaptor::canGoNext() const
{
    return m_player.player().state().canGoNext;
}

bool PlayerAdaptor::canPlay() const
{
    return m_player.player().state().canPlay;
}

bool PlayerAdaptor::canPause() const
{
    return m_player.player().state().canPause;
}

void PlayerAdaptor::Next()
{
    if (canGoNext())
        m_player.player().next();
}

void PlayerAdaptor::Previous()
{
    // CanGoPrevious is false: nothing to do.
}

void PlayerAdaptor::Pause()
{
    if (canPause())
        m_player.player().pause();
}

void PlayerAdaptor::PlayPause()
{
    // Pauses what plays; plays (or resumes) anything else.
    const PlayerState state = m_player.player().state();
    if (state.status == PlaybackStatus::Playing) {
        if (state.canPause)
            m_player.player().pause();
    } else if (state.canPlay) {
        m_player.player().play();
    }
}

void PlayerAdaptor::Stop()
{
    // Whether it may stop now is the player's own rule.
    m_player.player().stop();
}

void PlayerAdaptor::Play()
{
    if (canPlay())
        m_player.player().play();
}

void PlayerAdaptor::Seek(qlonglong)
{
    // CanSeek is false: nothing to do.
}

void PlayerAdaptor::SetPosition(const QDBusObjectPath&, qlonglong)
{
    // CanSeek is false: nothing to do.
}

void PlayerAdaptor::OpenUri(const QString& uri)
{
    // Only the schemes the player names; anything else does nothing.
    if (m_player.identity().uriSchemes.contains(QUrl(uri).scheme()))
        m_player.player().openUri(uri);
}

} // namespace mpris::internal
