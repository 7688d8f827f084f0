#include "engine.h"

#include "profilenames.h"
#include "winapp.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>
#include <deque>
#include <mutex>
#include <thread>

music::NotificationQueue* g_hNotifyEvent = nullptr;
music::PortManager* g_pDirectMusic = nullptr;
music::Performance* g_pPerformance = nullptr;
int g_nDeviceIndex = 0;
const music::PortCaps* g_pPortCaps = nullptr;
music::Port* g_pPort = nullptr;
music::Loader* g_pLoader = nullptr;
std::shared_ptr<music::Segment> g_pSegment;
std::shared_ptr<music::SegmentState> g_pSegmentState;
bool g_bStandardMidiFile = false;
bool g_bPortReverb = false;
bool g_bDownloaded = false;
int g_nPlayState = PLAY_NONE;
MUSIC_TIME g_mtStart = 0;
MUSIC_TIME g_mtOffset = 0;
MUSIC_TIME g_mtPosition = 0;
MUSIC_TIME g_mtLength = 0;

namespace {

EngineOptions& engineOptions()
{
    static EngineOptions options;
    return options;
}

// The capability records of the device list live as long as the program.
std::deque<std::unique_ptr<music::PortCaps>>& portCapsRecords()
{
    static std::deque<std::unique_ptr<music::PortCaps>> records;
    return records;
}

std::thread g_notificationThread;
std::string g_lastLoadError;

// The window that receives WM_PLAY_NOTIFY. The notification thread posts to
// it under the lock, and the window leaves under the same lock before it dies.
std::mutex g_notifyWindowMutex;
QObject* g_notifyWindow = nullptr;

int profileInt(const char* entry, int defaultValue)
{
    const framework::WinApp* app = framework::AfxGetApp();
    return app ? app->GetProfileInt(profile::kSettings, entry, defaultValue) : defaultValue;
}

// The segment-level parameters of the original service are port operations here.
void unloadInstruments()
{
    if (g_pPort)
        g_pPort->unload();
}

} // namespace

void SetEngineOptions(const EngineOptions& options)
{
    engineOptions() = options;
}

void SetPlayNotifyWindow(QObject* window)
{
    std::lock_guard lock(g_notifyWindowMutex);
    g_notifyWindow = window;
}

void ResetEngineVariables()
{
    g_pDirectMusic = nullptr;
    g_pPerformance = nullptr;
    g_nDeviceIndex = 0;
    g_pPortCaps = nullptr;
    g_pPort = nullptr;
    g_pLoader = nullptr;
    g_pSegment.reset();
    g_pSegmentState.reset();
    g_bStandardMidiFile = false;
    g_bPortReverb = false;
    g_bDownloaded = false;
    g_nPlayState = PLAY_NONE;
    g_mtStart = 0;
    g_mtOffset = 0;
    g_mtPosition = 0;
    g_mtLength = 0;
}

bool InitDirectMusic()
{
    const EngineOptions& options = engineOptions();
    g_pPerformance = new music::Performance(options.clock);
    g_pDirectMusic = nullptr;
    if (options.failStart)
        return false;
    // The performance's initialisation makes the object that lists and creates ports.
    if (g_pPerformance->Init() != music::Result::Ok)
        return false;
    g_pDirectMusic = new music::PortManager(options.ports);
    if (options.preparePorts)
        options.preparePorts(*g_pDirectMusic);

    g_hNotifyEvent = new music::NotificationQueue;
    if (!g_hNotifyEvent->isValid())
        return false;
    g_notificationThread = std::thread(NotificationThreadProc);
    g_pPerformance->SetNotificationHandle(g_hNotifyEvent);
    g_pPerformance->AddNotificationType(music::NotificationType::Segment);
    g_pLoader = new music::Loader;
    g_bDownloaded = false;
    return true;
}

