#pragma once
// The quick manual: a column of buttons named after the main window's functions,
// each highlighting its explanation in blue; "Ｏ　Ｋ" closes it. Modal, created
// afresh at every opening.
#include "kit/canvas.h"
#include "kit/controls.h"
#include "kit/KitForm.h"

#include <array>

namespace pel {

class Form4 : public kit::KitForm {
    Q_OBJECT
public:
    Form4();
    void Form_Load();

    // ---- controls ----
    kit::Canvas *canvas;          // the window colour and the background photograph
    kit::PictureBox *Image1;      // the application icon, stretched
    kit::Label *Label1;
    kit::Label *Label3;
    kit::Label *Label2;
    kit::CommandButton *Command2;
    kit::CommandButton *Command1;
    kit::CommandButton *Command3;
    kit::CommandButton *Command4;
    kit::CommandButton *Command7;
    kit::CommandButton *Command6;
    kit::CommandButton *Command8;
    kit::CommandButton *Command5;
    std::array<kit::Label *, 7> Label4{};   // the explanations, elements 0 to 6
    kit::Label *Label5;

    // All seven explanations black.
    void color_black();

    void Command2_GotFocus();
    void Command1_GotFocus();
    void Command3_GotFocus();
    void Command4_GotFocus();
    void Command7_GotFocus();
    void Command6_GotFocus();
    void Command8_GotFocus();
    void Command5_GotFocus();
    void Command2_Click();
    void Command1_Click();
    void Command3_Click();
    void Command4_Click();
    void Command7_Click();
    void Command6_Click();
    void Command8_Click();
    void Command5_Click();

protected:
    void Form_Click() override;

private:
    void createControls();
    void wire();
    void highlight(int element);   // black all, then this explanation blue
    void centre();
};

}  // namespace pel
