// The viewer's keys: Esc closes it in every mode; in the sequential display the
// arrow keys step through the list, one step per press however long it is held.
#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "app/state/Module1.h"
#include "system/messages.h"
#include "viewer/Form2.h"

namespace pel {

void Form2::closeRun()
{
    Picture1->show();
    Image1->hide();
    Hide();
    Forms::unload2();
    Module1::slide_pos = 0;
    if (Forms::isLoaded1()) {
        Form1 &main = Forms::form1();
        main.SetFocus();   // List1, which the close handling gave the focus
        main.placeCentred();
    }
}

void Form2::Form_KeyDown(int keyCode, int)
{
    Form1 &main = Forms::form1();
    const int count = main.List1->ListCount();

    // Back one picture: the position names the next file, so two places back.
    // Only a viewer that shows a run steps: in an actual-size display the key
    // would start a run that nothing ever ends. A held key repeats its key-down:
    // only a new press (key_flag 0) steps, or holding Up would rewind silently.
    bool rewound = false;
    if (keyCode == 38 && runViewer && key_flag == 0) {
        Module1::slide_pos = static_cast<Integer>(std::max(0, Module1::slide_pos - 2));
        Module1::slide_flag = 1;
        rewound = true;
    }
    if (keyCode == 27) {
        Module1::slide_flag = 0;
        Module1::actual_flag = 0;
        Module1::slide_pos = static_cast<Integer>(count);
        closeRun();
        return;
    }
    if ((keyCode != 40 && keyCode != 38) || !main.jyun_disp->isChecked() || key_flag != 0) {
        // A timed run shows the rewound file at its next tick: this press has stepped.
        if (rewound)
            key_flag = 1;
        return;
    }
    if (Module1::slide_pos == count && Module1::slide_flag == 0)
        closeRun();
    if (main.jyun_disp->isChecked() && Module1::slide_flag == 1) {
        Module1::file_name = main.List1->List(Module1::slide_pos);
        const Outcome result = main.disp_slide();
        if (result.fault == Fault::Closing)
            return;
        const bool shown = result.ok();
        if (!shown)
            messages::badFile(Module1::file_name);
        Module1::slide_pos = static_cast<Integer>(Module1::slide_pos + 1);
        if (Module1::slide_pos >= count)
            Module1::slide_flag = 0;
        if (shown)
            key_flag = 1;
    }
}

}  // namespace pel
