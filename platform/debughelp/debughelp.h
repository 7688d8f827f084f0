// The debug-help library: symbols, source lines, variables and types of the
// running process, and a stack walk from a signal context. The crash report
// writer loads it by name at run time and looks up each entry point with
// dlsym, so every entry point is a plain C function whose type is given here
// both as a declaration and as a pointer type.
//
// Only the calling process can be examined; `process` is its id (getpid()).
// None of the entry points takes a lock: they are meant for the crash path,
// where one thread at a time uses them.
#pragma once

#include <cstdint>
#include <sys/types.h>

namespace debughelp {

// The library's file name, as the writer asks the dynamic loader for it.
inline constexpr const char kLibraryName[] = "libbrisolde-debughelp.so";

// SymSetOptions: load a module's debug information only when it is first needed.
inline constexpr uint32_t kOptionDeferredLoads = 0x4;

// StackWalk's machine type for x86-64.
inline constexpr uint32_t kMachineAmd64 = 0x8664;

// Address modes; only flat addresses exist here.
inline constexpr uint32_t kAddrModeFlat = 3;

// SymbolInfo::flags
inline constexpr uint32_t kSymFlagRegister = 0x08;    // lives in register `reg`
inline constexpr uint32_t kSymFlagRegRelative = 0x10; // address is relative to the frame
inline constexpr uint32_t kSymFlagParameter = 0x40;
inline constexpr uint32_t kSymFlagLocal = 0x80;

// SymbolInfo::tag
inline constexpr uint32_t kSymTagFunction = 5;
inline constexpr uint32_t kSymTagData = 7;
inline constexpr uint32_t kSymTagUdt = 11;
inline constexpr uint32_t kSymTagBaseClass = 18;
inline constexpr uint32_t kSymTagPointerType = 14;
inline constexpr uint32_t kSymTagArrayType = 15;
inline constexpr uint32_t kSymTagBaseType = 16;
inline constexpr uint32_t kSymTagTypedef = 17;
inline constexpr uint32_t kSymTagEnum = 12;

// The register number of a frame-relative symbol: the frame address of the
// stack walk, which is the frame's canonical frame address (CFA).
inline constexpr uint32_t kRegisterFrame = 0xFFFF;

// SymGetTypeInfo queries. Type ids are the offsets of the types' debugging
// entries in their module; a data member or base class is a child id.
enum TypeInfoQuery : uint32_t
{
    kGetSymTag = 0,        // uint32_t
    kGetSymName = 1,       // char*, allocated with malloc; the caller frees it
    kGetLength = 2,        // uint64_t
    kGetTypeId = 4,        // uint32_t: the type of a member, typedef, pointer or array
    kGetBaseType = 5,      // uint32_t, a BasicType; base types only
    kFindChildren = 7,     // FindChildrenParams
    kGetOffset = 10,       // uint32_t: offset of a member or base class in its parent
    kGetChildrenCount = 13 // uint32_t: data members and base classes of a class type
};

// Basic type numbers (kGetBaseType).
enum BasicType : uint32_t
{
    kBtNoType = 0,
    kBtVoid = 1,
    kBtChar = 2,
    kBtWChar = 3,
    kBtInt = 6,
    kBtUInt = 7,
    kBtFloat = 8,
    kBtBool = 10,
    kBtLong = 13,
    kBtULong = 14,
    kBtChar16 = 32,
    kBtChar32 = 33,
    kBtChar8 = 34
};

struct FindChildrenParams
{
    uint32_t count; // number of ids the caller has room for after the header
    uint32_t start; // index of the first child to return
    uint32_t childId[1];
};

// A symbol as the lookups report it. The name continues past the record:
// the caller allocates sizeOfStruct bytes, room for maxNameLen characters.
struct SymbolInfo
{
    uint32_t sizeOfStruct;
    uint32_t typeIndex; // type id, 0 when unknown
    uint32_t index;
    uint32_t size;    // bytes the symbol occupies
    uint64_t modBase; // lowest address of the module's mapping
    uint32_t flags;
    uint64_t value;
    uint64_t address; // absolute, or relative to the frame (kSymFlagRegRelative)
    uint32_t reg;     // DWARF register number, or kRegisterFrame
    uint32_t scope;
    uint32_t tag;
    uint32_t nameLen;
    uint32_t maxNameLen;
    char name[1];
};

struct LineInfo
{
    uint32_t sizeOfStruct;
    void* key;
    uint32_t lineNumber;
    const char* fileName; // owned by the library until SymCleanup
    uint64_t address;     // first address of the line
};

struct Address
{
    uint64_t offset;
    uint32_t mode;
};

// One frame of a stack walk. Zero it and set addrPC, addrFrame and addrStack
// from the starting context before the first StackWalk call. For every frame
// but the first, addrPC is the return address less one, so that it lies in
// the calling instruction and its line is the line of the call; addrFrame is
// the frame's canonical frame address (the caller's stack pointer before the
// call), which frame-relative variables are counted from.
struct StackFrame
{
    Address addrPC;
    Address addrReturn;
    Address addrFrame;
    Address addrStack;
    uint64_t reserved[4];
};

// The scope that SymEnumSymbols lists with module base 0.
struct StackFrameContext
{
    uint64_t instructionOffset;
    uint64_t returnOffset;
    uint64_t frameOffset;
    uint64_t stackOffset;
};

using EnumSymbolsCallback = bool (*)(const SymbolInfo* symbol, uint32_t symbolSize,
                                     void* userContext);
using ReadMemoryRoutine = bool (*)(pid_t process, uint64_t address, void* buffer, uint32_t size,
                                   uint32_t* bytesRead);
using FunctionTableAccessRoutine = void* (*)(pid_t process, uint64_t address);
using GetModuleBaseRoutine = uint64_t (*)(pid_t process, uint64_t address);
using TranslateAddressRoutine = uint64_t (*)(pid_t process, pid_t thread, Address* address);

// Pointer types of the entry points, for dlsym.
using SymGetTypeInfoFn = bool (*)(pid_t process, uint64_t modBase, uint32_t typeId,
                                  TypeInfoQuery query, void* info);
using SymSetOptionsFn = uint32_t (*)(uint32_t options);
using SymInitializeFn = bool (*)(pid_t process, const char* searchPath, bool invadeProcess);
using SymCleanupFn = bool (*)(pid_t process);
using SymEnumSymbolsFn = bool (*)(pid_t process, uint64_t modBase, const char* mask,
                                  EnumSymbolsCallback callback, void* userContext);
using SymSetContextFn = bool (*)(pid_t process, const StackFrameContext* frame, void* context);
using SymFromAddrFn = bool (*)(pid_t process, uint64_t address, uint64_t* displacement,
                               SymbolInfo* symbol);
using SymGetLineFromAddrFn = bool (*)(pid_t process, uint64_t address, uint32_t* displacement,
                                      LineInfo* line);
// `context` is the ucontext_t of the first frame; each step rewrites it with
// the registers of the frame reached.
using StackWalkFn = bool (*)(uint32_t machineType, pid_t process, pid_t thread, StackFrame* frame,
                             void* context, ReadMemoryRoutine readMemory,
                             FunctionTableAccessRoutine functionTableAccess,
                             GetModuleBaseRoutine getModuleBase,
                             TranslateAddressRoutine translateAddress);
using SymFunctionTableAccessFn = void* (*)(pid_t process, uint64_t address);
using SymGetModuleBaseFn = uint64_t (*)(pid_t process, uint64_t address);

} // namespace debughelp

