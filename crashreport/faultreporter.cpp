// The crash handlers: installing them and putting back what was there,
// the report file, and handing the crash on after the report.
#include "faultreporter.h"
#include "reporterinternal.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <typeinfo>
#include <unistd.h>

using namespace debughelp;
using namespace crashreport;

struct sigaction CFaultReporter::m_previousActions[kSignalCount];
bool CFaultReporter::m_bInstalled[kSignalCount];
std::terminate_handler CFaultReporter::m_pfnPreviousTerminate = nullptr;
crashstack::ScopedStack* CFaultReporter::m_pMainStack = nullptr;
char CFaultReporter::m_szExePath[kPathSize];
char CFaultReporter::m_szReportPath[kPathSize];
int CFaultReporter::m_hReportFile = -1;
pid_t CFaultReporter::m_hProcess = 0;
char CFaultReporter::m_szExceptionText[512];
char CFaultReporter::m_szCppExceptionText[512];
bool CFaultReporter::m_bTerminateReported = false;
bool CFaultReporter::m_bStackOverflow = false;
char* CFaultReporter::m_pszLineStart = nullptr;
bool CFaultReporter::m_bLineCut = false;
uint64_t CFaultReporter::m_uFirstModuleAddress = 0;
sigjmp_buf CFaultReporter::m_reportJump;
sigjmp_buf CFaultReporter::m_variableJump;
volatile sig_atomic_t CFaultReporter::m_bInVariable = 0;
volatile sig_atomic_t CFaultReporter::m_bTimedOut = 0;
void* CFaultReporter::m_hDebugHelp = nullptr;
SymGetTypeInfoFn CFaultReporter::m_pfnSymGetTypeInfo = nullptr;
SymSetOptionsFn CFaultReporter::m_pfnSymSetOptions = nullptr;
SymInitializeFn CFaultReporter::m_pfnSymInitialize = nullptr;
SymCleanupFn CFaultReporter::m_pfnSymCleanup = nullptr;
SymEnumSymbolsFn CFaultReporter::m_pfnSymEnumSymbols = nullptr;
SymSetContextFn CFaultReporter::m_pfnSymSetContext = nullptr;
SymFromAddrFn CFaultReporter::m_pfnSymFromAddr = nullptr;
SymGetLineFromAddrFn CFaultReporter::m_pfnSymGetLineFromAddr = nullptr;
StackWalkFn CFaultReporter::m_pfnStackWalk = nullptr;
SymFunctionTableAccessFn CFaultReporter::m_pfnSymFunctionTableAccess = nullptr;
SymGetModuleBaseFn CFaultReporter::m_pfnSymGetModuleBase = nullptr;

namespace {

// The thread writing a report, 0 when none is.
std::atomic<pid_t> g_writerThread{0};

// When the last report was done, in seconds of the monotonic clock; 0 for never.
std::atomic<int64_t> g_lastReportEnd{0};
constexpr int64_t kRecentSeconds = 10;

int64_t monotonicSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    // Never 0, which stands for "no report yet".
    return static_cast<int64_t>(now.tv_sec) + 1;
}

// A report that takes longer than this is stuck (for example on a lock the
// crashed code held) and is ended, so the crash is still handed on.
constexpr time_t kWatchdogSeconds = 20;

constexpr struct
{
    uint32_t code;
    const char* name;
} kExceptionNames[] = {
    {0x80000001, "GUARD_PAGE"},
    {0x80000002, "DATATYPE_MISALIGNMENT"},
    {0x80000003, "BREAKPOINT"},
    {0x80000004, "SINGLE_STEP"},
    {0xC0000005, "ACCESS_VIOLATION"},
    {0xC0000006, "IN_PAGE_ERROR"},
    {0xC0000008, "INVALID_HANDLE"},
    {0xC000001D, "ILLEGAL_INSTRUCTION"},
    {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "INVALID_DISPOSITION"},
    {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "FLT_DENORMAL_OPERAND"},
    {0xC000008E, "FLT_DIVIDE_BY_ZERO"},
    {0xC000008F, "FLT_INEXACT_RESULT"},
    {0xC0000090, "FLT_INVALID_OPERATION"},
    {0xC0000091, "FLT_OVERFLOW"},
    {0xC0000092, "FLT_STACK_CHECK"},
    {0xC0000093, "FLT_UNDERFLOW"},
    {0xC0000094, "INT_DIVIDE_BY_ZERO"},
    {0xC0000095, "INT_OVERFLOW"},
    {0xC0000096, "PRIV_INSTRUCTION"},
    {0xC00000FD, "STACK_OVERFLOW"},
};
constexpr uint32_t kAccessViolation = 0xC0000005;

