#pragma once

// The framework only looks up the window manager's atoms (WM_STATE, _NET_WM_STATE, ...), never
// creates them; under a bare X server with no window manager they do not exist and the first
// window fails with BadAtom. This creates them, as a window manager would have, when a display
// is set.
void createWindowManagerAtoms();
