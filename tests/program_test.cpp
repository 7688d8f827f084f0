// The player as a user runs it, as a process of its own: ended by the
// signals of a logout or a terminal, and started without a display or with
// one that goes away under it.
#include "profile.h"
#include "testsupport.h"
#include "winapp.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <string>

using framework::Profile;

namespace {

QString profilePath()
{
    return Profile::locationFor(QStringLiteral("Tolvern Midi Applications"),
                                QStringLiteral("Brisolde"));
}

// The signals a process handles itself, from /proc.
quint64 caughtSignals(qint64 pid)
{
    const QByteArray status = testsupport::readFile(QStringLiteral("/proc/%1/status").arg(pid));
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith("SigCgt:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16);
    }
    return 0;
}

bool catches(qint64 pid, int signal)
{
    return (caughtSignals(pid) >> (signal - 1)) & 1;
}

} // namespace

// A logout (SIGHUP, then SIGTERM), Ctrl+C in a terminal (SIGINT) or a plain
// kill end the player as File > Exit does: the files opened in the session
// are in the recent-file list of the profile, and the exit status is 0.
TEST(Program, EndSignalsEndItAsFileExitDoes)
{
    QTemporaryDir dir;
    QFile::remove(profilePath());
    const Profile profile(profilePath());
    ASSERT_TRUE(
        profile.writeString(framework::kRecentFileListSection, "File1", "/music/before.mid"));

    std::string expectedFirst;
    for (const auto& [signal, name] :
         {std::pair{SIGTERM, "term"}, std::pair{SIGINT, "int"}, std::pair{SIGHUP, "hup"}}) {
        SCOPED_TRACE(name);
        const QString piece = dir.filePath(QStringLiteral("%1.mid").arg(QLatin1String(name)));
        ASSERT_TRUE(QFile::copy(QStringLiteral(BRISOLDE_DEMO_FILE), piece));
        QProcess player;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        player.setProcessEnvironment(environment);
        player.start(QStringLiteral(BRISOLDE_PROGRAM), {piece});
        ASSERT_TRUE(player.waitForStarted());
        // Sent once the program handles it; before that it would just die.
        for (int i = 0; i < 3000 && !catches(player.processId(), signal); ++i)
            QThread::msleep(10);
        ASSERT_TRUE(catches(player.processId(), signal));
        ::kill(pid_t(player.processId()), signal);
        ASSERT_TRUE(player.waitForFinished(60000));
        EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(player.exitCode(), 0);

        const std::string previous = expectedFirst.empty() ? "/music/before.mid" : expectedFirst;
        expectedFirst = QFile::encodeName(piece).toStdString();
        EXPECT_EQ(profile.getString(framework::kRecentFileListSection, "File1"), expectedFirst);
        EXPECT_EQ(profile.getString(framework::kRecentFileListSection, "File2"), previous);
    }
}

