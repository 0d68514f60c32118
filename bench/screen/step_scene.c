// A scene for the screen benchmarks, drawn straight onto the root window of $DISPLAY.
//   step_scene steps <rate> <seconds> <log>   step n as 16 black/white blocks (20x32 px each, top
//                                             left) at n/rate s; the log gets "n done_ns" (monotonic)
//                                             per step once the server has drawn it (XSync)
//   step_scene box <rate> <seconds>           a 200x200 box moving 16 px a step across a still
//                                             grey desktop
// Steps are timed on an absolute clock, so a late one does not delay the rest.
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static long long nowNs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

static void sleepUntil(long long ns) {
    struct timespec t = {ns / 1000000000LL, ns % 1000000000LL};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, NULL) != 0) {
    }
}

int main(int argc, char** argv) {
    if (argc < 4 || (strcmp(argv[1], "steps") == 0 && argc < 5)) {
        fprintf(stderr, "usage: %s steps <rate> <seconds> <log> | box <rate> <seconds>\n", argv[0]);
        return 2;
    }
    const int steps = strcmp(argv[1], "steps") == 0;
    const double rate = atof(argv[2]);
    const double seconds = atof(argv[3]);
    Display* dpy = XOpenDisplay(NULL);
    if (dpy == NULL) return 1;
    FILE* log = steps ? fopen(argv[4], "w") : NULL;
    if (steps && log == NULL) return 1;
    const int screen = DefaultScreen(dpy);
    const Window root = RootWindow(dpy, screen);
    const unsigned long grey = 0x808080;
    GC gc = XCreateGC(dpy, root, 0, NULL);
    XSetWindowBackground(dpy, root, grey);
    XClearWindow(dpy, root);
    // Each step is drawn into a pixmap first and reaches the root in one request, so that a grab
    // never sees half of it.
    const int box = 200, margin = 16, boxY = 400;
    const int imageWidth = steps ? 320 : box + 2 * margin, imageHeight = steps ? 32 : box;
    Pixmap image = XCreatePixmap(dpy, root, imageWidth, imageHeight, DefaultDepth(dpy, screen));
    if (!steps) {
        // The box with a margin of background on each side: one copy draws it and wipes its trail.
        XSetForeground(dpy, gc, grey);
        XFillRectangle(dpy, image, gc, 0, 0, imageWidth, imageHeight);
        XSetForeground(dpy, gc, 0x2060c0);
        XFillRectangle(dpy, image, gc, margin, 0, box, box);
    }

    const long long start = nowNs() + 100000000LL;
    const long long count = (long long)(seconds * rate);
    const int travel = DisplayWidth(dpy, screen) - imageWidth;
    for (long long n = 0; n < count; ++n) {
        if (steps) {
            for (int k = 0; k < 16; ++k) {
                XSetForeground(dpy, gc, ((n >> k) & 1) ? WhitePixel(dpy, screen) : BlackPixel(dpy, screen));
                XFillRectangle(dpy, image, gc, 20 * k, 0, 20, 32);
            }
        }
        sleepUntil(start + (long long)(n * 1e9 / rate));
        if (steps) {
            XCopyArea(dpy, image, root, gc, 0, 0, imageWidth, imageHeight, 0, 0);
            XSync(dpy, False);
            fprintf(log, "%lld %lld\n", n, nowNs());
        } else {
            const int x = (int)((n * margin) % (2 * travel));
            XCopyArea(dpy, image, root, gc, 0, 0, imageWidth, imageHeight, x < travel ? x : 2 * travel - x, boxY);
            XFlush(dpy);
        }
    }
    if (log != NULL) fclose(log);
    XCloseDisplay(dpy);
    return 0;
}
