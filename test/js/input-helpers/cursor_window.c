/* Test helper: one window per "x,y,w,h,name" argument, each showing that cursor loaded by name
 * from the cursor theme (as toolkits do); prints "ready" once all are mapped, stays until stdin
 * closes. */
#include <X11/Xcursor/Xcursor.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char **argv) {
    Display *display = XOpenDisplay(NULL);
    if (display == NULL) return 1;
    for (int i = 1; i < argc; ++i) {
        int x, y, w, h;
        char name[64];
        if (sscanf(argv[i], "%d,%d,%d,%d,%63s", &x, &y, &w, &h, name) != 5) return 2;
        XSetWindowAttributes attributes = {.override_redirect = True, .event_mask = StructureNotifyMask};
        Window window = XCreateWindow(display, DefaultRootWindow(display), x, y, (unsigned)w, (unsigned)h, 0,
                                      CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWEventMask,
                                      &attributes);
        Cursor cursor = XcursorLibraryLoadCursor(display, name);
        if (cursor == None) return 3;
        XDefineCursor(display, window, cursor);
        XMapRaised(display, window);
    }
    for (int mapped = 0; mapped < argc - 1;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) ++mapped;
    }
    printf("ready\n");
    fflush(stdout);
    char buffer[16];
    while (read(0, buffer, sizeof buffer) > 0) continue;
    return 0;
}
