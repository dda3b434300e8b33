// The main window's commands on the viewer: actual-size display, copy, erase.
#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "app/state/Module1.h"
#include "system/clipboard.h"
#include "system/messages.h"
#include "system/msgbox.h"
#include "system/pictures.h"
#include "system/screen.h"
#include "system/twips.h"
#include "viewer/Form2.h"
#include "viewer/placement.h"

#include <QPointer>

#include <algorithm>

namespace pel {

namespace {

// The viewer at actual size: as large as the picture, at most 70 % of the screen
// each way, with a scroll bar where it is cut.
void layoutActualSize(Form2 &v, float W, float H)
{
    Module1::hscroll_flag = 0;
    Module1::vscroll_flag = 0;
    v.Picture1->setLeft(0);
    v.Picture1->setTop(0);
    v.Picture1->show();
    v.Image1->hide();

    const float Lw = twips::toSingle(Module1::screen_w * 0.7);
    if (Lw >= W) {
        v.setWidth(Module1::frame_w + W);
        v.HScroll1->hide();
    } else {
        v.setWidth(Module1::screen_w * 0.7 + Module1::frame_w);
        v.HScroll1->show();
        v.HScroll1->setWidth(v.Width() - v.VScroll1->Width() - Module1::frame_w);
        Module1::hscroll_flag = 1;
    }
    const float Lh = twips::toSingle(Module1::screen_h * 0.7);
    if (Lh >= H) {
        v.setHeight(Module1::frame_h + H);
        v.VScroll1->hide();
    } else {
        v.setHeight(Module1::screen_h * 0.7 + Module1::frame_h);
        v.VScroll1->show();
        v.VScroll1->setHeight(v.Height() - v.HScroll1->Height() - Module1::frame_h);
        Module1::vscroll_flag = 1;
    }
    if (Module1::vscroll_flag == 0)
        v.HScroll1->setWidth(v.ScaleWidth());
    if (Module1::hscroll_flag == 0)
        v.VScroll1->setHeight(v.ScaleHeight());
    v.HScroll1->setValue16(0);
    v.VScroll1->setValue16(0);
}

}  // namespace

void Form1::Command1_Click()
{
    if (List1->Text().isEmpty() || Module1::actual_flag == 1 || Module1::slide_flag == 1)
        return;

    Forms::form2().Hide();
    Forms::unload2();   // the close handling returns the main window and clears the flags

    Module1::file_name = List1->List(List1->ListIndex());
    Form2 &v = Forms::form2();

    // Loading fails here, before anything moves, whether the header or the pixels are bad.
    const QString path = fullPath(Module1::file_name);
    const Result<PicturePtr> opened = openPicture(path);
    if (opened.outcome.fault == Fault::Closing)
        return;
    const PicturePtr &pic = opened.value;
    const float W = pic ? twips::toSingle(pic->sizeTwips().width()) : 0.f;
    const float H = pic ? twips::toSingle(pic->sizeTwips().height()) : 0.f;
    const bool reduced = H > 32760 || W > 32760;
    QImage shown;
    QSizeF reducedTwips;
    if (pic && W > 0 && H > 0) {
        QSize target = pic->pixelSize();
        if (reduced) {
            // On a screen wider than 46800 twips the fit scale of a picture just
            // over the limit is above 1: the reduced display never enlarges.
            const double s = std::min(1.0, placement::fitScale(W, H));
            reducedTwips = QSizeF(twips::toSingle(W * s), twips::toSingle(H * s));
            // Only the reduced picture is decoded; the full one waits for a copy.
            target = kit::pixelRect(QRectF(QPointF(), reducedTwips)).size();
        }
        const Result<QImage> decoded = renderPicture(pic, target, path);
        if (decoded.outcome.fault == Fault::Closing)
            return;
        shown = decoded.value;
    }
    if (shown.isNull()) {
        messages::badFile(Module1::file_name);
        return;
    }
    m_viewerPath = path;
    v.Picture1->setPicture(pic, reduced ? QImage() : shown);

    if (reduced) {
        MsgBox(QStringLiteral("画像が大きすぎて実寸での表示が出来ません。\r\n規定値に縮小して表示します。"),
               vbCritical, QStringLiteral("PelorinaxMini"));
        v.Picture1->hide();
        v.Image1->show();
        Module1::reduce_flag = 1;
        Module1::actual_flag = 1;
        park();
        v.Image1->setPicture(pic, shown);
        v.Image1->setWidth(reducedTwips.width());
        v.Image1->setHeight(reducedTwips.height());
        v.setWidth(Module1::frame_w + v.Image1->Width());
        v.setHeight(Module1::frame_h + v.Image1->Height());
        v.setCaption(List1->Shown(List1->ListIndex()));
        placement::centreViewer(v);
        v.Show();
        return;
    }

    park();
    layoutActualSize(v, W, H);
    placement::centreViewer(v);
    v.setCaption(List1->Shown(List1->ListIndex()));
    v.Show();
    Module1::actual_flag = 1;
}

void Form1::redraw_viewer()
{
    if (!Forms::isLoaded2() || !Forms::form2().isVisible())
        return;   // a viewer shown again is decoded again
    Form2 &v = Forms::form2();
    for (QPointer<kit::PictureBox> box : {QPointer(v.Picture1), QPointer(v.Image1)}) {
        if (!box || box->isHidden())
            continue;   // gone with its window meanwhile, or not showing
        const PicturePtr pic = box->picture();
        if (!pic || pic->isVector() || box->shownImage().isNull())
            continue;   // a metafile is drawn again by its box
        const Result<QImage> again = renderPicture(pic, box->shownImage().size(), m_viewerPath);
        if (again.outcome.fault == Fault::Closing)
            return;
        // Kept as it was when the file changed or went, or the box moved on meanwhile
        // (a slideshow's tick) or went with its window.
        if (again.ok() && box && box->picture() == pic)
            box->setPicture(pic, again.value);
    }
}

void Form1::Command2_Click()
{
    if (List1->Text().isEmpty() || Module1::slide_flag == 1)
        return;
    if (Module1::actual_flag != 1 || !Forms::isLoaded2())
        return;
    auto pic = Forms::form2().Picture1->picture();
    if (!pic)
        return;
    // Always the natural size, also when the viewer shows the picture reduced. The
    // file is taken as it is now; its pixels are made when a program pastes them,
    // so the message comes at once whatever the size.
    const Outcome copied = clipboard::putPictureFile(fullPath(Module1::file_name), pic->format(), pic->pixelSize());
    if (copied.fault == Fault::Closing)
        return;
    if (!copied.ok()) {
        // Never report a copy that did not happen.
        messages::badFile(Module1::file_name);
        return;
    }
    MsgBox(QStringLiteral("画像をクリップボードにコピーしました。"), vbOKOnly);
}

void Form1::Command3_Click()
{
    if (List1->Text().isEmpty() || Module1::slide_flag == 1)
        return;
    Forms::form2().Hide();
    List1->setFocus(Qt::OtherFocusReason);
    Module1::actual_flag = 0;
    Module1::reduce_flag = 0;
    placeCentred();
}

}  // namespace pel
