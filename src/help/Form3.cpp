#include "help/Form3.h"

#include "app/state/appicon.h"
#include "app/state/Module1.h"
#include "system/fonts.h"
#include "system/screen.h"
#include "system/twips.h"

namespace pel {
namespace {
const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kOkFace(128, 128, 255);
}  // namespace

Form3::Form3() : kit::KitForm(kit::Border::FixedTool)
{
    setObjectName(QStringLiteral("Form3"));
    setCaption(QStringLiteral("バージョン情報"));
    createControls();
    wire();
    setDesignClientSize(4380, 2925);
}

void Form3::createControls()
{
    canvas = new kit::Canvas(this);
    canvas->setObjectName(QStringLiteral("canvas"));
    // The photograph at its own size from the top-left corner.
    const QImage photo = storedImage(QStringLiteral(":/form3.jpg"));
    canvas->PaintPicture(photo, QRectF(QPointF(0, 0), twips::fromPixels(photo.size())));
    setClient(canvas);
    QWidget *c = canvas;

    // The only control that takes the focus (tab order 0).
    Command1 = new kit::CommandButton(QStringLiteral("Ｏ　Ｋ"), c);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->Move(1680, 2400, 975, 375);
    Command1->setFaceColor(kOkFace);
    Command1->setFont(fonts::font(fonts::kGothic, 12, true));

    auto label = [c](const QString &name, const QString &caption, const QRectF &tw, const QColor &colour,
                     const QFont &font) {
        auto *l = new kit::Label(caption, c);
        l->setObjectName(name);
        l->Move(tw.left(), tw.top(), tw.width(), tw.height());
        l->setForeColor(colour);
        l->setFont(font);
        return l;
    };
    Label1 = label(QStringLiteral("Label1"), QStringLiteral("Pelorinax"), {240, 240, 2655, 495}, kRed,
                   fonts::font(fonts::kMincho, 24, true, true));
    Label3 = label(QStringLiteral("Label3"), QStringLiteral("Mini"), {2520, 480, 495, 375}, kWhite,
                   fonts::font(fonts::kGothic, 11.25, false, true));
    Label2 = label(QStringLiteral("Label2"), QString(), {3000, 480, 1095, 255}, kWhite,
                   fonts::font(fonts::kGothic, 9.75, true, true));
    Label4 = label(QStringLiteral("Label4"), QString(), {120, 840, 4095, 1455}, kWhite,
                   fonts::font(fonts::kGothic, 9.75, true));
    // Centred: the leading spaces then keep the lines clear of the icon.
    Label4->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    Image1 = new kit::PictureBox(kit::PictureBox::Mode::Stretch, c);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->Move(360, 1080, 705, 705);
    Image1->setImage(appIconImage());
}

void Form3::wire()
{
    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
}

void Form3::Form_Load()
{
    const QString crlf = QStringLiteral("\r\n");
    Label4->setText(crlf + QStringLiteral("　　　Copyright © 2026") + crlf + QStringLiteral("　　　Pelorinax 開発チーム") +
                    crlf + crlf + QStringLiteral("　　　High color(16ビット)") + crlf +
                    QStringLiteral("　　　　以上の環境で使用下さい。"));
    setWidth(4470);
    setHeight(3255);
    Label2->setText(Module1::ver_str);
    centre();
}

void Form3::centre()
{
    moveTo((screen::widthTwips() - Width()) / 2, (screen::heightTwips() - Height()) / 2);
}

void Form3::Command1_Click() { Unload(); }

void Form3::Form_Click() { centre(); }

}  // namespace pel
