/* Test helper: shows one window per argument, each with its own cursor loaded by name from the
 * cursor theme (as toolkits do), prints "ready" once all are mapped and stays until stdin
 * closes.  Usage: cursor_window x,y,w,h,name ...  */
#include <X11/Xcursor/Xcursor.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char **argv) {
    Display *display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "cannot open display\n");
        return 1;
    }
    int mapped = 0;
    for (int i = 1; i < argc; ++i) {
        int x, y, w, h;
        char name[64];
        if (sscanf(argv[i], "%d,%d,%d,%d,%63s", &x, &y, &w, &h, name) != 5) {
            fprintf(stderr, "bad window spec %s\n", argv[i]);
            return 2;
        }
        XSetWindowAttributes attributes;
        attributes.override_redirect = True;
        attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
        attributes.event_mask = StructureNotifyMask;
        Window window = XCreateWindow(display, DefaultRootWindow(display), x, y, (unsigned)w, (unsigned)h, 0,
                                      CopyFromParent, InputOutput, CopyFromParent,
                                      CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
        Cursor cursor = XcursorLibraryLoadCursor(display, name);
        if (cursor == None) {
            fprintf(stderr, "no cursor %s in the theme\n", name);
            return 3;
        }
        XDefineCursor(display, window, cursor);
        XMapRaised(display, window);
    }
    while (mapped < argc - 1) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) ++mapped;
    }
    XSync(display, False);
    printf("ready\n");
    fflush(stdout);
    char buffer[16];
    while (read(0, buffer, sizeof buffer) > 0) {
    }
    XCloseDisplay(display);
    return 0;
}
