// The stack walk. It keeps no state of its own: each step starts libunwind
// afresh from the registers in the caller's context and writes the registers
// of the frame it reaches back into that context, so a walk can be repeated
// from a copy of the first context.
#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include "session.h"

#include <sys/ucontext.h>
#include <unistd.h>

using namespace debughelp;
using namespace debughelp::internal;

namespace {

// reserved[0] of a StackFrame: frames walked so far.
constexpr int kFrameCount = 0;

uint64_t reg(const ucontext_t* context, int index)
{
    return static_cast<uint64_t>(context->uc_mcontext.gregs[index]);
}

void setReg(ucontext_t* context, int index, uint64_t value)
{
    context->uc_mcontext.gregs[index] = static_cast<greg_t>(value);
}

// The canonical frame address of the cursor's frame: the stack pointer its
// caller had before the call, as one more step finds it.
uint64_t cfaOf(const unw_cursor_t& cursor)
{
    unw_cursor_t next = cursor;
    unw_word_t sp = 0;
    if (unw_step(&next) > 0 && unw_get_reg(&next, UNW_REG_SP, &sp) == 0)
        return sp;
    return 0;
}

bool initCursor(unw_cursor_t* cursor, ucontext_t* context, bool signalFrame)
{
    return unw_init_local2(cursor, context, signalFrame ? UNW_INIT_SIGNAL_FRAME : 0) == 0;
}

void describeFrame(StackFrame* frame, const ucontext_t* context, uint64_t cfa, bool first)
{
    const uint64_t pc = reg(context, REG_RIP);
    frame->addrPC = {first || pc == 0 ? pc : pc - 1, kAddrModeFlat};
    frame->addrStack = {reg(context, REG_RSP), kAddrModeFlat};
    frame->addrFrame = {cfa ? cfa : reg(context, REG_RSP), kAddrModeFlat};
    frame->addrReturn = {0, kAddrModeFlat};
}

bool inModule(pid_t process, uint64_t pc, GetModuleBaseRoutine getModuleBase)
{
    if (getModuleBase)
        return getModuleBase(process, pc) != 0;
    return moduleAt(pc) != nullptr;
}

bool readWord(pid_t process, uint64_t address, uint64_t* value, ReadMemoryRoutine readMemory)
{
    if (readMemory) {
        uint32_t done = 0;
        return readMemory(process, address, value, sizeof *value, &done) && done == sizeof *value;
    }
    return internal::readMemory(address, value, sizeof *value);
}

} // namespace

extern "C" bool StackWalk(uint32_t machineType, pid_t process, pid_t, StackFrame* frame,
                          void* contextRecord, ReadMemoryRoutine readMemory,
                          FunctionTableAccessRoutine, GetModuleBaseRoutine getModuleBase,
                          TranslateAddressRoutine)
{
    if (machineType != kMachineAmd64 || process != ::getpid() || !frame || !contextRecord)
        return false;
    auto* context = static_cast<ucontext_t*>(contextRecord);
    const uint64_t walked = frame->reserved[kFrameCount];
    unw_cursor_t cursor;
    // The first frame is the interrupted one: its program counter is exact,
    // not a return address.
    if (!initCursor(&cursor, context, walked <= 1))
        return false;
    if (walked == 0) {
        describeFrame(frame, context, cfaOf(cursor), true);
        frame->reserved[kFrameCount] = 1;
        return frame->addrPC.offset != 0 || frame->addrStack.offset != 0;
    }

    const uint64_t pc = reg(context, REG_RIP);
    if (walked == 1 && !inModule(process, pc, getModuleBase)) {
        // A call to an address where no code is (a null function pointer):
        // nothing has run there, so the return address is on top of the stack.
        uint64_t returnAddress = 0;
        const uint64_t sp = reg(context, REG_RSP);
        if (!readWord(process, sp, &returnAddress, readMemory) || returnAddress == 0)
            return false;
        setReg(context, REG_RIP, returnAddress);
        setReg(context, REG_RSP, sp + sizeof returnAddress);
    } else {
        if (unw_step(&cursor) <= 0)
            return false;
        static constexpr struct
        {
            int context;
            int unwind;
        } kRegisters[] = {{REG_RIP, UNW_REG_IP},     {REG_RSP, UNW_REG_SP},
                          {REG_RBP, UNW_X86_64_RBP}, {REG_RBX, UNW_X86_64_RBX},
                          {REG_R12, UNW_X86_64_R12}, {REG_R13, UNW_X86_64_R13},
                          {REG_R14, UNW_X86_64_R14}, {REG_R15, UNW_X86_64_R15}};
        for (const auto& r : kRegisters) {
            unw_word_t value = 0;
            if (unw_get_reg(&cursor, r.unwind, &value) == 0)
                setReg(context, r.context, value);
        }
    }
    if (reg(context, REG_RIP) == 0)
        return false;
    if (!initCursor(&cursor, context, false))
        return false;
    frame->addrReturn = {reg(context, REG_RIP), kAddrModeFlat};
    describeFrame(frame, context, cfaOf(cursor), false);
    frame->reserved[kFrameCount] = walked + 1;
    return true;
}
