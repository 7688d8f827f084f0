#include "transport.h"

#include "crashstack.h"

#include "profile.h"
#include "profilenames.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimerEvent>

#include <algorithm>

CTransport::CTransport(const framework::Profile& profile, Options options, QObject* parent)
    : QObject(parent), m_profile(profile), m_options(std::move(options))
{
}

CTransport::~CTransport()
{
    FreeDirectMusic();
}

bool CTransport::InitDirectMusic()
{
    m_pPerformance = m_options.makePerformance
                         ? m_options.makePerformance(m_options.clock)
                         : std::make_unique<music::Performance>(m_options.clock);
    // The performance's initialisation makes the object that lists and creates ports.
    if (!m_pPerformance || m_pPerformance->Init() != music::Result::Ok)
        return false;
    m_pDirectMusic = std::make_unique<music::PortManager>(m_options.ports);

    m_hNotifyEvent = std::make_unique<music::NotificationQueue>();
    if (!m_hNotifyEvent->isValid())
        return false;
    m_notificationThread = std::thread([this] { NotificationThreadProc(); });
    m_pPerformance->SetNotificationHandle(m_hNotifyEvent.get());
    m_pPerformance->AddNotificationType(music::NotificationType::Segment);
    m_pLoader = std::make_unique<music::Loader>();
    m_bDownloaded = false;
    return true;
}

void CTransport::FreeDirectMusic()
{
    SetPositionTimer(false);
    m_pSegmentState.reset();
    if (m_pSegment) {
        if (m_pPerformance)
            m_pPerformance->Stop();
        if (m_bDownloaded)
            unloadInstruments();
        m_pSegment.reset();
    }
    if (m_pPerformance) {
        m_pPerformance->CloseDown();
        m_pPerformance.reset();
    }
    m_pPort.reset();
    m_pLoader.reset();
    m_pDirectMusic.reset();
    if (m_hNotifyEvent) {
        // Wake the notification thread for good and wait for it to end.
        m_hNotifyEvent->close();
        if (m_notificationThread.joinable())
            m_notificationThread.join();
        m_hNotifyEvent.reset();
    }
}

int CTransport::NotificationThreadProc()
{
    crashstack::prepareThisThread();
    // Only the queue is read here; the transport outlives the thread.
    music::NotificationQueue* queue = m_hNotifyEvent.get();
    while (queue->wait())
        QCoreApplication::postEvent(this, new QEvent(WM_PLAY_NOTIFY));
    return 1;
}

void CTransport::SendGMReset()
{
    if (m_pPerformance)
        m_pPerformance->SendSysEx(kGmSystemOn);
}

int CTransport::OnPlayNotify()
{
    if (!m_pPerformance)
        return 0;
    // Each message stands for one notification: take it whatever is loaded,
    // or the queue stays one behind for the rest of the session (the stop of
    // a piece replaced by a file that failed to load is one).
    music::Notification notification;
    if (m_pPerformance->GetNotificationPMsg(notification) != music::Result::Ok || !m_pSegment)
        return 0;
    // Only what happens to the playing that is current counts: a late end of
    // one that was stopped or replaced must not end the next.
    if (notification.type != music::NotificationType::Segment || !m_pSegmentState ||
        notification.instance != m_pSegmentState->id())
        return 0;
    if (notification.option == music::SegmentOption::End) {
        QCoreApplication::postEvent(this, new QEvent(WM_SEGMENT_END));
    } else if (notification.option == music::SegmentOption::Abort && m_pPort &&
               !m_pPort->isAlive()) {
        // Every stop of ours forgets its playing first: this one the
        // performance ended itself, because the port went away.
        emit portLost(m_pPortCaps ? QString::fromStdString(m_pPortCaps->description) : QString());
    }
    return 0;
}

int CTransport::EnumPorts()
{
    m_nDeviceIndex = 0;
    m_nDefaultEntry = -1;
    m_ports.clear();
    if (!m_pDirectMusic)
        return 0;
    const std::string defaultPort = m_pDirectMusic->defaultPort();
    for (int index = 0;; ++index) {
        auto record = std::make_unique<music::PortCaps>();
        const music::Result result = m_pDirectMusic->enumPort(index, *record);
        if (result == music::Result::Ok && record->portClass == music::PortClass::Output) {
            const int entry = int(m_ports.size());
            m_ports.push_back(record.get());
            if (record->id == defaultPort) {
                m_nDefaultEntry = entry;
                m_nDeviceIndex = entry;
            }
            m_portCapsRecords.push_back(std::move(record));
        }
        if (result != music::Result::Ok)
            break;
    }
    return int(m_ports.size());
}

bool CTransport::CreateAndAddPort(int entry)
{
    if (entry < 0 || entry >= int(m_ports.size()) || !m_pDirectMusic || !m_pPerformance)
        return false;
    const music::PortCaps* record = m_ports[std::size_t(entry)];
    music::PortParams params;
    params.reverb = m_bPortReverb;
    std::unique_ptr<music::Port> port = m_pDirectMusic->createPort(record->id, params);
    if (!port)
        return false;
    m_pPort = std::move(port);
    if (m_pPort->activate(true) != music::Result::Ok)
        return false;
    if (m_pPerformance->AddPort(m_pPort.get()) != music::Result::Ok)
        return false;
    m_pPerformance->AssignPChannelBlock(0, m_pPort.get(), 1);
    m_pPortCaps = record;
    emit portChanged(QString::fromStdString(record->description));
    return true;
}

void CTransport::ReleasePort()
{
    if (m_bDownloaded) {
        if (m_pSegment)
            unloadInstruments();
        m_bDownloaded = false;
    }
    if (m_pPerformance && m_pPort)
        m_pPerformance->RemovePort(m_pPort.get());
    m_pPort.reset();
    emit portChanged(QString());
}

