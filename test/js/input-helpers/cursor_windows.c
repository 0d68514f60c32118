/* Test helper: one window per "x,y,w,h,cursor" argument. The cursors red, half and offcentre are
 * made from known ARGB images (red: 16x16 opaque, hotspot 0,0; half: 20x20 half-transparent
 * gradient, hotspot 10,10; offcentre: 24x24 checker with a transparent top row, hotspot 3,20),
 * their straight colours premultiplied as X expects; any other name is loaded from the cursor
 * theme, as toolkits do. Prints "ready" once all are mapped, stays until stdin closes. */
#include <X11/Xcursor/Xcursor.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static XcursorPixel premultiplied(unsigned a, unsigned r, unsigned g, unsigned b) {
    r = (r * a + 127) / 255;
    g = (g * a + 127) / 255;
    b = (b * a + 127) / 255;
    return (a << 24) | (r << 16) | (g << 8) | b;
}

static XcursorImage *pattern(const char *name) {
    int size = strcmp(name, "red") == 0 ? 16 : strcmp(name, "half") == 0 ? 20 : 24;
    XcursorImage *image = XcursorImageCreate(size, size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            XcursorPixel *p = &image->pixels[y * size + x];
            if (strcmp(name, "red") == 0) {
                *p = premultiplied(255, 255, 0, 0);
            } else if (strcmp(name, "half") == 0) {
                *p = premultiplied(128, 0, (unsigned)x * 12, 200);
            } else {
                *p = y == 0 ? 0 : ((x / 4 + y / 4) % 2 ? premultiplied(255, 255, 255, 0) : premultiplied(255, 0, 128, 0));
            }
        }
    }
    image->xhot = strcmp(name, "red") == 0 ? 0 : strcmp(name, "half") == 0 ? 10 : 3;
    image->yhot = strcmp(name, "red") == 0 ? 0 : strcmp(name, "half") == 0 ? 10 : 20;
    return image;
}

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
        Cursor cursor;
        if (strcmp(name, "red") == 0 || strcmp(name, "half") == 0 || strcmp(name, "offcentre") == 0) {
            XcursorImage *image = pattern(name);
            cursor = XcursorImageLoadCursor(display, image);
            XcursorImageDestroy(image);
        } else {
            cursor = XcursorLibraryLoadCursor(display, name);
        }
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
