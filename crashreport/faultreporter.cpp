#include "faultreporter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <typeinfo>
#include <unistd.h>

using namespace debughelp;

struct sigaction CFaultReporter::m_previousActions[kSignalCount];
bool CFaultReporter::m_bInstalled[kSignalCount];
std::terminate_handler CFaultReporter::m_pfnPreviousTerminate = nullptr;
stack_t CFaultReporter::m_previousAltStack;
void* CFaultReporter::m_pAltStack = nullptr;
size_t CFaultReporter::m_nAltStackSize = 0;
char CFaultReporter::m_szExePath[kPathSize];
char CFaultReporter::m_szReportPath[kPathSize];
int CFaultReporter::m_hReportFile = -1;
pid_t CFaultReporter::m_hProcess = 0;
char CFaultReporter::m_szExceptionText[512];
char CFaultReporter::m_szCppExceptionText[512];
bool CFaultReporter::m_bTerminateReported = false;
bool CFaultReporter::m_bStackOverflow = false;
char* CFaultReporter::m_pszLineStart = nullptr;
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

// A runaway recursion leaves more frames than anyone reads; its report lists
// the innermost ones, which show the recursion and where it broke.
constexpr unsigned kOverflowFrames = 256;
constexpr unsigned kMaxFrames = 65536;

// Room for the stack walk, the symbol lookups and the report's buffers when
// the crash is a stack overflow and the thread's own stack is used up.
constexpr size_t kAltStackSize = 1024 * 1024;

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
constexpr uint32_t kStackOverflow = 0xC00000FD;

bool readMemory(uint64_t address, void* buffer, size_t size, bool* unsure = nullptr);

pid_t currentThread()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

uint64_t reg(const ucontext_t* context, int index)
{
    return static_cast<uint64_t>(context->uc_mcontext.gregs[index]);
}

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

void segmentRegisters(const ucontext_t* context, unsigned* cs, unsigned* ss, unsigned* ds,
                      unsigned* es, unsigned* fs, unsigned* gs)
{
    uint16_t value = 0;
    __asm__("mov %%cs, %0" : "=r"(value));
    *cs = value;
    __asm__("mov %%ss, %0" : "=r"(value));
    *ss = value;
    __asm__("mov %%ds, %0" : "=r"(value));
    *ds = value;
    __asm__("mov %%es, %0" : "=r"(value));
    *es = value;
    __asm__("mov %%fs, %0" : "=r"(value));
    *fs = value;
    __asm__("mov %%gs, %0" : "=r"(value));
    *gs = value;
    // A signal context holds CS, GS and FS (and SS, where the kernel saves
    // it); DS and ES do not change in a 64-bit process.
    const uint64_t packed = reg(context, REG_CSGSFS);
    if (packed != 0) {
        *cs = packed & 0xFFFF;
        *gs = (packed >> 16) & 0xFFFF;
        *fs = (packed >> 32) & 0xFFFF;
#ifdef UC_SIGCONTEXT_SS
        if (context->uc_flags & UC_SIGCONTEXT_SS)
            *ss = (packed >> 48) & 0xFFFF;
#endif
    }
}

struct ModuleSearch
{
    uint64_t address;
    char* path;
    size_t pathSize;
    const char* exePath;
    unsigned section;
    uint32_t offset;
    uint64_t base;
    bool found;
};

int searchModule(dl_phdr_info* info, size_t, void* data)
{
    auto* search = static_cast<ModuleSearch*>(data);
    const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    unsigned index = 0;
    uint64_t base = 0;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type != PT_LOAD)
            continue;
        ++index;
        const uint64_t start = info->dlpi_addr + header.p_vaddr;
        if (index == 1)
            base = start & ~(page - 1);
        const uint64_t size = std::max<uint64_t>(header.p_filesz, header.p_memsz);
        if (search->address >= start && search->address <= start + size) {
            const char* name =
                info->dlpi_name && *info->dlpi_name ? info->dlpi_name : search->exePath;
            if (search->pathSize == 0)
                return 1;
            std::snprintf(search->path, search->pathSize, "%s", name);
            search->section = index;
            search->offset = static_cast<uint32_t>(search->address - start);
            search->base = base;
            search->found = true;
            return 1;
        }
    }
    return 0;
}

