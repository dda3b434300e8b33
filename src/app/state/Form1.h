#pragma once
// The main window: the lists, the preview box, the four buttons, the menus and
// the slideshow timer. Its handlers are split over files by subsystem:
//   app/Form1.cpp               construction, load, shutdown, placement
//   app/form1_menus.cpp         menu bar, kanji-input items, buttons' focus cue, background click
//   browse/form1_browse.cpp     drive, folder and file lists, their keys and focus cues
//   browse/form1_preview.cpp    the preview box
//   viewer/form1_viewer.cpp     actual-size display, copy and erase
//   slideshow/form1_slideshow.cpp  interval menu, slideshow and sequential display
//   help/form1_help.cpp         the help menu's items
//   fileops/form1_fileops.cpp   the delete and rename keys of the file list
#include "app/state/Module1.h"
#include "kit/canvas.h"
#include "kit/controls.h"
#include "kit/filecontrols.h"
#include "system/result.h"
#include "system/storage.h"
#include "kit/KitForm.h"

#include <QAction>
#include <QMenu>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>

namespace pel {

class SlideReadAhead;

class Form1 : public kit::KitForm {
    Q_OBJECT
public:
    Form1();
    ~Form1() override;

    // Load handling; runs once, before the window is first shown.
    void Form_Load();

    // ---- controls ----
    kit::Canvas *canvas;          // the window's persistent drawing (preview box)
    kit::Label *Label1;
    kit::Label *Label3;
    kit::LineShape Line1;
    kit::RectShape Shape1;
    kit::ListBox *List1;
    kit::DriveListBox *Drive1;
    kit::DirListBox *Dir1;
    kit::CommandButton *Command1;
    kit::CommandButton *Command2;
    kit::CommandButton *Command3;
    kit::CommandButton *Command4;
    kit::FileListBox *File1;
    kit::PictureBox *Image1;      // hidden: holds and measures the last preview picture
    QTimer *Timer1;

    // ---- menus ----
    QMenu *file_mnu;
    QAction *owari;
    QMenu *set_dat;
    QMenu *s_showtime;
    std::array<QAction *, 6> s_time{};   // s_time1 .. s_time6
    QAction *s_time1() const { return s_time[0]; }
    QAction *jyun_disp;
    QMenu *ime_mod;
    QAction *ime_mon;
    QAction *ime_moff;
    QMenu *help_mnu;
    QAction *how_to;
    QAction *howtouse;
    QAction *kugiri2;
    QAction *ver;

    Integer show_time = 0;   // slideshow interval, ms

    // ---- app ----
    void owari_Click();
    void shutdown();
    // Back to the usual place: centred across, a quarter of the free height down,
    // with the live screen size.
    void placeCentred();

    // ---- menus and focus cues ----
    void ime_mon_Click();
    void ime_moff_Click();
    void buttons_GotFocus();

    // ---- browsing ----
    void disp_data1();
    // The start folder's sub-folders and files, read on a worker from load on. The
    // window shows without waiting for a folder that does not answer at once: the
    // lists are then filled, or the drive reported not ready, once it shows.
    void startReading();
    void finishReading(bool beforeShowing);
    void Drive1_Change();
    void Dir1_Change();
    void List1_Click();
    void List1_GotFocus();
    void Drive1_GotFocus();
    void Dir1_GotFocus();
    void Dir1_KeyDown(int keyCode, int shift);
    void Drive1_KeyDown(int keyCode, int shift);
    void List1_KeyDown(kit::KeyDown &key);
    QString fullPath(const QString &name) const;   // File1.Path, the separator, name

    // ---- preview ----
    void disp_picture();

    // ---- viewer ----
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void park();   // the top-left corner while the viewer shows

    // ---- file operations: the D and R branches of List1's key-down ----
    void List1_FileKeys(kit::KeyDown &key);   // the guard, then the two steps
    void List1_Delete(int keyCode);
    void List1_Rename(int keyCode);

    // ---- slideshow ----
    void s_time_Click(int item);   // item 0..5 for s_time1..s_time6
    void del_check();
    void jyun_disp_Click();
    void Command4_Click();
    void Timer1_Timer();
    // Fault::Failed when the file cannot be shown; Fault::Closing when the program closes.
    Outcome disp_slide();
    // "スライドショー　" + the interval in seconds as the shortest decimal + "sec".
    static QString intervalCaption(Integer ms);

    // ---- the display's colour profile changed: what shows is made again for it ----
    void redraw_preview();   // browse/form1_preview.cpp
    void redraw_viewer();    // viewer/form1_viewer.cpp: the actual-size display or the slide

    // ---- help ----
    void how_to_Click();
    void howtouse_Click();
    void ver_Click();

protected:
    void Form_QueryUnload() override;
    void Form_Click() override;

private:
    void createControls();
    void createMenus();
    void setFonts();   // waits for the font worker
    void wire();
    void setListColours(const QColor &list1, const QColor &drive1, const QColor &dir1);

    bool m_driveFallback = false;   // inside the unready-drive failure path
    // From construction to the end of Form_Load: the window is laid out once, when
    // its fonts are set.
    std::optional<GeometryBatch> m_firstLayout;
    bool m_shuttingDown = false;
    bool m_inTick = false;          // inside Timer1_Timer
    // The files the preview and the viewer show, for waiting on their drive.
    QString m_previewPath;
    QString m_viewerPath;
    QTimer *m_profileRedraw = nullptr;   // the redraw for a new display profile, deferred
    void redrawForDisplay();
    SlideReadAhead &readAhead();    // the next picture of a run, made on first use
    std::unique_ptr<SlideReadAhead> m_readAhead;
    struct StartRead {
        Result<QStringList> subs;
        Result<ScanResult> files;
    };
    storage::Pending<StartRead> m_startRead;
};

}  // namespace pel
