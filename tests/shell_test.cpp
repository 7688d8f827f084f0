// Desktop integration, read back with the desktop's own tools: the verb's
// entry must survive any program path, and a default that the user chose is
// never taken over.
#include "commandline.h"
#include "shell.h"
#include "shellverb.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <tuple>
#include <vector>

// Texts in failure messages as text.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

QString applications()
{
    return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications");
}

QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    if (exitCode)
        *exitCode = process.exitCode();
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())
        .trimmed();
}

} // namespace

TEST(Shell, TheVerbLaunchesTheProgramWhateverItsPathHolds)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gio")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
        GTEST_SKIP() << "gio and desktop-file-validate are needed";
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/a b $HOME \"q\" 'x' \\back é");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/player");
    const QString record = dir.path() + QStringLiteral("/arguments.txt");
    ASSERT_TRUE(testsupport::writeFile(
        program, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                     QFile::encodeName(record) + "\"\n"));
    QFile::setPermissions(program,
                          QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::WriteOwner);

    shell::Verb verb{QStringLiteral("kestrune.desktop"), QStringLiteral("Play using Brisolde"),
                     QStringLiteral("audio/midi"), program, QStringLiteral("brisolde")};
    ASSERT_TRUE(shell::registerVerb(verb));
    ASSERT_TRUE(shell::registerVerb(verb)) << "a second start rewrites the same entry";
    const QString entry = applications() + QStringLiteral("/kestrune.desktop");
    int code = -1;
    EXPECT_EQ(run(QStringLiteral("desktop-file-validate"), {entry}, &code), QString());
    EXPECT_EQ(code, 0);
    EXPECT_EQ(QDir(applications()).entryList({QStringLiteral("kestrune*")}, QDir::Files).size(), 1);

    const QString song = dir.path() + QStringLiteral("/My Song (1).mid");
    ASSERT_TRUE(testsupport::writeFile(song, "MThd"));
    run(QStringLiteral("gio"), {QStringLiteral("launch"), entry, song}, &code);
    EXPECT_EQ(code, 0);
    for (int i = 0; i < 200 && !QFile::exists(record); ++i)
        QThread::msleep(10);
    EXPECT_EQ(QString::fromUtf8(testsupport::readFile(record)).trimmed(), song)
        << "the program ran from its own path and got the file as one argument";
}

TEST(Shell, PathsThatDesktopsCannotRunFromGoThroughALink)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gio")).isEmpty())
        GTEST_SKIP() << "gio is needed";
    QTemporaryDir dir;
    const QString record = dir.path() + QStringLiteral("/arguments.txt");
    // A '%' in a folder name, and a folder name that is not UTF-8.
    for (const QByteArray& name : {QByteArray("100% sure"), QByteArray("caf\xe9")}) {
        SCOPED_TRACE(name.toStdString());
        QFile::remove(record);
        const QByteArray folder = QFile::encodeName(dir.path()) + '/' + name;
        ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
        const QByteArray program = folder + "/player";
        // Written by its bytes: the name need not be UTF-8.
        const QByteArray script =
            "#!/bin/sh\nprintf '%s\\n' \"$1\" > \"" + QFile::encodeName(record) + "\"\n";
        std::FILE* out = std::fopen(program.constData(), "w");
        ASSERT_NE(out, nullptr);
        std::fwrite(script.constData(), 1, std::size_t(script.size()), out);
        std::fclose(out);
        ::chmod(program.constData(), 0700);
        const QString execPath = desktopProgramPath(program);
        ASSERT_FALSE(execPath.isEmpty());
        shell::Verb verb{QStringLiteral("kestrune.desktop"), QStringLiteral("Play using Brisolde"),
                         QStringLiteral("audio/midi"), execPath, QStringLiteral("brisolde")};
        ASSERT_TRUE(shell::registerVerb(verb));
        const QString song = dir.path() + QStringLiteral("/song.mid");
        int code = -1;
        const QString said = run(
            QStringLiteral("gio"),
            {QStringLiteral("launch"), applications() + QStringLiteral("/kestrune.desktop"), song},
            &code);
        EXPECT_EQ(code, 0) << said.toStdString() << " " << execPath.toStdString() << " -> "
                           << QFileInfo(execPath).symLinkTarget().toStdString() << " exec "
                           << QFileInfo(execPath).isExecutable();
        for (int i = 0; i < 200 && !QFile::exists(record); ++i)
            QThread::msleep(10);
        EXPECT_EQ(QString::fromUtf8(testsupport::readFile(record)).trimmed(), song);
    }
    // Qt cannot name the folder that is not UTF-8; the standard library can.
    std::filesystem::remove_all(QFile::encodeName(dir.path()).toStdString());
}

