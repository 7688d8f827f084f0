// The transport: the playback engine in one object. It plays one MIDI file at
// a time on one output port through the music service (platform/music), keeps
// the play state and the position, and says what changes through its
// signals. The main window, the document and the in-place frame hold a
// reference to it and observe it; none of them keeps engine state of its own.
//
// Threads: the transport belongs to the user-interface thread; every
// operation is called there and every signal is emitted there. The
// notification thread it starts only waits on the notification queue and
// posts WM_PLAY_NOTIFY to the transport; it touches nothing else, and
// FreeDirectMusic joins it. The music service's own threads (the scheduler,
// the audio thread) are behind the performance and the port.
#pragma once

#include "loader.h"
#include "notificationqueue.h"
#include "performance.h"
#include "portmanager.h"

#include <QBasicTimer>
#include <QEvent>
#include <QObject>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace framework {
class Profile;
}

using MUSIC_TIME = music::MusicTime;

// Play states.
constexpr int PLAY_NONE = 0;
constexpr int PLAY_STOPPED = 1;
constexpr int PLAY_PLAYING = 4;
constexpr int PLAY_PAUSED = 5;

// Private messages of the transport, as posted events: the notification
// thread's word that a notification waits, and the end of a piece.
constexpr QEvent::Type WM_PLAY_NOTIFY = QEvent::Type(QEvent::User + 21);
constexpr QEvent::Type WM_SEGMENT_END = QEvent::Type(QEvent::User + 22);

// The position timer: it runs from Play until Stop, also while paused.
constexpr int ID_TIMER_POSITION = 10;
constexpr int kPositionTimerPeriod = 500; // ms
// Play waits this long before it does anything else.
constexpr std::chrono::milliseconds kPlayDelay{200};

// The General MIDI System On message.
inline constexpr std::uint8_t kGmSystemOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

// How the transport makes the music service's objects and waits. The program
// takes the defaults; tests choose the offline clock, recording ports (in the
// port options), a wait that does not sleep or a music service that cannot start.
struct TransportOptions
{
    music::PortManager::Options ports;
    music::Performance::Clock clock = music::Performance::Clock::RealTime;
    // The pause before Play (kPlayDelay); null sleeps for it.
    std::function<void(std::chrono::milliseconds)> wait;
    // Makes the performance, the heart of the music service; null makes the
    // service's own. A performance that cannot be had (null) ends the start.
    std::function<std::unique_ptr<music::Performance>(music::Performance::Clock)> makePerformance;
};

class CTransport : public QObject
{
    Q_OBJECT

public:
    using Options = TransportOptions;

    // Settings ("GM Reset") are read from `profile` at the moment they are needed.
    explicit CTransport(const framework::Profile& profile, Options options = {},
                        QObject* parent = nullptr);
    // Shuts the engine down if that has not happened yet.
    ~CTransport() override;

    // Creates the performance, the port manager, the notification queue and
    // its thread, and the loader; false when one of them could not be made
    // (FreeDirectMusic then releases what was).
    bool InitDirectMusic();
    // Releases everything in a fixed order; nothing is left playing.
    void FreeDirectMusic();

    // Lists the output ports (Ports()) and takes the system's default port
    // as the device index; the number of ports.
    int EnumPorts();
    // The output ports in the order the device list shows them. The records
    // live as long as the transport.
    const std::vector<const music::PortCaps*>& Ports() const { return m_ports; }
    // Entry of the system's default port in Ports(); -1 when it is not listed.
    int DefaultPortEntry() const { return m_nDefaultEntry; }
    // Makes the port of entry `entry` of Ports() the active port; false when
    // it cannot be made or activated.
    bool CreateAndAddPort(int entry);
    // Takes the active port away (unloading the instruments first).
    void ReleasePort();
    // Switches the active port's reverb; false when the port has none to switch.
    bool SetPortReverb(bool on);
    // The entry whose port is active or is being made active.
    void SetDeviceIndex(int entry) { m_nDeviceIndex = entry; }

    // Replaces the loaded piece by the file at `path` (bytes of a file name),
    // stopping and unloading the previous one (with the General MIDI reset when
    // "GM Reset" is on). The loader's error code, 0 when it loaded.
    int LoadMidiFile(const std::string& path);
    // Why the last LoadMidiFile failed; empty after one that loaded.
    const std::string& LastLoadError() const { return m_lastLoadError; }