// Whether a fault at `address` hit the guard area below the thread's stack.
bool isStackOverflow(uint64_t address, uint64_t stackPointer)
{
    const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    pthread_attr_t attr;
    if (::pthread_getattr_np(::pthread_self(), &attr) == 0) {
        void* low = nullptr;
        size_t size = 0;
        size_t guard = 0;
        ::pthread_attr_getstack(&attr, &low, &size);
        ::pthread_attr_getguardsize(&attr, &guard);
        ::pthread_attr_destroy(&attr);
        const uint64_t bottom = reinterpret_cast<uint64_t>(low);
        // The kernel keeps a gap of 256 pages below a growing stack.
        const uint64_t gap = std::max<uint64_t>(guard, 256 * page);
        if (bottom != 0)
            return address < bottom + page && address + gap >= bottom;
    }
    return address < stackPointer && stackPointer - address <= 16 * page;
}

} // namespace

CFaultReporter::CFaultReporter()
{
    // 1. The crash handlers, on a stack of their own so that a stack overflow
    //    can be reported too.
    m_pMainStack = new crashstack::ScopedStack;
    struct sigaction action = {};
    action.sa_sigaction = &CFaultReporter::OnSignal;
    // No deferring: a fault inside the writer comes back here at once and
    // ends the report instead of killing the process outright.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignalCount; ++i)
        m_bInstalled[i] = ::sigaction(kSignals[i], &action, &m_previousActions[i]) == 0;
    m_pfnPreviousTerminate = std::set_terminate(&CFaultReporter::OnTerminate);

    // 2. The report path.
    const ssize_t length = ::readlink("/proc/self/exe", m_szExePath, sizeof m_szExePath - 1);
    m_szExePath[length > 0 ? length : 0] = '\0';
    const char* temp = TemporaryFolder(std::getenv("TEMP"), std::getenv("TMPDIR"));
    if (!MakeReportPath(m_szExePath, temp, m_szReportPath, sizeof m_szReportPath))
        m_szReportPath[0] = '\0';

    // 3. The process whose symbols the reports show.
    m_hProcess = ::getpid();

    // 4. The debug-help library: by name, as the program's run path finds it,
    //    else beside the program or in its ../lib, where it is installed.
    m_hDebugHelp = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!m_hDebugHelp && m_szExePath[0]) {
        char candidate[kPathSize];
        const char* slash = std::strrchr(m_szExePath, '/');
        const int folder = static_cast<int>(slash - m_szExePath);
        for (const char* place : {"/../lib/", "/"}) {
            if (std::snprintf(candidate, sizeof candidate, "%.*s%s%s", folder, m_szExePath, place,
                              kLibraryName) < static_cast<int>(sizeof candidate))
                m_hDebugHelp = ::dlopen(candidate, RTLD_NOW | RTLD_LOCAL);
            if (m_hDebugHelp)
                break;
        }
    }
    if (!m_hDebugHelp)
        return;
    // Each entry point may be missing on its own; the library stays loaded.
    auto find = [](auto& entry, const char* name) {
        entry =
            reinterpret_cast<std::remove_reference_t<decltype(entry)>>(::dlsym(m_hDebugHelp, name));
    };
    find(m_pfnSymGetTypeInfo, "SymGetTypeInfo");
    find(m_pfnSymSetOptions, "SymSetOptions");
    find(m_pfnSymInitialize, "SymInitialize");
    find(m_pfnSymCleanup, "SymCleanup");
    find(m_pfnSymEnumSymbols, "SymEnumSymbols");
    find(m_pfnSymSetContext, "SymSetContext");
    find(m_pfnSymFromAddr, "SymFromAddr");
    find(m_pfnSymGetLineFromAddr, "SymGetLineFromAddr");
    find(m_pfnStackWalk, "StackWalk");
    find(m_pfnSymFunctionTableAccess, "SymFunctionTableAccess");
    find(m_pfnSymGetModuleBase, "SymGetModuleBase");
}

CFaultReporter::~CFaultReporter()
{
    for (size_t i = 0; i < kSignalCount; ++i) {
        if (m_bInstalled[i])
            ::sigaction(kSignals[i], &m_previousActions[i], nullptr);
    }
    std::set_terminate(m_pfnPreviousTerminate);
    delete m_pMainStack;
    m_pMainStack = nullptr;
}

const char* CFaultReporter::TemporaryFolder(const char* temp, const char* tmpdir,
                                            const char* systemFolder)
{
    if (temp && *temp)
        return temp;
    if (tmpdir && *tmpdir)
        return tmpdir;
    // An installed program's own folder is not writable: the system's
    // temporary folder comes first.
    if (systemFolder && ::access(systemFolder, W_OK | X_OK) == 0)
        return systemFolder;
    return nullptr;
}

