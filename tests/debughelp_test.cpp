// The debug-help library on its own: symbols, lines, types, the stack walk
// and the variables of a frame, asked about this very test program.
#include "debughelp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <sys/ucontext.h>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

using namespace debughelp;

struct Inner
{
    short tag;
    char* label;
};
struct Sample
{
    int count;
    double ratio;
    Inner inner;
};
using Counter = unsigned long;

char g_szLabel[] = "inner";
Sample g_debugHelpSample{3, 0.5, {7, g_szLabel}};
Counter g_debugHelpCounter = 11;

// The line of the opening brace, where the function's code begins.
constexpr int kSampleLine = __LINE__ + 2;
__attribute__((noinline)) int debugHelpSample(int value)
{
    return value * 3 + 1;
}

namespace {

// A symbol record with room for a name.
struct Symbol
{
    SymbolInfo info;
    char room[1024];

    Symbol()
    {
        std::memset(this, 0, sizeof *this);
        info.sizeOfStruct = sizeof *this;
        info.maxNameLen = sizeof room;
    }
};

struct Collected
{
    std::string name;
    SymbolInfo info;
};

bool collect(const SymbolInfo* symbol, uint32_t, void* context)
{
    static_cast<std::vector<Collected>*>(context)->push_back({symbol->name, *symbol});
    return true;
}

class DebugHelpTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(SymInitialize(::getpid(), nullptr, true)); }
    void TearDown() override { SymCleanup(::getpid()); }

    uint64_t address(const void* pointer) { return reinterpret_cast<uint64_t>(pointer); }

    std::string typeName(uint64_t base, uint32_t id)
    {
        char* name = nullptr;
        if (!SymGetTypeInfo(::getpid(), base, id, kGetSymName, &name))
            return "(none)";
        std::string result(name);
        std::free(name);
        return result;
    }
    uint32_t query32(uint64_t base, uint32_t id, TypeInfoQuery kind)
    {
        uint32_t value = 0xFFFFFFFF;
        SymGetTypeInfo(::getpid(), base, id, kind, &value);
        return value;
    }
};

TEST_F(DebugHelpTest, NamesFunctionsAndTheirSourceLines)
{
    const pid_t self = ::getpid();
    const uint64_t function = address(reinterpret_cast<const void*>(&debugHelpSample));
    Symbol symbol;
    uint64_t displacement = 0;
    ASSERT_TRUE(SymFromAddr(self, function + 4, &displacement, &symbol.info));
    EXPECT_STREQ(symbol.info.name, "debugHelpSample(int)");
    EXPECT_EQ(displacement, 4u);
    EXPECT_EQ(symbol.info.address, function);
    EXPECT_EQ(symbol.info.tag, kSymTagFunction);

    LineInfo line{};
    line.sizeOfStruct = sizeof line;
    uint32_t lineDisplacement = 0;
    ASSERT_TRUE(SymGetLineFromAddr(self, function, &lineDisplacement, &line));
    EXPECT_EQ(line.lineNumber, static_cast<uint32_t>(kSampleLine));
    EXPECT_TRUE(std::string(line.fileName).ends_with("/debughelp_test.cpp")) << line.fileName;

    const uint64_t base = SymGetModuleBase(self, function);
    EXPECT_NE(base, 0u);
    EXPECT_LE(base, function);
    EXPECT_EQ(SymGetModuleBase(self, address(&g_debugHelpSample)), base);
    EXPECT_NE(SymFunctionTableAccess(self, function), nullptr);

    // Nowhere, another process, a closed session: nothing is found.
    EXPECT_FALSE(SymFromAddr(self, 0x10, &displacement, &symbol.info));
    EXPECT_EQ(SymGetModuleBase(self, 0x10), 0u);
    EXPECT_FALSE(SymFromAddr(self + 1, function, &displacement, &symbol.info));
    ASSERT_TRUE(SymCleanup(self));
    EXPECT_FALSE(SymFromAddr(self, function, &displacement, &symbol.info));
    EXPECT_FALSE(SymCleanup(self));
}

