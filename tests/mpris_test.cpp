// The player as the desktop's media controls see it: the real main window,
// playing in real time into the silent sink, driven over a private session
// bus by a real MPRIS client (playerctl, and gdbus for what playerctl does
// not show). After each command the window shows what the bus says: the
// toolbar's buttons and the position pane.
#include "brisoldeapp.h"
#include "doctemplate.h"
#include "filesview.h"
#include "mainfrm.h"
#include "midibytes.h"
#include "profilenames.h"
#include "resource.h"
#include "testsupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

using namespace midibytes;

// Texts as gtest shows them when a test fails.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

// One note held for `seconds` at 120 quarters a minute.
Bytes heldNote(int seconds)
{
    const auto ticks = std::uint32_t(seconds * 2 * 96);
    return cat({header(0, 1, 96),
                track(cat({{0x00, 0x90, 60, 100}, varLen(ticks), {0x80, 60, 0}, endOfTrack()}))});
}

class MprisTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("playerctl")).isEmpty())
            << "playerctl is needed (tools/setup.sh installs it)";
        ASSERT_TRUE(qEnvironmentVariableIsSet("BRISOLDE_TEST_PRIVATE_BUS"))
            << "run under dbus-run-session, as ctest does";
        for (const char* name : {"a.mid", "b.mid"}) {
            const Bytes piece = heldNote(60);
            ASSERT_TRUE(testsupport::writeFile(
                dir.filePath(QString::fromLatin1(name)),
                QByteArray(reinterpret_cast<const char*>(piece.data()), qsizetype(piece.size()))));
        }
        const QString profile = qEnvironmentVariable("XDG_CONFIG_HOME") +
                                QStringLiteral("/Tolvern Midi Applications/Brisolde.ini");
        // The list shows the two pieces; Next goes on with the list.
        ASSERT_TRUE(testsupport::writeFile(
            profile, "[Settings]\nDefault Directory=" + QFile::encodeName(dir.path()) +
                         "/\nPlay Directory=8\n"));
    }
    void TearDown() override
    {
        if (app && app->docTemplate())
            app->docTemplate()->CloseAllDocuments();
        if (app)
            app->ExitInstance();
        app.reset();
    }

    // The program as it starts, but in real time into the silent sink.
    void start()
    {
        CTransport::Options options;
        options.ports.alsa = false;
        options.ports.synthOutput = music::SynthOutput::SilentSink;
        app = std::make_unique<CBrisoldeApp>(options);
        app->setArguments({});
        ASSERT_TRUE(app->InitInstance());
        frame = qobject_cast<CMainFrame*>(app->m_pMainWnd.data());
        ASSERT_NE(frame, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
    }

    // Runs the event loop until `done` holds, at most `ms` milliseconds.
    static bool waitFor(const std::function<bool()>& done, int ms = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > ms)
                return false;
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return true;
    }
    // Runs a client to its end while this process answers the bus; its output.
    static QString client(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForStarted(10000))
            return QStringLiteral("<%1 did not start>").arg(program);
        waitFor([&process] { return process.state() == QProcess::NotRunning; }, 30000);
        // Then the loop runs once more, so that the window's idle update is done.
        waitFor([] { return true; });
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
    static QString playerctl(const QStringList& arguments)
    {
        return client(QStringLiteral("playerctl"),
                      QStringList{QStringLiteral("--player=brisolde")} + arguments);
    }
    // The Player interface's properties, as gdbus prints them.
    static QString playerProperties()
    {
        return client(QStringLiteral("gdbus"),
                      {QStringLiteral("call"), QStringLiteral("--session"),
                       QStringLiteral("--dest"), QStringLiteral("org.mpris.MediaPlayer2.brisolde"),
                       QStringLiteral("--object-path"), QStringLiteral("/org/mpris/MediaPlayer2"),
                       QStringLiteral("--method"),
                       QStringLiteral("org.freedesktop.DBus.Properties.GetAll"),
                       QStringLiteral("org.mpris.MediaPlayer2.Player")});
    }
    bool buttonEnabled(int id) const { return frame->commandAction(id)->isEnabled(); }
    // CanPause and CanGoNext are the toolbar's Pause and Play Next File;
    // CanPlay is its Play, or its Pause while a piece plays.
    void expectCapabilitiesOfTheToolbar(const char* when)
    {
        SCOPED_TRACE(when);
        const QString properties = playerProperties();
        const auto shows = [&properties](const char* name, bool on) {
            return properties.contains(QStringLiteral("'%1': <%2>")
                                           .arg(QLatin1String(name), on ? QStringLiteral("true")
                                                                        : QStringLiteral("false")));
        };
        const bool play = buttonEnabled(ID_PLAY_MIDI);
        const bool pause = buttonEnabled(ID_PAUSE_PLAYING);
        EXPECT_TRUE(shows("CanPause", pause)) << properties.toStdString();
        EXPECT_TRUE(shows("CanGoNext", buttonEnabled(ID_PLAY_NEXT_FILE)))
            << properties.toStdString();
        EXPECT_TRUE(shows("CanPlay", play || pause)) << properties.toStdString();
        EXPECT_TRUE(shows("CanSeek", false));
        EXPECT_TRUE(shows("CanGoPrevious", false));
        EXPECT_TRUE(shows("CanControl", true));
    }
    QString positionPane() const { return frame->m_wndStatusBar.pane(1)->text(); }
    CTransport& transport() const { return *app->transport(); }
    QString url(const char* name) const
    {
        return QUrl::fromLocalFile(dir.filePath(QString::fromLatin1(name))).toString();
    }

    QTemporaryDir dir;
    std::unique_ptr<CBrisoldeApp> app;
    CMainFrame* frame = nullptr;
};

} // namespace

