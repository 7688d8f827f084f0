// Writes one profile value many times, as a second running copy of the
// program would: profile_writer FILE SECTION ENTRY VALUE COUNT
#include "profile.h"

#include <QString>
#include <cstdlib>

int main(int argc, char* argv[])
{
    if (argc != 6)
        return 2;
    const framework::Profile profile(QString::fromLocal8Bit(argv[1]));
    const int count = std::atoi(argv[5]);
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        if (!profile.writeString(argv[2], argv[3], argv[4]))
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}