    // Plays the loaded piece from the resume point (after kPlayDelay) and
    // starts the position timer.
    void PlayMidi();
    // Stops and keeps the position as the resume point.
    void PauseMidi();
    // Stops, rewinds and ends the position timer.
    void StopMidi();
    // One tick of the position timer: the position and length of the piece.
    void UpdatePosition();
    void SendGMReset();
    // Takes one notification of the performance; the end of the current
    // playing posts WM_SEGMENT_END, the loss of its port says portLost.
    int OnPlayNotify();

    // The engine's state.
    int GetPlayState() const { return m_nPlayState; }
    MUSIC_TIME GetPosition() const { return m_mtPosition; }
    MUSIC_TIME GetLength() const { return m_mtLength; }
    // Where the next Play starts in the piece (the sum of the stretches played before each pause).
    MUSIC_TIME GetOffset() const { return m_mtOffset; }
    // Performance music time at which the current playing started.
    MUSIC_TIME GetStartTime() const { return m_mtStart; }
    int GetDeviceIndex() const { return m_nDeviceIndex; }
    // The record of the port made active last; it stays after ReleasePort.
    const music::PortCaps* GetPortCaps() const { return m_pPortCaps; }
    music::Port* GetPort() const { return m_pPort.get(); }
    const std::shared_ptr<music::Segment>& GetSegment() const { return m_pSegment; }
    const std::shared_ptr<music::SegmentState>& GetSegmentState() const { return m_pSegmentState; }
    music::Performance* GetPerformance() const { return m_pPerformance.get(); }
    music::PortManager* GetPortManager() const { return m_pDirectMusic.get(); }
    music::NotificationQueue* GetNotifyEvent() const { return m_hNotifyEvent.get(); }
    bool IsDownloaded() const { return m_bDownloaded; }
    bool IsStandardMidiFile() const { return m_bStandardMidiFile; }
    bool IsPositionTimerRunning() const { return m_positionTimer.isActive(); }
    // Whether ports are made with their reverb on.
    bool GetPortReverbRequest() const { return m_bPortReverb; }
    void SetPortReverbRequest(bool on) { m_bPortReverb = on; }

signals:
    // The play state changed to `playState`.
    void stateChanged(int playState);
    // A tick of the position timer found another position or length.
    void positionChanged(int position, int length);
    // The current playing played to its end (handled after the command that was running).
    void pieceEnded();
    // A port became the active port (`description`), or the active port was
    // released (empty).
    void portChanged(const QString& description);
    // The active port went away while a piece played; the playing ended there.
    void portLost(const QString& description);
    // LoadMidiFile ended: `problem` is empty when the file at `path` loaded,
    // else the reason it did not.
    void pieceLoaded(const QString& path, const QString& problem);

protected:
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    int NotificationThreadProc();
    void SetPositionTimer(bool on);
    void setPlayState(int state);
    void unloadInstruments();

    const framework::Profile& m_profile;
    Options m_options;

    // The engine's objects and state, in the order they are set up.
    std::unique_ptr<music::NotificationQueue> m_hNotifyEvent;
    std::unique_ptr<music::PortManager> m_pDirectMusic;
    std::unique_ptr<music::Performance> m_pPerformance;
    int m_nDeviceIndex = 0;
    const music::PortCaps* m_pPortCaps = nullptr;
    std::unique_ptr<music::Port> m_pPort;
    std::unique_ptr<music::Loader> m_pLoader;
    std::shared_ptr<music::Segment> m_pSegment;
    std::shared_ptr<music::SegmentState> m_pSegmentState;
    bool m_bStandardMidiFile = false;
    bool m_bPortReverb = false;
    bool m_bDownloaded = false;
    int m_nPlayState = PLAY_NONE;
    MUSIC_TIME m_mtStart = 0;
    MUSIC_TIME m_mtOffset = 0;
    MUSIC_TIME m_mtPosition = 0;
    MUSIC_TIME m_mtLength = 0;

    std::deque<std::unique_ptr<music::PortCaps>> m_portCapsRecords;
    std::vector<const music::PortCaps*> m_ports;
    int m_nDefaultEntry = -1;
    std::thread m_notificationThread;
    std::string m_lastLoadError;
    QBasicTimer m_positionTimer;
};
