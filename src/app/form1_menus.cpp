// The main window's menu bar, the kanji-input items, the buttons' focus cue and
// the click on the window's background.
#include "app/state/Form1.h"
#include "app/state/Module1.h"

#include <QMenuBar>

namespace pel {

void Form1::createMenus()
{
    QMenuBar *bar = menuBar();
    auto item = [this](QMenu *menu, const QString &name, const QString &caption, bool checkable = false) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(name);
        // Check marks are set by the handlers alone; the handlers always set them
        // explicitly, so Qt's own toggle on trigger is overwritten at once.
        a->setCheckable(checkable);
        return a;
    };

    file_mnu = bar->addMenu(QStringLiteral("ファイル"));
    file_mnu->setObjectName(QStringLiteral("file_mnu"));
    owari = item(file_mnu, QStringLiteral("owari"), QStringLiteral("終　了"));

    set_dat = bar->addMenu(QStringLiteral("設定"));
    set_dat->setObjectName(QStringLiteral("set_dat"));
    s_showtime = set_dat->addMenu(QStringLiteral("スライドショー表示時間"));
    s_showtime->setObjectName(QStringLiteral("s_showtime"));
    const char *captions[6] = {"0.5 sec", "1.0 sec", "1.5 sec", "2.0 sec", "2.5 sec", "3.0 sec"};
    for (int i = 0; i < 6; ++i)
        s_time[i] = item(s_showtime, QStringLiteral("s_time%1").arg(i + 1), QString::fromLatin1(captions[i]), true);
    s_time[0]->setChecked(true);
    jyun_disp = item(set_dat, QStringLiteral("jyun_disp"), QStringLiteral("順次表示↓"), true);
    ime_mod = set_dat->addMenu(QStringLiteral("漢字入力"));
    ime_mod->setObjectName(QStringLiteral("ime_mod"));
    ime_mon = item(ime_mod, QStringLiteral("ime_mon"), QStringLiteral("ON"), true);
    ime_moff = item(ime_mod, QStringLiteral("ime_moff"), QStringLiteral("OFF"), true);
    ime_mon->setChecked(true);

    help_mnu = bar->addMenu(QStringLiteral("ヘルプ"));
    help_mnu->setObjectName(QStringLiteral("help_mnu"));
    how_to = item(help_mnu, QStringLiteral("how_to"), QStringLiteral("簡易マニュアル"));
    howtouse = item(help_mnu, QStringLiteral("howtouse"), QStringLiteral("使い方"));
    kugiri2 = help_mnu->addSeparator();
    kugiri2->setObjectName(QStringLiteral("kugiri2"));
    ver = item(help_mnu, QStringLiteral("ver"), QStringLiteral("バージョン情報"));
}

void Form1::ime_mon_Click()
{
    ime_mon->setChecked(true);
    ime_moff->setChecked(false);
    Module1::ime_flag = 1;
}

void Form1::ime_moff_Click()
{
    ime_moff->setChecked(true);
    ime_mon->setChecked(false);
    Module1::ime_flag = 0;
}

void Form1::buttons_GotFocus()
{
    setListColours(Qt::white, Qt::white, Qt::white);
}

void Form1::Form_Click()
{
    if (Module1::slide_flag == 1 || Module1::actual_flag == 1)
        return;
    placeCentred();
}

}  // namespace pel
