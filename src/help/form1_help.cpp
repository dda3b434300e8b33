// The main window's help items: the quick manual, the help document and the
// version window.
#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "help/Form3.h"
#include "help/Form4.h"
#include "help/help_viewer.h"

namespace pel {

void Form1::how_to_Click() { Forms::form4().ShowModal(); }

// The viewer finds the file itself and reports a missing one in its own window;
// the main window does not wait for it.
void Form1::howtouse_Click() { help::WinHelp(this, QStringLiteral("pelorinax.hlp"), help::kHelpContents, 0); }

void Form1::ver_Click() { Forms::form3().ShowModal(); }

}  // namespace pel
