// The player as the desktop's media controls and media keys see it (MPRIS on
// the session bus, platform/mpris). Their Play, Pause, Stop and Next are the
// transport commands given through the main window's command routing, as a
// click on the toolbar gives them: the same enable rules decide, and
// CanPause and CanGoNext are what the toolbar's buttons show; CanPlay is
// Play's button or, while a piece plays, Pause's (MPRIS's "a current track").
// The piece the transport loaded is the track.
//
// Threads: the user-interface thread only.
#pragma once

#include "mediaplayer.h"

#include <QObject>
#include <memory>
#include <optional>

class CTransport;

namespace framework {
class FrameWnd;
}

class CMprisPlayer final : public QObject, public mpris::Player
{
    Q_OBJECT

public:
    // Follows what `transport` loads from now on; the commands go to the
    // application's main window, whichever it is at the time.
    explicit CMprisPlayer(CTransport& transport, QObject* parent = nullptr);
    ~CMprisPlayer() override;

    // Appears on the session bus; false (and `why`) where there is none.
    bool Publish(QString* why = nullptr);
    // The bus name held; empty when not published.
    QString BusName() const;

    mpris::PlayerState state() const override;
    qint64 position() const override;
    void play() override;
    void pause() override;
    void stop() override;
    void next() override;
    void openUri(const QString& url) override;
    void raise() override;
    void quit() override;

private:
    framework::FrameWnd* frame() const;
    bool commandEnabled(int id) const;
    void giveCommand(int id);
    void OnPieceLoaded(const QString& path, const QString& problem);

    CTransport& m_transport;
    std::optional<mpris::Track> m_track;
    int m_loadings = 0;
    std::unique_ptr<mpris::MediaPlayer> m_service;
};
