#pragma once
// The frame a window manager will draw around a window, known before the window
// is first shown, so that outer sizes set by code come out right the first time.
#include <QMargins>
#include <optional>

class QWidget;

namespace pel::kit {

// Asks for the frame of `probe` (created, not shown): the platform's own answer
// where it knows one before mapping (offscreen), else the X11 window manager's
// _NET_FRAME_EXTENTS after a _NET_REQUEST_FRAME_EXTENTS. Nothing when neither answers
// (no window manager: no frame).
std::optional<QMargins> probeFrameMargins(QWidget &probe);

// The frame the window system reports now for a shown window; nothing while the
// window manager has not framed it yet.
std::optional<QMargins> currentFrameMargins(QWidget &shown);

}  // namespace pel::kit
