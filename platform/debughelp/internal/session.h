// State shared by the entry points: one symbol session for the calling
// process, opened by SymInitialize and closed by SymCleanup.
#pragma once

#include "debughelp.h"

#include <elfutils/libdwfl.h>

namespace debughelp::internal {

struct Session
{
    Dwfl* dwfl = nullptr;
    uint32_t options = kOptionDeferredLoads;
    // The scope of SymEnumSymbols with module base 0 (SymSetContext).
    uint64_t scopePC = 0;
    bool hasScope = false;
};

Session& session();

// True when `process` is the calling process and a session is open.
bool ready(pid_t process);

// The module mapped at `address`, or null.
Dwfl_Module* moduleAt(uint64_t address);

// Lowest address of the module's mapping: the module base of this library.
uint64_t moduleBase(Dwfl_Module* module);

// The module's DWARF and the bias that turns its addresses into run-time ones.
Dwarf* moduleDwarf(Dwfl_Module* module, Dwarf_Addr* bias);

// Copies `name` into the symbol record, as much as the record has room for.
void setSymbolName(SymbolInfo* symbol, const char* name);

// Reads memory of the calling process without faulting; false when any byte
// of it is unreadable.
bool readMemory(uint64_t address, void* buffer, size_t size);

} // namespace debughelp::internal
