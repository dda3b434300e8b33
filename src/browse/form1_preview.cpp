// The preview box of the main window.
#include "app/state/Form1.h"
#include "app/state/Module1.h"
#include "system/messages.h"
#include "system/pictures.h"
#include "system/twips.h"

namespace pel {
namespace {
const QRectF kBox(200, 700, 4000, 3000);   // twips, centre (2200, 2200)

// Where the preview of `pic` goes and the pixels it is decoded to: centred at its
// natural size, or stretched over the box when larger.
struct PreviewPlace {
    QRectF where;
    QSize pixels;
};
PreviewPlace previewPlace(const PictureFile &pic)
{
    const float W = twips::toSingle(pic.sizeTwips().width());
    const float H = twips::toSingle(pic.sizeTwips().height());
    if (W > 4000 || H > 3000)
        return {kBox, twips::toPixels(kBox).size()};
    return {QRectF(2200.0 - W / 2.0, 2200.0 - H / 2.0, W, H), pic.pixelSize()};
}
}  // namespace

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

    const PreviewPlace place = previewPlace(*pic);
    const Result<QImage> shown = renderPicture(pic, place.pixels, path);
    if (shown.outcome.fault == Fault::Closing)
        return;
    if (!shown.ok())
        return messages::badFile(Module1::file_name);
    m_previewPath = path;
    Image1->setPicture(pic, pic->pixelSize() == shown.value.size() ? shown.value : QImage());
    canvas->PaintPicture(shown.value, place.where);
}

void Form1::redraw_preview()
{
    const PicturePtr pic = Image1->picture();
    if (!pic || canvas->painted().isEmpty())
        return;   // no preview shows (the last pick was a bad file)
    const PreviewPlace place = previewPlace(*pic);
    const Result<QImage> shown = renderPicture(pic, place.pixels, m_previewPath);
    // A file changed or gone since keeps the preview it had: the user did nothing
    // that calls for the bad-file message. Another preview made meanwhile stays.
    if (!shown.ok() || Image1->picture() != pic || canvas->painted().isEmpty())
        return;
    Image1->setPicture(pic, pic->pixelSize() == shown.value.size() ? shown.value : QImage());
    canvas->Cls();
    canvas->PaintPicture(shown.value, place.where);
}

}  // namespace pel
