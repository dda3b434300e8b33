// The delete (D) and rename (R) keys of the main window's file list: the guard,
// the confirmations, the delete (to the desktop trash) and the opening of the
// rename dialog.
#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "app/state/Module1.h"
#include "fileops/Form5.h"
#include "system/file_ops.h"
#include "system/msgbox.h"

namespace pel {
namespace {
const QString kCrLf = QStringLiteral("\r\n");
const QString kDeleteTitle = QStringLiteral("ファイル削除");
const QString kRenameTitle = QStringLiteral("ファイル名変更");
}  // namespace

void Form1::List1_FileKeys(kit::KeyDown &key)
{
    const int keyCode = key.keyCode;
    if (keyCode != 68 && keyCode != 82)
        return;
    // A held D or R is one press: its repeats ask nothing and search nothing.
    if (key.repeat) {
        key.keyCode = 0;
        return;
    }
    if (List1->Text().isEmpty() || Module1::actual_flag == 1 || Module1::slide_flag == 1)
        return;   // the list's own search still gets the letter
    // The letter starts an operation: the list's type-ahead must not pick another
    // entry with it, neither before the action nor after it.
    key.keyCode = 0;
    List1_Delete(keyCode);
    List1_Rename(keyCode);   // reads the list again: after a delete nothing is selected
}

void Form1::List1_Delete(int keyCode)
{
    const int index = List1->ListIndex();
    const QString name = List1->List(index);
    if (name.isEmpty() || keyCode != 68)
        return;
    const QString folder = File1->Path();
    if (MsgBox(name + kCrLf + kCrLf + QStringLiteral("を削除しますか？"), vbYesNo + vbQuestion, kDeleteTitle) != vbYes)
        return;

    // The entry named in the question goes first; it comes back if the file stays.
    List1->RemoveItem(index);
    using fileops::Status;
    fileops::Result r = fileops::moveToTrash(folder, name);
    if (r.status == Status::NoTrash) {
        const QString again = name + kCrLf + kCrLf + QStringLiteral("はごみ箱に移動できません。") + kCrLf
                              + QStringLiteral("（%1）").arg(r.reason) + kCrLf + kCrLf
                              + QStringLiteral("元に戻せなくなりますが、完全に削除しますか？");
        if (MsgBox(again, vbYesNo + vbExclamation + vbDefaultButton2, kDeleteTitle) != vbYes) {
            List1->AddItem(name, index);
            return;
        }
        r = fileops::remove(folder, name);
    }
    if (r.status == Status::Done)
        return;
    if (r.status == Status::Gone) {
        MsgBox(name + kCrLf + kCrLf + QStringLiteral("は見つかりません。すでに削除されたか、名前が変わっています。"),
               vbExclamation, kDeleteTitle);
        return;
    }
    MsgBox(name + kCrLf + kCrLf + QStringLiteral("を削除できませんでした。") + kCrLf + r.reason, vbCritical,
           kDeleteTitle);
    List1->AddItem(name, index);
}

void Form1::List1_Rename(int keyCode)
{
    const int index = List1->ListIndex();
    const QString name = List1->List(index);
    if (name.isEmpty() || keyCode != 82)
        return;
    const QString folder = File1->Path();
    if (MsgBox(name + kCrLf + kCrLf + QStringLiteral("の名前を変更しますか？"), vbYesNo + vbQuestion, kRenameTitle)
        != vbYes)
        return;
    if (ime_mon->isChecked())
        Module1::ime_flag = 1;
    Form5 &dialog = Forms::form5();
    dialog.Text1->setText(name);
    dialog.Label1->setText(name);
    dialog.setEntry(folder, index, name);
    dialog.ShowModal();
    List1->setFocus(Qt::OtherFocusReason);
}

}  // namespace pel
