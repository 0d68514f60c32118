// Turns the screen and a vivid camera's picture from black to white and back at the same moments,
// so that the screen and webcam tracks can be laid against each other.
//   flip_scene <camera device> <period s> <seconds> <log>
// Every `period` seconds the root window of $DISPLAY and vivid's test pattern flip together; the
// log gets "n white before_ms after_ms" per flip: the wall clock (ms since 1970) just before the
// first change was asked for and once both were done (XSync, the control set).
#include <X11/Xlib.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

static double wallMs(void) {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static long long monotonicNs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

static void sleepUntil(long long ns) {
    struct timespec t = {ns / 1000000000LL, ns % 1000000000LL};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, NULL) != 0) {
    }
}

// The control named `name` and the indices of two of its menu entries.
static int findPattern(int fd, unsigned* id, int* black, int* white) {
    struct v4l2_queryctrl query;
    memset(&query, 0, sizeof query);
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (ioctl(fd, VIDIOC_QUERYCTRL, &query) == 0) {
        if (strcmp((const char*)query.name, "Test Pattern") == 0 && query.type == V4L2_CTRL_TYPE_MENU) {
            *id = query.id;
            *black = *white = -1;
            for (int i = query.minimum; i <= query.maximum; ++i) {
                struct v4l2_querymenu item;
                memset(&item, 0, sizeof item);
                item.id = query.id;
                item.index = (unsigned)i;
                if (ioctl(fd, VIDIOC_QUERYMENU, &item) != 0) continue;
                if (strcmp((const char*)item.name, "100% Black") == 0) *black = i;
                if (strcmp((const char*)item.name, "100% White") == 0) *white = i;
            }
            return *black >= 0 && *white >= 0 ? 0 : -1;
        }
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return -1;
}

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: %s <camera device> <period s> <seconds> <log>\n", argv[0]);
        return 2;
    }
    const double period = atof(argv[2]);
    const double seconds = atof(argv[3]);
    const int camera = open(argv[1], O_RDWR | O_NONBLOCK);
    unsigned patternId = 0;
    int black = 0, white = 0;
    if (camera < 0 || findPattern(camera, &patternId, &black, &white) != 0) {
        fprintf(stderr, "flip_scene: no vivid test pattern on %s\n", argv[1]);
        return 1;
    }
    Display* dpy = XOpenDisplay(NULL);
    if (dpy == NULL) {
        fprintf(stderr, "flip_scene: no display\n");
        return 1;
    }
    FILE* log = fopen(argv[4], "w");
    if (log == NULL) return 1;
    const Window root = DefaultRootWindow(dpy);

    const long long start = monotonicNs() + 100000000LL;
    const long long count = (long long)(seconds / period);
    for (long long n = 0; n <= count; ++n) {
        sleepUntil(start + (long long)(n * period * 1e9));
        const int isWhite = (int)(n % 2 == 1);
        const double before = wallMs();
        struct v4l2_control control = {patternId, isWhite ? white : black};
        ioctl(camera, VIDIOC_S_CTRL, &control);
        XSetWindowBackground(dpy, root, isWhite ? 0xffffff : 0x000000);
        XClearWindow(dpy, root);
        XSync(dpy, False);
        const double after = wallMs();
        fprintf(log, "%lld %d %.3f %.3f\n", n, isWhite, before, after);
        fflush(log);
    }
    fclose(log);
    XCloseDisplay(dpy);
    close(camera);
    return 0;
}