#define DEBUGHELP_EXPORT __attribute__((visibility("default")))

extern "C" {
DEBUGHELP_EXPORT bool SymGetTypeInfo(pid_t process, uint64_t modBase, uint32_t typeId,
                                     debughelp::TypeInfoQuery query, void* info);
DEBUGHELP_EXPORT uint32_t SymSetOptions(uint32_t options);
DEBUGHELP_EXPORT bool SymInitialize(pid_t process, const char* searchPath, bool invadeProcess);
DEBUGHELP_EXPORT bool SymCleanup(pid_t process);
DEBUGHELP_EXPORT bool SymEnumSymbols(pid_t process, uint64_t modBase, const char* mask,
                                     debughelp::EnumSymbolsCallback callback, void* userContext);
DEBUGHELP_EXPORT bool SymSetContext(pid_t process, const debughelp::StackFrameContext* frame,
                                    void* context);
DEBUGHELP_EXPORT bool SymFromAddr(pid_t process, uint64_t address, uint64_t* displacement,
                                  debughelp::SymbolInfo* symbol);
DEBUGHELP_EXPORT bool SymGetLineFromAddr(pid_t process, uint64_t address, uint32_t* displacement,
                                         debughelp::LineInfo* line);
DEBUGHELP_EXPORT bool StackWalk(uint32_t machineType, pid_t process, pid_t thread,
                                debughelp::StackFrame* frame, void* context,
                                debughelp::ReadMemoryRoutine readMemory,
                                debughelp::FunctionTableAccessRoutine functionTableAccess,
                                debughelp::GetModuleBaseRoutine getModuleBase,
                                debughelp::TranslateAddressRoutine translateAddress);
DEBUGHELP_EXPORT void* SymFunctionTableAccess(pid_t process, uint64_t address);
DEBUGHELP_EXPORT uint64_t SymGetModuleBase(pid_t process, uint64_t address);
}
