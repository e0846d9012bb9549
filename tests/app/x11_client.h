// Requests to the X server from a client of its own, as another program
// (a pager, a panel) would send them. Needs $DISPLAY.
#pragma once

namespace notepics {

// Asks the window manager to close the top-level window `window`, as its
// close button does. False when the display cannot be opened.
bool request_close(unsigned long window);

}  // namespace notepics
