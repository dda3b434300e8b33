#include "help/Form4.h"

#include "app/state/appicon.h"
#include "app/state/Module1.h"
#include "system/fonts.h"
#include "system/screen.h"
#include "system/twips.h"

namespace pel {
namespace {
// Entries 0, 9 and 12 of the classic 16-colour palette.
const QColor kBlack(0, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kBackColor(255, 224, 192);
const QColor kYellowFace(255, 255, 128);
const QColor kCyanFace(192, 255, 255);
const QColor kOkFace(255, 255, 192);
}  // namespace

Form4::Form4() : kit::KitForm(kit::Border::FixedTool)
{
    setObjectName(QStringLiteral("Form4"));
    setCaption(QStringLiteral("簡易マニュアル"));
    createControls();
    wire();
    setDesignClientSize(9480, 6360);
}

void Form4::createControls()
{
    canvas = new kit::Canvas(this);
    canvas->setObjectName(QStringLiteral("canvas"));
    QPalette pal = canvas->palette();
    pal.setColor(QPalette::Window, kBackColor);
    canvas->setPalette(pal);
    // The photograph at its own size from the top-left corner; the colour shows
    // only where it does not reach.
    const QImage photo = storedImage(QStringLiteral(":/form4.jpg"));
    canvas->PaintPicture(photo, QRectF(QPointF(0, 0), twips::fromPixels(photo.size())));
    setClient(canvas);
    QWidget *c = canvas;

    auto button = [c](const char *name, const QString &caption, double top, const QColor &face) {
        auto *b = new kit::CommandButton(caption, c);
        b->setObjectName(QString::fromLatin1(name));
        b->Move(240, top, 2295, 495);
        b->setFaceColor(face);
        return b;
    };
    // Created in tab order: Command2 first, "Ｏ　Ｋ" last.
    Command2 = button("Command2", QStringLiteral("クリップボードにコピー"), 1080, kYellowFace);
    Command1 = button("Command1", QStringLiteral("実寸表示"), 1680, kYellowFace);
    Command3 = button("Command3", QStringLiteral("実寸表示消去"), 2280, kYellowFace);
    Command4 = button("Command4", QStringLiteral("スライドショー0.5sec"), 2880, kYellowFace);
    Command7 = button("Command7", QStringLiteral("スライドショー↓↑"), 3480, kYellowFace);
    Command6 = button("Command6", QStringLiteral("ファイル操作"), 4080, kCyanFace);
    Command8 = button("Command8", QStringLiteral("その他のキー"), 4920, kCyanFace);
    Command5 = button("Command5", QStringLiteral("Ｏ　Ｋ"), 5760, kOkFace);
    Command5->Move(720, 5760, 1095, 375);
    for (kit::CommandButton *b : {Command2, Command1, Command7})
        b->setFont(fonts::font(fonts::kGothic, 9.75));
    Command5->setFont(fonts::font(fonts::kGothic, 12, true));
    setTabOrder(Command2, Command1);
    setTabOrder(Command1, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, Command7);
    setTabOrder(Command7, Command6);
    setTabOrder(Command6, Command8);
    setTabOrder(Command8, Command5);

    auto label = [c](const QString &name, const QString &caption, const QRectF &tw, const QColor &colour,
                     const QFont &font) {
        auto *l = new kit::Label(caption, c);
        l->setObjectName(name);
        l->Move(tw.left(), tw.top(), tw.width(), tw.height());
        l->setForeColor(colour);
        l->setFont(font);
        return l;
    };
    Label1 = label(QStringLiteral("Label1"), QStringLiteral("Pelorinax"), {3120, 120, 2775, 495}, kRed,
                   fonts::font(fonts::kMincho, 24, true, true));
    Label3 = label(QStringLiteral("Label3"), QStringLiteral("Mini"), {5640, 360, 495, 255}, kRed,
                   fonts::font(fonts::kGothic, 9.75, false, true));
    Label2 = label(QStringLiteral("Label2"), QString(), {6120, 360, 1095, 255}, kRed,
                   fonts::font(fonts::kGothic, 9.75, true, true));
    const double tops[7] = {1200, 1800, 2400, 2880, 3480, 4200, 4800};
    const double heights[7] = {495, 495, 495, 495, 615, 495, 975};
    for (int i = 0; i < 7; ++i) {
        // One name for the control array; each element knows its index.
        Label4[i] = label(QStringLiteral("Label4"), QString(), {2880, tops[i], 6000, heights[i]}, kBlack,
                          fonts::font(fonts::kGothic, 12, true));
        Label4[i]->setProperty("Index", i);
    }
    Label5 = label(QStringLiteral("Label5"), QString(), {2760, 5760, 6015, 495}, kRed,
                   fonts::font(fonts::kGothic, 9.75));

    Image1 = new kit::PictureBox(kit::PictureBox::Mode::Stretch, c);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->Move(1080, 120, 705, 705);
    Image1->setImage(appIconImage());
}

void Form4::wire()
{
    connect(Command2, &kit::CommandButton::GotFocus, this, &Form4::Command2_GotFocus);
    connect(Command1, &kit::CommandButton::GotFocus, this, &Form4::Command1_GotFocus);
    connect(Command3, &kit::CommandButton::GotFocus, this, &Form4::Command3_GotFocus);
    connect(Command4, &kit::CommandButton::GotFocus, this, &Form4::Command4_GotFocus);
    connect(Command7, &kit::CommandButton::GotFocus, this, &Form4::Command7_GotFocus);
    connect(Command6, &kit::CommandButton::GotFocus, this, &Form4::Command6_GotFocus);
    connect(Command8, &kit::CommandButton::GotFocus, this, &Form4::Command8_GotFocus);
    connect(Command5, &kit::CommandButton::GotFocus, this, &Form4::Command5_GotFocus);
    connect(Command2, &QPushButton::clicked, this, &Form4::Command2_Click);
    connect(Command1, &QPushButton::clicked, this, &Form4::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &Form4::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form4::Command4_Click);
    connect(Command7, &QPushButton::clicked, this, &Form4::Command7_Click);
    connect(Command6, &QPushButton::clicked, this, &Form4::Command6_Click);
    connect(Command8, &QPushButton::clicked, this, &Form4::Command8_Click);
    connect(Command5, &QPushButton::clicked, this, &Form4::Command5_Click);
}

void Form4::Form_Load()
{
    setWidth(9500);
    setHeight(6700);
    centre();
    Label2->setText(Module1::ver_str);
    const QString crlf = QStringLiteral("\r\n");
    Label4[0]->setText(QStringLiteral("実寸表示画像をクリップボードにコピー"));
    Label4[1]->setText(QStringLiteral("プレビュー画像を実寸で表示"));
    Label4[2]->setText(QStringLiteral("実寸表示画面を消去"));
    Label4[3]->setText(QStringLiteral("画像を順番に実寸または縮小画像で表示") + crlf + QStringLiteral("（Ｅｓｃで終了）"));
    Label4[4]->setText(QStringLiteral("矢印キー（↓、↑）で実寸または縮小画像を順次表示") + crlf +
                       QStringLiteral("（Ｅｓｃで終了）"));
    Label4[5]->setText(QStringLiteral("ファイル選択後  削除は'D' or 'd'　名前変更は'R' or 'r'"));
    Label4[6]->setText(QStringLiteral("・フォルダ選択は↑↓で選択しEnterで確定") + crlf +
                       QStringLiteral("・フォルダ一覧からドライブ一覧への移動＝Shift+↑") + crlf +
                       QStringLiteral("・フォルダ一覧とファイル一覧間の移動＝→，←"));
    Label5->setText(QStringLiteral("　　表示出来る画像ファイルは､下記拡張子を持つ5種類です｡") + crlf +
                    QStringLiteral("　　　　　　　BMP , WNF, JPEG, JPG, ICO"));
    Label4[0]->setForeColor(kRed);
}

void Form4::centre()
{
    moveTo((screen::widthTwips() - Width()) / 2, (screen::heightTwips() - Height()) / 2);
}

void Form4::color_black()
{
    for (kit::Label *l : Label4)
        l->setForeColor(kBlack);
}

void Form4::highlight(int element)
{
    color_black();
    Label4[element]->setForeColor(kBlue);
}

void Form4::Command2_GotFocus() { highlight(0); }
void Form4::Command1_GotFocus() { highlight(1); }
void Form4::Command3_GotFocus() { highlight(2); }
void Form4::Command4_GotFocus() { highlight(3); }
void Form4::Command7_GotFocus() { highlight(4); }
void Form4::Command6_GotFocus() { highlight(5); }
void Form4::Command8_GotFocus() { highlight(6); }
void Form4::Command5_GotFocus() { color_black(); }

void Form4::Command2_Click() { highlight(0); }
void Form4::Command1_Click() { highlight(1); }
void Form4::Command3_Click() { highlight(2); }
void Form4::Command4_Click() { highlight(3); }
void Form4::Command7_Click() { highlight(4); }
void Form4::Command6_Click() { highlight(5); }
void Form4::Command8_Click() { highlight(6); }
void Form4::Command5_Click() { Unload(); }

void Form4::Form_Click() { centre(); }

}  // namespace pel
