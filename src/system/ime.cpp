#include "system/ime.h"

#include "system/os.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace pel::ime {
namespace {

const char *const kModeProperty = "pel_ime_mode";
const char *const kWatchedProperty = "pel_ime_watched";

void askFramework(int mode)
{
    if (mode == On || mode == Off || mode == Hiragana)
        os().switchInputMethod(mode != Off);
}

class FocusWatch : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (e->type() == QEvent::FocusIn) {
            // After the input method's own client has told the framework of the new focus.
            QPointer<QWidget> box = static_cast<QWidget *>(watched);
            QTimer::singleShot(0, box, [box] {
                if (box && box->hasFocus())
                    askFramework(mode(box));
            });
        }
        return false;
    }
};

}  // namespace

void setMode(QWidget *box, int m)
{
    box->setProperty(kModeProperty, m);

    Qt::InputMethodHints hints = box->inputMethodHints();
    if (m == Off) {
        hints |= Qt::ImhPreferLatin;
    } else {
        box->setAttribute(Qt::WA_InputMethodEnabled, true);
        hints &= ~(Qt::ImhPreferLatin | Qt::ImhLatinOnly);
    }
    box->setInputMethodHints(hints);   // updates the input method while the box has the focus

    if (!box->property(kWatchedProperty).toBool()) {
        box->setProperty(kWatchedProperty, true);
        box->installEventFilter(new FocusWatch(box));
    }
    if (box->hasFocus())
        askFramework(m);
}

int mode(const QWidget *box) { return box->property(kModeProperty).toInt(); }

}  // namespace pel::ime