namespace {

// Sets environment variables for one scope and puts the old values back.
class ScopedEnvironment
{
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, QByteArray>> values)
    {
        for (const auto& [name, value] : values) {
            m_saved.emplace_back(name, qEnvironmentVariableIsSet(name), qgetenv(name));
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }
    ~ScopedEnvironment()
    {
        for (const auto& [name, wasSet, value] : m_saved) {
            if (wasSet)
                qputenv(name, value);
            else
                qunsetenv(name);
        }
    }

private:
    std::vector<std::tuple<const char*, bool, QByteArray>> m_saved;
};

struct GioAnswer
{
    QString defaultId;
    QStringList offered; // registered and recommended applications
};

// What GIO-based file managers see for `mimeType`.
GioAnswer askGio(const QString& mimeType)
{
    GioAnswer answer;
    const QStringList lines =
        run(QStringLiteral("gio"), {QStringLiteral("mime"), mimeType}).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QStringLiteral("Default application")))
            answer.defaultId = line.section(QStringLiteral(": "), 1).trimmed();
        else if (line.startsWith(QLatin1Char('\t')))
            answer.offered << line.trimmed();
    }
    return answer;
}

QString askXdgMime(const QString& mimeType)
{
    return run(QStringLiteral("xdg-mime"),
               {QStringLiteral("query"), QStringLiteral("default"), mimeType});
}

} // namespace

