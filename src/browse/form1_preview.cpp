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
    auto fail = [] {
        messages::badFile(Module1::file_name);
    };

    auto pic = openPicture(fullPath(Module1::file_name));
    if (!pic)
        return fail();
    const float W = twips::toSingle(pic->sizeTwips().width());
    const float H = twips::toSingle(pic->sizeTwips().height());
    if (!(W > 0 && H > 0))
        return fail();

    QImage shown;
    QRectF where;
    if (W > 4000 || H > 3000) {
        where = kBox;
        shown = pic->render(twips::toPixels(kBox).size());
    } else {
        where = QRectF(2200.0 - W / 2.0, 2200.0 - H / 2.0, W, H);
        shown = pic->render(pic->pixelSize());
    }
    if (shown.isNull())
        return fail();
    Image1->setPicture(pic, pic->pixelSize() == shown.size() ? shown : QImage());
    canvas->PaintPicture(shown, where);
}

}  // namespace pel
