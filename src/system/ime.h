#pragma once
// The input-method mode of a text box, as the windows ask for it: 1 on, 2 off,
// 4 full-width hiragana. Linux knows no such mode per box, so the layer keeps the
// mode on the box, sets Qt's input-method hints, and asks the input-method
// framework (through the Os, which reaches fcitx5 on the session bus) to switch
// input on (1, 4) or off (2) whenever the box has the focus.
class QWidget;

namespace pel::ime {

enum Mode { On = 1, Off = 2, Hiragana = 4 };

// Applies at once while the box has the focus, else each time it gets it.
void setMode(QWidget *box, int mode);
// The mode last asked for the box; 0 when none was.
int mode(const QWidget *box);

}  // namespace pel::ime
