#include "system/msgbox.h"

#include "system/fsname.h"

namespace pel {

int MsgBox(const QString &prompt, int buttons, const QString &title)
{
    // A file name in the prompt reads as the lists show it.
    return os().messageBox(
        {fsname::display(prompt), buttons, title.isEmpty() ? QStringLiteral("pelorinax") : fsname::display(title)});
}

}  // namespace pel
