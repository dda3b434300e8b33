#include "app/state/Form1.h"

#include "app/command_line.h"
#include "app/state/Forms.h"
#include "app/version.h"
#include "help/help_viewer.h"
#include "slideshow/slide_readahead.h"
#include "system/display_profile.h"
#include "system/drives.h"
#include "system/fsname.h"
#include "system/fonts.h"
#include "system/screen.h"
#include "system/storage.h"
#include "system/twips.h"
#include "viewer/Form2.h"

#include <QCoreApplication>
#include <QMenuBar>

namespace pel {
namespace {
const QColor kButtonFace(255, 255, 128);
const QColor kPaleCyan(192, 255, 255);
const QColor kWhite(255, 255, 255);
}  // namespace

Form1::Form1() : kit::KitForm(kit::Border::FixedSingle)
{
    setObjectName(QStringLiteral("Form1"));
    // The controls are made, and the window loaded, while the font worker may still
    // be busy: the fonts come at the end of Form_Load.
    m_firstLayout.emplace(*this);
    createMenus();
    createControls();
    wire();
}

Form1::~Form1() = default;

void Form1::setFonts()
{
    fonts::setApplicationFont();
    menuBar()->setFont(fonts::font(fonts::kGothic, 9));
    Label1->setFont(fonts::font(fonts::kMincho, 24, true, true));
    Label3->setFont(fonts::font(fonts::kGothic, 15.75, true, false));
    for (kit::CommandButton *b : {Command1, Command2, Command3, Command4})
        b->setFont(fonts::font(fonts::kGothic, 9));
}

void Form1::createControls()
{
    canvas = new kit::Canvas(this);
    canvas->setObjectName(QStringLiteral("canvas"));
    setClient(canvas);
    QWidget *c = canvas;

    Label1 = new kit::Label(QStringLiteral("Pelorinax"), c);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->Move(600, 120, 3255, 495);
    Label1->setForeColor(QColor(0, 0, 255));

    Label3 = new kit::Label(QStringLiteral("Mini"), c);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->Move(3000, 360, 615, 255);
    Label3->setForeColor(QColor(255, 0, 0));

    // The tab order follows creation: Command1, Command3, Command4, Command2, List1, Drive1, Dir1.
    Command1 = new kit::CommandButton(QStringLiteral("実寸表示"), c);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->Move(6600, 3240, 2055, 375);
    Command3 = new kit::CommandButton(QStringLiteral("実寸表示消去"), c);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->Move(6600, 3600, 2055, 375);
    Command4 = new kit::CommandButton(QString(), c);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command4->Move(4320, 3600, 2175, 375);
    Command2 = new kit::CommandButton(QStringLiteral("クリップボードにコピー"), c);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->Move(4320, 3240, 2175, 375);
    for (kit::CommandButton *b : {Command1, Command2, Command3, Command4})
        b->setFaceColor(kButtonFace);

    List1 = new kit::ListBox(c);
    List1->setObjectName(QStringLiteral("List1"));
    List1->Move(4320, 120, 2175, 2985);
    List1->setBackColor(kPaleCyan);

    // Each of the three lists starts where the program was started.
    const QString start = startFolder();
    Drives::setCurrentFolder(start);

    Drive1 = new kit::DriveListBox(c);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->Move(6600, 120, 2055, 315);
    Drive1->setBackColor(kWhite);
    {
        const QSignalBlocker block(Drive1);
        Drive1->setDrive(Drives::driveOf(start));
    }

    Dir1 = new kit::DirListBox(c);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->Move(6600, 480, 2055, 2565);
    Dir1->setBackColor(kWhite);
    {
        const QSignalBlocker block(Dir1);
        Dir1->setPathUnread(start);   // read at load, with the file list
    }

    setTabOrder(Command1, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, Command2);
    setTabOrder(Command2, List1);
    setTabOrder(List1, Drive1);
    setTabOrder(Drive1, Dir1);

    File1 = new kit::FileListBox(this);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setUnread(start, QString());

    Image1 = new kit::PictureBox(kit::PictureBox::Mode::AutoSize, c);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->Move(1080, 2040, 210, 210);
    Image1->hide();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    // A slideshow tick should come on time, not up to 5 % late as coarse timers may.
    Timer1->setTimerType(Qt::PreciseTimer);

    canvas->addRect(&Shape1);
    canvas->addLine(&Line1);
    Line1.color = QColor(128, 128, 128);
}

void Form1::wire()
{
    // Closing the main window works at once, also while storage is waited for.
    storage::allowWhileWaiting(this);
    storage::allowWhileWaiting(owari);
    connect(owari, &QAction::triggered, this, &Form1::owari_Click);
    connect(ime_mon, &QAction::triggered, this, &Form1::ime_mon_Click);
    connect(ime_moff, &QAction::triggered, this, &Form1::ime_moff_Click);
    for (int i = 0; i < 6; ++i)
        connect(s_time[i], &QAction::triggered, this, [this, i]() { s_time_Click(i); });
    connect(jyun_disp, &QAction::triggered, this, &Form1::jyun_disp_Click);
    connect(how_to, &QAction::triggered, this, &Form1::how_to_Click);
    connect(howtouse, &QAction::triggered, this, &Form1::howtouse_Click);
    connect(ver, &QAction::triggered, this, &Form1::ver_Click);

    for (kit::CommandButton *b : {Command1, Command2, Command3, Command4})
        connect(b, &kit::CommandButton::GotFocus, this, &Form1::buttons_GotFocus);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);

