#include "profile.h"
#include "testsupport.h"
#include "winapp.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using framework::Profile;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

class ProfileTest : public testing::Test
{
protected:
    QTemporaryDir dir;
    QString path() const { return dir.path() + QStringLiteral("/Co/App.ini"); }
};

} // namespace

TEST_F(ProfileTest, AbsentValuesGiveEachReaderItsOwnDefault)
{
    const Profile profile(path());
    EXPECT_EQ(profile.getInt("Settings", "Autoplay", 8), 8);
    EXPECT_EQ(profile.getInt("Settings", "Autoplay", 0), 0);
    EXPECT_FALSE(profile.getString("Settings", "Default Directory").has_value());
    EXPECT_FALSE(QFile::exists(path())) << "reading must not create the file";
}

TEST_F(ProfileTest, WritesAreInTheFileAtOnceWithIntegersAndStringsAsTheyAre)
{
    const Profile profile(path());
    ASSERT_TRUE(profile.writeInt("Settings", "Autoplay", 0));
    ASSERT_TRUE(profile.writeInt("Settings", "Play Directory", 8));
    ASSERT_TRUE(profile.writeString("Settings", "Default Directory", "/home/user/Music, old/"));

    // Another reader (a second copy of the program) sees the values at once.
    const QString text = QString::fromUtf8(readFile(path()));
    EXPECT_TRUE(text.contains(QStringLiteral("[Settings]"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Autoplay=0"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Play%20Directory=8"))) << text.toStdString();

    const Profile other(path());
    EXPECT_EQ(other.getInt("Settings", "Autoplay", 8), 0);
    EXPECT_EQ(other.getInt("Settings", "Play Directory", 0), 8);
    EXPECT_EQ(other.getString("Settings", "Default Directory"), "/home/user/Music, old/");
}

TEST_F(ProfileTest, UnreadableIntegersYieldTheDefault)
{
    ASSERT_TRUE(writeFile(path(), "[Settings]\nA=abc\nB=12abc\nC=\nD=-5\nE=4294967295\n"
                                  "F=4294967296\nG= 8 \nH=1\n"));
    const Profile profile(path());
    EXPECT_EQ(profile.getInt("Settings", "A", 8), 8);
    EXPECT_EQ(profile.getInt("Settings", "B", 8), 8);
    EXPECT_EQ(profile.getInt("Settings", "C", 8), 8);
    EXPECT_EQ(profile.getInt("Settings", "D", 8), -5);
    EXPECT_EQ(profile.getInt("Settings", "E", 8), -1) << "a 32-bit pattern reads as itself";
    EXPECT_EQ(profile.getInt("Settings", "F", 8), 8) << "past 32 bits is unreadable";
    EXPECT_EQ(profile.getInt("Settings", "G", 0), 8);
    EXPECT_EQ(profile.getInt("Settings", "H", 0), 1) << "any non-zero value is kept as it is";
}

TEST_F(ProfileTest, FileNamesThatAreNotUtf8RoundTrip)
{
    const std::string latin1Path = "/music/caf\xe9/";
    const std::string utf8Path = "/music/caf\xc3\xa9 \"&\\ =;/";
    const Profile profile(path());
    ASSERT_TRUE(profile.writeString("Settings", "Default Directory", latin1Path));
    ASSERT_TRUE(profile.writeString("Settings", "Default Directory Name", utf8Path));
    const Profile other(path());
    EXPECT_EQ(other.getString("Settings", "Default Directory"), latin1Path);
    EXPECT_EQ(other.getString("Settings", "Default Directory Name"), utf8Path);
}

