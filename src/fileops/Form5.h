#pragma once
// The rename dialog: the old name, a box for the new one, "変更" and "キャンセル".
#include "kit/controls.h"
#include "kit/KitForm.h"
#include "kit/textbox.h"

namespace pel {

class Form5 : public kit::KitForm {
    Q_OBJECT
public:
    Form5();
    void Form_Load();

    kit::Label *Label1;
    kit::TextBox *Text1;
    kit::CommandButton *Command1;   // "変更"
    kit::CommandButton *Command2;   // "キャンセル"

    // The entry the rename was confirmed for: its folder, its index in the main
    // window's file list, its exact name and what it was when listed. The dialog
    // acts on it and nothing else.
    void setEntry(const QString &folder, int index, const QString &name, FileId id);

    void Text1_KeyDown(int keyCode, int shift);
    void Command1_Click();
    void Command2_Click();

private:
    void wire();
    QString m_folder;
    int m_index = -1;
    QString m_name;
    FileId m_id;
    // The entry's index in the main window's list now (-1 when it is gone).
    int entryIndex() const;
};

}  // namespace pel
