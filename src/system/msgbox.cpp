#include "system/msgbox.h"

#include <QApplication>
#include <QAbstractButton>
#include <QMessageBox>
#include <QWidget>

namespace pel {
namespace {
bool g_scripted = false;
MsgBoxScript::Answer g_answer;
QList<MsgBoxShown> g_shown;
}  // namespace

void MsgBoxScript::install(Answer answer)
{
    g_scripted = true;
    g_answer = std::move(answer);
    g_shown.clear();
}

void MsgBoxScript::remove()
{
    g_scripted = false;
    g_answer = {};
    g_shown.clear();
}

bool MsgBoxScript::installed() { return g_scripted; }
QList<MsgBoxShown> &MsgBoxScript::shown() { return g_shown; }

int MsgBox(const QString &prompt, int buttons, const QString &title)
{
    const MsgBoxShown box{prompt, buttons, title.isEmpty() ? QStringLiteral("pelorinax") : title};
    const bool yesNo = (buttons & 7) == vbYesNo;
    if (g_scripted) {
        g_shown.append(box);
        if (g_answer)
            return g_answer(box);
        return yesNo ? vbNo : vbOK;
    }

    QMessageBox mb(QApplication::activeWindow());
    mb.setWindowTitle(box.title);
    QString text = prompt;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    mb.setText(text);
    if ((buttons & 0x70) == vbCritical)
        mb.setIcon(QMessageBox::Critical);
    else if ((buttons & 0x70) == vbQuestion)
        mb.setIcon(QMessageBox::Question);
    else if ((buttons & 0x70) == vbExclamation)
        mb.setIcon(QMessageBox::Warning);
    if (yesNo) {
        mb.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        mb.setDefaultButton((buttons & 0x300) == vbDefaultButton2 ? QMessageBox::No : QMessageBox::Yes);
        mb.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
        mb.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    } else {
        mb.setStandardButtons(QMessageBox::Ok);
    }
    const int r = mb.exec();
    if (yesNo)
        return r == QMessageBox::Yes ? vbYes : vbNo;
    return vbOK;
}

}  // namespace pel