bool CFaultReporter::MakeReportPath(const char* exePath, const char* tempDir, char* path,
                                    size_t size)
{
    if (!exePath || !*exePath || size == 0)
        return false;
    const char* slash = std::strrchr(exePath, '/');
    const char* filePart = slash ? slash + 1 : exePath;
    int written = 0;
    if (tempDir && *tempDir)
        written = std::snprintf(path, size, "%s/%s", tempDir, filePart);
    else
        written = std::snprintf(path, size, "%s", exePath);
    if (written < 0 || static_cast<size_t>(written) >= size)
        return false;
    // The extension is looked for in the file's own name only (a folder such
    // as ~/.local must not cut the path), and a name without one gets ".err"
    // added, so that the report can never take the program's place.
    char* name = std::strrchr(path, '/');
    name = name ? name + 1 : path;
    char* dot = std::strrchr(name, '.');
    const size_t room = size - static_cast<size_t>(name - path);
    if (dot && dot != name) {
        const size_t before = static_cast<size_t>(dot - name);
        if (before + 5 > room)
            return false;
        std::memcpy(dot, ".err", 5);
    } else {
        const size_t length = std::strlen(name);
        if (length + 5 > room)
            return false;
        std::memcpy(name + length, ".err", 5);
    }
    return true;
}

uint32_t CFaultReporter::ExceptionCodeFromSignal(int signal, const siginfo_t* detail,
                                                 const ucontext_t* context)
{
    const int code = detail ? detail->si_code : 0;
    switch (signal) {
    case SIGSEGV: {
        const uint64_t address = detail ? reinterpret_cast<uint64_t>(detail->si_addr) : 0;
        if (detail && code > 0 && context && isStackOverflow(address, reg(context, REG_RSP)))
            return kStackOverflow;
        return kAccessViolation;
    }
    case SIGBUS:
        return code == BUS_ADRALN ? 0x80000002 : 0xC0000006;
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV:
            return 0xC0000094;
        case FPE_INTOVF:
            return 0xC0000095;
        case FPE_FLTDIV:
            return 0xC000008E;
        case FPE_FLTOVF:
            return 0xC0000091;
        case FPE_FLTUND:
            return 0xC0000093;
        case FPE_FLTRES:
            return 0xC000008F;
        case FPE_FLTINV:
            return 0xC0000090;
        default:
            return kCodeSignalBase + static_cast<uint32_t>(signal);
        }
    case SIGILL:
        return code == ILL_PRVOPC ? 0xC0000096 : 0xC000001D;
    case SIGTRAP:
        return 0x80000003;
    default:
        return kCodeSignalBase + static_cast<uint32_t>(signal);
    }
}

const char* CFaultReporter::ExceptionCodeName(uint32_t code)
{
    for (const auto& entry : kExceptionNames) {
        if (entry.code == code)
            return entry.name;
    }
    // Codes of our own: the system's description of the signal, or what the
    // uncaught exception says of itself.
    m_szExceptionText[0] = '\0';
    if (code == kCodeCppException) {
        std::snprintf(m_szExceptionText, sizeof m_szExceptionText, "%s", m_szCppExceptionText);
    } else if (code > kCodeSignalBase && code < kCodeSignalBase + 65) {
        const char* text = ::sigdescr_np(static_cast<int>(code - kCodeSignalBase));
        std::snprintf(m_szExceptionText, sizeof m_szExceptionText, "%s", text ? text : "");
    }
    return m_szExceptionText;
}

// The signal handler: writes the report, then hands the signal on.
void CFaultReporter::OnSignal(int signal, siginfo_t* detail, void* contextRecord)
{
    auto* context = static_cast<ucontext_t*>(contextRecord);
    if (g_writerThread.load() == currentThread()) {
        // A fault inside the writer: the variable being formatted is given
        // up, or else the report ends here.
        if (m_bInVariable && !m_bTimedOut)
            siglongjmp(m_variableJump, 1);
        siglongjmp(m_reportJump, 1);
    }
    FaultInfo info{ExceptionCodeFromSignal(signal, detail, context), reg(context, REG_RIP), context,
                   signal, detail};
    // After an uncaught exception was reported, its abort only ends the process.
    if (signal == SIGABRT && m_bTerminateReported) {
        HandOn(&info);
        return;
    }
    if (!EnterWriter())
        return;
    // A breakpoint instruction has already run when its trap arrives: the
    // report names the instruction itself, as it names a faulting one.
    static ucontext_t trapContext;
    uint8_t instruction = 0;
    if (signal == SIGTRAP && detail->si_code == SI_KERNEL && info.address != 0 &&
        readMemory(info.address - 1, &instruction, 1) && instruction == 0xCC) {
        std::memcpy(&trapContext, context, sizeof trapContext);
        --info.address;
        trapContext.uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(info.address);
        info.context = &trapContext;
    }
    if (!ReportedJustNow())
        FaultFilter(&info);
    LeaveWriter();
    HandOn(&info);
}