bool CTransport::SetPortReverb(bool on)
{
    if (!m_pPort)
        return false;
    return m_pPort->setReverb(on) != music::Result::NotSupported;
}

int CTransport::LoadMidiFile(const std::string& path)
{
    if (m_pSegment) {
        if (m_pPerformance)
            m_pPerformance->Stop();
        m_pSegmentState.reset();
        if (m_bDownloaded) {
            unloadInstruments();
            m_bDownloaded = false;
        }
        if (m_pLoader)
            m_pLoader->releaseObject(m_pSegment.get());
        m_pSegment.reset();
        if (profile::isOn(
                m_profile.getInt(profile::kSettings, profile::kGmReset, profile::kGmResetDefault)))
            SendGMReset();
        m_mtOffset = 0;
        setPlayState(PLAY_NONE);
    }
    m_bStandardMidiFile = false;
    int error = 0;
    if (!m_pLoader) {
        m_lastLoadError = "the player is not running";
        error = -1;
    } else if (music::LoadResult result = m_pLoader->getObject(path); !result) {
        m_lastLoadError = result.reason();
        error = int(result.error());
    } else {
        m_lastLoadError.clear();
        m_pSegment = std::move(result).value();
        // The segment comes from the loader's cache: a new playing starts at the beginning.
        m_pSegment->setStartPoint(0);
        setPlayState(PLAY_STOPPED);
    }
    emit pieceLoaded(QFile::decodeName(QByteArray::fromStdString(path)),
                     QString::fromStdString(m_lastLoadError));
    return error;
}

void CTransport::PlayMidi()
{
    if (m_options.wait)
        m_options.wait(kPlayDelay);
    else
        std::this_thread::sleep_for(kPlayDelay);
    if (!m_pPort || !m_pPortCaps)
        return;
    const bool takesInstruments = m_pPortCaps->downloadsInstruments;
    if (takesInstruments) {
        if (!m_bStandardMidiFile) {
            if (!m_pSegment) {
                StopMidi();
                return;
            }
            // Every segment is a Standard MIDI File here: the parameter always takes.
            m_bStandardMidiFile = true;
        }
        if (m_bDownloaded) {
            if (!m_pSegment) {
                StopMidi();
                return;
            }
            unloadInstruments();
            m_bDownloaded = false;
        }
    } else if (m_bStandardMidiFile && m_nPlayState != PLAY_STOPPED) {
        return;
    }
    if (takesInstruments && !m_bDownloaded) {
        if (!m_pSegment) {
            StopMidi();
            return;
        }
        if (m_pPort->download(music::instrumentsPlayed(*m_pSegment)) != music::Result::Ok)
            return;
        m_bDownloaded = true;
    }
    if (!m_pSegment || m_pPerformance->PlaySegment(m_pSegment, music::Performance::kStartAtBeat,
                                                   &m_pSegmentState) != music::Result::Ok)
        return;
    if (!m_pSegmentState) {
        StopMidi();
        return;
    }
    m_mtStart = m_pSegmentState->GetStartTime();
    setPlayState(PLAY_PLAYING);
    SetPositionTimer(true);
}

void CTransport::PauseMidi()
{
    if (!m_pPerformance)
        return;
    m_pPerformance->Stop();
    MUSIC_TIME now = 0;
    m_pPerformance->GetTime(now);
    m_mtOffset += now - m_mtStart;
    // A pause before the beat the piece starts on, or after its end, must not
    // move the resume point out of the piece.
    const MUSIC_TIME length = m_pSegment ? m_pSegment->length() : 0;
    m_mtOffset = std::clamp<MUSIC_TIME>(m_mtOffset, 0, length);
    if (m_pSegment)
        m_pSegment->setStartPoint(m_mtOffset);
    m_pSegmentState.reset();
    setPlayState(PLAY_PAUSED);
}

void CTransport::StopMidi()
{
    SetPositionTimer(false);
    if (m_pPerformance)
        m_pPerformance->Stop();
    if (m_pSegment)
        m_pSegment->setStartPoint(0);
    m_pSegmentState.reset();
    m_mtOffset = 0;
    setPlayState(PLAY_STOPPED);
}

void CTransport::UpdatePosition()
{
    const MUSIC_TIME position = m_mtPosition;
    const MUSIC_TIME length = m_mtLength;
    if (m_pSegment)
        m_mtLength = m_pSegment->length();
    MUSIC_TIME now = 0;
    std::shared_ptr<music::SegmentState> state;
    if (m_pPerformance && m_pPerformance->GetTime(now) == music::Result::Ok &&
        m_pPerformance->GetSegmentState(state, now) == music::Result::Ok)
        state->GetSeek(m_mtPosition);
    if (m_mtPosition != position || m_mtLength != length)
        emit positionChanged(m_mtPosition, m_mtLength);
}

bool CTransport::event(QEvent* event)
{
    if (event->type() == WM_PLAY_NOTIFY) {
        OnPlayNotify();
        return true;
    }
    if (event->type() == WM_SEGMENT_END) {
        emit pieceEnded();
        return true;
    }
    return QObject::event(event);
}

void CTransport::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_positionTimer.timerId())
        UpdatePosition();
    else
        QObject::timerEvent(event);
}

void CTransport::SetPositionTimer(bool on)
{
    if (on)
        m_positionTimer.start(kPositionTimerPeriod, this);
    else
        m_positionTimer.stop();
}

void CTransport::setPlayState(int state)
{
    if (m_nPlayState == state)
        return;
    m_nPlayState = state;
    emit stateChanged(state);
}

// The segment-level instrument parameters are port operations here.
void CTransport::unloadInstruments()
{
    if (m_pPort)
        m_pPort->unload();
}
