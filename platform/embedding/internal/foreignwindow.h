// Windows of other programs (the container's), as far as the windowing
// system lets us use them. Only X11 has them: Wayland and the offscreen
// platform cannot put a window of ours inside another program's window.
#pragma once

#include <QtGlobal>

class QWidget;
class QWindow;

namespace embedding::internal {

// Whether windows of other programs can be parents of ours here.
bool foreignWindowsSupported();

// The other program's window `id`, or null when there is no such window.
QWindow* adoptForeignWindow(quintptr id);

// Makes `widget` a native window whose parent is `parent` (a foreign window).
void placeInForeignWindow(QWidget* widget, QWindow* parent);

// Asks the window that `embedded` sits in (a window of another program) for
// the keyboard, as an XEmbed client does (XEMBED_REQUEST_FOCUS).
void requestEmbedderFocus(QWindow* embedded);

// Gives each control on the bars under `host` a native window named after
// it (a button after its tool tip, any other control after its identifier),
// so that window-tree and automation tools can tell them apart.
void nameControlWindows(QWidget* host);

} // namespace embedding::internal
