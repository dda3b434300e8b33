#include "fileops/Form5.h"

#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "app/state/Module1.h"
#include "system/file_ops.h"
#include "system/fonts.h"
#include "system/ime.h"
#include "system/messages.h"
#include "system/msgbox.h"
#include "system/screen.h"
#include "system/storage.h"
#include "system/twips.h"

namespace pel {
namespace {
const QString kTitle = QStringLiteral("ファイル名変更");
}  // namespace

Form5::Form5() : kit::KitForm(kit::Border::FixedTool)
{
    setObjectName(QStringLiteral("Form5"));
    setCaption(kTitle);
    setFont(fonts::font(fonts::kGothic, 12));
    QWidget *c = client();

    Label1 = new kit::Label(QStringLiteral("Label1"), c);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);   // a file name is never markup
    Label1->Move(240, 120, 2655, 375);

    Text1 = new kit::TextBox(QStringLiteral("Text1"), c);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->Move(240, 600, 2535, 375);

    Command1 = new kit::CommandButton(QStringLiteral("変更"), c);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->Move(240, 1200, 1215, 375);
    Command2 = new kit::CommandButton(QStringLiteral("キャンセル"), c);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->Move(1560, 1200, 1215, 375);
    for (kit::CommandButton *b : {Command1, Command2}) {
        b->setFont(fonts::font(fonts::kGothic, 9.75, true));
        // Enter presses the focused button; outside a QDialog this makes no button
        // the dialog's default.
        b->setAutoDefault(true);
    }

    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    Text1->setFocus(Qt::OtherFocusReason);   // has the focus when the dialog opens

    const QMargins fm = frameMargins(kit::Border::FixedTool);
    setDesignSize(3015 + twips::fromPixels(fm.left() + fm.right()), 1725 + twips::fromPixels(fm.top() + fm.bottom()));
    wire();
}

void Form5::wire()
{
    kit::onKeyDown(Text1, [this](int k, int s) { Text1_KeyDown(k, s); });
    connect(Command1, &QPushButton::clicked, this, &Form5::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form5::Command2_Click);
}

void Form5::Form_Load()
{
    moveTo((screen::widthTwips() - Width()) / 2, (screen::heightTwips() - Height()) / 1.7);
    if (Module1::ime_flag == 1) {
        ime::setMode(Text1, ime::On);
        ime::setMode(Text1, ime::Hiragana);
    }
}

void Form5::setEntry(const QString &folder, int index, const QString &name, FileId id)
{
    m_folder = folder;
    m_index = index;
    m_name = name;
    m_id = id;
}

int Form5::entryIndex() const
{
    const kit::ListBox *list = Forms::form1().List1;
    auto isEntry = [&](int i) { return list->List(i) == m_name && list->ItemId(i) == m_id; };
    if (isEntry(m_index))
        return m_index;
    for (int i = 0; i < list->ListCount(); ++i)
        if (isEntry(i))
            return i;
    return -1;
}

void Form5::Text1_KeyDown(int keyCode, int)
{
    if (keyCode == 13)
        Command1->setFocus(Qt::OtherFocusReason);
}

void Form5::Command1_Click()
{
    // Taken as typed; compared with each entry as the list shows it.
    const QString newName = Text1->Text();
    Form1 &main = Forms::form1();
    for (int i = 0; i < main.List1->ListCount(); ++i) {
        if (main.List1->Shown(i) == newName) {
            MsgBox(QStringLiteral("同一ファイル名が存在します"), vbOKOnly);
            Text1->setFocus(Qt::OtherFocusReason);
            return;
        }
    }

    // On a worker: a volume that does not answer must not freeze the window.
    const Result<Outcome> done = storage::run(m_folder, storage::Limit::Answer,
                                              [folder = m_folder, from = m_name, newName, id = m_id] {
                                                  return fileops::rename(folder, from, newName, id);
                                              });
    if (done.outcome.fault == Fault::Closing)
        return;
    const Outcome r = done.ok() ? done.value : done.outcome;
    if (!r.ok()) {
        messages::renameFailed(Label1->text(), newName, r);
        if (r.fault == Fault::TimedOut) {
            Forms::unload5();   // the name may yet change: the entry stays as it was
        } else if (r.fault == Fault::Gone) {
            // Nothing left to rename: the entry goes, so the list says what the disk holds.
            main.List1->RemoveItem(entryIndex());
            Forms::unload5();
        } else if (r.fault == Fault::Changed) {
            Forms::unload5();   // no new name can help; the entry stays as it was
        } else {
            Text1->setFocus(Qt::OtherFocusReason);
        }
        return;
    }

    // In place of the old entry, which the modal dialog kept where it was.
    if (const int k = entryIndex(); k >= 0) {
        main.List1->AddItem(newName, k, m_id);
        main.List1->RemoveItem(k + 1);
    } else {
        main.File1->Refresh();   // the list changed under the dialog: read the folder again
        main.disp_data1();
    }
    ime::setMode(Text1, ime::Off);
    Forms::unload5();
}

void Form5::Command2_Click() { Forms::unload5(); }

}  // namespace pel