TEST_F(DebugHelpTest, DescribesGlobalsTheirTypesAndMembers)
{
    const pid_t self = ::getpid();
    const uint64_t base = SymGetModuleBase(self, address(&g_debugHelpSample));
    std::vector<Collected> found;
    ASSERT_TRUE(SymEnumSymbols(self, base, "g_debugHelp*", &collect, &found));
    ASSERT_EQ(found.size(), 2u);
    const Collected& sample = found[0].name == "g_debugHelpSample" ? found[0] : found[1];
    const Collected& counter = found[0].name == "g_debugHelpSample" ? found[1] : found[0];
    EXPECT_EQ(sample.info.address, address(&g_debugHelpSample));
    EXPECT_EQ(sample.info.size, sizeof(Sample));
    EXPECT_EQ(sample.info.flags & (kSymFlagRegRelative | kSymFlagRegister | kSymFlagLocal), 0u);

    // A class: its name and its members, in order, with their places and types.
    const uint32_t type = sample.info.typeIndex;
    EXPECT_EQ(typeName(base, type), "Sample");
    ASSERT_EQ(query32(base, type, kGetChildrenCount), 3u);
    struct
    {
        FindChildrenParams params;
        uint32_t more[2];
    } children{};
    children.params.count = 3;
    ASSERT_TRUE(SymGetTypeInfo(self, base, type, kFindChildren, &children.params));
    const uint32_t* ids = children.params.childId;
    const uint32_t members[3] = {ids[0], children.more[0], children.more[1]};
    EXPECT_EQ(typeName(base, members[0]), "count");
    EXPECT_EQ(typeName(base, members[1]), "ratio");
    EXPECT_EQ(typeName(base, members[2]), "inner");
    EXPECT_EQ(query32(base, members[1], kGetOffset), offsetof(Sample, ratio));
    EXPECT_EQ(query32(base, members[2], kGetOffset), offsetof(Sample, inner));
    EXPECT_EQ(query32(base, query32(base, members[0], kGetTypeId), kGetBaseType), kBtInt);
    EXPECT_EQ(query32(base, query32(base, members[1], kGetTypeId), kGetBaseType), kBtFloat);
    uint64_t length = 0;
    ASSERT_TRUE(
        SymGetTypeInfo(self, base, query32(base, members[2], kGetTypeId), kGetLength, &length));
    EXPECT_EQ(length, sizeof(Inner));
    // A member of class type has the members of its class.
    EXPECT_EQ(query32(base, members[2], kGetChildrenCount), 2u);

    // A typedef keeps its name and reads as what it names; a pointer has no
    // name and points to its target's type.
    EXPECT_EQ(typeName(base, counter.info.typeIndex), "Counter");
    EXPECT_EQ(query32(base, counter.info.typeIndex, kGetBaseType), kBtULong);
    EXPECT_EQ(counter.info.size, sizeof(Counter));
    struct
    {
        FindChildrenParams params;
        uint32_t more[1];
    } innerChildren{};
    innerChildren.params.count = 2;
    ASSERT_TRUE(SymGetTypeInfo(self, base, members[2], kFindChildren, &innerChildren.params));
    const uint32_t label = innerChildren.more[0];
    EXPECT_EQ(typeName(base, label), "label");
    const uint32_t pointer = query32(base, label, kGetTypeId);
    EXPECT_EQ(typeName(base, pointer), "(none)");
    EXPECT_EQ(query32(base, query32(base, pointer, kGetTypeId), kGetBaseType), kBtChar);
}

struct Frame
{
    std::string function;
    StackFrame record;
};

__attribute__((noinline)) std::vector<Frame> walkHere()
{
    ucontext_t context;
    std::memset(&context, 0, sizeof context);
    getcontext(&context);
    std::vector<Frame> frames;
    StackFrame frame{};
    frame.addrPC = {static_cast<uint64_t>(context.uc_mcontext.gregs[REG_RIP]), kAddrModeFlat};
    frame.addrStack = {static_cast<uint64_t>(context.uc_mcontext.gregs[REG_RSP]), kAddrModeFlat};
    while (StackWalk(kMachineAmd64, ::getpid(), ::gettid(), &frame, &context, nullptr,
                     &SymFunctionTableAccess, &SymGetModuleBase, nullptr) &&
           frames.size() < 64) {
        Symbol symbol;
        uint64_t displacement = 0;
        std::string name = "?";
        if (SymFromAddr(::getpid(), frame.addrPC.offset, &displacement, &symbol.info))
            name = symbol.info.name;
        frames.push_back({name, frame});
    }
    return frames;
}

// Walks the stack from a callee and checks the walk while this frame lives.
__attribute__((noinline)) void walkFromACaller(int nDepth,
                                               const std::function<void(std::vector<Frame>)>& check)
{
    volatile int nMarker = 0x5EED + nDepth;
    check(walkHere());
    EXPECT_EQ(nMarker, 0x5EED + nDepth);
}

TEST_F(DebugHelpTest, WalksTheStackAndFindsTheVariablesOfEachFrame)
{
    walkFromACaller(1, [](const std::vector<Frame>& frames) {
        ASSERT_GE(frames.size(), 3u);
        EXPECT_EQ(frames[0].function, "(anonymous namespace)::walkHere()");
        EXPECT_TRUE(frames[1].function.starts_with("(anonymous namespace)::walkFromACaller(int, "))
            << frames[1].function;
        // Each frame's address is its caller's stack pointer before the call.
        EXPECT_LT(frames[0].record.addrFrame.offset, frames[1].record.addrFrame.offset);
        EXPECT_EQ(frames[1].record.addrFrame.offset, frames[2].record.addrStack.offset);

        StackFrameContext scope{};
        scope.instructionOffset = frames[1].record.addrPC.offset;
        ASSERT_TRUE(SymSetContext(::getpid(), &scope, nullptr));
        std::vector<Collected> found;
        ASSERT_TRUE(SymEnumSymbols(::getpid(), 0, nullptr, &collect, &found));
        ASSERT_GE(found.size(), 2u);
        EXPECT_EQ(found[0].name, "nDepth");
        EXPECT_EQ(found[0].info.flags & kSymFlagParameter, kSymFlagParameter);
        const auto marker = std::find_if(found.begin(), found.end(),
                                         [](const Collected& c) { return c.name == "nMarker"; });
        ASSERT_NE(marker, found.end());
        EXPECT_EQ(marker->info.flags & kSymFlagLocal, kSymFlagLocal);
#if defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer keeps this local in a frame of its own, found
        // through a register whose value is gone by now: its value is lost.
        return;
#endif
        EXPECT_EQ(marker->info.flags & kSymFlagRegRelative, kSymFlagRegRelative);
        int value = 0;
        std::memcpy(
            &value,
            reinterpret_cast<const void*>(frames[1].record.addrFrame.offset + marker->info.address),
            sizeof value);
        EXPECT_EQ(value, 0x5EED + 1);
    });

    // Only this machine's walk is known.
    ucontext_t context{};
    StackFrame frame{};
    EXPECT_FALSE(StackWalk(0x14C, ::getpid(), ::gettid(), &frame, &context, nullptr,
                           &SymFunctionTableAccess, &SymGetModuleBase, nullptr));
}

} // namespace
