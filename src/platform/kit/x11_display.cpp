#include "platform/kit/x11_display.h"

#include <xcb/xcb.h>

namespace pel::kit {

bool x11DisplayAnswers(const QByteArray &display)
{
    int screen = 0;
    xcb_connection_t *c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screen);
    const bool ok = c && xcb_connection_has_error(c) == 0;
    xcb_disconnect(c);
    return ok;
}

}  // namespace pel::kit