// Maps a stack for the crash handlers and makes it the calling thread's
// alternate signal stack; its size goes to `size`, null when that fails.
void* installAltStack(size_t* size, stack_t* previous)
{
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    void* area = ::mmap(nullptr, kAltStackSize + page, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (area == MAP_FAILED)
        return nullptr;
    // A guard page below, so that an overflow of this stack faults at once.
    ::mprotect(area, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(area) + page;
    stack.ss_size = kAltStackSize;
    if (::sigaltstack(&stack, previous) != 0) {
        ::munmap(area, kAltStackSize + page);
        return nullptr;
    }
    *size = kAltStackSize + page;
    return area;
}

void removeAltStack(void* area, size_t size, const stack_t* previous)
{
    if (!area)
        return;
    ::sigaltstack(previous, nullptr);
    ::munmap(area, size);
}

} // namespace

CFaultReporter::CThreadStack::CThreadStack()
{
    m_pStack = installAltStack(&m_nSize, &m_previous);
}

CFaultReporter::CThreadStack::~CThreadStack()
{
    removeAltStack(m_pStack, m_nSize, &m_previous);
}

CFaultReporter::CFaultReporter()
{
    // 1. The crash handlers, on a stack of their own so that a stack overflow
    //    can be reported too.
    m_pAltStack = installAltStack(&m_nAltStackSize, &m_previousAltStack);
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
    const char* temp = std::getenv("TEMP");
    if (!temp || !*temp)
        temp = std::getenv("TMPDIR");
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
    removeAltStack(m_pAltStack, m_nAltStackSize, &m_previousAltStack);
    m_pAltStack = nullptr;
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

bool CFaultReporter::LocateInModule(uint64_t address, char* path, size_t pathSize,
                                    unsigned* section, uint32_t* offset, uint64_t* moduleBase)
{
    ModuleSearch search{address, path, pathSize, m_szExePath, 0, 0, 0, false};
    ::dl_iterate_phdr(&searchModule, &search);
    if (!search.found)
        return false;
    *section = search.section;
    *offset = search.offset;
    if (moduleBase)
        *moduleBase = search.base;
    return true;
}

// Kept apart from the sanitizers' own null checks, which would end the
// process before the fault does.
__attribute__((no_sanitize("undefined"))) void CFaultReporter::CrashIfTestAsks()
{
    const char* how = std::getenv("BRISOLDE_TEST_CRASH");
    if (!how || std::strcmp(how, "null-write") != 0)
        return;
    // What a report shows of a frame: an int and a string.
    int nAnswer = 42;
    const char* pszWhat = "null-write";
    volatile uintptr_t uTarget = 0;
    *reinterpret_cast<volatile int*>(uTarget) = nAnswer + static_cast<int>(std::strlen(pszWhat));
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

void CFaultReporter::ReportPrintf(const char* format, ...)
{
    static char buffer[1024];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length <= 0)
        return;
    const size_t size = std::min(static_cast<size_t>(length), sizeof buffer - 1);
    [[maybe_unused]] const ssize_t written = ::write(m_hReportFile, buffer, size);
}

void CFaultReporter::WriteReport(const FaultInfo* info)
{
    m_hProcess = ::getpid();
    m_uFirstModuleAddress = 0;
    m_bStackOverflow = info->code == kStackOverflow;
    const ucontext_t* context = info->context;
    ReportPrintf("**** Exception Handler Report\r\n");
    ReportPrintf("Exception code: %08X %s\r\n", info->code, ExceptionCodeName(info->code));
    static char modulePath[kPathSize];
    modulePath[0] = '\0';
    unsigned section = 0;
    uint32_t offset = 0;
    uint64_t moduleBase = 0;
    const bool inModule = LocateInModule(info->address, modulePath, sizeof modulePath, &section,
                                         &offset, &moduleBase);
    ReportPrintf("Fault address:  %08llX %02X:%08X %s\r\n",
                 static_cast<unsigned long long>(info->address), section, offset, modulePath);

    ReportPrintf("\r\n**** Registers:\r\n");
    auto r = [context](int index) {
        return static_cast<unsigned long long>(reg(context, index));
    };
    ReportPrintf("RAX:%016llX\r\nRBX:%016llX\r\nRCX:%016llX\r\nRDX:%016llX\r\nRSI:%016llX\r\n"
                 "RDI:%016llX\r\n",
                 r(REG_RAX), r(REG_RBX), r(REG_RCX), r(REG_RDX), r(REG_RSI), r(REG_RDI));
    ReportPrintf("R8:%016llX\r\nR9:%016llX\r\nR10:%016llX\r\nR11:%016llX\r\nR12:%016llX\r\n"
                 "R13:%016llX\r\nR14:%016llX\r\nR15:%016llX\r\n",
                 r(REG_R8), r(REG_R9), r(REG_R10), r(REG_R11), r(REG_R12), r(REG_R13), r(REG_R14),
                 r(REG_R15));
    unsigned cs = 0, ss = 0, ds = 0, es = 0, fs = 0, gs = 0;
    segmentRegisters(context, &cs, &ss, &ds, &es, &fs, &gs);
    ReportPrintf("CS:RIP:%04X:%016llX\r\n", cs, r(REG_RIP));
    ReportPrintf("SS:RSP:%04X:%016llX  RBP:%016llX\r\n", ss, r(REG_RSP), r(REG_RBP));
    ReportPrintf("DS:%04X  ES:%04X  FS:%04X  GS:%04X\r\n", ds, es, fs, gs);
    ReportPrintf("Flags:%016llX\r\n", r(REG_EFL));

    if (m_pfnSymSetOptions)
        m_pfnSymSetOptions(kOptionDeferredLoads);
    if (m_pfnSymInitialize) {
        if (!m_pfnSymInitialize(m_hProcess, nullptr, true)) {
            ReportPrintf("**** End Of Report\r\n");
            return;
        }
        // The walk rewrites the context it is given: each pass has its own copy.
        static ucontext_t walkContext;
        std::memcpy(&walkContext, context, sizeof walkContext);
        WriteCallStack(&walkContext, false);
        ReportPrintf("\r\n**** Local Variables And Parameters\r\n");
        std::memcpy(&walkContext, context, sizeof walkContext);
        WriteCallStack(&walkContext, true);
        ReportPrintf("\r\n**** Global Variables\r\n");
        // A fault outside every module (a call through a null pointer) shows
        // the globals of the module that made the call.
        if (!inModule && m_uFirstModuleAddress) {
            LocateInModule(m_uFirstModuleAddress, modulePath, sizeof modulePath, &section, &offset,
                           &moduleBase);
        }
        if (m_pfnSymEnumSymbols && moduleBase)
            m_pfnSymEnumSymbols(m_hProcess, moduleBase, nullptr, &CFaultReporter::OnSymbol,
                                nullptr);
    }
    if (m_pfnSymCleanup)
        m_pfnSymCleanup(m_hProcess);
    ReportPrintf("\r\n");
    ReportPrintf("**** End Of Report\r\n");
}

void CFaultReporter::WriteCallStack(ucontext_t* context, bool withVariables)
{
    ReportPrintf("\r\n**** Call stack:\r\n");
    ReportPrintf("Address   Frame     Function            SourceFile\r\n");
    static StackFrame frame;
    std::memset(&frame, 0, sizeof frame);
    frame.addrPC = {reg(context, REG_RIP), kAddrModeFlat};
    frame.addrFrame = {reg(context, REG_RBP), kAddrModeFlat};
    frame.addrStack = {reg(context, REG_RSP), kAddrModeFlat};
    if (!m_pfnStackWalk || !m_pfnSymFunctionTableAccess || !m_pfnSymGetModuleBase)
        return;
    static struct
    {
        SymbolInfo info;
        char name[1024];
    } symbol;
    static char modulePath[kPathSize];
    unsigned frames = 0;
    uint64_t previousPC = 0;
    uint64_t previousFrame = 0;
    while (m_pfnStackWalk(kMachineAmd64, m_hProcess, currentThread(), &frame, context, nullptr,
                          m_pfnSymFunctionTableAccess, m_pfnSymGetModuleBase, nullptr)) {
        if (frame.addrFrame.offset == 0)
            break;
        // A damaged stack can lead the walk round in a circle.
        if (++frames > (m_bStackOverflow ? kOverflowFrames : kMaxFrames) ||
            (frame.addrPC.offset == previousPC && frame.addrFrame.offset == previousFrame))
            break;
        previousPC = frame.addrPC.offset;
        previousFrame = frame.addrFrame.offset;
        const uint64_t pc = frame.addrPC.offset;
        ReportPrintf("%08llX  %08llX  ", static_cast<unsigned long long>(pc),
                     static_cast<unsigned long long>(frame.addrFrame.offset));
        std::memset(&symbol, 0, sizeof symbol);
        symbol.info.sizeOfStruct = sizeof symbol;
        symbol.info.maxNameLen = sizeof symbol.name;
        uint64_t displacement = 0;
        if (m_pfnSymFromAddr && m_pfnSymFromAddr(m_hProcess, pc, &displacement, &symbol.info)) {
            ReportPrintf("%s+%llX", symbol.info.name,
                         static_cast<unsigned long long>(displacement));
        } else {
            std::memset(modulePath, 0, sizeof modulePath);
            unsigned section = 0;
            uint32_t offset = 0;
            LocateInModule(pc, modulePath, sizeof modulePath, &section, &offset);
            ReportPrintf("%04X:%08X %s", section, offset, modulePath);
        }
        if (m_pfnSymGetLineFromAddr) {
            LineInfo line{};
            line.sizeOfStruct = sizeof line;
            uint32_t lineDisplacement = 0;
            if (m_pfnSymGetLineFromAddr(m_hProcess, pc, &lineDisplacement, &line))
                ReportPrintf("  %s line %u", line.fileName, line.lineNumber);
        }
        ReportPrintf("\r\n");
        if (!m_uFirstModuleAddress && m_pfnSymGetModuleBase(m_hProcess, pc) != 0)
            m_uFirstModuleAddress = pc;
        if (withVariables) {
            StackFrameContext scope{};
            scope.instructionOffset = pc;
            if (m_pfnSymSetContext) {
                m_pfnSymSetContext(m_hProcess, &scope, nullptr);
                if (m_pfnSymEnumSymbols)
                    m_pfnSymEnumSymbols(m_hProcess, 0, nullptr, &CFaultReporter::OnSymbol, &frame);
            }
            ReportPrintf("\r\n");
        }
    }
}

bool CFaultReporter::OnSymbol(const SymbolInfo* symbol, uint32_t, void* userContext)
{
    static char line[kLineSize];
    // Kept in statics: a fault jumps back here past this frame's registers.
    static const SymbolInfo* current;
    current = symbol;
    m_bInVariable = 1;
    if (sigsetjmp(m_variableJump, 1) == 0) {
        if (FormatVariable(current, static_cast<const StackFrame*>(userContext), line))
            ReportPrintf("\t%s\r\n", line);
    } else {
        ReportPrintf("Symbol %s\r\n", current->name);
    }
    m_bInVariable = 0;
    return true;
}

char* CFaultReporter::Append(char* buffer, const char* format, ...)
{
    const size_t used = static_cast<size_t>(buffer - m_pszLineStart);
    if (used + 1 >= kLineSize)
        return buffer;
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, kLineSize - used, format, args);
    va_end(args);
    if (length <= 0)
        return buffer;
    return buffer + std::min(static_cast<size_t>(length), kLineSize - used - 1);
}

bool CFaultReporter::FormatVariable(const SymbolInfo* symbol, const StackFrame* frame, char* buffer)
{
    m_pszLineStart = buffer;
    buffer[0] = '\0';
    char* end = buffer;
    if (symbol->flags & kSymFlagParameter)
        end = Append(end, "Parameter ");
    else if (symbol->flags & kSymFlagLocal)
        end = Append(end, "Local ");
    if (symbol->tag == kSymTagFunction)
        return false;
    end = Append(end, "(%s)", symbol->name);
    uint64_t address = 0;
    if (symbol->flags & kSymFlagRegRelative) {
        // Counted from a frame; the global listing has none.
        if (!frame)
            Fault();
        address = frame->addrFrame.offset + symbol->address;
    } else if (symbol->flags & kSymFlagRegister) {
        return false;
    } else {
        address = symbol->address;
    }
    bool handled = false;
    end = AppendTypeDetails(end, symbol->modBase, symbol->typeIndex, 0, address, &handled);
    if (!handled)
        AppendScalarValue(end, QueryBasicType(symbol->typeIndex, symbol->modBase), symbol->size,
                          address);
    return true;
}

char* CFaultReporter::AppendTypeDetails(char* buffer, uint64_t moduleBase, uint32_t typeIndex,
                                        unsigned level, uint64_t address, bool* handled)
{
    *handled = false;
    // Classes nest only so deep; this bounds the walk over a damaged type graph.
    if (!m_pfnSymGetTypeInfo || level > 16)
        return buffer;
    char* name = nullptr;
    if (m_pfnSymGetTypeInfo(m_hProcess, moduleBase, typeIndex, kGetSymName, &name)) {
        buffer = Append(buffer, " %s", name);
        std::free(name);
    }
    uint32_t children = 0;
    if (!m_pfnSymGetTypeInfo(m_hProcess, moduleBase, typeIndex, kGetChildrenCount, &children))
        children = 0;
    if (children == 0)
        return buffer;
    struct
    {
        FindChildrenParams params;
        uint32_t more[1024];
    } block;
    std::memset(&block, 0, sizeof block);
    block.params.count = std::min<uint32_t>(children, 1025);
    block.params.start = 0;
    if (!m_pfnSymGetTypeInfo(m_hProcess, moduleBase, typeIndex, kFindChildren, &block.params))
        return buffer;
    buffer = Append(buffer, "\r\n");
    const uint32_t* ids = reinterpret_cast<const uint32_t*>(reinterpret_cast<const char*>(&block) +
                                                            offsetof(FindChildrenParams, childId));
    for (uint32_t i = 0; i < block.params.count; ++i) {
        const uint32_t child = ids[i];
        for (unsigned tab = 0; tab < level + 2; ++tab)
            buffer = Append(buffer, "\t");
        // A member that is itself a class lists its own members, which lie
        // at its offset inside the variable.
        uint32_t offset = 0;
        const bool hasOffset =
            m_pfnSymGetTypeInfo(m_hProcess, moduleBase, child, kGetOffset, &offset);
        bool childHandled = false;
        buffer = AppendTypeDetails(buffer, moduleBase, child, level + 1,
                                   address + (hasOffset ? offset : 0), &childHandled);
        if (childHandled)
            continue;
        uint32_t typeId = 0;
        uint64_t length = 0;
        // A member whose place or size cannot be had is shown by name alone.
        if (hasOffset && m_pfnSymGetTypeInfo(m_hProcess, moduleBase, child, kGetTypeId, &typeId) &&
            m_pfnSymGetTypeInfo(m_hProcess, moduleBase, typeId, kGetLength, &length))
            buffer = AppendScalarValue(buffer, QueryBasicType(child, moduleBase), length,
                                       address + offset);
        buffer = Append(buffer, "\r\n");
    }
    *handled = true;
    return buffer;
}

uint32_t CFaultReporter::QueryBasicType(uint32_t typeIndex, uint64_t moduleBase)
{
    if (!m_pfnSymGetTypeInfo)
        return 0;
    uint32_t basicType = 0;
    if (m_pfnSymGetTypeInfo(m_hProcess, moduleBase, typeIndex, kGetBaseType, &basicType))
        return basicType;
    uint32_t typeId = 0;
    if (m_pfnSymGetTypeInfo(m_hProcess, moduleBase, typeIndex, kGetTypeId, &typeId) &&
        m_pfnSymGetTypeInfo(m_hProcess, moduleBase, typeId, kGetBaseType, &basicType))
        return basicType;
    return 0;
}

char* CFaultReporter::AppendScalarValue(char* buffer, uint32_t basicType, uint64_t length,
                                        uint64_t address)
{
    switch (length) {
    case 1: {
        uint8_t value = 0;
        ReadOrFault(address, &value, sizeof value);
        return Append(buffer, " = <0x%X>", value);
    }
    case 2: {
        uint16_t value = 0;
        ReadOrFault(address, &value, sizeof value);
        return Append(buffer, " = <0x%X>", value);
    }
    case 4: {
        uint32_t value = 0;
        ReadOrFault(address, &value, sizeof value);
        if (basicType == kBtFloat) {
            float number = 0;
            std::memcpy(&number, &value, sizeof number);
            return Append(buffer, " = <%f>", static_cast<double>(number));
        }
        return Append(buffer, " = <0x%X>", value);
    }
    case 8: {
        uint64_t value = 0;
        ReadOrFault(address, &value, sizeof value);
        if (basicType == kBtFloat) {
            double number = 0;
            std::memcpy(&number, &value, sizeof number);
            return Append(buffer, " = <%lf>", number);
        }
        // Pointers are eight bytes here: a character pointer shows its string
        // when one can be read there.
        if (basicType == kBtChar) {
            char text[33];
            if (IsReadableString(value, text, 32))
                return Append(buffer, " = \"%.31s\"", text);
            return Append(buffer, " = <0x%llX>", static_cast<unsigned long long>(value));
        }
        return Append(buffer, " = <%llX>", static_cast<unsigned long long>(value));
    }
    default:
        return buffer;
    }
}

void CFaultReporter::Fault()
{
    if (m_bInVariable)
        siglongjmp(m_variableJump, 1);
    siglongjmp(m_reportJump, 1);
}

namespace {

bool readMemory(uint64_t address, void* buffer, size_t size, bool* unsure)
{
    iovec local{buffer, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    const ssize_t done = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
    if (unsure)
        *unsure = done < 0 && errno != EFAULT;
    return done == static_cast<ssize_t>(size);
}

// Where the system refuses process_vm_readv, the memory is read directly:
// a fault then comes back through the signal handler.
__attribute__((no_sanitize("address", "undefined"))) void copyDirectly(uint64_t address,
                                                                       void* buffer, size_t size)
{
    const volatile char* from = reinterpret_cast<const volatile char*>(address);
    char* to = static_cast<char*>(buffer);
    for (size_t i = 0; i < size; ++i)
        to[i] = from[i];
}

} // namespace

void CFaultReporter::ReadOrFault(uint64_t address, void* value, size_t size)
{
    bool unsure = false;
    if (readMemory(address, value, size, &unsure))
        return;
    if (!unsure)
        Fault();
    copyDirectly(address, value, size);
}

bool CFaultReporter::IsReadableString(uint64_t address, char* text, size_t size)
{
    // Readable up to its end or for `size` bytes, whichever comes first; a
    // page boundary may fall inside, so the bytes are read page by page.
    if (address == 0)
        return false;
    const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    size_t done = 0;
    while (done < size) {
        const uint64_t at = address + done;
        const size_t chunk = std::min<uint64_t>(size - done, page - at % page);
        bool unsure = false;
        if (!readMemory(at, text + done, chunk, &unsure))
            return false;
        if (std::memchr(text + done, '\0', chunk))
            return true;
        done += chunk;
    }
    text[size] = '\0';
    return true;
}
