// Crash reports, read line by line from programs that crash on purpose: the
// test program of tests/crash in each way it can crash, and the player itself.
#include "crashstack.h"
#include "faultreporter.h"
#include "profile.h"
#include "testsupport.h"
#include "transport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <sys/syscall.h>

#include <csignal>
#include <ctime>
#include <map>
#include <ostream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

// Report lines in failure messages as text.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

using Environment = std::map<std::string, const char*>; // null value: unset

// Runs a program with changes to the environment and returns its wait
// status, or -1 when it did not end within a minute (a hanging writer).
int run(const QString& program, const QStringList& args, const Environment& environment,
        const QString& coreFolder = QString())
{
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> argBytes{path};
    for (const QString& arg : args)
        argBytes.push_back(arg.toLocal8Bit());
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        // No core files from the crashes the tests cause, unless asked for.
        if (coreFolder.isEmpty()) {
            const rlimit noCore{0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
        } else {
            const rlimit anyCore{RLIM_INFINITY, RLIM_INFINITY};
            ::setrlimit(RLIMIT_CORE, &anyCore);
            if (::chdir(QFile::encodeName(coreFolder).constData()) != 0)
                ::_exit(126);
        }
        for (const auto& [name, value] : environment) {
            if (value)
                ::setenv(name.c_str(), value, 1);
            else
                ::unsetenv(name.c_str());
        }
        std::vector<char*> argv;
        for (QByteArray& arg : argBytes)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (std::FILE* quiet = std::freopen("/dev/null", "w", stderr))
            (void)quiet;
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    for (int waited = 0; waited < 6000; ++waited) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        const timespec pause{0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

// The process must end by the signal it crashed with. Where AddressSanitizer
// handles that signal itself (SIGSEGV, SIGBUS, SIGFPE), it is the handling
// our writer hands the crash on to: it prints its own report and exits with 1.
void expectEndedBy(int status, int signal)
{
    ASSERT_NE(status, -1) << "the program hung";
    if (kAddressSanitizer && (signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE)) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
        return;
    }
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), signal);
}

struct Report
{
    QByteArray raw;
    QStringList lines;

    bool exists() const { return !raw.isEmpty(); }
    // Index of the first line from `from` on that matches `pattern` fully, or -1.
    int find(const QString& pattern, int from = 0) const
    {
        const QRegularExpression expression(QRegularExpression::anchoredPattern(pattern));
        for (int i = std::max(from, 0); i < lines.size(); ++i) {
            if (expression.match(lines[i]).hasMatch())
                return i;
        }
        return -1;
    }
    int findExact(const QString& line, int from = 0) const
    {
        return find(QRegularExpression::escape(line), from);
    }
};

Report readReport(const QString& path)
{
    Report report;
    report.raw = testsupport::readFile(path);
    if (report.raw.isEmpty())
        return report;
    // Every line ends in CR LF, the last one too.
    EXPECT_EQ(report.raw.count('\n'), report.raw.count("\r\n"));
    EXPECT_TRUE(report.raw.endsWith("\r\n"));
    report.lines = QString::fromLocal8Bit(report.raw).split(QStringLiteral("\r\n"));
    report.lines.removeLast();
    return report;
}

// The report of the crashing program run with MODE in a folder of its own.
Report victimReport(const char* mode)
{
    QTemporaryDir temp;
    run(QStringLiteral(CRASH_VICTIM), {QLatin1String(mode)},
        {{"TEMP", QFile::encodeName(temp.path()).constData()}});
    return readReport(temp.filePath(QStringLiteral("crashvictim.err")));
}

// The source line that carries "// crash: <name>" in the crashing program.
int crashLine(const char* name)
{
    const QStringList source =
        QString::fromUtf8(testsupport::readFile(QStringLiteral(CRASH_VICTIM_SOURCE))).split('\n');
    const QString marker = QStringLiteral("// crash: %1").arg(QLatin1String(name));
    for (int i = 0; i < source.size(); ++i) {
        if (source[i].endsWith(marker))
            return i + 1;
    }
    return -1;
}

const QString kAddress = QStringLiteral("[0-9A-F]{8,}");

