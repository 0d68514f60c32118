/* Injects a burst of pointer moves through XTest, one request flushed and synced at a time, and
 * prints "x y wall_clock_microseconds" for each.  Usage: inject_moves count interval_us */
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/time.h>
#include <time.h>

static long long now_us(void) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

int main(int argc, char **argv) {
    int count = argc > 1 ? atoi(argv[1]) : 1000;
    int interval = argc > 2 ? atoi(argv[2]) : 1000;
    Display *display = XOpenDisplay(NULL);
    if (display == NULL) return 1;
    for (int i = 0; i < count; ++i) {
        int x = 100 + i % 1700, y = 100 + i / 1700;
        long long t = now_us();
        XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
        XSync(display, False);
        printf("%d %d %lld\n", x, y, t);
        struct timespec pause = {0, interval * 1000L};
        nanosleep(&pause, NULL);
    }
    XCloseDisplay(display);
    return 0;
}