void FreeDirectMusic()
{
    g_pSegmentState.reset();
    if (g_pSegment) {
        if (g_pPerformance)
            g_pPerformance->Stop();
        if (g_bDownloaded)
            unloadInstruments();
        g_pSegment.reset();
    }
    if (g_pPerformance) {
        g_pPerformance->CloseDown();
        delete g_pPerformance;
        g_pPerformance = nullptr;
    }
    delete g_pPort;
    g_pPort = nullptr;
    delete g_pLoader;
    g_pLoader = nullptr;
    delete g_pDirectMusic;
    g_pDirectMusic = nullptr;
    if (g_hNotifyEvent) {
        // Wake the notification thread for good and wait for it to end.
        g_hNotifyEvent->close();
        if (g_notificationThread.joinable())
            g_notificationThread.join();
        delete g_hNotifyEvent;
        g_hNotifyEvent = nullptr;
    }
}

int NotificationThreadProc()
{
    music::NotificationQueue* queue = g_hNotifyEvent;
    while (queue && queue->wait()) {
        std::lock_guard lock(g_notifyWindowMutex);
        if (g_notifyWindow)
            QCoreApplication::postEvent(g_notifyWindow, new QEvent(WM_PLAY_NOTIFY));
    }
    return 1;
}

void SendGMReset()
{
    if (g_pPerformance)
        g_pPerformance->SendSysEx(kGmSystemOn);
}

int OnPlayNotify(IEngineWindow& window)
{
    if (!g_pPerformance)
        return 0;
    // Each message stands for one notification: take it whatever is loaded,
    // or the queue stays one behind for the rest of the session (the stop of
    // a piece replaced by a file that failed to load is one).
    music::Notification notification;
    if (g_pPerformance->GetNotificationPMsg(notification) != music::Result::Ok || !g_pSegment)
        return 0;
    // Only what happens to the playing that is current counts: a late end of
    // one that was stopped or replaced must not end the next.
    if (notification.type != music::NotificationType::Segment || !g_pSegmentState ||
        notification.instance != g_pSegmentState->id())
        return 0;
    if (notification.option == music::SegmentOption::End) {
        window.PostSegmentEnd();
    } else if (notification.option == music::SegmentOption::Abort && g_pPort &&
               !g_pPort->isAlive()) {
        // Every stop of ours forgets its playing first: this one the
        // performance ended itself, because the port went away.
        window.OnPortGone(g_pPortCaps ? g_pPortCaps->description : std::string());
    }
    return 0;
}

int EnumPorts(IEngineWindow& window)
{
    g_nDeviceIndex = 0;
    if (!g_pDirectMusic)
        return 0;
    const std::string defaultPort = g_pDirectMusic->defaultPort();
    int added = 0;
    for (int index = 0;; ++index) {
        auto record = std::make_unique<music::PortCaps>();
        const music::Result result = g_pDirectMusic->enumPort(index, *record);
        if (result == music::Result::Ok && record->portClass == music::PortClass::Output) {
            const int entry = window.DeviceListAdd(record->description, record.get());
            ++added;
            if (record->id == defaultPort) {
                window.DeviceListSetCurSel(entry);
                g_nDeviceIndex = entry;
            }
            portCapsRecords().push_back(std::move(record));
        }
        if (result != music::Result::Ok)
            break;
    }
    return added;
}

bool CreateAndAddPort(IEngineWindow& window)
{
    const int selection = window.DeviceListGetCurSel();
    if (selection < 0 || !g_pDirectMusic || !g_pPerformance)
        return false;
    const music::PortCaps* record = window.DeviceListGetItemData(selection);
    if (!record)
        return false;
    music::PortParams params;
    params.reverb = g_bPortReverb;
    std::unique_ptr<music::Port> port = g_pDirectMusic->createPort(record->id, params);
    if (!port)
        return false;
    delete g_pPort;
    g_pPort = port.release();
    if (g_pPort->activate(true) != music::Result::Ok)
        return false;
    if (g_pPerformance->AddPort(g_pPort) != music::Result::Ok)
        return false;
    g_pPerformance->AssignPChannelBlock(0, g_pPort, 1);
    g_pPortCaps = record;
    window.EnableReverbItem(record->reverb);
    return true;
}

void ReleasePort()
{
    if (g_bDownloaded) {
        if (g_pSegment)
            unloadInstruments();
        g_bDownloaded = false;
    }
    if (g_pPerformance && g_pPort)
        g_pPerformance->RemovePort(g_pPort);
    delete g_pPort;
    g_pPort = nullptr;
}

