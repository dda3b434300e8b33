#include "viewer/Form2.h"

#include "app/state/appicon.h"
#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "system/twips.h"
#include "viewer/placement.h"

#include <QIcon>

namespace pel {

using twips::toInt16;

Form2::Form2() : kit::KitForm(kit::Border::FixedDialog)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowIcon(appIcon());
    client()->setAutoFillBackground(true);
    QWidget *c = client();

    Picture1 = new kit::PictureBox(kit::PictureBox::Mode::AutoSize, c);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->Move(0, 0, 1215, 1215);
    Image1 = new kit::PictureBox(kit::PictureBox::Mode::Stretch, c);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->Move(1440, 0, 1215, 1215);
    HScroll1 = new kit::ScrollBar16(Qt::Horizontal, c);
    HScroll1->setObjectName(QStringLiteral("HScroll1"));
    HScroll1->Move(0, 2880, 3000, 255);
    HScroll1->hide();
    VScroll1 = new kit::ScrollBar16(Qt::Vertical, c);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    VScroll1->Move(3600, 0, 255, 2400);
    VScroll1->hide();
    Picture2 = new kit::PictureBox(kit::PictureBox::Mode::AutoSize, c);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->Move(3600, 2880, 255, 255);
    Picture2->setImage(appIconImage());

    setDesignSize(4800, 3600);
    setKeyPreview(true);

    connect(HScroll1, &kit::ScrollBar16::Change, this, &Form2::HScroll1_Change);
    connect(HScroll1, &kit::ScrollBar16::Scroll, this, &Form2::HScroll1_Change);
    connect(VScroll1, &kit::ScrollBar16::Change, this, &Form2::VScroll1_Change);
    connect(VScroll1, &kit::ScrollBar16::Scroll, this, &Form2::VScroll1_Change);
    connect(Picture1, &kit::PictureBox::DblClick, this, &Form2::Picture1_DblClick);
}

void Form2::Form_Load()
{
    Picture2->setWidth(VScroll1->Width());
    Picture2->setHeight(HScroll1->Height());
    Image1->setTop(0);
    Image1->setLeft(0);
    Picture2->hide();
}

void Form2::Form_Resize()
{
    if (Module1::slide_flag == 1 || Module1::reduce_flag == 1)
        return;
    const double Ws = ScaleWidth();
    const double Hs = ScaleHeight();

    HScroll1->setWidth(Module1::vscroll_flag != 0 ? Ws - VScroll1->Width() : Ws);
    HScroll1->setTop(Hs - HScroll1->Height());
    HScroll1->setMax(Picture1->Width() > HScroll1->Width() ? toInt16(Picture1->Width() - HScroll1->Width()) : 0);
    HScroll1->setLargeChange(toInt16(HScroll1->Width()));
    HScroll1->setSmallChange(toInt16(HScroll1->Width() / 20));
    if (Picture1->Left() > 0)
        Picture1->setLeft(0);
    if (-Picture1->Left() > HScroll1->Max())
        Picture1->setLeft(-HScroll1->Max());
    HScroll1->setValue16(toInt16(-Picture1->Left()));

    VScroll1->setHeight(Module1::hscroll_flag != 0 ? Hs - HScroll1->Height() : Hs);
    VScroll1->setLeft(Ws - VScroll1->Width());
    VScroll1->setMax(Picture1->Height() > VScroll1->Height() ? toInt16(Picture1->Height() - VScroll1->Height()) : 0);
    VScroll1->setLargeChange(toInt16(VScroll1->Height()));
    VScroll1->setSmallChange(toInt16(VScroll1->Height() / 20));
    if (Picture1->Top() > 0)
        Picture1->setTop(0);
    if (-Picture1->Top() > VScroll1->Max())
        Picture1->setTop(-VScroll1->Max());
    VScroll1->setValue16(toInt16(-Picture1->Top()));

    if (Module1::hscroll_flag == 1 && Module1::vscroll_flag == 1) {
        Picture2->show();
        Picture2->raise();
        Picture2->setTop(HScroll1->Top());
        Picture2->setLeft(VScroll1->Left());
    }
}

void Form2::HScroll1_Change()
{
    Picture1->setLeft(static_cast<Integer>(-HScroll1->Value()));
}

void Form2::VScroll1_Change()
{
    Picture1->setTop(static_cast<Integer>(-VScroll1->Value()));
}

void Form2::Picture1_DblClick()
{
    if (Module1::slide_flag == 1)
        return;
    Form1 &main = Forms::form1();
    main.Show();
    main.SetFocus();
}

void Form2::Form_KeyUp(int, int)
{
    key_flag = 0;
}

// A window manager too slow to answer at start left frame_w and frame_h measured
// with a guessed frame; every viewer would lose the difference off its picture.
// The first framed showing gives the real borders: they count from now on, and
// this showing keeps its inner size (the window grows by the difference and is
// centred again).
void Form2::frameLearned(const QMargins &guessed)
{
    const QMargins real = frameMargins(border());
    const double dw = twips::fromPixels(real.left() + real.right() - guessed.left() - guessed.right());
    const double dh = twips::fromPixels(real.top() + real.bottom() - guessed.top() - guessed.bottom());
    Module1::frame_w = toInt16(Module1::frame_w + dw);
    Module1::frame_h = toInt16(Module1::frame_h + dh);
    setWidth(Width() + dw);
    setHeight(Height() + dh);
    placement::centreViewer(*this);
}

void Form2::Form_QueryUnload()
{
    Hide();
    // At shutdown the main window is going too: it must not be brought back.
    if (Forms::isLoaded1()) {
        Form1 &main = Forms::form1();
        main.List1->setFocus(Qt::OtherFocusReason);
        main.placeCentred();
        // A sequential display (or an actual-size viewer that an arrow key
        // turned into one) has no timer to finish it: closing the window ends
        // the run, or every list and button would stay refused.
        if (Module1::slide_flag == 1 && (Module1::jyun_flag == 1 || !main.Timer1->isActive())) {
            Module1::slide_flag = 0;
            Module1::slide_pos = 0;
        }
    }
    Module1::actual_flag = 0;
    Module1::reduce_flag = 0;
}

}  // namespace pel
