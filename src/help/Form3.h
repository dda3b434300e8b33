#pragma once
// The version window: the program's name, edition and version over a background
// photograph, a copyright and an author line, the display colour depth it needs.
// Modal, created afresh at every opening.
#include "kit/canvas.h"
#include "kit/controls.h"
#include "kit/KitForm.h"

namespace pel {

class Form3 : public kit::KitForm {
    Q_OBJECT
public:
    Form3();
    void Form_Load();

    // ---- controls ----
    kit::Canvas *canvas;          // the background photograph
    kit::CommandButton *Command1;
    kit::Label *Label1;
    kit::Label *Label3;
    kit::Label *Label2;
    kit::Label *Label4;
    kit::PictureBox *Image1;      // the application icon, stretched

    void Command1_Click();

protected:
    void Form_Click() override;

private:
    void createControls();
    void wire();
    void centre();
};

}  // namespace pel