    connect(Drive1, &kit::DriveListBox::Change, this, &Form1::Drive1_Change);
    connect(Dir1, &kit::DirListBox::Change, this, &Form1::Dir1_Change);
    connect(List1, &kit::ListBox::Click, this, &Form1::List1_Click);
    connect(List1, &kit::ListBox::GotFocus, this, &Form1::List1_GotFocus);
    connect(Drive1, &kit::DriveListBox::GotFocus, this, &Form1::Drive1_GotFocus);
    connect(Dir1, &kit::DirListBox::GotFocus, this, &Form1::Dir1_GotFocus);
    kit::onKeyDown(Dir1, [this](int k, int s) { Dir1_KeyDown(k, s); });
    kit::onKeyDown(Drive1, [this](int k, int s) { Drive1_KeyDown(k, s); });
    kit::onKeyDown(List1, [this](kit::KeyDown &k) { List1_KeyDown(k); });

    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);

    // The change comes from the X server's event, perhaps while a handler waits for
    // storage: the redraw runs after it.
    m_profileRedraw = new QTimer(this);
    m_profileRedraw->setSingleShot(true);
    connect(display_profile::notifier(), &display_profile::Notifier::changed, this,
            [this] { m_profileRedraw->start(0); });
    connect(m_profileRedraw, &QTimer::timeout, this, &Form1::redrawForDisplay);
}

void Form1::redrawForDisplay()
{
    if (storage::waiting()) {
        m_profileRedraw->start(50);
        return;
    }
    if (m_readAhead)
        m_readAhead->restart();
    redraw_viewer();   // first what lies on top
    redraw_preview();
}

void Form1::Form_Load()
{
    setWidth(9000);
    setHeight(4900);
    Line1.X1 = 0;
    Line1.Y1 = 0;
    Line1.X2 = ScaleWidth();
    Line1.Y2 = 0;
    Shape1.Left = 160;
    Shape1.Top = 670;
    Shape1.Width = 4060;
    Shape1.Height = 3060;
    File1->setUnread(File1->Path(), QStringLiteral("*.WMF;*.jpeg;*jpg;*bmp;*.ico"));
    startReading();
    Module1::actual_flag = 0;
    Module1::screen_w = static_cast<Long>(twips::roundHalfEven(screen::widthTwips()));
    Module1::screen_h = static_cast<Long>(twips::roundHalfEven(screen::heightTwips()));
    finishReading(true);   // fills List1 (disp_data1) when the folder answered at once

    Form2 &viewer = Forms::form2();   // loaded hidden, to measure its borders
    Module1::frame_w = twips::toInt16(viewer.Width() - viewer.ScaleWidth());
    Module1::frame_h = twips::toInt16(viewer.Height() - viewer.ScaleHeight());

    Module1::ver_str = versionText();
    setCaption(QStringLiteral("ＰｅｌｏｒｉｎａｘMini"));
    show_time = 500;
    Timer1->setInterval(show_time);
    Timer1->stop();
    Command4->setText(intervalCaption(show_time));
    placeCentred();
    // Last, as it may wait for the font worker: the fonts, then the one layout.
    setFonts();
    m_firstLayout.reset();
}

void Form1::placeCentred()
{
    moveTo((screen::widthTwips() - Width()) / 2, (screen::heightTwips() - Height()) / 4);
}

void Form1::park() { moveTo(0, 0); }

void Form1::owari_Click() { shutdown(); }

void Form1::Form_QueryUnload() { shutdown(); }

void Form1::shutdown()
{
    if (m_shuttingDown)
        return;
    m_shuttingDown = true;
    // Whatever storage is being waited for, the windows go now.
    storage::close();
    Timer1->stop();
    Forms::unload1();
    Forms::unload2();
    Forms::unload3();
    Forms::unload4();
    help::closeViewer();
    QCoreApplication::quit();
}

void Form1::setListColours(const QColor &list1, const QColor &drive1, const QColor &dir1)
{
    List1->setBackColor(list1);
    Drive1->setBackColor(drive1);
    Dir1->setBackColor(dir1);
}

QString Form1::fullPath(const QString &name) const
{
    // The separator is always inserted; at the root this gives "//name", which opens.
    return File1->Path() + QLatin1Char('/') + name;
}

}  // namespace pel
