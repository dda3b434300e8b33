// The drive, folder and file lists of the main window: keeping them in step,
// the unready drive, picking a file, the focus cues and the lists' keys.
#include "app/state/Form1.h"
#include "app/state/Module1.h"
#include "system/drives.h"
#include "system/file_listing.h"
#include "system/messages.h"
#include "system/storage.h"

#include <QTimer>

namespace pel {
namespace {
const QColor kPaleCyan(192, 255, 255);
const QColor kWhite(255, 255, 255);
}  // namespace

void Form1::disp_data1()
{
    List1->setItems(File1->names(), File1->ids());
}

namespace {
// How long the start waits for its folder before the window shows: a local folder
// is read by then; one on a share that does not answer is waited for with the
// window on screen.
constexpr int kStartReadMs = 100;
}  // namespace

void Form1::startReading()
{
    m_startRead = storage::start(File1->Path(), storage::Limit::Answer,
                                 [folder = File1->Path(), pattern = FilePattern(File1->Pattern())] {
                                     StartRead r;
                                     FolderReadingPtr reading;
                                     r.subs = subFolders(folder, &reading);
                                     r.files = scanFolder(folder, pattern, 32767, reading);
                                     return r;
                                 });
}

void Form1::finishReading(bool beforeShowing)
{
    if (beforeShowing && !m_startRead.doneWithin(kStartReadMs)) {
        disp_data1();   // the lists stay empty while the window shows
        QTimer::singleShot(0, this, [this] { finishReading(false); });
        return;
    }
    Result<StartRead> read = m_startRead.take();
    if (read.outcome.fault == Fault::Closing)
        return;
    if (!read.ok()) {
        messages::deviceNotReady();   // the start folder's volume does not answer
        return;
    }
    Dir1->showSubFolders(read.value.subs);
    File1->setListing(std::move(read.value.files));
    disp_data1();
}

void Form1::Dir1_Change()
{
    if (Module1::slide_flag == 1)
        return;
    File1->setPath(Dir1->Path());
    Drives::setCurrentFolder(Dir1->Path());
    disp_data1();
}

void Form1::Drive1_Change()
{
    if (Module1::slide_flag == 1)
        return;
    const Result<QString> folder = Drives::makeCurrent(Drive1->Drive());
    if (folder.outcome.fault == Fault::Closing)
        return;
    if (folder.ok()) {
        Dir1->setPath(folder.value);   // runs Dir1_Change when the folder differs
        File1->setPath(Dir1->Path());
        disp_data1();
        return;
    }

    if (m_driveFallback) {
        // Setting the list back failed too: the current folder's own volume went
        // away. Without this the two handlers would call each other for ever,
        // showing the message each time. End once, on the first volume that can
        // be read.
        for (const Volume &v : Drives::volumes()) {
            if (v.root == Drive1->Drive())
                continue;
            if (const Result<QString> readable = Drives::makeCurrent(v.root); readable.ok()) {
                {
                    const QSignalBlocker block(Drive1);
                    Drive1->setDrive(v.root);
                }
                Dir1->setPath(readable.value);
                File1->setPath(Dir1->Path());
                disp_data1();
                return;
            }
        }
        return;
    }

    messages::deviceNotReady();
    m_driveFallback = true;
    Drive1->setDrive(Drives::driveOf(Dir1->Path()));   // runs this handler again, for the old drive
    m_driveFallback = false;
}

void Form1::List1_Click()
{
    if (Module1::slide_flag == 1)
        return;
    Module1::file_name = List1->Text();
    disp_picture();
    Module1::actual_flag = 0;
}

void Form1::List1_GotFocus() { setListColours(kPaleCyan, kWhite, kWhite); }
void Form1::Drive1_GotFocus() { setListColours(kWhite, kPaleCyan, kWhite); }
void Form1::Dir1_GotFocus() { setListColours(kWhite, kWhite, kPaleCyan); }

void Form1::Dir1_KeyDown(int keyCode, int shift)
{
    if (keyCode == 13)
        Dir1->setPath(Dir1->highlightedPath());
    if (keyCode == 38 && (shift & 1))
        Drive1->setFocus(Qt::OtherFocusReason);
    if (keyCode == 37)
        List1->setFocus(Qt::OtherFocusReason);
}

void Form1::Drive1_KeyDown(int keyCode, int)
{
    if (keyCode == 13)
        Dir1->setFocus(Qt::OtherFocusReason);
}

void Form1::List1_KeyDown(kit::KeyDown &key)
{
    if (key.keyCode == 39)
        Dir1->setFocus(Qt::OtherFocusReason);
    List1_FileKeys(key);   // delete (D) and rename (R)
}

}  // namespace pel