// The parts every report has, whatever the crash: header, exception and
// fault address, registers, both call stacks, globals and the end marker.
void expectWholeReport(const Report& report, const QString& exceptionLine)
{
    ASSERT_GE(report.lines.size(), 30);
    EXPECT_EQ(report.lines[0], "**** Exception Handler Report");
    EXPECT_EQ(report.lines[1], exceptionLine);
    EXPECT_NE(report.find("Fault address:  " + kAddress + " [0-9A-F]{2}:[0-9A-F]{8} .*"), -1);
    EXPECT_EQ(report.lines[3], "");
    EXPECT_EQ(report.lines[4], "**** Registers:");
    int line = 5;
    for (const char* name : {"RAX", "RBX", "RCX", "RDX", "RSI", "RDI", "R8", "R9", "R10", "R11",
                             "R12", "R13", "R14", "R15"}) {
        EXPECT_EQ(report.find(QStringLiteral("%1:[0-9A-F]{16}").arg(QLatin1String(name)), line),
                  line)
            << name;
        ++line;
    }
    EXPECT_EQ(report.find("CS:RIP:[0-9A-F]{4}:[0-9A-F]{16}", line), line);
    EXPECT_EQ(report.find("SS:RSP:[0-9A-F]{4}:[0-9A-F]{16}  RBP:[0-9A-F]{16}", line), line + 1);
    EXPECT_EQ(report.find("DS:[0-9A-F]{4}  ES:[0-9A-F]{4}  FS:[0-9A-F]{4}  GS:[0-9A-F]{4}", line),
              line + 2);
    EXPECT_EQ(report.find("Flags:[0-9A-F]{16}", line), line + 3);
    EXPECT_EQ(report.lines[line + 4], "");
    EXPECT_EQ(report.lines[line + 5], "**** Call stack:");
    EXPECT_EQ(report.lines[line + 6], "Address   Frame     Function            SourceFile");
    const int locals = report.findExact("**** Local Variables And Parameters");
    ASSERT_NE(locals, -1);
    EXPECT_EQ(report.lines[locals - 1], "");
    EXPECT_EQ(report.lines[locals + 1], "");
    EXPECT_EQ(report.lines[locals + 2], "**** Call stack:");
    EXPECT_NE(report.findExact("**** Global Variables", locals), -1);
    EXPECT_EQ(report.lines.last(), "**** End Of Report");
    EXPECT_EQ(report.lines[report.lines.size() - 2], "");
}

struct CrashKind
{
    const char* mode;
    const char* marker; // of the line that crashes
    int signal;
    const char* exceptionLine;
    const char* function;     // as the call stack names it
    bool globalsOfTheProgram; // the fault lies in the program, not in a library
};

void PrintTo(const CrashKind& kind, std::ostream* out)
{
    *out << kind.mode;
}

class CrashReportTest : public testing::TestWithParam<CrashKind>
{
};

