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

namespace {

struct WriterRun
{
    int exitCode = -1;
    QStringList errorLines;
};

// Writes one value `count` times from a program of its own, as the player
// would, and gives what it said on standard error.
WriterRun writeFromProgram(const QString& file, int count)
{
    QProcess writer;
    writer.start(QStringLiteral(PROFILE_WRITER),
                 {file, QStringLiteral("Settings"), QStringLiteral("Loop"), QStringLiteral("0"),
                  QString::number(count)});
    WriterRun run;
    if (!writer.waitForFinished(60000))
        return run;
    run.exitCode = writer.exitCode();
    run.errorLines = QString::fromLocal8Bit(writer.readAllStandardError())
                         .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return run;
}

QByteArray symlinkTarget(const QString& path)
{
    char buffer[4096];
    const ssize_t length =
        ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer - 1);
    return length < 0 ? QByteArray() : QByteArray(buffer, length);
}

} // namespace

// Profiles kept as links, and files in the profile's place that a rewrite
// would destroy, in the configuration folder of the test's own home.
TEST(ProfileKeeping, WhatARewriteWouldDestroyIsMovedAsideAndLinksToCleanProfilesStay)
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString folder = config + QStringLiteral("/Tolvern Midi Applications");
    const QString file = Profile::locationFor(QStringLiteral("Tolvern Midi Applications"),
                                              QStringLiteral("Brisolde"));
    const QString dotfiles = config + QStringLiteral("/dotfiles");
    auto fresh = [&] {
        QDir(folder).removeRecursively();
        QDir(dotfiles).removeRecursively();
        QDir().mkpath(folder);
        QDir().mkpath(dotfiles);
    };
    auto link = [&](const QString& target) {
        return ::symlink(QFile::encodeName(target).constData(),
                         QFile::encodeName(file).constData()) == 0;
    };
    auto setAside = [&] {
        return QDir(folder).entryInfoList({QStringLiteral("Brisolde.ini.unreadable-*")},
                                          QDir::AllEntries | QDir::System | QDir::Hidden);
    };

    // A link to a clean profile in a dotfiles folder is written through.
    fresh();
    const QString clean = dotfiles + QStringLiteral("/brisolde.ini");
    ASSERT_TRUE(
        writeFile(clean, "[Settings]\nAutoplay=0\n\n[Recent%20File%20List]\nFile1=/m/a.mid\n"));
    ASSERT_TRUE(link(clean));
    EXPECT_EQ(Profile(file).getInt("Settings", "Autoplay", 8), 0);
    WriterRun run = writeFromProgram(file, 2);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.errorLines, QStringList());
    EXPECT_EQ(symlinkTarget(file), QFile::encodeName(clean)) << "the link stays a link";
    EXPECT_EQ(Profile(clean).getInt("Settings", "Loop", 8), 0);
    EXPECT_EQ(Profile(clean).getInt("Settings", "Autoplay", 8), 0);
    EXPECT_EQ(Profile(clean).getString("Recent File List", "File1"), "/m/a.mid");
    EXPECT_TRUE(setAside().isEmpty());

    // A link to a copy of the password file: the copy stays byte for byte,
    // the link is moved aside, and the program says so once.
    fresh();
    const QString passwd = dotfiles + QStringLiteral("/passwd");
    const QByteArray passwdText =
        "root:x:0:0:root:/root:/bin/bash\ndaemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n"
        "ann:x:1000:1000:Ann,,,:/home/ann:/bin/bash\n";
    ASSERT_TRUE(writeFile(passwd, passwdText));
    ASSERT_TRUE(link(passwd));
    EXPECT_EQ(Profile(file).getInt("Settings", "Loop", 8), 8);
    run = writeFromProgram(file, 3);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(readFile(passwd), passwdText);
    QFileInfoList aside = setAside();
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(aside.first().isSymLink());
    EXPECT_EQ(symlinkTarget(aside.first().filePath()), QFile::encodeName(passwd));
    EXPECT_FALSE(QFileInfo(file).isSymLink());
    EXPECT_EQ(Profile(file).getInt("Settings", "Loop", 8), 0);
    ASSERT_EQ(run.errorLines.size(), 1) << run.errorLines.join('\n').toStdString();
    EXPECT_TRUE(
        run.errorLines.first().contains(QStringLiteral("is a symbolic link to a file that "
                                                       "holds a line that is not a setting")))
        << run.errorLines.first().toStdString();
    EXPECT_TRUE(run.errorLines.first().contains(aside.first().filePath()));
    EXPECT_TRUE(run.errorLines.first().contains(QStringLiteral("a new profile was started")));
    // The new profile is clean: the next run writes into it and says nothing.
    run = writeFromProgram(file, 1);
    EXPECT_EQ(run.errorLines, QStringList());
    EXPECT_EQ(setAside().size(), 1);

    // Other places and contents: read as defaults without hanging, never
    // overwritten, kept whole under the new name.
    struct Case
    {
        const char* name;
        std::function<bool()> make;
        const char* reason;
    };
    QByteArray big("[Settings]\nLoop=8\n");
    big.append(QByteArray(int(Profile::kMaxFileSize), 'x'));
    const QByteArray commented = "; my own notes\n[Settings]\nLoop=8\n";
    const std::vector<Case> cases{
        {"fifo", [&] { return ::mkfifo(QFile::encodeName(file).constData(), 0600) == 0; },
         "is a FIFO"},
        {"directory", [&] { return QDir().mkpath(file + QStringLiteral("/inside")); },
         "is a directory"},
        {"link to a fifo",
         [&] {
             const QString fifo = dotfiles + QStringLiteral("/fifo");
             return ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 && link(fifo);
         },
         "is a symbolic link to a FIFO"},
        {"link to nothing", [&] { return link(dotfiles + QStringLiteral("/gone.ini")); },
         "is a symbolic link to nothing"},
        {"larger than 1 MiB", [&] { return writeFile(file, big); }, "is a file larger than 1 MiB"},
        {"comment", [&] { return writeFile(file, commented); }, "holds a comment (line 1)"},
        {"twice", [&] { return writeFile(file, "[Settings]\nLoop=8\nLoop=0\n"); },
         "gives a setting twice (line 3)"},
        {"not UTF-8", [&] { return writeFile(file, "[Settings]\nName=caf\xe9\n"); },
         "holds text that is not UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        ASSERT_TRUE(c.make());
        EXPECT_EQ(Profile(file).getInt("Settings", "Loop", 7), 7);
        const QByteArray before = QFileInfo(file).isFile() ? readFile(file) : QByteArray();
        run = writeFromProgram(file, 2);
        EXPECT_EQ(run.exitCode, 0);
        ASSERT_EQ(run.errorLines.size(), 1);
        EXPECT_TRUE(run.errorLines.first().contains(QLatin1String(c.reason)))
            << run.errorLines.first().toStdString();
        aside = setAside();
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(aside.first().isFile() ? readFile(aside.first().filePath()) : QByteArray(),
                  before);
        EXPECT_EQ(Profile(file).getInt("Settings", "Loop", 8), 0);
    }

    // Two copies of the program meeting the same bad profile: it is moved
    // aside once, and what both write is kept.
    fresh();
    ASSERT_TRUE(writeFile(file, commented));
    QProcess first;
    QProcess second;
    for (auto [writer, entry] : {std::pair{&first, "First"}, std::pair{&second, "Second"}})
        writer->start(QStringLiteral(PROFILE_WRITER),
                      {file, QStringLiteral("Settings"), QLatin1String(entry), QStringLiteral("1"),
                       QStringLiteral("20")});
    ASSERT_TRUE(first.waitForFinished(60000));
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(second.exitCode(), 0);
    const QStringList said =
        QString::fromLocal8Bit(first.readAllStandardError() + second.readAllStandardError())
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(said.size(), 1);
    ASSERT_EQ(setAside().size(), 1);
    EXPECT_EQ(readFile(setAside().first().filePath()), commented);
    EXPECT_EQ(Profile(file).getInt("Settings", "First", 0), 1);
    EXPECT_EQ(Profile(file).getInt("Settings", "Second", 0), 1);
    fresh();
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
