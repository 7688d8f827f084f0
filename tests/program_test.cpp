// The player as a user runs it, as a process of its own: ended by the
// signals of a logout or a terminal, and started without a display or with
// one that goes away under it.
#include "profile.h"
#include "profilenames.h"
#include "testsupport.h"

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
    ASSERT_TRUE(profile.writeString(profile::kRecentFileList, "File1", "/music/before.mid"));

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
        EXPECT_EQ(profile.getString(profile::kRecentFileList, "File1"), expectedFirst);
        EXPECT_EQ(profile.getString(profile::kRecentFileList, "File2"), previous);
    }
}
