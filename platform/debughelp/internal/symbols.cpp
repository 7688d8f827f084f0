// Functions, source lines, and the variables of a scope or a module.
#include "dwarfhelpers.h"
#include "session.h"

#include <cxxabi.h>
#include <dwarf.h>
#include <fnmatch.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace debughelp;
using namespace debughelp::internal;

namespace {

constexpr uint32_t kNameRoom = 1024;

// A symbol record with room for a long name, for the enumerations.
struct SymbolRecord
{
    SymbolInfo info;
    char room[kNameRoom];
};

std::unique_ptr<SymbolRecord> newRecord()
{
    auto record = std::make_unique<SymbolRecord>();
    std::memset(record.get(), 0, sizeof(SymbolRecord));
    record->info.sizeOfStruct = sizeof(SymbolRecord);
    record->info.maxNameLen = kNameRoom;
    return record;
}

// Mangled C++ names are shown as the programmer wrote them, and without the
// symbol version the dynamic linker matched them by.
std::string readableName(const char* versionedName)
{
    std::string unversioned(versionedName);
    if (const size_t at = unversioned.find('@'); at != std::string::npos && at > 0)
        unversioned.resize(at);
    const char* name = unversioned.c_str();
    if (std::strncmp(name, "_Z", 2) == 0) {
        int status = 0;
        char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
        if (status == 0 && plain) {
            std::string result(plain);
            std::free(plain);
            return result;
        }
        std::free(plain);
    }
    return name;
}

// The offset from the canonical frame address (CFA) at which DWARF register
// `reg` points in the frame at `pc`, read from the call-frame information:
// only a CFA rule of the form "reg + k" tells it.
bool registerFromCfa(Dwfl_Module* module, Dwarf_Addr runtimePC, unsigned reg, int64_t* offset)
{
    Dwarf_Addr cfiBias = 0;
    for (Dwarf_CFI* cfi :
         {dwfl_module_dwarf_cfi(module, &cfiBias), dwfl_module_eh_cfi(module, &cfiBias)}) {
        if (!cfi)
            continue;
        Dwarf_Frame* frame = nullptr;
        if (dwarf_cfi_addrframe(cfi, runtimePC - cfiBias, &frame) != 0)
            continue;
        Dwarf_Op* ops = nullptr;
        size_t count = 0;
        bool found = false;
        if (dwarf_frame_cfa(frame, &ops, &count) == 0 && count == 1 &&
            ops[0].atom == DW_OP_breg0 + reg) {
            *offset = -static_cast<int64_t>(ops[0].number);
            found = true;
        }
        std::free(frame);
        if (found)
            return true;
    }
    return false;
}

// The offset of the function's frame base from the CFA.
bool frameBaseFromCfa(Dwfl_Module* module, Dwarf_Die* function, Dwarf_Addr pc, Dwarf_Addr bias,
                      int64_t* offset)
{
    Dwarf_Attribute attr;
    if (!dwarf_attr_integrate(function, DW_AT_frame_base, &attr))
        return false;
    Dwarf_Op* ops = nullptr;
    size_t count = 0;
    if (dwarf_getlocation_addr(&attr, pc, &ops, &count, 1) != 1 || count != 1)
        return false;
    const unsigned atom = ops[0].atom;
    if (atom == DW_OP_call_frame_cfa) {
        *offset = 0;
        return true;
    }
    int64_t reg = 0;
    if (atom >= DW_OP_breg0 && atom <= DW_OP_breg31) {
        if (!registerFromCfa(module, pc + bias, atom - DW_OP_breg0, &reg))
            return false;
        *offset = reg + static_cast<int64_t>(ops[0].number);
        return true;
    }
    if (atom >= DW_OP_reg0 && atom <= DW_OP_reg31) {
        if (!registerFromCfa(module, pc + bias, atom - DW_OP_reg0, &reg))
            return false;
        *offset = reg;
        return true;
    }
    return false;
}

// Where a variable lives at `pc`: fills flags, address and register.
// False when it has no location there (optimised away).
bool locate(Dwfl_Module* module, Dwarf_Die* variable, Dwarf_Die* function, Dwarf_Addr pc,
            Dwarf_Addr bias, SymbolInfo* symbol)
{
    Dwarf_Attribute attr;
    if (!dwarf_attr_integrate(variable, DW_AT_location, &attr))
        return false;
    Dwarf_Op* ops = nullptr;
    size_t count = 0;
    if (dwarf_getlocation_addr(&attr, pc, &ops, &count, 1) != 1 || count == 0)
        return false;
    const unsigned atom = ops[0].atom;
    int64_t base = 0;
    if (count == 1 && atom == DW_OP_addr) {
        symbol->address = ops[0].number + bias;
        return true;
    }
    if (count == 1 && atom == DW_OP_fbreg && function &&
        frameBaseFromCfa(module, function, pc, bias, &base)) {
        symbol->flags |= kSymFlagRegRelative;
        symbol->reg = kRegisterFrame;
        symbol->address = static_cast<uint64_t>(base + static_cast<int64_t>(ops[0].number));
        return true;
    }
    if (count == 1 && atom >= DW_OP_breg0 && atom <= DW_OP_breg31 &&
        registerFromCfa(module, pc + bias, atom - DW_OP_breg0, &base)) {
        symbol->flags |= kSymFlagRegRelative;
        symbol->reg = kRegisterFrame;
        symbol->address = static_cast<uint64_t>(base + static_cast<int64_t>(ops[0].number));
        return true;
    }
    // In a register, or in a form a frame address and an offset cannot
    // express (pieces, computed values): its value cannot be read back here.
    symbol->flags |= kSymFlagRegister;
    symbol->reg = (atom >= DW_OP_reg0 && atom <= DW_OP_reg31) ? atom - DW_OP_reg0 : 0;
    return true;
}

// "Class::" for the definition of a static member, whose declaration sits in
// its class while the definition stands at file scope.
std::string outerScopes(Dwarf_Die* variable)
{
    Dwarf_Attribute attr;
    Dwarf_Die declaration;
    if (!dwarf_attr(variable, DW_AT_specification, &attr) ||
        !dwarf_formref_die(&attr, &declaration))
        return std::string();
    Dwarf_Die* scopes = nullptr;
    const int count = dwarf_getscopes_die(&declaration, &scopes);
    std::string prefix;
    // scopes[0] is the declaration itself and the last one its unit.
    for (int i = count - 2; i >= 1; --i) {
        const char* name = dwarf_diename(&scopes[i]);
        prefix += name ? name : "(anonymous)";
        prefix += "::";
    }
    std::free(scopes);
    return prefix;
}

// Fills the name, type and size of a variable entry; false without a name.
bool describe(Dwarf_Die* variable, uint64_t modBase, const std::string& prefix, SymbolInfo* symbol)
{
    Dwarf_Attribute attr;
    const char* name = dwarf_diename(variable);
    if (!name && dwarf_attr_integrate(variable, DW_AT_name, &attr))
        name = dwarf_formstring(&attr);
    if (!name)
        return false;
    setSymbolName(symbol, (prefix.empty() ? outerScopes(variable) + name : prefix + name).c_str());
    symbol->modBase = modBase;
    symbol->tag = kSymTagData;
    Dwarf_Die type;
    uint64_t size = 0;
    if (typeOf(variable, &type)) {
        symbol->typeIndex = typeIdOf(&type);
        if (sizeOfType(&type, &size))
            symbol->size = static_cast<uint32_t>(size);
    }
    return true;
}

bool matches(const char* mask, const SymbolInfo& symbol)
{
    return !mask || !*mask || ::fnmatch(mask, symbol.name, 0) == 0;
}

void resetRecord(SymbolRecord* record)
{
    std::memset(record, 0, sizeof(SymbolRecord));
    record->info.sizeOfStruct = sizeof(SymbolRecord);
    record->info.maxNameLen = kNameRoom;
}

// Parameters and locals visible at the session's scope, outermost block
// first, each block's entries in declaration order.
bool enumerateScope(const char* mask, EnumSymbolsCallback callback, void* userContext)
{
    const uint64_t runtimePC = session().scopePC;
    Dwfl_Module* module = moduleAt(runtimePC);
    if (!module)
        return false;
    Dwarf_Addr bias = 0;
    Dwarf_Die* cu = dwfl_module_addrdie(module, runtimePC, &bias);
    if (!cu)
        return false;
    const Dwarf_Addr pc = runtimePC - bias;
    Dwarf_Die* scopes = nullptr;
    const int count = dwarf_getscopes(cu, pc, &scopes);
    if (count <= 0)
        return false;
    int innermostFunction = -1;
    int frameFunction = -1;
    for (int i = 0; i < count; ++i) {
        const int tag = dwarf_tag(&scopes[i]);
        if (innermostFunction < 0 && (tag == DW_TAG_subprogram || tag == DW_TAG_inlined_subroutine))
            innermostFunction = i;
        if (tag == DW_TAG_subprogram) {
            frameFunction = i;
            break;
        }
    }
    if (innermostFunction < 0) {
        std::free(scopes);
        return false;
    }
    const uint64_t base = moduleBase(module);
    auto record = newRecord();
    bool goOn = true;
    for (int i = innermostFunction; i >= 0 && goOn; --i) {
        Dwarf_Die child;
        if (dwarf_child(&scopes[i], &child) != 0)
            continue;
        do {
            const int tag = dwarf_tag(&child);
            if (tag != DW_TAG_formal_parameter && tag != DW_TAG_variable)
                continue;
            resetRecord(record.get());
            SymbolInfo* symbol = &record->info;
            if (!describe(&child, base, std::string(), symbol))
                continue;
            symbol->flags = tag == DW_TAG_formal_parameter ? kSymFlagParameter : kSymFlagLocal;
            if (!locate(module, &child, frameFunction >= 0 ? &scopes[frameFunction] : nullptr, pc,
                        bias, symbol))
                continue;
            if (matches(mask, *symbol))
                goOn = callback(symbol, symbol->sizeOfStruct, userContext);
        } while (goOn && dwarf_siblingof(&child, &child) == 0);
    }
    std::free(scopes);
    return true;
}

// Global variables of a compilation unit's scope, into namespaces.
bool enumerateGlobalsIn(Dwarf_Die* scope, Dwfl_Module* module, Dwarf_Addr bias, uint64_t base,
                        const std::string& prefix, const char* mask, EnumSymbolsCallback callback,
                        void* userContext, SymbolRecord* record)
{
    Dwarf_Die child;
    if (dwarf_child(scope, &child) != 0)
        return true;
    do {
        const int tag = dwarf_tag(&child);
        if (tag == DW_TAG_namespace) {
            const char* name = dwarf_diename(&child);
            const std::string inner =
                prefix + (name ? name : "(anonymous namespace)") + std::string("::");
            if (!enumerateGlobalsIn(&child, module, bias, base, inner, mask, callback, userContext,
                                    record))
                return false;
            continue;
        }
        if (tag != DW_TAG_variable || dwarf_hasattr(&child, DW_AT_declaration))
            continue;
        resetRecord(record);
        SymbolInfo* symbol = &record->info;
        if (!describe(&child, base, prefix, symbol))
            continue;
        // Only variables at a fixed address: thread-local ones have none.
        Dwarf_Attribute attr;
        Dwarf_Op* ops = nullptr;
        size_t count = 0;
        if (!dwarf_attr(&child, DW_AT_location, &attr) ||
            dwarf_getlocation(&attr, &ops, &count) != 0 || count != 1 || ops[0].atom != DW_OP_addr)
            continue;
        symbol->address = ops[0].number + bias;
        if (matches(mask, *symbol) && !callback(symbol, symbol->sizeOfStruct, userContext))
            return false;
    } while (dwarf_siblingof(&child, &child) == 0);
    return true;
}

// A module without debugging information still has its symbol table: its
// data objects are listed from it, without types.
void enumerateElfObjects(Dwfl_Module* module, uint64_t base, const char* mask,
                         EnumSymbolsCallback callback, void* userContext, SymbolRecord* record)
{
    const int count = dwfl_module_getsymtab(module);
    for (int i = 1; i < count; ++i) {
        GElf_Sym sym;
        GElf_Addr address = 0;
        const char* name =
            dwfl_module_getsym_info(module, i, &sym, &address, nullptr, nullptr, nullptr);
        if (!name || !*name || GELF_ST_TYPE(sym.st_info) != STT_OBJECT || sym.st_size == 0 ||
            sym.st_shndx == SHN_UNDEF)
            continue;
        resetRecord(record);
        SymbolInfo* symbol = &record->info;
        setSymbolName(symbol, readableName(name).c_str());
        symbol->modBase = base;
        symbol->tag = kSymTagData;
        symbol->size = static_cast<uint32_t>(sym.st_size);
        symbol->address = address;
        if (matches(mask, *symbol) && !callback(symbol, symbol->sizeOfStruct, userContext))
            return;
    }
}

bool enumerateModule(uint64_t modBase, const char* mask, EnumSymbolsCallback callback,
                     void* userContext)
{
    Dwfl_Module* module = moduleAt(modBase);
    if (!module)
        return false;
    const uint64_t base = moduleBase(module);
    auto record = newRecord();
    Dwarf_Addr bias = 0;
    Dwarf_Die* cu = nullptr;
    bool anyUnit = false;
    while ((cu = dwfl_module_nextcu(module, cu, &bias)) != nullptr) {
        anyUnit = true;
        if (!enumerateGlobalsIn(cu, module, bias, base, std::string(), mask, callback, userContext,
                                record.get()))
            return true;
    }
    if (!anyUnit)
        enumerateElfObjects(module, base, mask, callback, userContext, record.get());
    return true;
}

} // namespace

