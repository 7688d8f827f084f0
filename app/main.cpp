#include "brisoldeapp.h"
#include "faultreporter.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

// The crash report writer is built before every other global object of the
// program, so that a crash anywhere after it is reported.
CFaultReporter theFaultReporter __attribute__((init_priority(101)));

// The application object is one of the program's global objects, built before main runs.
CBrisoldeApp theApp;

#ifdef BRISOLDE_TEST_VARIANT
// The test variant of the program (tests/crash) crashes where its tests ask it to.
void crashIfTestAsks();
#endif

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

const char* g_programName = "brisolde";

// The one answer to a display that cannot be had, whatever the reason.
void explainNoDisplay(const std::string& why)
{
    std::fprintf(stderr,
                 "brisolde: no display to open a window on (%s).\nStart it from a desktop "
                 "session, or inside a virtual display with \"xvfb-run -a %s\".\n",
                 why.c_str(), g_programName);
}

// Where Qt is to open an X display (no other window system asked for), the
// display is tried first with the same library Qt uses, so that one that
// does not exist or refuses us gets a plain answer instead of an abort deep
// inside Qt. The trial connection stays open until Qt has its own: an X
// server that resets when its last client leaves (Xvfb as xvfb-run starts
// it) would otherwise refuse Qt while it resets.
class XDisplayProbe
{
public:
    explicit XDisplayProbe(const char* display)
    {
        const char* platform = std::getenv("QT_QPA_PLATFORM");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if ((platform && *platform && std::strncmp(platform, "xcb", 3) != 0) ||
            (wayland && *wayland) || !display || !*display)
            return;
        m_library = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!m_library)
            return;
        using Connect = void* (*)(const char*, int*);
        using HasError = int (*)(void*);
        auto connect = reinterpret_cast<Connect>(::dlsym(m_library, "xcb_connect"));
        auto hasError = reinterpret_cast<HasError>(::dlsym(m_library, "xcb_connection_has_error"));
        m_disconnect = reinterpret_cast<Disconnect>(::dlsym(m_library, "xcb_disconnect"));
        if (!connect || !hasError || !m_disconnect)
            return;
        m_connection = connect(display, nullptr);
        m_opens = m_connection && hasError(m_connection) == 0;
    }
    ~XDisplayProbe() { release(); }
    XDisplayProbe(const XDisplayProbe&) = delete;
    XDisplayProbe& operator=(const XDisplayProbe&) = delete;

    // False only when the display surely cannot be opened.
    bool opens() const { return m_opens; }

    void release()
    {
        if (m_connection && m_disconnect)
            m_disconnect(m_connection);
        m_connection = nullptr;
        if (m_library)
            ::dlclose(m_library);
        m_library = nullptr;
    }

private:
    using Disconnect = void (*)(void*);
    void* m_library = nullptr;
    void* m_connection = nullptr;
    Disconnect m_disconnect = nullptr;
    bool m_opens = true;
};

// While Qt starts its window system, a fatal error means that no display
// could be had: said plainly, and the program ends with status 1 instead of
// aborting.
QtMessageHandler g_previousMessageHandler = nullptr;

void onStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        if (g_previousMessageHandler)
            g_previousMessageHandler(type, context, message);
        return;
    }
    explainNoDisplay("the window system could not be started");
    std::fflush(nullptr);
    ::_exit(1);
}

} // namespace

int main(int argc, char* argv[])
{
    g_programName = argv[0];
    if (!hasDisplay()) {
        explainNoDisplay("DISPLAY and WAYLAND_DISPLAY are unset");
        return 1;
    }
    const char* display = std::getenv("DISPLAY");
    XDisplayProbe probe(display);
    if (!probe.opens()) {
        explainNoDisplay("the display \"" + std::string(display) + "\" cannot be opened");
        return 1;
    }
    g_previousMessageHandler = qInstallMessageHandler(&onStartupMessage);
    QApplication application(argc, argv);
    qInstallMessageHandler(g_previousMessageHandler);
    probe.release();
#ifdef BRISOLDE_TEST_VARIANT
    crashIfTestAsks();
#endif
    QApplication::setApplicationName(QStringLiteral("Brisolde"));
    QApplication::setApplicationVersion(QStringLiteral(BRISOLDE_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Tolvern Midi Applications"));
    return theApp.Run();
}
