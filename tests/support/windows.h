#pragma once
// Starting the windows inside a test: a scripted operating system (a fixed
// 1024 x 768 screen at 96 DPI, scripted message boxes), modal windows without a
// nested loop, and a folder of pictures made on the spot.
#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "app/state/Module1.h"
#include "system/drives.h"
#include "system/fonts.h"
#include "support/scripted_os.h"
#include "system/msgbox.h"
#include "system/screen.h"
#include "system/twips.h"
#include "viewer/Form2.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace pel::test {

// Writes a picture of w x h pixels (format by suffix: bmp, jpg, png).
inline QString makePicture(const QString &path, int w, int h, const char *format, QColor fill = QColor(40, 120, 200))
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(fill);
    QPainter p(&img);
    p.fillRect(0, 0, w / 2, h / 2, Qt::yellow);
    p.end();
    if (!img.save(path, format))
        qWarning("could not write %s", qPrintable(path));
    return path;
}

inline void writeText(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

class WindowsFixture {
public:
    QTemporaryDir dir;
    const QString m_folder = QDir(dir.path()).canonicalPath();
    QString folder() const { return m_folder; }

    // Starts the main window in `startFolder` (the temporary folder by default).
    Form1 &start(const QString &startFolder = QString())
    {
        Module1::reset();
        os().answer = [this](const MsgBoxShown &box) { return answer ? answer(box) : defaultAnswer(box); };
        kit::KitForm::setModalScript([this](kit::KitForm *f) {
            if (modal)
                modal(f);
        });
        Drives::resetCurrentFolders();
        // Only when it differs: a folder on a share that stopped answering cannot
        // even be entered again (the program's own start never waits for one).
        const QString start = startFolder.isEmpty() ? folder() : startFolder;
        if (QDir::currentPath() != start)
            QDir::setCurrent(start);
        Form1 &f = Forms::form1();
        f.Show();
        return f;
    }

    // Picks the entry `name` of the main window's file list, as a click does.
    bool pick(const QString &name)
    {
        Form1 &f = Forms::form1();
        for (int i = 0; i < f.List1->ListCount(); ++i)
            if (f.List1->List(i) == name) {
                f.List1->setListIndex(i);
                return true;
            }
        return false;
    }

    void stop()
    {
        Forms::unloadAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        kit::KitForm::setModalScript({});
        m_os.reset();
        Module1::reset();
        // A test's scripts may hold references to its own locals.
        answer = {};
        modal = {};
    }

    static int defaultAnswer(const MsgBoxShown &box) { return (box.buttons & 7) == vbYesNo ? vbNo : vbOK; }

    // The operating system as this test scripts it, from now until stop().
    ScriptedOs &os()
    {
        if (!m_os)
            m_os = std::make_unique<ScriptedOs>();
        return *m_os;
    }
    QList<MsgBoxShown> &shown() { return os().shown; }
    std::function<int(const MsgBoxShown &)> answer;
    std::function<void(kit::KitForm *)> modal;

    // Drops windows discarded with deleteLater, as the event loop would.
    static void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

private:
    std::unique_ptr<ScriptedOs> m_os;
};

inline void key(QWidget *w, Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    QTest::keyClick(w, k, m);
}

}  // namespace pel::test
