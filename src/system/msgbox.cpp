#include "system/msgbox.h"

namespace pel {

int MsgBox(const QString &prompt, int buttons, const QString &title)
{
    return os().messageBox({prompt, buttons, title.isEmpty() ? QStringLiteral("pelorinax") : title});
}

}  // namespace pel
