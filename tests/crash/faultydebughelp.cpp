// A debug-help library that faults in its stack walk, standing in for a
// broken one: the writer must end its report and still hand the crash on.
// With FAULTY_DEBUGHELP_HANG set it never returns from SymInitialize instead,
// as when the crash left a lock held that the library needs; with
// FAULTY_DEBUGHELP_FAIL its SymInitialize fails.
#include "debughelp.h"

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {
volatile uintptr_t g_uNowhere = 0;
}

extern "C" {

bool SymInitialize(pid_t, const char*, bool)
{
    while (std::getenv("FAULTY_DEBUGHELP_HANG"))
        ::pause();
    return !std::getenv("FAULTY_DEBUGHELP_FAIL");
}

__attribute__((no_sanitize("undefined"))) bool
StackWalk(uint32_t, pid_t, pid_t, debughelp::StackFrame*, void*, debughelp::ReadMemoryRoutine,
          debughelp::FunctionTableAccessRoutine, debughelp::GetModuleBaseRoutine,
          debughelp::TranslateAddressRoutine)
{
    return *reinterpret_cast<volatile int*>(g_uNowhere) != 0;
}

void* SymFunctionTableAccess(pid_t, uint64_t)
{
    return nullptr;
}

uint64_t SymGetModuleBase(pid_t, uint64_t)
{
    return 0;
}
}