// Status, metadata, play-pause, stop and next as a media-key client gives
// them, each seen in the window; every change reaches a client that follows.
TEST_F(MprisTest, AClientOnTheBusDrivesTheTransportAsTheToolbarDoes)
{
    start();
    ASSERT_NE(app->mprisPlayer(), nullptr);
    EXPECT_EQ(app->mprisPlayer()->BusName(), QStringLiteral("org.mpris.MediaPlayer2.brisolde"));
    EXPECT_EQ(client(QStringLiteral("playerctl"), {QStringLiteral("--list-all")}),
              QStringLiteral("brisolde"));

    // A client that follows the status from now on.
    QProcess follower;
    follower.start(QStringLiteral("playerctl"),
                   {QStringLiteral("--player=brisolde"), QStringLiteral("--follow"),
                    QStringLiteral("status")});
    ASSERT_TRUE(follower.waitForStarted());
    ASSERT_TRUE(waitFor([&follower] { return follower.bytesAvailable() > 0; }));

    // Nothing loaded: stopped, nothing to play, and playing is refused.
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));
    expectCapabilitiesOfTheToolbar("nothing loaded");
    playerctl({QStringLiteral("play")});
    EXPECT_EQ(transport().GetPlayState(), PLAY_NONE);

    // A double-click on a.mid: it plays (Autoplay), and the bus says so.
    CFilesView* files = frame->GetFilesView();
    QTreeWidgetItem* a = files->findItems(QStringLiteral("a.mid"), Qt::MatchExactly).value(0);
    ASSERT_NE(a, nullptr);
    QTest::mouseDClick(files->viewport(), Qt::LeftButton, {}, files->visualItemRect(a).center());
    ASSERT_TRUE(waitFor([this] { return transport().GetPlayState() == PLAY_PLAYING; }));
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));
    // (playerctl quotes an object path, the track id's type.)
    EXPECT_EQ(playerctl({QStringLiteral("metadata"), QStringLiteral("--format"),
                         QStringLiteral("{{xesam:title}}|{{xesam:url}}|{{mpris:length}}|{{mpris:"
                                        "trackid}}")}),
              QStringLiteral("a|%1|60000000|'/org/tolvern/Brisolde/Track/1'").arg(url("a.mid")));
    expectCapabilitiesOfTheToolbar("playing");
    EXPECT_FALSE(buttonEnabled(ID_PLAY_MIDI));
    EXPECT_TRUE(buttonEnabled(ID_STOP_PLAYING));
    ASSERT_TRUE(waitFor([this] { return transport().GetPosition() > 0; }));
    ASSERT_TRUE(waitFor([this] {
        return positionPane() ==
               QString::asprintf("%16d/%16d", transport().GetPosition(), 120 * 768);
    })) << positionPane().toStdString();

    // Play-pause pauses: the window's Play is back, Stop and Pause are greyed,
    // and the position pane keeps its last text.
    playerctl({QStringLiteral("play-pause")});
    EXPECT_EQ(transport().GetPlayState(), PLAY_PAUSED);
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Paused"));
    EXPECT_TRUE(buttonEnabled(ID_PLAY_MIDI));
    EXPECT_FALSE(buttonEnabled(ID_PAUSE_PLAYING));
    EXPECT_FALSE(buttonEnabled(ID_STOP_PLAYING));
    expectCapabilitiesOfTheToolbar("paused");
    const QString pausedAt = positionPane();
    EXPECT_TRUE(pausedAt.contains(QLatin1Char('/'))) << pausedAt.toStdString();
    const qint64 resumeAt = qint64(transport().GetOffset()) * 500000 / 768; // 120 a minute
    EXPECT_NEAR(playerctl({QStringLiteral("position")}).toDouble(), double(resumeAt) / 1e6, 0.001);

    // Stop is refused while paused, as the toolbar's Stop is.
    playerctl({QStringLiteral("stop")});
    EXPECT_EQ(transport().GetPlayState(), PLAY_PAUSED);
    EXPECT_EQ(positionPane(), pausedAt);

    // Play-pause resumes; the position goes on from there.
    playerctl({QStringLiteral("play-pause")});
    EXPECT_EQ(transport().GetPlayState(), PLAY_PLAYING);
    EXPECT_FALSE(buttonEnabled(ID_PLAY_MIDI));
    ASSERT_TRUE(waitFor([this, pausedAt] { return positionPane() != pausedAt; }));

    // Next: the next file of the list (Play Directory), now the track.
    playerctl({QStringLiteral("next")});
    ASSERT_EQ(transport().GetPlayState(), PLAY_PLAYING);
    EXPECT_EQ(
        QFileInfo(QString::fromStdString(app->docTemplate()->document()->GetPathName())).fileName(),
        QStringLiteral("b.mid"));
    EXPECT_EQ(playerctl({QStringLiteral("metadata"), QStringLiteral("--format"),
                         QStringLiteral("{{xesam:title}}|{{xesam:url}}|{{mpris:trackid}}")}),
              QStringLiteral("b|%1|'/org/tolvern/Brisolde/Track/2'").arg(url("b.mid")));
    expectCapabilitiesOfTheToolbar("the next file playing");

    // Stop: stopped, Play enabled, the position pane shows the last position.
    playerctl({QStringLiteral("stop")});
    EXPECT_EQ(transport().GetPlayState(), PLAY_STOPPED);
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));
    EXPECT_TRUE(buttonEnabled(ID_PLAY_MIDI));
    EXPECT_FALSE(buttonEnabled(ID_STOP_PLAYING));
    EXPECT_TRUE(positionPane().contains(QLatin1Char('/')));
    expectCapabilitiesOfTheToolbar("stopped");
    EXPECT_EQ(playerctl({QStringLiteral("position")}).toDouble(), 0.0);

    // File New: no current file, so the toolbar's transport is greyed and
    // nothing can be played over the bus either.
    frame->commandAction(ID_FILE_NEW)->trigger();
    waitFor([] { return true; });
    expectCapabilitiesOfTheToolbar("no current file");
    playerctl({QStringLiteral("play")});
    EXPECT_EQ(transport().GetPlayState(), PLAY_STOPPED);

    // A file:// URL opens as a dropped file does, and plays (Autoplay).
    playerctl({QStringLiteral("open"), url("a.mid")});
    EXPECT_EQ(app->docTemplate()->document()->GetPathName(),
              QFile::encodeName(dir.filePath(QStringLiteral("a.mid"))).toStdString());
    EXPECT_EQ(transport().GetPlayState(), PLAY_PLAYING);
    EXPECT_TRUE(buttonEnabled(ID_PAUSE_PLAYING));

    // The follower saw every change of the status, in order.
    follower.terminate();
    follower.waitForFinished();
    EXPECT_EQ(QString::fromUtf8(follower.readAllStandardOutput())
                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts),
              (QStringList{"Stopped", "Playing", "Paused", "Playing", "Stopped", "Playing"}));
}
