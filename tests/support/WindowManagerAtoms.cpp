#include "WindowManagerAtoms.h"

#include <X11/Xlib.h>

#include <cstdlib>

WindowManagerAtoms::WindowManagerAtoms()
{
    if (std::getenv ("DISPLAY") == nullptr)
        return;

    // The names the framework looks up without creating them, as of JUCE 8.
    const char* names[] = { "WM_PROTOCOLS",          "WM_TAKE_FOCUS",          "WM_DELETE_WINDOW",
                            "WM_CHANGE_STATE",       "WM_STATE",               "_NET_WM_PING",
                            "_NET_WM_WINDOW_TYPE",   "_NET_WM_STATE",          "_NET_WM_STATE_HIDDEN",
                            "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_ALLOWED_ACTIONS", "_MOTIF_WM_HINTS",
                            "_NET_FRAME_EXTENTS",    "_NET_WORKAREA" };
    constexpr int count = static_cast<int> (sizeof (names) / sizeof (names[0]));

    if (auto* connection = XOpenDisplay (nullptr))
    {
        Atom atoms[count];
        XInternAtoms (connection, const_cast<char**> (names), count, False, atoms);
        XFlush (connection);
        display = connection;
    }
}

WindowManagerAtoms::~WindowManagerAtoms()
{
    if (display != nullptr)
        XCloseDisplay (static_cast<Display*> (display));
}
