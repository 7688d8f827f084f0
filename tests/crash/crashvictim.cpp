// A program that crashes on purpose, in the way its argument names, so that
// the tests can read the report it leaves:
//   crashvictim null-write|divide|abort|throw|recursion|null-call|thread|
//               two-threads|thread-recursion|audio-recursion|illegal|breakpoint
// Every crashing function holds an int and a character pointer, which the
// report must show. The lines the tests look for carry a "crash:" comment.
#include "crashstack.h"
#include "faultreporter.h"
#include "internal/audiooutput.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

CFaultReporter theFaultReporter __attribute__((init_priority(101)));

// Globals the report lists.
int g_nVictimRuns = 1;
char g_szMessage[] = "brisolde";

struct Point
{
    int x;
    int y;
    double weight;
};
struct Segment
{
    Point from;
    Point to;
};
Segment g_segment{{1, 2, 0.5}, {3, 4, 1.5}};

// Globals whose lines are longer than one write of the report: one that fits
// the writer's line buffer (60 members, about 1500 characters), one that does
// not (120 members).
#define TEN_MEMBERS(p) int p##0, p##1, p##2, p##3, p##4, p##5, p##6, p##7, p##8, p##9;
struct WideRecord
{
    TEN_MEMBERS(nValueA)
    TEN_MEMBERS(nValueB)
    TEN_MEMBERS(nValueC) TEN_MEMBERS(nValueD) TEN_MEMBERS(nValueE) TEN_MEMBERS(nValueF)
};
struct WiderRecord
{
    WideRecord first;
    WideRecord second;
};
WideRecord g_wide{};
WiderRecord g_wider{};
int g_nAfterWide = 7;

// A variable no one may read: listing it faults inside the writer, which
// must give up that one line and go on.
struct alignas(4096) GuardedPage
{
    long value;
    char rest[4096 - sizeof(long)];
};
GuardedPage g_guardedPage;

namespace {

// The pointer is read through a volatile so that the compiler cannot see the
// null coming, and the sanitizers' null checks are kept out of the way.
volatile uintptr_t g_uNowhere = 0;

} // namespace

__attribute__((noinline, no_sanitize("undefined"))) void crashNullWrite()
{
    int nCount = 42;
    char* pszText = g_szMessage;
    double dRatio = 0.25;
    float fScale = 1.5f;
    short sSmall = 7;
    unsigned char byFlag = 0x41;
    Point pt{5, 6, 0.75};
    char* pszBad = reinterpret_cast<char*>(uintptr_t{0x10});
    const int nSum = nCount + pszText[0] + sSmall + byFlag + pt.x +
                     static_cast<int>(dRatio + fScale) + (pszBad ? 1 : 0);
    *reinterpret_cast<volatile int*>(g_uNowhere) = nSum; // crash: null-write
}

__attribute__((noinline, no_sanitize("undefined"))) int crashDivide(int divisor)
{
    int nCount = 42;
    char* pszText = g_szMessage;
    volatile int nDivisor = divisor;
    return nCount / nDivisor + pszText[0]; // crash: divide
}

__attribute__((noinline)) void crashAbort()
{
    int nCount = 42;
    char* pszText = g_szMessage;
    if (nCount == 42 && pszText[0] == 'b')
        std::abort(); // crash: abort
}

__attribute__((noinline)) void crashThrow()
{
    int nCount = 42;
    char* pszText = g_szMessage;
    if (nCount == 42 && pszText[0] == 'b')
        throw std::runtime_error("the victim gave up"); // crash: throw
}

__attribute__((noinline, no_sanitize("undefined"))) int crashRecursion(int depth)
{
    int nCount = depth;
    char* pszText = g_szMessage;
    volatile char pad[200];
    pad[0] = pszText[0];
    // The way out is never taken: the stack runs out first.
    if (nCount < 0)
        return pad[0];
    return crashRecursion(nCount + 1) + pad[0]; // crash: recursion
}

__attribute__((noinline, no_sanitize("undefined"))) void crashNullCall()
{
    int nCount = 42;
    char* pszText = g_szMessage;
    auto pfnTarget = reinterpret_cast<void (*)(int, char*)>(g_uNowhere);
    pfnTarget(nCount, pszText); // crash: null-call
}

__attribute__((noinline, no_sanitize("undefined"))) void crashOnThread()
{
    int nCount = 42;
    char* pszText = g_szMessage;
    *reinterpret_cast<volatile int*>(g_uNowhere) = nCount + pszText[0]; // crash: thread
}

__attribute__((noinline)) void crashIllegal()
{
    int nCount = 42;
    char* pszText = g_szMessage;
    if (nCount == 42 && pszText[0] == 'b')
        __builtin_trap(); // crash: illegal
}

__attribute__((noinline)) void crashBreakpoint()
{
    int nCount = 42;
    char* pszText = g_szMessage;
    if (nCount == 42 && pszText[0] == 'b')
        __asm__ volatile("int3"); // crash: breakpoint
}

// The engine's audio thread runs out of stack in its source.
class RunawaySource final : public music::internal::AudioSource
{
public:
    void renderAudio(float*, float*, int) override { crashRecursion(0); }
};

// Two threads crash at once: one report is written, and neither waits forever.
void crashTwoThreads()
{
    std::atomic<int> ready{0};
    auto crash = [&ready] {
        // As every thread of the program does first.
        crashstack::prepareThisThread();
        ++ready;
        while (ready < 2) {
        }
        crashOnThread();
    };
    std::thread first(crash);
    std::thread second(crash);
    first.join();
    second.join();
}

int main(int argc, char* argv[])
{
    if (argc != 2)
        return 2;
    const char* how = argv[1];
    if (std::strcmp(how, "null-write") == 0) {
        ::mprotect(&g_guardedPage, sizeof g_guardedPage, PROT_NONE);
        crashNullWrite();
    } else if (std::strcmp(how, "divide") == 0) {
        return crashDivide(0);
    } else if (std::strcmp(how, "abort") == 0) {
        crashAbort();
    } else if (std::strcmp(how, "throw") == 0) {
        crashThrow();
    } else if (std::strcmp(how, "recursion") == 0) {
        return crashRecursion(0);
    } else if (std::strcmp(how, "null-call") == 0) {
        crashNullCall();
    } else if (std::strcmp(how, "illegal") == 0) {
        crashIllegal();
    } else if (std::strcmp(how, "breakpoint") == 0) {
        crashBreakpoint();
    } else if (std::strcmp(how, "two-threads") == 0) {
        crashTwoThreads();
    } else if (std::strcmp(how, "thread-recursion") == 0) {
        std::thread worker([] {
            crashstack::prepareThisThread();
            crashRecursion(0);
        });
        worker.join();
    } else if (std::strcmp(how, "audio-recursion") == 0) {
        RunawaySource source;
        auto sink = music::internal::openSilentSink(source, 44100);
        for (;;)
            ::pause();
    } else if (std::strcmp(how, "thread") == 0) {
        // The main thread keeps working while the second one crashes.
        std::atomic<bool> started{false};
        std::thread worker([&started] {
            crashstack::prepareThisThread();
            started = true;
            crashOnThread();
        });
        double sum = 0;
        for (unsigned long i = 1;; ++i) {
            sum += std::sqrt(static_cast<double>(i));
            if (started && i % 1000000 == 0 && sum < 0)
                break;
        }
        worker.join();
    }
    return 3;
}
