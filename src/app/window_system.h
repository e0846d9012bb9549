// Pushing requests to the window system at once, for the few changes that
// must reach the screen without a pass through the event loop.
#pragma once

namespace notepics {

// Sends every request still buffered for the display server. On X11 the
// toolkit flushes its own connection after a caption change, but the
// legacy WM_NAME property goes out through Xlib's buffer, which nothing
// else flushes before the next pass through the event loop. Does nothing on
// other platforms.
void flush_window_system();

}  // namespace notepics
