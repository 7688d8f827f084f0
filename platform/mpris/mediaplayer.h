// An MPRIS 2 media player on the session bus (org.mpris.MediaPlayer2.NAME at
// /org/mpris/MediaPlayer2): the desktop's media controls and the keyboard's
// media keys reach the program through it. The program says what the player
// is (Identity), what it does now and what it can do (Player); the service
// answers the interfaces org.mpris.MediaPlayer2 and
// org.mpris.MediaPlayer2.Player from that, and announces what changed with
// org.freedesktop.DBus.Properties.PropertiesChanged once the program's event
// loop is idle again.
//
// What the player cannot do is answered so: no track list, no seeking (Seek
// and SetPosition do nothing), no going back, one rate (1.0) and a fixed
// volume (1.0, read-only).
//
// Threads: the user-interface thread only; calls from the bus arrive there.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace mpris {

enum class PlaybackStatus
{
    Playing,
    Paused,
    Stopped
};

// The piece the player has loaded.
struct Track
{
    QString id;        // a D-Bus object path, new for every loading
    QString title;     // shown by the media controls
    QString url;       // where it is, file:// for a file
    qint64 length = 0; // microseconds
    bool operator==(const Track&) const = default;
};

// What the player does now and what it can be asked to do.
struct PlayerState
{
    PlaybackStatus status = PlaybackStatus::Stopped;
    bool canPlay = false; // there is a track to play, also while it plays
    bool canPause = false;
    bool canGoNext = false;
    std::optional<Track> track;
    bool operator==(const PlayerState&) const = default;
};

// What the player is.
struct Identity
{
    QString name;           // "Identity": the name users know the program by
    QString desktopEntry;   // its desktop entry's name, without ".desktop"
    QStringList uriSchemes; // what OpenUri takes, "file" say
    QStringList mimeTypes;  // the kinds of file it plays
};

// The program's side: its state and its commands. A command that the state
// does not allow is not asked for (Play without canPlay, say); there is no
// such state for Stop, which the program allows or not by its own rules.
class Player
{
public:
    virtual ~Player() = default;

    virtual PlayerState state() const = 0;
    // Where in the track the player is, in microseconds.
    virtual qint64 position() const = 0;

    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    virtual void next() = 0;
    // Opens `url` (of a scheme in Identity::uriSchemes) and plays it as the
    // program plays an opened file.
    virtual void openUri(const QString& url) = 0;
    // Brings the program's window to the front.
    virtual void raise() = 0;
    // Ends the program as its own Exit command does.
    virtual void quit() = 0;
};

class MediaPlayer : public QObject
{
    Q_OBJECT

public:
    // Publishes `player` on the session bus as org.mpris.MediaPlayer2.`name`
    // (org.mpris.MediaPlayer2.`name`.instancePID where another process holds
    // that name already). Null, with the reason in `why`, when there is no
    // session bus or no name could be had; the program goes on without.
    static std::unique_ptr<MediaPlayer> publish(const QString& name, const Identity& identity,
                                                Player& player, QString* why = nullptr);
    // Leaves the bus.
    ~MediaPlayer() override;

    // The bus name it holds.
    QString busName() const { return m_busName; }
    const Identity& identity() const { return m_identity; }
    Player& player() const { return m_player; }

    // Compares the player's state with what was announced last and announces
    // what changed. Runs by itself whenever the event loop is idle.
    void refresh();

private:
    MediaPlayer(const QString& busName, const Identity& identity, Player& player);

    QString m_busName;
    Identity m_identity;
    Player& m_player;
    PlayerState m_announced;
    QObject* m_object = nullptr; // carries the adaptors at /org/mpris/MediaPlayer2
};

} // namespace mpris
