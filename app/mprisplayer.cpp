#include "mprisplayer.h"

#include "transport.h"

#include "command.h"
#include "framewnd.h"
#include "resource.h"
#include "winapp.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QUrl>

namespace {

// The bus name's last part, the desktop entry and the kinds of file played.
constexpr char kMprisName[] = "brisolde";
constexpr char kDesktopEntry[] = "brisolde";
constexpr char kTrackPath[] = "/org/tolvern/Brisolde/Track/";

} // namespace

CMprisPlayer::CMprisPlayer(CTransport& transport, QObject* parent)
    : QObject(parent), m_transport(transport)
{
    connect(&m_transport, &CTransport::pieceLoaded, this, &CMprisPlayer::OnPieceLoaded);
}

CMprisPlayer::~CMprisPlayer() = default;

bool CMprisPlayer::Publish(QString* why)
{
    const framework::WinApp* app = framework::AfxGetApp();
    mpris::Identity identity;
    identity.name =
        app && !app->m_strAppName.isEmpty() ? app->m_strAppName : QStringLiteral("Brisolde");
    identity.desktopEntry = QString::fromLatin1(kDesktopEntry);
    identity.uriSchemes = {QStringLiteral("file")};
    identity.mimeTypes = {QStringLiteral("audio/midi"), QStringLiteral("audio/x-midi")};
    m_service = mpris::MediaPlayer::publish(QString::fromLatin1(kMprisName), identity, *this, why);
    return m_service != nullptr;
}

QString CMprisPlayer::BusName() const
{
    return m_service ? m_service->busName() : QString();
}

void CMprisPlayer::OnPieceLoaded(const QString& path, const QString& problem)
{
    // Loading replaces the piece, also when the new one does not load.
    m_track.reset();
    const auto& segment = m_transport.GetSegment();
    if (!problem.isEmpty() || !segment)
        return;
    mpris::Track track;
    track.id = QString::fromLatin1(kTrackPath) + QString::number(++m_loadings);
    track.title = QFileInfo(path).completeBaseName();
    track.url = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    track.length = qint64(segment->tempoMap().realTime(segment->length()));
    m_track = track;
}

framework::FrameWnd* CMprisPlayer::frame() const
{
    framework::WinApp* app = framework::AfxGetApp();
    return app ? app->m_pMainWnd.data() : nullptr;
}

bool CMprisPlayer::commandEnabled(int id) const
{
    // What the toolbar's button shows: the same update handler decides.
    framework::FrameWnd* window = frame();
    if (!window)
        return false;
    framework::CmdUI ui(id);
    ui.DoUpdate(window, true);
    return ui.enabled().value_or(true);
}

void CMprisPlayer::giveCommand(int id)
{
    // As a click gives it: routed by the window, run only when enabled.
    if (framework::FrameWnd* window = frame())
        window->OnCommand(id);
}

mpris::PlayerState CMprisPlayer::state() const
{
    mpris::PlayerState state;
    switch (m_transport.GetPlayState()) {
    case PLAY_PLAYING:
        state.status = mpris::PlaybackStatus::Playing;
        break;
    case PLAY_PAUSED:
        state.status = mpris::PlaybackStatus::Paused;
        break;
    default:
        state.status = mpris::PlaybackStatus::Stopped;
        break;
    }
    // CanPlay is MPRIS's "there is a current track to play": Play's own
    // state, and also while it plays (when Play is greyed and Pause is not),
    // as clients take it (playerctl will not even pause or stop without it).
    // Play itself still runs only when the toolbar's Play would.
    state.canPause = commandEnabled(ID_PAUSE_PLAYING);
    state.canPlay = commandEnabled(ID_PLAY_MIDI) || state.canPause;
    state.canGoNext = commandEnabled(ID_PLAY_NEXT_FILE);
    if (m_transport.GetSegment())
        state.track = m_track;
    return state;
}

qint64 CMprisPlayer::position() const
{
    // Playing: the position the transport last took; paused: where Play
    // resumes; stopped: the start, where Play begins.
    const auto& segment = m_transport.GetSegment();
    if (!segment)
        return 0;
    MUSIC_TIME time = 0;
    if (m_transport.GetPlayState() == PLAY_PLAYING)
        time = m_transport.GetPosition();
    else if (m_transport.GetPlayState() == PLAY_PAUSED)
        time = m_transport.GetOffset();
    return qint64(segment->tempoMap().realTime(std::max<MUSIC_TIME>(time, 0)));
}

void CMprisPlayer::play()
{
    giveCommand(ID_PLAY_MIDI);
}

void CMprisPlayer::pause()
{
    giveCommand(ID_PAUSE_PLAYING);
}

void CMprisPlayer::stop()
{
    giveCommand(ID_STOP_PLAYING);
}

void CMprisPlayer::next()
{
    giveCommand(ID_PLAY_NEXT_FILE);
}

void CMprisPlayer::openUri(const QString& url)
{
    // As a file dropped on the window is opened.
    const QUrl location(url);
    framework::WinApp* app = framework::AfxGetApp();
    if (app && location.isLocalFile())
        app->OpenDocumentFile(QFile::encodeName(location.toLocalFile()).toStdString());
}

void CMprisPlayer::raise()
{
    if (framework::FrameWnd* window = frame())
        window->ActivateFrame();
}

void CMprisPlayer::quit()
{
    // After the bus has its answer: Exit closes the window, and with it this
    // object's owner may go.
    if (framework::FrameWnd* window = frame())
        QMetaObject::invokeMethod(
            window, [window] { window->OnCommand(ID_APP_EXIT); }, Qt::QueuedConnection);
}