TEST_P(CrashReportTest, IsWrittenInFullAndTheCrashGoesOn)
{
    const CrashKind& kind = GetParam();
    QTemporaryDir temp;
    const QByteArray tempPath = QFile::encodeName(temp.path());
    const int status = run(QStringLiteral(CRASH_VICTIM), {QLatin1String(kind.mode)},
                           {{"TEMP", tempPath.constData()}});
    expectEndedBy(status, kind.signal);

    const Report report = readReport(temp.filePath(QStringLiteral("crashvictim.err")));
    ASSERT_TRUE(report.exists());
    expectWholeReport(report, QLatin1String(kind.exceptionLine));

    // The crashing function, with its file and the line that crashed, in
    // both call stacks; in the second one followed by its two locals.
    const int line = crashLine(kind.marker);
    ASSERT_GT(line, 0);
    const QString frame = kAddress + "  " + kAddress + "  " +
                          QRegularExpression::escape(QLatin1String(kind.function)) +
                          "\\+[0-9A-F]+  \\S*crashvictim\\.cpp line " + QString::number(line);
    const int plain = report.find(frame);
    EXPECT_NE(plain, -1) << "no frame " << frame.toStdString();
    const int locals = report.findExact("**** Local Variables And Parameters");
    const int withVariables = report.find(frame, locals);
    ASSERT_NE(withVariables, -1);
    // Where the recursion broke its frame shows its own depth.
    const int count = report.find("\tLocal \\(nCount\\) int = <0x[0-9A-F]+>", withVariables);
    const int text = report.findExact("\tLocal (pszText) = \"brisolde\"", withVariables);
    const int frameEnd = report.findExact("", withVariables);
    ASSERT_NE(count, -1);
    ASSERT_NE(text, -1);
    EXPECT_LT(count, frameEnd);
    EXPECT_LT(text, frameEnd);
    if (std::string(kind.marker) != "recursion") {
        EXPECT_EQ(report.lines[count], "\tLocal (nCount) int = <0x2A>");
    }

    const int globals = report.findExact("**** Global Variables");
    if (kind.globalsOfTheProgram) {
        EXPECT_NE(report.findExact("\t(g_nVictimRuns) int = <0x1>", globals), -1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachKind, CrashReportTest,
    testing::Values(
        CrashKind{"null-write", "null-write", SIGSEGV, "Exception code: C0000005 ACCESS_VIOLATION",
                  "crashNullWrite()", true},
        CrashKind{"divide", "divide", SIGFPE, "Exception code: C0000094 INT_DIVIDE_BY_ZERO",
                  "crashDivide(int)", true},
        CrashKind{"abort", "abort", SIGABRT, "Exception code: E0000006 Aborted", "crashAbort()",
                  false},
        CrashKind{"throw", "throw", SIGABRT, "Exception code: E0000100 the victim gave up",
                  "crashThrow()", false},
        CrashKind{"recursion", "recursion", SIGSEGV, "Exception code: C00000FD STACK_OVERFLOW",
                  "crashRecursion(int)", true},
        CrashKind{"null-call", "null-call", SIGSEGV, "Exception code: C0000005 ACCESS_VIOLATION",
                  "crashNullCall()", true},
        CrashKind{"thread", "thread", SIGSEGV, "Exception code: C0000005 ACCESS_VIOLATION",
                  "crashOnThread()", true},
        CrashKind{"two-threads", "thread", SIGSEGV, "Exception code: C0000005 ACCESS_VIOLATION",
                  "crashOnThread()", true},
        CrashKind{"thread-recursion", "recursion", SIGSEGV,
                  "Exception code: C00000FD STACK_OVERFLOW", "crashRecursion(int)", true},
        CrashKind{"audio-recursion", "recursion", SIGSEGV,
                  "Exception code: C00000FD STACK_OVERFLOW", "crashRecursion(int)", true},
        CrashKind{"illegal", "illegal", SIGILL, "Exception code: C000001D ILLEGAL_INSTRUCTION",
                  "crashIllegal()", true},
        CrashKind{"breakpoint", "breakpoint", SIGTRAP, "Exception code: 80000003 BREAKPOINT",
                  "crashBreakpoint()", true}),
    [](const testing::TestParamInfo<CrashKind>& kind) {
        std::string name = kind.param.mode;
        std::erase(name, '-');
        return name;
    });

// Copies the crashing program into `folder`/bin, where it finds no debug-help
// library (or, with `library`, that one as its ../lib/ library).
QString copyVictim(const QTemporaryDir& folder, const QString& library = QString(),
                   const QString& name = QStringLiteral("crashvictim"))
{
    const QString bin = folder.filePath(QStringLiteral("bin"));
    QDir().mkpath(bin);
    const QString program = bin + '/' + name;
    EXPECT_TRUE(QFile::copy(QStringLiteral(CRASH_VICTIM), program));
    if (!library.isEmpty()) {
        QDir().mkpath(folder.filePath(QStringLiteral("lib")));
        EXPECT_TRUE(QFile::copy(library, folder.filePath(QStringLiteral("lib/")) +
                                             QLatin1String(debughelp::kLibraryName)));
    }
    return program;
}

// The lines after the registers, when the report cannot go further.
QStringList linesAfterFlags(const Report& report)
{
    const int flags = report.find("Flags:[0-9A-F]{16}");
    return flags < 0 ? QStringList() : report.lines.mid(flags + 1);
}

TEST(CrashReportWithoutSymbols, EndsAfterTheRegistersWithoutTheLibrary)
{
    QTemporaryDir folder;
    const QString program = copyVictim(folder);
    const QByteArray tempPath = QFile::encodeName(folder.path());
    expectEndedBy(run(program, {QStringLiteral("null-write")}, {{"TEMP", tempPath.constData()}}),
                  SIGSEGV);
    const Report report = readReport(folder.filePath(QStringLiteral("crashvictim.err")));
    ASSERT_TRUE(report.exists());
    EXPECT_EQ(report.lines[1], "Exception code: C0000005 ACCESS_VIOLATION");
    EXPECT_EQ(linesAfterFlags(report), QStringList({"", "**** End Of Report"}));
}

TEST(CrashReportWithoutSymbols, AMissingEntryPointDisablesOnlyWhatNeedsIt)
{
    // Without SymFromAddr and SymGetTypeInfo.
    QTemporaryDir folder;
    const QString program = copyVictim(folder, QStringLiteral(PARTIAL_DEBUGHELP));
    const QByteArray tempPath = QFile::encodeName(folder.path());
    expectEndedBy(run(program, {QStringLiteral("null-write")}, {{"TEMP", tempPath.constData()}}),
                  SIGSEGV);
    const Report report = readReport(folder.filePath(QStringLiteral("crashvictim.err")));
    ASSERT_TRUE(report.exists());
    expectWholeReport(report, QStringLiteral("Exception code: C0000005 ACCESS_VIOLATION"));
    // Frames by module, segment and offset, still with their source lines.
    const QString frame = kAddress + "  " + kAddress + "  [0-9A-F]{4}:[0-9A-F]{8} " +
                          QRegularExpression::escape(program) + "  \\S*crashvictim\\.cpp line " +
                          QString::number(crashLine("null-write"));
    const int locals = report.findExact("**** Local Variables And Parameters");
    EXPECT_NE(report.find(frame), -1);
    const int withVariables = report.find(frame, locals);
    ASSERT_NE(withVariables, -1);
    // Variables by their size alone: no type names, a pointer as a number.
    EXPECT_EQ(report.lines[withVariables + 1], "\tLocal (nCount) = <0x2A>");
    EXPECT_NE(report.find("\tLocal \\(pszText\\) = <[0-9A-F]+>", withVariables), -1);
    EXPECT_NE(report.findExact("\t(g_nVictimRuns) = <0x1>", locals), -1);
}

TEST(CrashReportWithoutSymbols, AFaultInsideTheWriterEndsTheReportAndTheCrashGoesOn)
{
    // This library faults in its stack walk.
    QTemporaryDir folder;
    const QString program = copyVictim(folder, QStringLiteral(FAULTY_DEBUGHELP));
    const QByteArray tempPath = QFile::encodeName(folder.path());
    const time_t start = std::time(nullptr);
    expectEndedBy(run(program, {QStringLiteral("divide")}, {{"TEMP", tempPath.constData()}}),
                  SIGFPE);
    EXPECT_LT(std::time(nullptr) - start, 10);
    const Report report = readReport(folder.filePath(QStringLiteral("crashvictim.err")));
    ASSERT_TRUE(report.exists());
    EXPECT_EQ(report.lines[1], "Exception code: C0000094 INT_DIVIDE_BY_ZERO");
    EXPECT_EQ(
        linesAfterFlags(report),
        QStringList({"", "**** Call stack:", "Address   Frame     Function            SourceFile",
                     "", "**** End Of Report"}));
}

TEST(CrashReportWithoutSymbols, EndsAtOnceWhenTheLibraryCannotStart)
{
    QTemporaryDir folder;
    const QString program = copyVictim(folder, QStringLiteral(FAULTY_DEBUGHELP));
    const QByteArray tempPath = QFile::encodeName(folder.path());
    expectEndedBy(run(program, {QStringLiteral("abort")},
                      {{"TEMP", tempPath.constData()}, {"FAULTY_DEBUGHELP_FAIL", "1"}}),
                  SIGABRT);
    const Report report = readReport(folder.filePath(QStringLiteral("crashvictim.err")));
    ASSERT_TRUE(report.exists());
    // No blank line before the end marker here.
    EXPECT_EQ(linesAfterFlags(report), QStringList({"**** End Of Report"}));
}

TEST(CrashReportWithoutSymbols, AWriterThatHangsIsEndedAndTheCrashGoesOn)
{
    QTemporaryDir folder;
    const QString program = copyVictim(folder, QStringLiteral(FAULTY_DEBUGHELP));
    const QByteArray tempPath = QFile::encodeName(folder.path());
    const time_t start = std::time(nullptr);
    expectEndedBy(run(program, {QStringLiteral("null-write")},
                      {{"TEMP", tempPath.constData()}, {"FAULTY_DEBUGHELP_HANG", "1"}}),
                  SIGSEGV);
    EXPECT_LT(std::time(nullptr) - start, 40);
    const Report report = readReport(folder.filePath(QStringLiteral("crashvictim.err")));
    ASSERT_TRUE(report.exists());
    EXPECT_EQ(linesAfterFlags(report), QStringList({"", "**** End Of Report"}));
}

TEST(CrashReportValues, EveryKindOfVariableIsShownAsItsTypeSays)
{
    const Report report = victimReport("null-write");
    ASSERT_TRUE(report.exists());
    const int locals = report.findExact("**** Local Variables And Parameters");
    const int frame = report.find(".*  crashNullWrite\\(\\)\\+.*", locals);
    ASSERT_NE(frame, -1);
    QStringList expected{
        "\tLocal (nCount) int = <0x2A>",
        "\tLocal (pszText) = \"brisolde\"",
        "\tLocal (dRatio) double = <0.250000>",
        "\tLocal (fScale) float = <1.500000>",
        "\tLocal (sSmall) short int = <0x7>",
        "\tLocal (byFlag) unsigned char = <0x41>",
        // A character pointer that points nowhere shows its value.
        "\tLocal (pszBad) = <0x10>",
    };
    // AddressSanitizer moves a local class object into a frame of its own and
    // describes its place by a register whose value is lost by the time of
    // the crash, so the object cannot be shown there.
    if (!kAddressSanitizer) {
        const QStringList object{"\tLocal (pt) Point", "\t\t x = <0x5>", "\t\t y = <0x6>",
                                 "\t\t weight = <0.750000>", ""};
        expected = expected.mid(0, 6) + object + expected.mid(6);
    }
    EXPECT_EQ(report.lines.mid(frame + 1, expected.size()), expected);

    // A class member that is itself a class shows its members at their own
    // place inside the variable.
    const int globals = report.findExact("**** Global Variables");
    const int segment = report.findExact("\t(g_segment) Segment", globals);
    ASSERT_NE(segment, -1);
    EXPECT_EQ(report.lines.mid(segment + 1, 9),
              QStringList({"\t\t from", "\t\t\t x = <0x1>", "\t\t\t y = <0x2>",
                           "\t\t\t weight = <0.500000>", "\t\t to", "\t\t\t x = <0x3>",
                           "\t\t\t y = <0x4>", "\t\t\t weight = <1.500000>", ""}));
    // A value of a length no scalar has (here nine characters) gets no text.
    EXPECT_NE(report.findExact("\t(g_szMessage)", globals), -1);
    // An unreadable variable gives up its own line only.
    const int guarded = report.findExact("Symbol g_guardedPage", globals);
    EXPECT_NE(guarded, -1);
    EXPECT_NE(report.findExact("\t(g_nVictimRuns) int = <0x1>", globals), -1);
    EXPECT_EQ(report.lines.last(), "**** End Of Report");
}

// A variable longer than one write of the report is written whole; one
// longer than the writer's line buffer is cut with a marker. Either way the
// next variable starts a line of its own.
TEST(CrashReportValues, LongVariableLinesAreWrittenWholeOrCutWithAMarker)
{
    const Report report = victimReport("null-write");
    ASSERT_TRUE(report.exists());
    const int globals = report.findExact("**** Global Variables");
    ASSERT_NE(globals, -1);

    QStringList members;
    for (const char letter : QByteArray("ABCDEF")) {
        for (int digit = 0; digit < 10; ++digit)
            members
                << QStringLiteral("\t\t nValue%1%2 = <0x0>").arg(QLatin1Char(letter)).arg(digit);
    }
    const int wide = report.findExact("\t(g_wide) WideRecord", globals);
    ASSERT_NE(wide, -1);
    EXPECT_EQ(report.lines.mid(wide + 1, members.size()), members);
    EXPECT_EQ(report.lines.value(wide + 1 + int(members.size())), "");

    const int wider = report.findExact("\t(g_wider) WiderRecord", globals);
    ASSERT_NE(wider, -1);
    const int cut = report.find(".* \\[\\.\\.\\.\\]", wider);
    ASSERT_NE(cut, -1);
    EXPECT_GT(cut - wider, int(members.size()));
    for (int i = wider + 1; i < cut; ++i)
        EXPECT_NE(report.find("\t\t( first| second|\t nValue[A-F][0-9] = <0x0>)", i), -1) << i;
    EXPECT_EQ(report.find("\t\t( first| second|\t nValue[A-F][0-9] = <0x0>)", wider + 1),
              wider + 1);

    // Nothing glued: a variable's line never starts in the middle of another.
    for (int i = globals; i < report.lines.size(); ++i)
        EXPECT_LE(report.lines[i].indexOf(QStringLiteral("\t(")), 0)
            << report.lines[i].toStdString();
    EXPECT_NE(report.findExact("\t(g_nAfterWide) int = <0x7>", globals), -1);
}

TEST(CrashReportValues, ACallToNowhereShowsNoModuleAndTheCaller)
{
    const Report report = victimReport("null-call");
    ASSERT_TRUE(report.exists());
    EXPECT_EQ(report.lines[2], "Fault address:  00000000 00:00000000 ");
    const int stack = report.findExact("Address   Frame     Function            SourceFile");
    EXPECT_NE(report.find("00000000  " + kAddress + "  0000:00000000 "), -1);
    EXPECT_EQ(report.find(".*crashNullCall\\(\\).*", stack), stack + 2);
}

TEST(CrashReportHandOn, ACoreIsDumpedWhereCoreDumpsAreEnabled)
{
    const QByteArray pattern =
        testsupport::readFile(QStringLiteral("/proc/sys/kernel/core_pattern"));
    if (pattern.isEmpty() || pattern.startsWith('|') || pattern.contains('/'))
        GTEST_SKIP() << "core files are not written to the working folder here";
    QTemporaryDir temp;
    const QByteArray tempPath = QFile::encodeName(temp.path());
    const rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
    rlimit hard{};
    ::getrlimit(RLIMIT_CORE, &hard);
    if (hard.rlim_max != limit.rlim_max)
        GTEST_SKIP() << "core files are limited here";
    // AddressSanitizer turns core files off for the processes it runs in.
    if (kAddressSanitizer)
        GTEST_SKIP() << "AddressSanitizer disables core dumps";
    const std::vector<std::pair<const char*, int>> kinds{{"abort", SIGABRT},
                                                         {"null-write", SIGSEGV}};
    for (const auto& [mode, signal] : kinds) {
        const int status = run(QStringLiteral(CRASH_VICTIM), {QLatin1String(mode)},
                               {{"TEMP", tempPath.constData()}}, temp.path());
        ASSERT_TRUE(WIFSIGNALED(status)) << mode;
        EXPECT_EQ(WTERMSIG(status), signal) << mode;
        EXPECT_TRUE(WCOREDUMP(status)) << mode;
        EXPECT_TRUE(QFileInfo::exists(temp.filePath(QStringLiteral("crashvictim.err")))) << mode;
    }
}

TEST(CrashReportPath, FollowsTheProgramNameAndTheTemporaryFolder)
{
    char path[4096];
    auto make = [&path](const char* exe, const char* temp) {
        return CFaultReporter::MakeReportPath(exe, temp, path, sizeof path) ? std::string(path)
                                                                            : "(none)";
    };
    EXPECT_EQ(make("/opt/Player.exe", "/tmp"), "/tmp/Player.err");
    EXPECT_EQ(make("/opt/Player.exex", "/tmp"), "/tmp/Player.err");
    EXPECT_EQ(make("/opt/Player.exe", nullptr), "/opt/Player.err");
    EXPECT_EQ(make("/opt/Player.exe", ""), "/opt/Player.err");
    // A program without an extension keeps its name: the report gets one.
    EXPECT_EQ(make("/usr/bin/brisolde", "/tmp"), "/tmp/brisolde.err");
    EXPECT_EQ(make("/usr/bin/brisolde", nullptr), "/usr/bin/brisolde.err");
    // A dot in a folder's name is not an extension.
    EXPECT_EQ(make("/home/me/.local/bin/brisolde", nullptr), "/home/me/.local/bin/brisolde.err");
    EXPECT_EQ(make("/home/me/.local/bin/.brisolde", nullptr), "/home/me/.local/bin/.brisolde.err");
    EXPECT_EQ(make("/opt/a.b", nullptr), "/opt/a.err");
    // A path that does not fit gives no report rather than a cut one.
    char small[16];
    EXPECT_FALSE(CFaultReporter::MakeReportPath("/usr/bin/brisolde", "/tmp", small, sizeof small));
}

TEST(CrashReportPath, IsCreatedSafelyAndReplacesThePreviousReport)
{
    QTemporaryDir temp;
    const QByteArray tempPath = QFile::encodeName(temp.path());
    const QString reportPath = temp.filePath(QStringLiteral("crashvictim.err"));

    // A link planted at the report's place is not followed.
    const QString precious = temp.filePath(QStringLiteral("precious"));
    ASSERT_TRUE(testsupport::writeFile(precious, "keep me"));
    ASSERT_EQ(::symlink(QFile::encodeName(precious).constData(),
                        QFile::encodeName(reportPath).constData()),
              0);
    expectEndedBy(run(QStringLiteral(CRASH_VICTIM), {QStringLiteral("abort")},
                      {{"TEMP", tempPath.constData()}}),
                  SIGABRT);
    EXPECT_EQ(testsupport::readFile(precious), "keep me");
    struct stat info = {};
    ASSERT_EQ(::lstat(QFile::encodeName(reportPath).constData(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(readReport(reportPath).raw.startsWith("**** Exception Handler Report\r\n"));

    // A longer report from before is replaced completely.
    ASSERT_TRUE(testsupport::writeFile(reportPath, QByteArray(4 * 1024 * 1024, 'x')));
    run(QStringLiteral(CRASH_VICTIM), {QStringLiteral("divide")}, {{"TEMP", tempPath.constData()}});
    const Report report = readReport(reportPath);
    EXPECT_FALSE(report.raw.contains('x' + QByteArray(64, 'x')));
    EXPECT_EQ(report.lines.last(), "**** End Of Report");
}

TEST(CrashReportPath, UnwritableTemporaryFolderGivesNoReportButTheCrashGoesOn)
{
    QTemporaryDir temp;
    const QString file = temp.filePath(QStringLiteral("a-file"));
    ASSERT_TRUE(testsupport::writeFile(file, "not a folder"));
    for (const QString& unwritable : {file, temp.filePath(QStringLiteral("missing/folder"))}) {
        const QByteArray value = QFile::encodeName(unwritable);
        expectEndedBy(run(QStringLiteral(CRASH_VICTIM), {QStringLiteral("null-write")},
                          {{"TEMP", value.constData()}}),
                      SIGSEGV);
    }
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList({"a-file"}));
    EXPECT_EQ(testsupport::readFile(file), "not a folder");
}

TEST(CrashReportPath, FallsBackToTmpdirThenToTmpThenToTheProgramsFolder)
{
    QTemporaryDir folder;
    // A dot in a folder's name, and a program name without an extension, of
    // its own so that its report in /tmp is known to be this one.
    QTemporaryDir dotted(QDir::tempPath() + QStringLiteral("/.brisolde-XXXXXX"));
    const QString name =
        QStringLiteral("crashvictim-%1").arg(QFileInfo(dotted.path()).fileName().mid(1));
    const QString program = copyVictim(dotted, QString(), name);
    const QByteArray tmpdir = QFile::encodeName(folder.path());
    run(program, {QStringLiteral("abort")}, {{"TEMP", nullptr}, {"TMPDIR", tmpdir.constData()}});
    EXPECT_TRUE(QFileInfo::exists(folder.filePath(name + QStringLiteral(".err"))));
    // A normal desktop sets neither: the system's temporary folder, not the
    // program's own (which an installed program cannot write).
    const QString inTmp = QStringLiteral("/tmp/") + name + QStringLiteral(".err");
    run(program, {QStringLiteral("abort")}, {{"TEMP", nullptr}, {"TMPDIR", nullptr}});
    EXPECT_TRUE(QFileInfo::exists(inTmp));
    EXPECT_FALSE(QFileInfo::exists(program + QStringLiteral(".err")));
    QFile::remove(inTmp);
    EXPECT_TRUE(QFileInfo(program).isExecutable());

    // The choice itself; without a writable system folder the report goes
    // beside the program (MakeReportPath with no folder).
    EXPECT_STREQ(CFaultReporter::TemporaryFolder("/a", "/b"), "/a");
    EXPECT_STREQ(CFaultReporter::TemporaryFolder("", "/b"), "/b");
    EXPECT_STREQ(CFaultReporter::TemporaryFolder(nullptr, "", "/tmp"), "/tmp");
    EXPECT_EQ(CFaultReporter::TemporaryFolder(nullptr, nullptr, "/nonexistent/tmp"), nullptr);
    const QString file = folder.filePath(QStringLiteral("a-file"));
    ASSERT_TRUE(testsupport::writeFile(file, "not a folder"));
    EXPECT_EQ(
        CFaultReporter::TemporaryFolder(nullptr, nullptr, QFile::encodeName(file).constData()),
        nullptr);
}

TEST(CrashReportCodes, SignalsMapToTheExceptionCodesOfTheReport)
{
    auto code = [](int signal, int reason) {
        siginfo_t detail{};
        detail.si_signo = signal;
        detail.si_code = reason;
        return CFaultReporter::ExceptionCodeFromSignal(signal, &detail, nullptr);
    };
    EXPECT_EQ(code(SIGSEGV, SEGV_MAPERR), 0xC0000005u);
    EXPECT_EQ(code(SIGBUS, BUS_ADRALN), 0x80000002u);
    EXPECT_EQ(code(SIGBUS, BUS_ADRERR), 0xC0000006u);
    EXPECT_EQ(code(SIGFPE, FPE_INTDIV), 0xC0000094u);
    EXPECT_EQ(code(SIGFPE, FPE_FLTINV), 0xC0000090u);
    EXPECT_EQ(code(SIGILL, ILL_ILLOPC), 0xC000001Du);
    EXPECT_EQ(code(SIGILL, ILL_PRVOPC), 0xC0000096u);
    EXPECT_EQ(code(SIGTRAP, TRAP_BRKPT), 0x80000003u);
    EXPECT_STREQ(CFaultReporter::ExceptionCodeName(code(SIGTRAP, TRAP_BRKPT)), "BREAKPOINT");
    EXPECT_STREQ(CFaultReporter::ExceptionCodeName(code(SIGABRT, SI_TKILL)), "Aborted");
    EXPECT_STREQ(CFaultReporter::ExceptionCodeName(0x12345678), "");
}

namespace {

// Which threads answered a signal on a crash-handler stack of their own.
constexpr int kMaxThreads = 64;
std::atomic<pid_t> g_askedThreads[kMaxThreads];
std::atomic<int> g_onOwnStack[kMaxThreads]; // -1 not yet, 0 no, 1 yes

void answerOnWhichStack(int, siginfo_t*, void*)
{
    const pid_t self = static_cast<pid_t>(::syscall(SYS_gettid));
    stack_t stack{};
    ::sigaltstack(nullptr, &stack);
    const bool own = (stack.ss_flags & SS_ONSTACK) && stack.ss_size >= crashstack::kStackSize;
    for (int i = 0; i < kMaxThreads; ++i) {
        if (g_askedThreads[i].load() == self)
            g_onOwnStack[i].store(own ? 1 : 0);
    }
}

std::set<pid_t> threadsOfThisProcess()
{
    std::set<pid_t> threads;
    for (const QString& name : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs))
        if (const int tid = name.toInt(); tid > 0)
            threads.insert(tid);
    return threads;
}

} // namespace

// The engine's threads - notification, scheduler and audio - each take a
// stack of their own for the crash handlers as they start, so that a stack
// overflow on any of them is reported too.
TEST(CrashReportThreads, EveryEngineThreadHasAStackOfItsOwnForTheCrashHandlers)
{
    struct sigaction ask = {};
    struct sigaction before = {};
    ask.sa_sigaction = &answerOnWhichStack;
    ask.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigemptyset(&ask.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR2, &ask, &before), 0);

    const std::set<pid_t> existing = threadsOfThisProcess();
    const framework::Profile profile;
    CTransport::Options options;
    options.ports.synthOutput = music::SynthOutput::SilentSink;
    CTransport transport(profile, options);
    ASSERT_TRUE(transport.InitDirectMusic());
    // The synthesizer's port adds its own: the one that makes the synthesizer
    // and its output (the silent sink), the SoundFont reader and the audio thread.
    transport.EnumPorts();
    ASSERT_TRUE(transport.CreateAndAddPort(transport.DefaultPortEntry()));
    std::vector<pid_t> started;
    for (const pid_t tid : threadsOfThisProcess()) {
        if (!existing.count(tid))
            started.push_back(tid);
    }
    EXPECT_GE(started.size(), 4u) << "notification, scheduler, audio and the port's own";
    ASSERT_LE(started.size(), std::size_t(kMaxThreads));
    // A thread just made may not have reached its first line: it is asked
    // again until it answers on its own stack, or for ten seconds. One that
    // has done its work and ended meanwhile has nothing left to report.
    for (std::size_t i = 0; i < started.size(); ++i) {
        g_askedThreads[i].store(started[i]);
        for (int tries = 0; tries < 100; ++tries) {
            g_onOwnStack[i].store(-1);
            if (::syscall(SYS_tgkill, ::getpid(), started[i], SIGUSR2) != 0) {
                g_onOwnStack[i].store(1);
                break;
            }
            for (int wait = 0; wait < 1000 && g_onOwnStack[i].load() < 0; ++wait)
                QThread::msleep(1);
            if (g_onOwnStack[i].load() == 1)
                break;
            QThread::msleep(100);
        }
        EXPECT_EQ(g_onOwnStack[i].load(), 1) << "thread " << started[i];
    }
    transport.FreeDirectMusic();
    ::sigaction(SIGUSR2, &before, nullptr);
}

TEST(CrashReportLifetime, TheHandlingBeforeIsPutBackAtExit)
{
    struct sigaction before = {};
    ::sigaction(SIGSEGV, nullptr, &before);
    const std::terminate_handler terminateBefore = std::get_terminate();
    {
        CFaultReporter reporter;
        struct sigaction during = {};
        ::sigaction(SIGSEGV, nullptr, &during);
        EXPECT_NE(during.sa_sigaction, before.sa_sigaction);
        EXPECT_NE(std::get_terminate(), terminateBefore);
    }
    struct sigaction after = {};
    ::sigaction(SIGSEGV, nullptr, &after);
    EXPECT_EQ(after.sa_sigaction, before.sa_sigaction);
    // The C library adds its return trampoline's flag (SA_RESTORER) on the way in.
    constexpr int kRestorer = 0x04000000;
    EXPECT_EQ(after.sa_flags & ~kRestorer, before.sa_flags & ~kRestorer);
    EXPECT_EQ(std::get_terminate(), terminateBefore);
}

TEST(CrashReportProgram, ThePlayerReportsItsOwnCrash)
{
    QTemporaryDir temp;
    const QByteArray tempPath = QFile::encodeName(temp.path());
    const int status = run(QStringLiteral(BRISOLDE_PROGRAM), {},
                           {{"TEMP", tempPath.constData()},
                            {"BRISOLDE_TEST_CRASH", "null-write"},
                            {"QT_QPA_PLATFORM", "offscreen"}});
    expectEndedBy(status, SIGSEGV);
    const Report report = readReport(temp.filePath(QStringLiteral("brisolde-crashtest.err")));
    ASSERT_TRUE(report.exists());
    expectWholeReport(report, QStringLiteral("Exception code: C0000005 ACCESS_VIOLATION"));
    const QString program = QFileInfo(QStringLiteral(BRISOLDE_PROGRAM)).canonicalFilePath();
    EXPECT_EQ(report.find("Fault address:  " + kAddress + " [0-9A-F]{2}:[0-9A-F]{8} " +
                          QRegularExpression::escape(program)),
              2);
    const int locals = report.findExact("**** Local Variables And Parameters");
    const int crash =
        report.find(kAddress + "  " + kAddress +
                        "  crashIfTestAsks\\(\\)\\+[0-9A-F]+  \\S*testcrash\\.cpp line [0-9]+",
                    locals);
    ASSERT_NE(crash, -1);
    EXPECT_EQ(report.lines.mid(crash + 1, 3),
              QStringList({"\tLocal (how) = \"null-write\"", "\tLocal (nAnswer) int = <0x2A>",
                           "\tLocal (pszWhat) = \"null-write\""}));
    EXPECT_NE(report.find(".*  main\\+[0-9A-F]+  \\S*app/main\\.cpp line [0-9]+", crash), -1);
}

} // namespace
