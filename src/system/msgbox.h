#pragma once
// Message boxes with the button values the windows use (0 OK, 16 OK with the stop
// icon, 36 Yes/No with the question icon; 48 the warning icon, 256 the second
// button as the default). Tests script the answers instead of running a modal
// loop, and read back what would have been shown.
#include <QList>
#include <QString>
#include <functional>

namespace pel {

enum MsgButtons { vbOKOnly = 0, vbYesNo = 4, vbCritical = 16, vbQuestion = 32, vbExclamation = 48, vbDefaultButton2 = 256 };
enum MsgResult { vbOK = 1, vbYes = 6, vbNo = 7 };

// Shows the box modally over the active window and returns the button pressed.
// Without a title the application's title "pelorinax" is used. CR LF in the
// prompt is a line break.
int MsgBox(const QString &prompt, int buttons = vbOKOnly, const QString &title = QString());

struct MsgBoxShown {
    QString prompt;
    int buttons;
    QString title;   // as shown (the default filled in)
};

class MsgBoxScript {
public:
    using Answer = std::function<int(const MsgBoxShown &)>;
    // While installed, MsgBox records every box and returns the answer's result
    // (OK for an OK-only box when no answer is given) without showing anything.
    static void install(Answer answer = {});
    static void remove();
    static bool installed();
    static QList<MsgBoxShown> &shown();
};

}  // namespace pel