void CFaultReporter::OnTerminate()
{
    ucontext_t context;
    std::memset(&context, 0, sizeof context);
    ::getcontext(&context);
    m_szCppExceptionText[0] = '\0';
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& error) {
            std::snprintf(m_szCppExceptionText, sizeof m_szCppExceptionText, "%s", error.what());
        } catch (...) {
            const std::type_info* type = abi::__cxa_current_exception_type();
            int status = 0;
            char* name =
                type ? abi::__cxa_demangle(type->name(), nullptr, nullptr, &status) : nullptr;
            std::snprintf(m_szCppExceptionText, sizeof m_szCppExceptionText, "%s",
                          name ? name : (type ? type->name() : ""));
            std::free(name);
        }
    } else {
        std::snprintf(m_szCppExceptionText, sizeof m_szCppExceptionText,
                      "terminate called without an active exception");
    }
    FaultInfo info{kCodeCppException, reinterpret_cast<uint64_t>(__builtin_return_address(0)),
                   &context, 0, nullptr};
    if (EnterWriter()) {
        m_bTerminateReported = true;
        if (!ReportedJustNow())
            FaultFilter(&info);
        LeaveWriter();
    }
    HandOn(&info);
}

bool CFaultReporter::EnterWriter()
{
    const pid_t self = currentThread();
    pid_t expected = 0;
    // Another thread is writing its report; that report ends the process.
    while (!g_writerThread.compare_exchange_strong(expected, self)) {
        if (expected == self)
            return false;
        expected = 0;
        const timespec pause{0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    return true;
}

void CFaultReporter::LeaveWriter()
{
    g_lastReportEnd.store(monotonicSeconds());
    g_writerThread.store(0);
}

bool CFaultReporter::ReportedJustNow()
{
    // A thread that crashes while the process goes down after another
    // thread's crash would only replace the report of the crash that matters.
    const int64_t last = g_lastReportEnd.load();
    return last != 0 && monotonicSeconds() - last < kRecentSeconds;
}

void CFaultReporter::OnWatchdog(int signal, siginfo_t* detail, void* context)
{
    m_bTimedOut = 1;
    OnSignal(signal, detail, context);
}

void CFaultReporter::FaultFilter(const FaultInfo* info)
{
    if (!m_szReportPath[0])
        return;
    // Removing first and then creating exclusively, without following a
    // link, means nobody can plant a file or link there to redirect the report.
    ::unlink(m_szReportPath);
    m_hReportFile =
        ::open(m_szReportPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_hReportFile < 0)
        return;

    struct sigaction watchdog = {};
    struct sigaction previousAlarm = {};
    watchdog.sa_sigaction = &CFaultReporter::OnWatchdog;
    watchdog.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&watchdog.sa_mask);
    ::sigaction(SIGALRM, &watchdog, &previousAlarm);
    timer_t timer{};
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = SIGALRM;
    event._sigev_un._tid = currentThread();
    const bool timed = ::timer_create(CLOCK_MONOTONIC, &event, &timer) == 0;
    if (timed) {
        itimerspec when{};
        when.it_value.tv_sec = kWatchdogSeconds;
        ::timer_settime(timer, 0, &when, nullptr);
    }
    m_bTimedOut = 0;
    m_bInVariable = 0;
    if (sigsetjmp(m_reportJump, 1) == 0)
        WriteReport(info);
    else
        ReportPrintf("\r\n**** End Of Report\r\n");
    if (timed)
        ::timer_delete(timer);
    ::sigaction(SIGALRM, &previousAlarm, nullptr);
    // The file is complete on disk before the process goes.
    ::fsync(m_hReportFile);
    ::close(m_hReportFile);
    m_hReportFile = -1;
}

void CFaultReporter::HandOn(const FaultInfo* info)
{
    if (info->signal == 0) {
        // An uncaught exception goes on to the terminate handler before ours.
        if (m_pfnPreviousTerminate)
            m_pfnPreviousTerminate();
        std::abort();
    }
    for (size_t i = 0; i < kSignalCount; ++i) {
        if (kSignals[i] == info->signal)
            ::sigaction(info->signal, &m_previousActions[i], nullptr);
    }
    // A fault happens again when the instruction runs again, now meeting the
    // previous handling (a core dump by default). A signal that was sent or
    // raised, or a trap that has already passed, must be raised anew.
    if (!info->detail || info->detail->si_code <= 0 || info->signal == SIGABRT ||
        info->signal == SIGTRAP)
        ::syscall(SYS_tgkill, ::getpid(), currentThread(), info->signal);
}
