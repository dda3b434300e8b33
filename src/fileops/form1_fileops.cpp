// The delete (D) and rename (R) keys of the main window's file list: the guard,
// the confirmations, the delete (to the desktop trash) and the opening of the
// rename dialog.
#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "app/state/Module1.h"
#include "fileops/Form5.h"
#include "system/file_ops.h"
#include "system/messages.h"
#include "system/msgbox.h"
#include "system/storage.h"

namespace pel {
namespace {
const QString kCrLf = QStringLiteral("\r\n");

// What a file operation on a worker came to: its own outcome, or why it has none.
template <class Operation>
Outcome onStorage(const QString &folder, Operation operation)
{
    const Result<Outcome> r = storage::run(folder, storage::Limit::Answer, operation);
    return r.ok() ? r.value : r.outcome;
}
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
    const QString shown = List1->Shown(index);
    const FileId id = List1->ItemId(index);
    const QString folder = File1->Path();
    if (MsgBox(shown + kCrLf + kCrLf + QStringLiteral("を削除しますか？"), vbYesNo + vbQuestion,
               messages::deleteTitle())
        != vbYes)
        return;

    // The entry named in the question goes first; it comes back if the file stays.
    List1->RemoveItem(index);
    // On a worker: a volume that does not answer must not freeze the window.
    Outcome done = onStorage(folder, [=] { return fileops::moveToTrash(folder, name, id).outcome; });
    if (done.fault == Fault::NoTrash) {
        if (messages::askDeleteForGood(shown, done) != vbYes) {
            List1->AddItem(name, index, id);
            return;
        }
        done = onStorage(folder, [=] { return fileops::remove(folder, name, id); });
    }
    if (done.ok() || done.fault == Fault::Closing)
        return;
    messages::deleteFailed(shown, done);
    // Back in the list unless it is gone for sure; after a volume that did not
    // answer the file may still be there.
    if (done.fault != Fault::Gone)
        List1->AddItem(name, index, id);
}

void Form1::List1_Rename(int keyCode)
{
    const int index = List1->ListIndex();
    const QString name = List1->List(index);
    if (name.isEmpty() || keyCode != 82)
        return;
    const QString shown = List1->Shown(index);
    const QString folder = File1->Path();
    if (MsgBox(shown + kCrLf + kCrLf + QStringLiteral("の名前を変更しますか？"), vbYesNo + vbQuestion,
               messages::renameTitle())
        != vbYes)
        return;
    if (ime_mon->isChecked())
        Module1::ime_flag = 1;
    Form5 &dialog = Forms::form5();
    dialog.Text1->setText(shown);
    dialog.Label1->setText(shown);
    dialog.setEntry(folder, index, name, List1->ItemId(index));
    dialog.ShowModal();
    List1->setFocus(Qt::OtherFocusReason);
}

}  // namespace pel
