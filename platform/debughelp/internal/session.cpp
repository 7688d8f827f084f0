#include "session.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <sys/uio.h>
#include <unistd.h>

namespace debughelp::internal {

Session& session()
{
    static Session state;
    return state;
}

bool ready(pid_t process)
{
    return process == ::getpid() && session().dwfl != nullptr;
}

Dwfl_Module* moduleAt(uint64_t address)
{
    return session().dwfl ? dwfl_addrmodule(session().dwfl, address) : nullptr;
}

uint64_t moduleBase(Dwfl_Module* module)
{
    Dwarf_Addr low = 0;
    if (!module ||
        !dwfl_module_info(module, nullptr, &low, nullptr, nullptr, nullptr, nullptr, nullptr))
        return 0;
    return low;
}

Dwarf* moduleDwarf(Dwfl_Module* module, Dwarf_Addr* bias)
{
    return module ? dwfl_module_getdwarf(module, bias) : nullptr;
}

void setSymbolName(SymbolInfo* symbol, const char* name)
{
    const size_t length = std::strlen(name);
    symbol->nameLen = static_cast<uint32_t>(length);
    const size_t fixed = offsetof(SymbolInfo, name);
    if (symbol->sizeOfStruct <= fixed || symbol->maxNameLen == 0)
        return;
    const size_t room = std::min<size_t>(symbol->maxNameLen, symbol->sizeOfStruct - fixed);
    const size_t copied = std::min(length, room - 1);
    // The name runs on past the declared one-character array, into the room
    // the caller allocated for it.
    char* out = reinterpret_cast<char*>(symbol) + fixed;
    std::memcpy(out, name, copied);
    out[copied] = '\0';
}

bool readMemory(uint64_t address, void* buffer, size_t size)
{
    if (size == 0)
        return true;
    iovec local{buffer, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

} // namespace debughelp::internal

using namespace debughelp;
using namespace debughelp::internal;

extern "C" {

uint32_t SymSetOptions(uint32_t options)
{
    const uint32_t previous = session().options;
    session().options = options;
    return previous;
}

bool SymInitialize(pid_t process, const char* searchPath, bool invadeProcess)
{
    if (process != ::getpid())
        return false;
    Session& state = session();
    // A session left open (a report cut short) gives way to a fresh one.
    if (state.dwfl) {
        dwfl_end(state.dwfl);
        state.dwfl = nullptr;
    }
    // A search path replaces the standard places of separate debug files.
    static char* debugPath = nullptr;
    std::free(debugPath);
    debugPath = searchPath ? ::strdup(searchPath) : nullptr;
    static Dwfl_Callbacks callbacks{};
    callbacks.find_elf = dwfl_linux_proc_find_elf;
    callbacks.find_debuginfo = dwfl_standard_find_debuginfo;
    callbacks.debuginfo_path = debugPath ? &debugPath : nullptr;
    state.dwfl = dwfl_begin(&callbacks);
    if (!state.dwfl)
        return false;
    state.hasScope = false;
    if (invadeProcess) {
        dwfl_report_begin(state.dwfl);
        const int failed = dwfl_linux_proc_report(state.dwfl, process);
        if (dwfl_report_end(state.dwfl, nullptr, nullptr) != 0 || failed != 0) {
            dwfl_end(state.dwfl);
            state.dwfl = nullptr;
            return false;
        }
        if (!(state.options & kOptionDeferredLoads)) {
            dwfl_getmodules(
                state.dwfl,
                [](Dwfl_Module* module, void**, const char*, Dwarf_Addr, void*) {
                    Dwarf_Addr bias = 0;
                    dwfl_module_getdwarf(module, &bias);
                    return int{DWARF_CB_OK};
                },
                nullptr, 0);
        }
    }
    return true;
}

bool SymCleanup(pid_t process)
{
    if (!ready(process))
        return false;
    dwfl_end(session().dwfl);
    session().dwfl = nullptr;
    session().hasScope = false;
    return true;
}

uint64_t SymGetModuleBase(pid_t process, uint64_t address)
{
    return ready(process) ? moduleBase(moduleAt(address)) : 0;
}

void* SymFunctionTableAccess(pid_t process, uint64_t address)
{
    if (!ready(process))
        return nullptr;
    Dwfl_Module* module = moduleAt(address);
    if (!module)
        return nullptr;
    Dwarf_Addr bias = 0;
    if (Dwarf_CFI* cfi = dwfl_module_eh_cfi(module, &bias))
        return cfi;
    return dwfl_module_dwarf_cfi(module, &bias);
}

} // extern "C"
