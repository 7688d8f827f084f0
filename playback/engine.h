// The playback engine: process-wide engine variables and the operations on
// them. It plays one MIDI file at a time on one output port through the
// music service (platform/music).
//
// Threads: every operation runs on the user-interface thread, which owns the
// engine variables. The notification thread only waits on g_hNotifyEvent and
// posts WM_PLAY_NOTIFY to the main window; it touches nothing else. The
// music service's own threads (the scheduler, the audio thread) are behind
// the performance and the port.
#pragma once

#include "loader.h"
#include "notificationqueue.h"
#include "performance.h"
#include "portmanager.h"

#include <QEvent>
#include <functional>
#include <memory>
#include <string>

using MUSIC_TIME = music::MusicTime;

// Play states.
constexpr int PLAY_NONE = 0;
constexpr int PLAY_STOPPED = 1;
constexpr int PLAY_PLAYING = 4;
constexpr int PLAY_PAUSED = 5;

// Private messages of the main window, as posted events.
constexpr QEvent::Type WM_PLAY_NOTIFY = QEvent::Type(QEvent::User + 21);
constexpr QEvent::Type WM_SEGMENT_END = QEvent::Type(QEvent::User + 22);

// The position timer of the main frame.
constexpr int ID_TIMER_POSITION = 10;
constexpr int kPositionTimerPeriod = 500; // ms
// Play waits this long before it does anything else.
constexpr int kPlayDelay = 200; // ms

// The General MIDI System On message.
inline constexpr std::uint8_t kGmSystemOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

// The engine variables, in this order; all but the first are zeroed at start-up.
extern music::NotificationQueue* g_hNotifyEvent;
extern music::PortManager* g_pDirectMusic;
extern music::Performance* g_pPerformance;
extern int g_nDeviceIndex;
extern const music::PortCaps* g_pPortCaps;
extern music::Port* g_pPort;
extern music::Loader* g_pLoader;
extern std::shared_ptr<music::Segment> g_pSegment;
extern std::shared_ptr<music::SegmentState> g_pSegmentState;
extern bool g_bStandardMidiFile;
extern bool g_bPortReverb;
extern bool g_bDownloaded;
extern int g_nPlayState;
extern MUSIC_TIME g_mtStart;
extern MUSIC_TIME g_mtOffset;
extern MUSIC_TIME g_mtPosition;
extern MUSIC_TIME g_mtLength;

// What the engine needs of the main window: its device list, its position
// timer, the Reverb menu item and its private messages. The main frame
// implements it; tests use one of their own.
class IEngineWindow
{
public:
    virtual ~IEngineWindow() = default;

    // The device list: entries of text and capability record, and its selection.
    virtual int DeviceListAdd(const std::string& text, const music::PortCaps* caps) = 0;
    virtual int DeviceListGetCurSel() const = 0; // -1 when none
    virtual void DeviceListSetCurSel(int index) = 0;
    virtual const music::PortCaps* DeviceListGetItemData(int index) const = 0;

    // Starts (500 ms period) or kills the position timer ID_TIMER_POSITION.
    virtual void SetPositionTimer(bool on) = 0;
    // Enables or greys the Reverb menu item (ID_OPTIONS_REVERB).
    virtual void EnableReverbItem(bool enable) = 0;
    // Posts WM_SEGMENT_END to the main window itself.
    virtual void PostSegmentEnd() = 0;
    // The output port (`description`, as the device list shows it) went
    // away while a piece played, and the playing ended there.
    virtual void OnPortGone(const std::string& description) = 0;
    // The pause before Play does anything (kPlayDelay).
    virtual void PlayDelay() = 0;
};

// How the engine makes its objects: the real program takes the defaults;
// tests and the render tool choose offline clocks and test ports.
struct EngineOptions
{
    music::PortManager::Options ports;
    music::Performance::Clock clock = music::Performance::Clock::RealTime;
    // Called with the new port manager, e.g. to add test ports.
    std::function<void(music::PortManager&)> preparePorts;
    // Tests: start-up fails as it would without a music service.
    bool failStart = false;
};
void SetEngineOptions(const EngineOptions& options);

// Where the notification thread posts WM_PLAY_NOTIFY; null for nowhere.
// The main window sets itself while it exists.
void SetPlayNotifyWindow(QObject* window);

// Every engine variable but g_hNotifyEvent to zero and null.
void ResetEngineVariables();

bool InitDirectMusic();
void FreeDirectMusic();
int NotificationThreadProc();
void SendGMReset();

// Operations that belong to the main frame (it passes itself as the window).
int EnumPorts(IEngineWindow& window);
bool CreateAndAddPort(IEngineWindow& window);
void ReleasePort();
void PlayMidi(IEngineWindow& window);
void PauseMidi(IEngineWindow& window);
void StopMidi(IEngineWindow& window);
void UpdatePosition();
bool SetPortReverb(bool on);
int OnPlayNotify(IEngineWindow& window);

// The document's operation: loads `path` (bytes of a file name), replacing the
// loaded piece. Returns the loader's error code (0 when it loaded).
int LoadMidiFile(const std::string& path);
// Why the last LoadMidiFile failed; empty after one that loaded.
const std::string& LastLoadError();