int LoadMidiFile(const std::string& path)
{
    if (g_pSegment) {
        if (g_pPerformance)
            g_pPerformance->Stop();
        g_pSegmentState.reset();
        if (g_bDownloaded) {
            unloadInstruments();
            g_bDownloaded = false;
        }
        if (g_pLoader)
            g_pLoader->releaseObject(g_pSegment.get());
        g_pSegment.reset();
        if (profile::isOn(profileInt(profile::kGmReset, profile::kGmResetDefault)))
            SendGMReset();
        g_mtOffset = 0;
        g_nPlayState = PLAY_NONE;
    }
    g_bStandardMidiFile = false;
    if (!g_pLoader) {
        g_lastLoadError = "the player is not running";
        return -1;
    }
    music::LoadResult result = g_pLoader->getObject(path);
    if (!result) {
        g_lastLoadError = result.reason();
        return int(result.error());
    }
    g_lastLoadError.clear();
    g_pSegment = std::move(result).value();
    // The segment comes from the loader's cache: a new playing starts at the beginning.
    g_pSegment->setStartPoint(0);
    g_nPlayState = PLAY_STOPPED;
    return 0;
}

const std::string& LastLoadError()
{
    return g_lastLoadError;
}

void PlayMidi(IEngineWindow& window)
{
    window.PlayDelay();
    if (!g_pPort || !g_pPortCaps)
        return;
    const bool takesInstruments = g_pPortCaps->downloadsInstruments;
    if (takesInstruments) {
        if (!g_bStandardMidiFile) {
            if (!g_pSegment) {
                StopMidi(window);
                return;
            }
            // Every segment is a Standard MIDI File here: the parameter always takes.
            g_bStandardMidiFile = true;
        }
        if (g_bDownloaded) {
            if (!g_pSegment) {
                StopMidi(window);
                return;
            }
            unloadInstruments();
            g_bDownloaded = false;
        }
    } else if (g_bStandardMidiFile && g_nPlayState != PLAY_STOPPED) {
        return;
    }
    if (takesInstruments && !g_bDownloaded) {
        if (!g_pSegment) {
            StopMidi(window);
            return;
        }
        if (g_pPort->download() != music::Result::Ok)
            return;
        g_bDownloaded = true;
    }
    if (!g_pSegment || g_pPerformance->PlaySegment(g_pSegment, music::Performance::kStartAtBeat,
                                                   &g_pSegmentState) != music::Result::Ok)
        return;
    if (!g_pSegmentState) {
        StopMidi(window);
        return;
    }
    g_mtStart = g_pSegmentState->GetStartTime();
    g_nPlayState = PLAY_PLAYING;
    window.SetPositionTimer(true);
}

void PauseMidi(IEngineWindow&)
{
    if (!g_pPerformance)
        return;
    g_pPerformance->Stop();
    MUSIC_TIME now = 0;
    g_pPerformance->GetTime(now);
    g_mtOffset += now - g_mtStart;
    // A pause before the beat the piece starts on, or after its end, must not
    // move the resume point out of the piece.
    const MUSIC_TIME length = g_pSegment ? g_pSegment->length() : 0;
    g_mtOffset = std::clamp<MUSIC_TIME>(g_mtOffset, 0, length);
    if (g_pSegment)
        g_pSegment->setStartPoint(g_mtOffset);
    g_pSegmentState.reset();
    g_nPlayState = PLAY_PAUSED;
}

void StopMidi(IEngineWindow& window)
{
    window.SetPositionTimer(false);
    if (g_pPerformance)
        g_pPerformance->Stop();
    if (g_pSegment)
        g_pSegment->setStartPoint(0);
    g_pSegmentState.reset();
    g_mtOffset = 0;
    g_nPlayState = PLAY_STOPPED;
}

void UpdatePosition()
{
    if (g_pSegment)
        g_mtLength = g_pSegment->length();
    if (!g_pPerformance)
        return;
    MUSIC_TIME now = 0;
    if (g_pPerformance->GetTime(now) != music::Result::Ok)
        return;
    std::shared_ptr<music::SegmentState> state;
    if (g_pPerformance->GetSegmentState(state, now) != music::Result::Ok)
        return;
    state->GetSeek(g_mtPosition);
}

bool SetPortReverb(bool on)
{
    if (!g_pPort)
        return false;
    return g_pPort->setReverb(on) != music::Result::NotSupported;
}
