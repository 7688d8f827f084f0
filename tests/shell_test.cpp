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
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

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

TEST(Shell, TheDocumentTypeBecomesTheDefaultOnlyWhereNoneIsSet)
{
    QFile::remove(shell::userMimeAppsFile());
    shell::DocumentType type{QStringLiteral("brisolde.desktop"),
                             QStringLiteral("Brisolde"),
                             QStringLiteral("Qorvel Document"),
                             QStringLiteral("audio/midi"),
                             QStringLiteral("/usr/bin/brisolde"),
                             QStringLiteral("brisolde"),
                             QString()};
    ASSERT_TRUE(shell::registerDocumentType(type));
    EXPECT_EQ(shell::defaultApplication(QStringLiteral("audio/midi")),
              QStringLiteral("brisolde.desktop"));
    if (!QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty()) {
        EXPECT_EQ(
            run(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("audio/midi")}),
            QStringLiteral("brisolde.desktop"));
    }

    // Another program's default stays, and so do the file's other lines.
    ASSERT_TRUE(testsupport::writeFile(shell::userMimeAppsFile(),
                                       "[Added Associations]\naudio/x-wav=other.desktop;\n\n"
                                       "[Default Applications]\naudio/midi=timidity.desktop;\n"));
    ASSERT_TRUE(shell::registerDocumentType(type));
    const QString text = QString::fromUtf8(testsupport::readFile(shell::userMimeAppsFile()));
    EXPECT_TRUE(text.contains(QStringLiteral("audio/midi=timidity.desktop;")));
    EXPECT_TRUE(text.contains(QStringLiteral("audio/x-wav=other.desktop;")));
    EXPECT_FALSE(text.contains(QStringLiteral("brisolde.desktop")));

    // Unregistering takes away only what is ours.
    ASSERT_TRUE(shell::unregisterDocumentType(type));
    EXPECT_TRUE(QString::fromUtf8(testsupport::readFile(shell::userMimeAppsFile()))
                    .contains(QStringLiteral("timidity.desktop")));
    EXPECT_FALSE(QFile::exists(applications() + QStringLiteral("/brisolde.desktop")));
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
