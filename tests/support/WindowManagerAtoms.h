#pragma once

// The framework only looks up the window manager's atoms (WM_STATE, _NET_WM_STATE, ...), never
// creates them; under a bare X server with no window manager they do not exist and the first
// window fails with BadAtom. While this object lives the atoms exist, as a window manager would
// have made them: it creates them when a display is set and keeps its connection open, because
// a bare X server resets, and forgets every atom, when its last client disconnects.
class WindowManagerAtoms
{
public:
    WindowManagerAtoms();
    ~WindowManagerAtoms();

    WindowManagerAtoms (const WindowManagerAtoms&) = delete;
    WindowManagerAtoms& operator= (const WindowManagerAtoms&) = delete;

private:
    void* display = nullptr;
};
