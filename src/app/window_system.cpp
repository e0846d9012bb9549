#include "app/window_system.h"

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>

// Xlib last: its macros (Expose, None, Bool...) clash with toolkit names.
#include <X11/Xlib.h>

namespace notepics {

void flush_window_system() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 != nullptr && x11->display() != nullptr) {
        XFlush(x11->display());
    }
}

}  // namespace notepics
