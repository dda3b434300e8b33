// The preview box of the main window.
#include "app/state/Form1.h"
#include "app/state/Module1.h"
#include "system/messages.h"
#include "system/pictures.h"
#include "system/twips.h"

namespace pel {
namespace {
const QRectF kBox(200, 700, 4000, 3000);   // twips, centre (2200, 2200)
}

void Form1::disp_picture()
{
    canvas->Cls();
    const QString path = fullPath(Module1::file_name);
    const Result<PicturePtr> opened = openPicture(path);
    if (opened.outcome.fault == Fault::Closing)
        return;
    const PicturePtr &pic = opened.value;
    const float W = pic ? twips::toSingle(pic->sizeTwips().width()) : 0.f;
    const float H = pic ? twips::toSingle(pic->sizeTwips().height()) : 0.f;
    if (!(W > 0 && H > 0))
        return messages::badFile(Module1::file_name);

    const bool stretched = W > 4000 || H > 3000;
    const QRectF where = stretched ? kBox : QRectF(2200.0 - W / 2.0, 2200.0 - H / 2.0, W, H);
    const Result<QImage> shown = renderPicture(pic, stretched ? twips::toPixels(kBox).size() : pic->pixelSize(), path);
    if (shown.outcome.fault == Fault::Closing)
        return;
    if (!shown.ok())
        return messages::badFile(Module1::file_name);
    Image1->setPicture(pic, pic->pixelSize() == shown.value.size() ? shown.value : QImage());
    canvas->PaintPicture(shown.value, where);
}

}  // namespace pel
