// The interval menu, the timed slideshow and the start of the sequential display.
#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "app/state/Module1.h"
#include "picture/picture.h"
#include "slideshow/slide_readahead.h"
#include "system/messages.h"
#include "system/twips.h"
#include "viewer/Form2.h"
#include "viewer/placement.h"

namespace pel {

SlideReadAhead &Form1::readAhead()
{
    if (!m_readAhead)
        m_readAhead = std::make_unique<SlideReadAhead>();
    return *m_readAhead;
}

QString Form1::intervalCaption(Integer ms)
{
    // QString::number gives the shortest decimal: 0.5, 1, 1.5 ... 3.
    return QStringLiteral("スライドショー　") + QString::number(ms / 1000.0) + QStringLiteral("sec");
}

void Form1::s_time_Click(int item)
{
    show_time = static_cast<Integer>(500 * (item + 1));
    del_check();
    s_time[item]->setChecked(true);
}

void Form1::del_check()
{
    for (QAction *a : s_time)
        a->setChecked(false);
    jyun_disp->setChecked(false);
    Timer1->setInterval(show_time);   // restarts a running countdown, so a change applies at once
    Command4->setText(intervalCaption(show_time));
    Module1::jyun_flag = 0;
}

void Form1::jyun_disp_Click()
{
    del_check();
    jyun_disp->setChecked(true);
    Command4->setText(QStringLiteral("スライドショー↓↑"));
    Module1::jyun_flag = 1;
}

namespace {
void badFile()
{
    messages::badFile(Module1::file_name);
}

// After a file was shown or skipped: on to the next; past the last the run drains.
void advance(int count)
{
    Module1::slide_pos = static_cast<Integer>(Module1::slide_pos + 1);
    if (Module1::slide_pos >= count)
        Module1::slide_flag = 0;
}

void prepareViewer(Form2 &v)
{
    v.runViewer = true;
    v.Picture1->hide();
    v.Image1->show();
    v.VScroll1->hide();
    v.HScroll1->hide();
    // The corner square goes with the bars: a viewer kept by an erase may still
    // show it, over the bottom-right of the slide.
    v.Picture2->hide();
}
}  // namespace

void Form1::Command4_Click()
{
    if (List1->ListCount() == 0 || Module1::actual_flag == 1 || Module1::slide_flag == 1)
        return;
    Module1::slide_flag = 1;
    Timer1->start();
    Module1::slide_pos = 0;

    Form2 &v = Forms::form2();
    v.Picture1->setTop(0);
    v.Picture1->setLeft(0);
    park();
    prepareViewer(v);
    Module1::file_name = List1->List(Module1::slide_pos);
    if (Module1::jyun_flag != 1) {
        // The timed show begins at the first tick; its picture is decoded meanwhile.
        readAhead().start(fullPath(Module1::file_name), QSizeF(Module1::screen_w, Module1::screen_h));
        return;
    }

    const Outcome result = disp_slide();
    if (result.fault == Fault::Closing)
        return;
    const bool shown = result.ok();
    if (!shown) {
        badFile();
        advance(List1->ListCount());
    }
    QPointer<Form2> viewer(&v);
    v.ShowModal([this, shown]() {
        // The picture on screen is consumed: the position already names the next file.
        if (shown)
            advance(List1->ListCount());
    });
}

void Form1::Timer1_Timer()
{
    // A message box of a bad file lets ticks through; they wait their turn.
    if (m_inTick)
        return;
    m_inTick = true;
    const int count = List1->ListCount();

    if (Module1::slide_pos == count && Module1::jyun_flag == 0 && Module1::slide_flag == 0) {
        Module1::slide_pos = 0;
        Forms::unload2();
        activateWindow();
        placeCentred();
        Form2 &fresh = Forms::form2();
        fresh.Picture1->show();
        fresh.Image1->hide();
        Timer1->stop();
    }
    if (Module1::slide_flag != 1 || Module1::jyun_flag != 0) {
        m_inTick = false;
        return;
    }

    park();
    Form2 &v = Forms::form2();
    prepareViewer(v);
    Module1::file_name = List1->List(Module1::slide_pos);
    const Outcome result = disp_slide();
    if (result.fault == Fault::Closing)
        return;   // the windows are going: nothing more to show
    if (result.ok())
        v.Show();
    else
        badFile();
    advance(count);
    m_inTick = false;
}

Outcome Form1::disp_slide()
{
    Form2 &v = Forms::form2();
    const QSizeF screen(Module1::screen_w, Module1::screen_h);
    const QString path = fullPath(Module1::file_name);
    Result<SlideReadAhead::Slide> slide = readAhead().take(path, screen);
    if (slide.outcome.fault == Fault::Closing)
        return slide.outcome;

    // Whatever becomes of this file, the next one is decoded while it shows.
    if (Module1::slide_pos + 1 < List1->ListCount())
        readAhead().start(fullPath(List1->List(Module1::slide_pos + 1)), screen);
    if (!slide.ok())
        return slide.outcome;

    const SlideReadAhead::Slide &s = slide.value;
    m_viewerPath = path;
    v.Picture1->setPicture(s.file);   // hidden: measures, decodes nothing
    const float iw = float(s.shown.width());
    const float ih = float(s.shown.height());
    v.Image1->setPicture(s.file, s.image);
    v.Image1->setWidth(iw);
    v.Image1->setHeight(ih);
    if (!s.file->isVector() && v.Image1->size() != s.image.size()) {
        // The box came out another pixel size than the one decoded ahead.
        Result<QImage> again = renderPicture(s.file, v.Image1->size(), path);
        if (!again.ok())
            return again.outcome;
        v.Image1->setPicture(s.file, again.value);
    }
    v.setWidth(Module1::frame_w + iw);
    v.setHeight(Module1::frame_h + ih);
    placement::centreViewer(v);
    v.setCaption(QStringLiteral("%1/%2   %3")
                     .arg(Module1::slide_pos + 1)
                     .arg(List1->ListCount())
                     .arg(List1->Shown(Module1::slide_pos)));
    return {};
}

}  // namespace pel
