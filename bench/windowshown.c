/* Starts a program and tells, from outside, how long it took until its first
 * top-level window was mapped on the X display, then its resident memory
 * after a while, and ends it.
 *
 *   windowshown SECONDS COMMAND [ARGS...]
 *
 * Prints "shown MS" (milliseconds from the start to the map) and
 * "resident KIB" (VmRSS, SECONDS after the map). Needs DISPLAY.
 */
#define _GNU_SOURCE
#include <X11/Xlib.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static long resident_kib(pid_t pid)
{
    char path[64], line[256];
    long kib = -1;
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *f = fopen(path, "r");
    if (!f)
        return -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    fclose(f);
    return kib;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: windowshown SECONDS COMMAND [ARGS...]\n");
        return 2;
    }
    const double wait_after = atof(argv[1]);
    Display *display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "windowshown: no display\n");
        return 1;
    }
    Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const double start = now_ms();
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    double shown = -1;
    const int fd = ConnectionNumber(display);
    while (shown < 0 && now_ms() - start < 30000) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect &&
                event.xmap.event == root) {
                shown = now_ms() - start;
                break;
            }
        }
        if (shown < 0) {
            fd_set fds;
            FD_ZERO(&fds);
            FD_SET(fd, &fds);
            struct timeval tv = {0, 1000};
            select(fd + 1, &fds, NULL, NULL, &tv);
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            fprintf(stderr, "windowshown: the program ended before showing a window\n");
            return 1;
        }
    }
    if (shown < 0) {
        fprintf(stderr, "windowshown: no window within 30 s\n");
        kill(pid, SIGKILL);
        return 1;
    }
    printf("shown %.1f\n", shown);
    fflush(stdout);
    usleep((useconds_t)(wait_after * 1e6));
    printf("resident %ld\n", resident_kib(pid));
    kill(pid, SIGTERM);
    waitpid(pid, NULL, 0);
    XCloseDisplay(display);
    return 0;
}
