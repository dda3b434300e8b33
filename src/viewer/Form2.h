#pragma once
// The viewer window: a picture at actual size panned with two scroll bars, or a
// stretched picture (reduced display, slideshow, sequential display).
//   viewer/Form2.cpp          load, layout, scrolling, close handling
//   slideshow/form2_keys.cpp  the keys of the slideshow and the sequential display
#include "app/state/Module1.h"
#include "kit/controls.h"
#include "kit/KitForm.h"

namespace pel {

class Form2 : public kit::KitForm {
    Q_OBJECT
public:
    Form2();
    void Form_Load();

    kit::PictureBox *Picture1;    // the picture at natural size (auto-size)
    kit::PictureBox *Image1;      // the picture stretched to its own size
    kit::ScrollBar16 *HScroll1;
    kit::ScrollBar16 *VScroll1;
    kit::PictureBox *Picture2;    // the corner square between the bars

    Integer key_flag = 0;         // an arrow key stepped; cleared when a key is released
    // The window shows a slideshow or sequential display (not an actual-size display).
    bool runViewer = false;

    void HScroll1_Change();
    void VScroll1_Change();
    void Picture1_DblClick();

    // Closes the viewer the way Esc and the end of a run do.
    void closeRun();

protected:
    void Form_Resize() override;
    void Form_QueryUnload() override;
    void Form_KeyDown(int keyCode, int shift) override;
    void Form_KeyUp(int keyCode, int shift) override;
    void frameLearned(const QMargins &guessed) override;
};

}  // namespace pel