TEST_F(ProfileTest, BadFilesGiveDefaultsWithoutCrashOrHang)
{
    struct Case
    {
        const char* name;
        std::function<void(const QString&)> make;
    };
    const std::vector<Case> cases{
        {"garbage",
         [](const QString& p) {
             writeFile(p, "]]][[=\n==\n[Settings\nAutoplay\n");
         }},
        {"binary",
         [](const QString& p) {
             QByteArray bytes;
             for (int i = 0; i < 4096; ++i)
                 bytes.append(char((i * 7919) & 0xFF));
             writeFile(p, bytes);
         }},
        {"enormous",
         [](const QString& p) {
             QByteArray bytes("[Settings]\nAutoplay=0\n");
             bytes.append(QByteArray(int(Profile::kMaxFileSize), 'x'));
             writeFile(p, bytes);
         }},
        {"directory",
         [](const QString& p) {
             QDir().mkpath(p);
         }},
        {"fifo",
         [](const QString& p) {
             QDir().mkpath(QFileInfo(p).absolutePath());
             ::mkfifo(QFile::encodeName(p).constData(), 0600);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir caseDir;
        const QString file = caseDir.path() + QStringLiteral("/Co/App.ini");
        c.make(file);
        const Profile profile(file);
        EXPECT_EQ(profile.getInt("Settings", "Autoplay", 8), 8);
        EXPECT_EQ(profile.getString("Settings", "Default Directory").value_or("none"), "none");
    }
}

TEST_F(ProfileTest, AFailedWriteIsReportedAndLeavesTheOldValue)
{
    // A profile that is not ours to parse is never overwritten.
    QByteArray big("[Settings]\nAutoplay=0\n");
    big.append(QByteArray(int(Profile::kMaxFileSize), 'x'));
    ASSERT_TRUE(writeFile(path(), big));
    EXPECT_FALSE(Profile(path()).writeInt("Settings", "Autoplay", 8));
    EXPECT_EQ(readFile(path()).size(), big.size());

    QTemporaryDir other;
    const QString dirPath = other.path() + QStringLiteral("/App.ini");
    QDir().mkpath(dirPath);
    EXPECT_FALSE(Profile(dirPath).writeInt("Settings", "Autoplay", 8));

    // A read-only file, an unreadable file and a read-only folder, as a user
    // without special rights sees them.
    const QString readOnly = dir.path() + QStringLiteral("/ro/App.ini");
    const QString unreadable = dir.path() + QStringLiteral("/wo/App.ini");
    const QString lockedFolder = dir.path() + QStringLiteral("/locked");
    ASSERT_TRUE(Profile(readOnly).writeInt("Settings", "Loop", 0));
    ASSERT_TRUE(Profile(unreadable).writeInt("Settings", "Loop", 0));
    QDir().mkpath(lockedFolder);
    ::chmod(QFile::encodeName(readOnly).constData(), 0444);
    ::chmod(QFile::encodeName(unreadable).constData(), 0200);
    ::chmod(QFile::encodeName(lockedFolder).constData(), 0555);
    const bool ok = testsupport::runBoundByPermissions([&] {
        bool good = !Profile(readOnly).writeInt("Settings", "Loop", 8);
        good = good && Profile(readOnly).getInt("Settings", "Loop", 8) == 0;
        good = good && !Profile(unreadable).writeInt("Settings", "Loop", 8);
        good = good && Profile(unreadable).getInt("Settings", "Loop", 8) == 8;
        const Profile inLocked(lockedFolder + QStringLiteral("/App.ini"));
        good = good && !inLocked.writeInt("Settings", "Loop", 0);
        good = good && inLocked.getInt("Settings", "Loop", 8) == 8;
        return good;
    });
    ::chmod(QFile::encodeName(unreadable).constData(), 0600);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Profile(unreadable).getInt("Settings", "Loop", 8), 0)
        << "the unreadable file kept its old value";
}

TEST_F(ProfileTest, TwoRunningCopiesLoseNothingAndTheLastWriteWins)
{
    ASSERT_TRUE(Profile(path()).writeString("Settings", "Keep", "me"));
    QProcess first;
    QProcess second;
    first.start(QStringLiteral(PROFILE_WRITER),
                {path(), QStringLiteral("Settings"), QStringLiteral("First"), QStringLiteral("1"),
                 QStringLiteral("60")});
    second.start(QStringLiteral(PROFILE_WRITER),
                 {path(), QStringLiteral("Settings"), QStringLiteral("Second"), QStringLiteral("2"),
                  QStringLiteral("60")});
    ASSERT_TRUE(first.waitForFinished(60000));
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(second.exitCode(), 0);

    const Profile profile(path());
    EXPECT_EQ(profile.getString("Settings", "Keep"), "me");
    EXPECT_EQ(profile.getInt("Settings", "First", 0), 1);
    EXPECT_EQ(profile.getInt("Settings", "Second", 0), 2);

    ASSERT_TRUE(Profile(path()).writeInt("Settings", "First", 7));
    EXPECT_EQ(Profile(path()).getInt("Settings", "First", 0), 7);
}

TEST(ProfileLocation, FollowsXdgConfigHome)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/tmp/xdg-test");
    EXPECT_EQ(Profile::locationFor(QStringLiteral("Tolvern Midi Applications"),
                                   QStringLiteral("Brisolde")),
              QStringLiteral("/tmp/xdg-test/Tolvern Midi Applications/Brisolde.ini"));
    qputenv("XDG_CONFIG_HOME", "relative/path");
    EXPECT_EQ(Profile::locationFor(QStringLiteral("Co"), QStringLiteral("App")),
              qEnvironmentVariable("HOME") + QStringLiteral("/.config/Co/App.ini"));
    qputenv("XDG_CONFIG_HOME", saved);
}

TEST(ProfileApplication, StringReadersPassTheirOwnDefaults)
{
    const framework::ResourceModule none;
    framework::WinApp app(none, "ProfileApp");
    app.SetRegistryKey("Tolvern Test");
    EXPECT_EQ(app.profile().filePath(), qEnvironmentVariable("XDG_CONFIG_HOME") +
                                            QStringLiteral("/Tolvern Test/ProfileApp.ini"));
    EXPECT_EQ(app.GetProfileString("Settings", "Default Directory", "/home/x/"), "/home/x/");
    EXPECT_EQ(app.GetProfileString("Settings", "Default Directory"), "");
    ASSERT_TRUE(app.WriteProfileString("Settings", "Default Directory", "/m/"));
    EXPECT_EQ(app.GetProfileString("Settings", "Default Directory", "/home/x/"), "/m/");
    ASSERT_TRUE(app.WriteProfileString("Settings", "Default Directory", nullptr));
    EXPECT_EQ(app.GetProfileString("Settings", "Default Directory", "/d/"), "/d/");
}
