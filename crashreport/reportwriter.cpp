// The report's text: the heading lines, the registers, the call stacks with
// their variables and the global variables, formatted from what the
// debug-help library finds.
#include "faultreporter.h"
#include "reporterinternal.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <link.h>
#include <sys/uio.h>
#include <unistd.h>

using namespace debughelp;
using namespace crashreport;

namespace {

// A runaway recursion leaves more frames than anyone reads; its report lists
// the innermost ones, which show the recursion and where it broke.
constexpr unsigned kOverflowFrames = 256;
constexpr unsigned kMaxFrames = 65536;

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

} // namespace

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

void CFaultReporter::ReportWrite(const char* text, size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(m_hReportFile, text, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

void CFaultReporter::ReportPrintf(const char* format, ...)
{
    static char buffer[kPrintSize];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length <= 0)
        return;
    if (static_cast<size_t>(length) < sizeof buffer) {
        ReportWrite(buffer, static_cast<size_t>(length));
        return;
    }
    // Cut: the marker says so, and the line still ends where it should, so
    // that the next line is not glued to it.
    size_t kept = sizeof buffer - 1;
    if (buffer[kept - 1] == '\r')
        --kept;
    ReportWrite(buffer, kept);
    ReportWrite(kCutMarker, sizeof kCutMarker - 1);
    const size_t formatLength = std::strlen(format);
    if (formatLength >= 2 && std::strcmp(format + formatLength - 2, "\r\n") == 0)
        ReportWrite("\r\n", 2);
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
        if (FormatVariable(current, static_cast<const StackFrame*>(userContext), line)) {
            // Written whole, however long; one that did not fit the line
            // buffer ends with the marker.
            size_t length = std::strlen(line);
            if (m_bLineCut && length > 0 && line[length - 1] == '\r')
                --length;
            ReportWrite("\t", 1);
            ReportWrite(line, length);
            if (m_bLineCut)
                ReportWrite(kCutMarker, sizeof kCutMarker - 1);
            ReportWrite("\r\n", 2);
        }
    } else {
        ReportPrintf("Symbol %s\r\n", current->name);
    }
    m_bInVariable = 0;
    return true;
}

char* CFaultReporter::Append(char* buffer, const char* format, ...)
{
    const size_t used = static_cast<size_t>(buffer - m_pszLineStart);
    if (used + 1 >= kLineSize) {
        m_bLineCut = true;
        return buffer;
    }
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, kLineSize - used, format, args);
    va_end(args);
    if (length <= 0)
        return buffer;
    if (static_cast<size_t>(length) > kLineSize - used - 1)
        m_bLineCut = true;
    return buffer + std::min(static_cast<size_t>(length), kLineSize - used - 1);
}

bool CFaultReporter::FormatVariable(const SymbolInfo* symbol, const StackFrame* frame, char* buffer)
{
    m_pszLineStart = buffer;
    m_bLineCut = false;
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

bool crashreport::readMemory(uint64_t address, void* buffer, size_t size, bool* unsure)
{
    iovec local{buffer, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    const ssize_t done = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
    if (unsure)
        *unsure = done < 0 && errno != EFAULT;
    return done == static_cast<ssize_t>(size);
}

namespace {

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
