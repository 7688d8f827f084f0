#include "brisoldeapp.h"
#include "faultreporter.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

// The crash report writer is built before every other global object of the
// program, so that a crash anywhere after it is reported.
CFaultReporter theFaultReporter __attribute__((init_priority(101)));

// The application object is one of the program's global objects, built before main runs.
CBrisoldeApp theApp;

namespace {

bool hasDisplay()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!hasDisplay()) {
        std::fprintf(stderr,
                     "brisolde: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are "
                     "unset).\nStart it from a desktop session, or inside a virtual display with "
                     "\"xvfb-run -a %s\".\n",
                     argv[0]);
        return 1;
    }
    QApplication application(argc, argv);
    CFaultReporter::CrashIfTestAsks();
    QApplication::setApplicationName(QStringLiteral("Brisolde"));
    QApplication::setApplicationVersion(QStringLiteral(BRISOLDE_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Tolvern Midi Applications"));
    return theApp.Run();
}