namespace {

QProcessEnvironment onDisplay(const QString& display, const QString& temp)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("TEMP"), temp);
    // On a real X server, libxkbcommon-x11 hands strndup() names that are
    // not terminated, which AddressSanitizer's strict string checks take
    // for an overflow: that check is left to the tests of our own code.
    QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
    if (!sanitizer.isEmpty()) {
        sanitizer.replace(QStringLiteral("strict_string_checks=1"),
                          QStringLiteral("strict_string_checks=0"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"), sanitizer);
    }
    return environment;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

// A display that goes away under the running player (a logout, a killed X
// server) ends it in order: no crash and no report, the session's files in
// the recent-file list, a plain sentence and exit status 1.
TEST(Program, ADisplayThatGoesAwayEndsItInOrder)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString xwininfo = QStandardPaths::findExecutable(QStringLiteral("xwininfo"));
    if (xvfb.isEmpty() || xwininfo.isEmpty())
        GTEST_SKIP() << "Xvfb and xwininfo are needed";
    QTemporaryDir temp;
    QFile::remove(profilePath());
    const QString piece = temp.filePath(QStringLiteral("piece.mid"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(BRISOLDE_DEMO_FILE), piece));

    // The X server picks a free display and names it on its standard output.
    QProcess server;
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"),
                        QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    ASSERT_TRUE(server.waitForStarted());
    QByteArray number;
    while (!number.endsWith('\n') && server.waitForReadyRead(30000))
        number += server.readAllStandardOutput();
    const QString display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    ASSERT_GT(display.size(), 1);

    const QString reports = temp.filePath(QStringLiteral("reports"));
    QDir().mkpath(reports);
    QProcess player;
    player.setProcessEnvironment(onDisplay(display, reports));
    player.start(QStringLiteral(BRISOLDE_PROGRAM), {piece});
    ASSERT_TRUE(player.waitForStarted());
    // Its window is on the server and its main thread waits in its event
    // loop (glib's poll), so that the session is under way when the server goes.
    auto inEventLoop = [&player] {
        const QByteArray call =
            testsupport::readFile(QStringLiteral("/proc/%1/syscall").arg(player.processId()));
        return call.startsWith("7 ");
    };
    bool shown = false;
    for (int i = 0; i < 300 && !shown && player.state() == QProcess::Running; ++i) {
        QProcess look;
        look.start(xwininfo, {QStringLiteral("-display"), display, QStringLiteral("-root"),
                              QStringLiteral("-tree")});
        look.waitForFinished(10000);
        shown = look.readAllStandardOutput().contains("Brisolde") && inEventLoop();
        if (!shown)
            QThread::msleep(100);
    }
    ASSERT_TRUE(shown) << player.readAllStandardError().toStdString();

    server.kill();
    server.waitForFinished(30000);
    ASSERT_TRUE(player.waitForFinished(60000));
    const QString said = QString::fromLocal8Bit(player.readAllStandardError());
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit) << said.toStdString();
    EXPECT_EQ(player.exitCode(), 1) << said.toStdString();
    EXPECT_TRUE(said.contains(
        QStringLiteral("brisolde: the connection to the display was lost, so the program ends.")))
        << said.toStdString();
    EXPECT_EQ(filesIn(reports), QStringList()) << "no crash report";
    EXPECT_EQ(Profile(profilePath()).getString(framework::kRecentFileListSection, "File1"),
              QFile::encodeName(piece).toStdString())
        << said.toStdString();
}

// DISPLAY naming a display that does not exist gets the same plain answer
// and exit status as no display at all, not an abort inside Qt.
TEST(Program, ADisplayThatCannotBeOpenedIsExplainedPlainly)
{
    int free = 4000;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(free)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(free)))
        ++free;
    QTemporaryDir temp;
    for (const QString& display : {QStringLiteral(":%1").arg(free), QString()}) {
        SCOPED_TRACE(display.toStdString());
        QProcess player;
        QProcessEnvironment environment = onDisplay(display, temp.path());
        if (display.isEmpty())
            environment.remove(QStringLiteral("DISPLAY"));
        player.setProcessEnvironment(environment);
        player.start(QStringLiteral(BRISOLDE_PROGRAM), {});
        ASSERT_TRUE(player.waitForFinished(60000));
        EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(player.exitCode(), 1);
        const QString reason =
            display.isEmpty() ? QStringLiteral("DISPLAY and WAYLAND_DISPLAY are unset")
                              : QStringLiteral("the display \"%1\" cannot be opened").arg(display);
        EXPECT_EQ(QString::fromLocal8Bit(player.readAllStandardError()),
                  QStringLiteral("brisolde: no display to open a window on (%1).\nStart it from a "
                                 "desktop session, or inside a virtual display with \"xvfb-run "
                                 "-a %2\".\n")
                      .arg(reason, QStringLiteral(BRISOLDE_PROGRAM)));
        EXPECT_EQ(filesIn(temp.path()), QStringList()) << "no crash report";
    }
}
