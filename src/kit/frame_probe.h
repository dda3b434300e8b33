#pragma once
// The frame a window manager will draw around a window, known before the window
// is first shown, so that outer sizes set by code come out right the first time.
#include <QMargins>
#include <Qt>
#include <functional>
#include <optional>

class QWidget;

namespace pel::kit {

// Asks for the frame of a window with `flags` (a probe created, never shown): the
// platform's own answer where it knows one before mapping (offscreen), else the X11
// window manager's _NET_FRAME_EXTENTS after a _NET_REQUEST_FRAME_EXTENTS; no frame
// when no window manager runs. Nothing when the window manager does not answer.
std::optional<QMargins> probeFrameMargins(Qt::WindowFlags flags);

// The frame the window system reports now for a shown window; nothing while the
// window manager has not framed it yet.
std::optional<QMargins> currentFrameMargins(QWidget &shown);

// Calls `changed` with the native window id whenever the window manager sets the
// frame extents of one of the program's windows (X11; elsewhere it never calls).
// A window placed exactly where it asked to be gets no move event when it is
// framed: this is how the frame of such a window becomes known.
void watchFrameExtents(std::function<void(quintptr window)> changed);

}  // namespace pel::kit
