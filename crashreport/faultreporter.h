// The crash report writer. One global object, constructed before anything
// else of the program runs, catches every crash of every thread (a fatal
// signal or an uncaught C++ exception), writes a plain-text report of it to
// the temporary folder, and hands the crash on to whatever handled it before,
// so the process still ends the way it would have.
//
// Threads: the handlers run on the crashing thread, on the stack set aside
// for them (crashstack: the reporter gives the first thread its stack, every
// other thread of the program takes its own as it starts). One thread writes
// at a time; a thread that crashes meanwhile waits for that report, which
// normally ends the process, and one that crashes within seconds after it
// hands its crash on unreported, since the first report is the one that
// tells what happened.
#pragma once

#include "crashstack.h"
#include "debughelp.h"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <setjmp.h>
#include <ucontext.h>

// What the report is about: the exception code, where it happened and the
// thread's registers at that moment.
struct FaultInfo
{
    uint32_t code;
    uint64_t address;
    const ucontext_t* context;
    int signal;              // 0 for an uncaught C++ exception
    const siginfo_t* detail; // null for an uncaught C++ exception
};

class CFaultReporter
{
public:
    CFaultReporter();
    ~CFaultReporter();
    CFaultReporter(const CFaultReporter&) = delete;
    CFaultReporter& operator=(const CFaultReporter&) = delete;

    // Exception codes outside the named table: a signal without a code of its
    // own gets kCodeSignalBase plus its number, an uncaught C++ exception
    // kCodeCppException.
    static constexpr uint32_t kCodeSignalBase = 0xE0000000;
    static constexpr uint32_t kCodeCppException = 0xE0000100;

    // The report path for an executable and a temporary folder (null or empty
    // when none is set): false when it does not fit `size`.
    static bool MakeReportPath(const char* exePath, const char* tempDir, char* path, size_t size);
    // The folder reports go to: TEMP, else TMPDIR (each when set and not
    // empty), else `systemFolder` (/tmp) when it can be written; null for none,
    // when the report goes beside the program.
    static const char* TemporaryFolder(const char* temp, const char* tmpdir,
                                       const char* systemFolder = "/tmp");

    // The exception code of a signal, as the report names it.
    static uint32_t ExceptionCodeFromSignal(int signal, const siginfo_t* detail,
                                            const ucontext_t* context);
    static const char* ExceptionCodeName(uint32_t code);

    // The module and loaded segment (counted from 1) holding `address`, and
    // the offset in that segment; false when the address is in no module.
    static bool LocateInModule(uint64_t address, char* path, size_t pathSize, unsigned* section,
                               uint32_t* offset, uint64_t* moduleBase = nullptr);

private:
    static void OnSignal(int signal, siginfo_t* detail, void* context);
    static void OnTerminate();
    static void OnWatchdog(int signal, siginfo_t* detail, void* context);
    static bool EnterWriter();
    static void LeaveWriter();
    static bool ReportedJustNow();

    static void FaultFilter(const FaultInfo* info);
    static void HandOn(const FaultInfo* info);
    static void WriteReport(const FaultInfo* info);
    static void WriteCallStack(ucontext_t* context, bool withVariables);
    static bool OnSymbol(const debughelp::SymbolInfo* symbol, uint32_t size, void* userContext);
    static bool FormatVariable(const debughelp::SymbolInfo* symbol,
                               const debughelp::StackFrame* frame, char* buffer);
    static char* AppendTypeDetails(char* buffer, uint64_t moduleBase, uint32_t typeIndex,
                                   unsigned level, uint64_t address, bool* handled);
    static uint32_t QueryBasicType(uint32_t typeIndex, uint64_t moduleBase);
    static char* AppendScalarValue(char* buffer, uint32_t basicType, uint64_t length,
                                   uint64_t address);
    static char* Append(char* buffer, const char* format, ...)
        __attribute__((format(printf, 2, 3)));
    static void ReadOrFault(uint64_t address, void* value, size_t size);
    static bool IsReadableString(uint64_t address, char* text, size_t size);
    // Formats one piece of the report and writes it whole; what is longer
    // than the buffer is cut with kCutMarker, keeping its line end.
    static void ReportPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void ReportWrite(const char* text, size_t length);
    [[noreturn]] static void Fault();

    static constexpr size_t kPathSize = 4096 + 16;
    static constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT};
    static constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];

    static struct sigaction m_previousActions[kSignalCount];
    static bool m_bInstalled[kSignalCount];
    static std::terminate_handler m_pfnPreviousTerminate;
    static crashstack::ScopedStack* m_pMainStack;

    static char m_szExePath[kPathSize];
    static char m_szReportPath[kPathSize];
    static int m_hReportFile;
    static pid_t m_hProcess;
    static char m_szExceptionText[512];
    static char m_szCppExceptionText[512];
    static bool m_bTerminateReported;
    static bool m_bStackOverflow;
    static constexpr size_t kLineSize = 2048;
    static constexpr size_t kPrintSize = 8192;
    static constexpr char kCutMarker[] = " [...]";
    static char* m_pszLineStart;
    static bool m_bLineCut;
    static uint64_t m_uFirstModuleAddress;

    static sigjmp_buf m_reportJump;
    static sigjmp_buf m_variableJump;
    static volatile sig_atomic_t m_bInVariable;
    static volatile sig_atomic_t m_bTimedOut;

    static void* m_hDebugHelp;
    static debughelp::SymGetTypeInfoFn m_pfnSymGetTypeInfo;
    static debughelp::SymSetOptionsFn m_pfnSymSetOptions;
    static debughelp::SymInitializeFn m_pfnSymInitialize;
    static debughelp::SymCleanupFn m_pfnSymCleanup;
    static debughelp::SymEnumSymbolsFn m_pfnSymEnumSymbols;
    static debughelp::SymSetContextFn m_pfnSymSetContext;
    static debughelp::SymFromAddrFn m_pfnSymFromAddr;
    static debughelp::SymGetLineFromAddrFn m_pfnSymGetLineFromAddr;
    static debughelp::StackWalkFn m_pfnStackWalk;
    static debughelp::SymFunctionTableAccessFn m_pfnSymFunctionTableAccess;
    static debughelp::SymGetModuleBaseFn m_pfnSymGetModuleBase;
};