// The default is decided as `xdg-mime query default` sees it, in a desktop
// made by the test alone (its own XDG_DATA_DIRS and XDG_CONFIG_DIRS): with no
// other player, with another player known only from the desktop database,
// and with a default the user chose. The verb is offered by GIO in each.
TEST(Shell, TheDocumentTypeBecomesTheDefaultOnlyWhereNoneIsSet)
{
    const bool tools =
        !QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty() &&
        !QStandardPaths::findExecutable(QStringLiteral("gio")).isEmpty() &&
        !QStandardPaths::findExecutable(QStringLiteral("update-desktop-database")).isEmpty();
    QTemporaryDir dir;
    const QString system = dir.filePath(QStringLiteral("share"));
    const ScopedEnvironment environment{
        {"XDG_DATA_DIRS", QFile::encodeName(system)},
        {"XDG_CONFIG_DIRS", QFile::encodeName(dir.filePath(QStringLiteral("etc")))},
        {"XDG_CURRENT_DESKTOP", QByteArray()},
        {"XDG_MENU_PREFIX", QByteArray()},
        {"KDE_SESSION_VERSION", QByteArray()}};
    const QString mime = QStringLiteral("audio/midi");
    const QString program = QCoreApplication::applicationFilePath();
    // Another player: any installed program will do.
    const QByteArray other =
        QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("sh")));
    const shell::DocumentType type{QStringLiteral("brisolde.desktop"),
                                   QStringLiteral("Brisolde"),
                                   QStringLiteral("Qorvel Document"),
                                   mime,
                                   program,
                                   QStringLiteral("brisolde"),
                                   QString()};
    const shell::Verb verb{QStringLiteral("kestrune.desktop"),
                           QStringLiteral("Play using Brisolde"), mime, program,
                           QStringLiteral("brisolde")};
    auto fresh = [&] {
        QFile::remove(shell::userMimeAppsFile());
        QDir(applications()).removeRecursively();
        QDir(system).removeRecursively();
    };
    // Two starts of the program: the document type, then the verb.
    auto start = [&] {
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(shell::registerDocumentType(type));
            ASSERT_TRUE(shell::registerVerb(verb));
        }
    };
    auto expectVerbOffered = [&] {
        const QString text = QString::fromUtf8(testsupport::readFile(shell::userMimeAppsFile()));
        EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral(
            "\\[Added Associations\\]\n([^[]*\n)?audio/midi=kestrune\\.desktop;\n"))))
            << text.toStdString();
        if (tools) {
            EXPECT_TRUE(askGio(mime).offered.contains(verb.desktopId));
        }
    };

    // No other player: ours becomes the default.
    fresh();
    start();
    EXPECT_EQ(shell::defaultApplication(mime), type.desktopId);
    expectVerbOffered();
    if (tools) {
        EXPECT_EQ(askXdgMime(mime), type.desktopId);
        EXPECT_EQ(askGio(mime).defaultId, type.desktopId);
    }

    // Another player, known from the desktop database's cache: it stays the
    // default, for xdg-mime and GIO alike, after any number of starts.
    fresh();
    ASSERT_TRUE(testsupport::writeFile(system + QStringLiteral("/applications/timidity.desktop"),
                                       "[Desktop Entry]\nType=Application\nName=TiMidity\nExec=" +
                                           other + " %f\nMimeType=audio/midi;\n"));
    ASSERT_TRUE(testsupport::writeFile(system + QStringLiteral("/applications/mimeinfo.cache"),
                                       "[MIME Cache]\naudio/midi=timidity.desktop;\n"));
    if (tools) {
        EXPECT_EQ(askXdgMime(mime), QStringLiteral("timidity.desktop"));
    }
    start();
    EXPECT_EQ(shell::defaultApplication(mime), QStringLiteral("timidity.desktop"));
    expectVerbOffered();
    if (tools) {
        EXPECT_EQ(askXdgMime(mime), QStringLiteral("timidity.desktop"));
        EXPECT_EQ(askGio(mime).defaultId, QStringLiteral("timidity.desktop"));
        EXPECT_TRUE(askGio(mime).offered.contains(type.desktopId));
    }

    // A default the user chose stays, and so do the file's other lines.
    fresh();
    ASSERT_TRUE(testsupport::writeFile(system + QStringLiteral("/applications/timidity.desktop"),
                                       "[Desktop Entry]\nType=Application\nName=TiMidity\nExec=" +
                                           other + " %f\nMimeType=audio/midi;\n"));
    ASSERT_TRUE(testsupport::writeFile(shell::userMimeAppsFile(),
                                       "[Added Associations]\naudio/x-wav=other.desktop;\n\n"
                                       "[Default Applications]\naudio/midi=timidity.desktop;\n"));
    start();
    const QString text = QString::fromUtf8(testsupport::readFile(shell::userMimeAppsFile()));
    EXPECT_TRUE(text.contains(QStringLiteral("audio/midi=timidity.desktop;\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("audio/x-wav=other.desktop;")));
    EXPECT_FALSE(text.contains(QStringLiteral("brisolde.desktop")));
    expectVerbOffered();
    if (tools) {
        EXPECT_EQ(askXdgMime(mime), QStringLiteral("timidity.desktop"));
    }

    // Unregistering takes away only what is ours.
    ASSERT_TRUE(shell::unregisterDocumentType(type));
    ASSERT_TRUE(shell::unregisterVerb(verb));
    const QString after = QString::fromUtf8(testsupport::readFile(shell::userMimeAppsFile()));
    EXPECT_TRUE(after.contains(QStringLiteral("audio/midi=timidity.desktop;")));
    EXPECT_TRUE(after.contains(QStringLiteral("audio/x-wav=other.desktop;")));
    EXPECT_FALSE(after.contains(QStringLiteral("kestrune.desktop")));
    EXPECT_FALSE(QFile::exists(applications() + QStringLiteral("/brisolde.desktop")));
    EXPECT_FALSE(QFile::exists(applications() + QStringLiteral("/kestrune.desktop")));
    if (tools) {
        EXPECT_FALSE(askGio(mime).offered.contains(verb.desktopId));
    }
    fresh();
}

TEST(Shell, MidiFilesHaveATypeAndTheProgramRegistersItsVerbForIt)
{
    EXPECT_EQ(shell::mimeTypeForExtension(QStringLiteral(".mid")), QStringLiteral("audio/midi"));
    EXPECT_EQ(shell::mimeTypeForExtension(QStringLiteral(".no-such-extension")), QString());
    RegisterPlayVerb();
    const QString text = QString::fromUtf8(
        testsupport::readFile(applications() + QStringLiteral("/kestrune.desktop")));
    EXPECT_TRUE(text.contains(QStringLiteral("Name=Play using Brisolde\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("MimeType=audio/midi;\n")));
    EXPECT_TRUE(text.contains(shell::execArgument(QCoreApplication::applicationFilePath()) +
                              QStringLiteral(" %f\n")))
        << text.toStdString();
}

TEST(CommandLine, SwitchesFileNamesAndAbsolutePaths)
{
    auto parse = [](std::initializer_list<const char*> args) {
        QList<QByteArray> list;
        for (const char* a : args)
            list << QByteArray(a);
        return ParseCommandLine(list);
    };
    EXPECT_EQ(parse({}).m_nShellCommand, CCommandLineInfo::FileNew);
    const CCommandLineInfo open = parse({"/home/ann/song.mid"});
    EXPECT_EQ(open.m_nShellCommand, CCommandLineInfo::FileOpen);
    EXPECT_EQ(open.m_strFileName, "/home/ann/song.mid")
        << "an absolute path is a file, not a switch";
    EXPECT_EQ(parse({"-p", "a.mid"}).m_nShellCommand, CCommandLineInfo::FilePrint);
    EXPECT_EQ(parse({"/P", "a.mid"}).m_nShellCommand, CCommandLineInfo::FileOpen)
        << "p, pt and dde compare with case";
    const CCommandLineInfo printTo = parse({"-pt", "a.mid", "printer", "driver", "port"});
    EXPECT_EQ(printTo.m_nShellCommand, CCommandLineInfo::FilePrintTo);
    EXPECT_EQ(printTo.m_strPortName, "port");
    EXPECT_EQ(parse({"/REGSERVER"}).m_nShellCommand, CCommandLineInfo::AppRegister);
    EXPECT_EQ(parse({"-unregister"}).m_nShellCommand, CCommandLineInfo::AppUnregister);
    EXPECT_TRUE(parse({"-Embedding"}).m_bRunEmbedded);
    EXPECT_TRUE(parse({"/automation"}).m_bRunAutomated);
    EXPECT_EQ(parse({"-dde"}).m_nShellCommand, CCommandLineInfo::FileDDE);
    EXPECT_EQ(parse({"--gtest_filter=x", "b.mid"}).m_strFileName, "b.mid")
        << "unknown switches are ignored";
}
