// Built into the test variant of the player only: crashes on purpose where
// the environment asks for it, so that the tests can read the player's own
// report. Compiled without optimisation, as the report's locals are read
// exactly in every build.
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Kept apart from the sanitizers' own null checks, which would end the
// process before the fault does.
__attribute__((noinline, no_sanitize("undefined"))) void crashIfTestAsks()
{
    const char* how = std::getenv("BRISOLDE_TEST_CRASH");
    if (!how || std::strcmp(how, "null-write") != 0)
        return;
    // What a report shows of a frame: an int and a string.
    int nAnswer = 42;
    const char* pszWhat = "null-write";
    volatile uintptr_t uTarget = 0;
    *reinterpret_cast<volatile int*>(uTarget) = nAnswer + static_cast<int>(std::strlen(pszWhat));
}