extern "C" {

bool SymFromAddr(pid_t process, uint64_t address, uint64_t* displacement, SymbolInfo* symbol)
{
    if (!ready(process) || !symbol)
        return false;
    Dwfl_Module* module = moduleAt(address);
    if (!module)
        return false;
    GElf_Off offset = 0;
    GElf_Sym sym;
    const char* name =
        dwfl_module_addrinfo(module, address, &offset, &sym, nullptr, nullptr, nullptr);
    if (!name)
        return false;
    setSymbolName(symbol, readableName(name).c_str());
    symbol->modBase = moduleBase(module);
    symbol->address = address - offset;
    symbol->size = static_cast<uint32_t>(sym.st_size);
    symbol->tag = GELF_ST_TYPE(sym.st_info) == STT_FUNC ? kSymTagFunction : kSymTagData;
    symbol->flags = 0;
    symbol->typeIndex = 0;
    if (displacement)
        *displacement = offset;
    return true;
}

bool SymGetLineFromAddr(pid_t process, uint64_t address, uint32_t* displacement, LineInfo* line)
{
    if (!ready(process) || !line)
        return false;
    Dwfl_Module* module = moduleAt(address);
    if (!module)
        return false;
    Dwfl_Line* found = dwfl_module_getsrc(module, address);
    if (!found)
        return false;
    Dwarf_Addr lineAddress = 0;
    int lineNumber = 0;
    const char* file = dwfl_lineinfo(found, &lineAddress, &lineNumber, nullptr, nullptr, nullptr);
    if (!file || lineNumber <= 0)
        return false;
    line->fileName = file;
    line->lineNumber = static_cast<uint32_t>(lineNumber);
    line->address = lineAddress;
    if (displacement)
        *displacement = static_cast<uint32_t>(address - lineAddress);
    return true;
}

bool SymSetContext(pid_t process, const StackFrameContext* frame, void*)
{
    if (!ready(process) || !frame)
        return false;
    session().scopePC = frame->instructionOffset;
    session().hasScope = true;
    Dwarf_Addr bias = 0;
    Dwfl_Module* module = moduleAt(frame->instructionOffset);
    return module && dwfl_module_addrdie(module, frame->instructionOffset, &bias) != nullptr;
}

bool SymEnumSymbols(pid_t process, uint64_t modBase, const char* mask, EnumSymbolsCallback callback,
                    void* userContext)
{
    if (!ready(process) || !callback)
        return false;
    if (modBase == 0)
        return session().hasScope && enumerateScope(mask, callback, userContext);
    return enumerateModule(modBase, mask, callback, userContext);
}

} // extern "C"
