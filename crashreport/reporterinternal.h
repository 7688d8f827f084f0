// Helpers the crash handlers and the report writer share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

namespace crashreport {

inline constexpr uint32_t kStackOverflow = 0xC00000FD;

inline pid_t currentThread()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

inline uint64_t reg(const ucontext_t* context, int index)
{
    return static_cast<uint64_t>(context->uc_mcontext.gregs[index]);
}

// Reads memory of this process without faulting; false when any of it is
// unreadable. `unsure` tells when the system refused to look at all.
bool readMemory(uint64_t address, void* buffer, size_t size, bool* unsure = nullptr);

} // namespace crashreport
