#pragma once
// Controls placed and measured in twips, with the events and properties the
// windows' handlers use. Each keeps the twips it was given (so arithmetic on
// positions is exact) and shows itself at the nearest pixels.
#include <QAbstractListModel>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRectF>
#include <QScrollBar>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

#include "system/file_id.h"

namespace pel {
class PictureFile;
}

namespace pel::kit {

QRect pixelRect(const QRectF &tw);   // negative sizes show as empty

// Twips geometry for any widget.
template <class Base>
class Twips : public Base {
public:
    using Base::Base;
    double Left() const { return m_tw.left(); }
    double Top() const { return m_tw.top(); }
    double Width() const { return m_tw.width(); }
    double Height() const { return m_tw.height(); }
    // Held in single precision, as the handlers' arithmetic expects.
    void Move(double l, double t, double w, double h)
    {
        m_tw = QRectF(float(l), float(t), float(w), float(h));
        applyTwips();
    }
    void setLeft(double v) { m_tw.moveLeft(float(v)); applyTwips(); }
    void setTop(double v) { m_tw.moveTop(float(v)); applyTwips(); }
    void setWidth(double v) { m_tw.setWidth(float(v)); applyTwips(); }
    void setHeight(double v) { m_tw.setHeight(float(v)); applyTwips(); }
    QRectF twipsRect() const { return m_tw; }

protected:
    virtual void applyTwips() { Base::setGeometry(pixelRect(m_tw)); }
    QRectF m_tw;
};

// Starts following Enter across the application, as the buttons need; the kit does
// it before its first window, behind the input gate (see KitForm.cpp).
void followEnterKeys();

// A push button with a face colour and a got-focus event. Enter clicks the
// focused button (as Space does); no button is a window-wide default.
class CommandButton : public Twips<QPushButton> {
    Q_OBJECT
public:
    explicit CommandButton(const QString &caption, QWidget *parent);
    void setFaceColor(const QColor &c);
signals:
    void GotFocus();
protected:
    void focusInEvent(QFocusEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
};

class Label : public Twips<QLabel> {
    Q_OBJECT
public:
    explicit Label(const QString &caption, QWidget *parent);
    void setForeColor(const QColor &c);
};

// A list box of file names: entries by index, a selection (-1 for none), a
// background colour. Each entry is a name exactly as the folder gave it, with
// what the file was when listed; the list shows it as the user reads it
// (fsname::displayDistinct: no two entries alike).
// Code changes never run the click handler; a selection change by mouse or
// keyboard runs it once. Uniform item sizes keep a 32767-entry list instant.
class ListBox : public Twips<QListView> {
    Q_OBJECT
public:
    explicit ListBox(QWidget *parent);

    void Clear();
    void AddItem(const QString &s);
    void AddItem(const QString &s, int index, FileId id = {});   // insert before index
    // Clear + AddItem each, in one step; `ids` (when given) one for each name.
    void setItems(const QStringList &items, const std::vector<FileId> &ids = {});
    void RemoveItem(int index);
    QString List(int index) const;   // the exact name
    QString Shown(int index) const;  // how the entry reads on screen
    FileId ItemId(int index) const;
    int ListCount() const;
    int ListIndex() const;
    void setListIndex(int index);   // by code: runs Click, as the user's change would
    QString Text() const;           // the selected entry, empty with no selection
    void setBackColor(const QColor &c);
    QColor backColor() const { return m_back; }

signals:
    void Click();
    void GotFocus();

protected:
    void focusInEvent(QFocusEvent *e) override;

private:
    void onCurrentChanged(const QModelIndex &current);
    void selectRow(int row);
    class Model;
    Model *m_model;
    bool m_codeChange = false;
    QColor m_back;
};

// A scroll bar with 16-bit properties. Change runs when code sets a new value
// or the user lets go of the bar; Scroll runs while the thumb is dragged.
class ScrollBar16 : public Twips<QScrollBar> {
    Q_OBJECT
public:
    ScrollBar16(Qt::Orientation o, QWidget *parent);
    std::int16_t Max() const { return m_max; }
    std::int16_t Value() const { return m_value; }
    std::int16_t LargeChange() const { return m_large; }
    std::int16_t SmallChange() const { return m_small; }
    void setMax(std::int16_t v);
    void setValue16(std::int16_t v);
    void setLargeChange(std::int16_t v);
    void setSmallChange(std::int16_t v);
signals:
    void Change();
    void Scroll();
private:
    void fromWidget(int v);
    std::int16_t m_max = 32767, m_value = 0, m_large = 1, m_small = 1;
    bool m_sync = false;
};

// A box that shows one picture. Auto-size boxes take the picture's natural size
// (in twips); stretching boxes scale the picture to their own size.
class PictureBox : public Twips<QWidget> {
    Q_OBJECT
public:
    enum class Mode { AutoSize, Stretch };
    PictureBox(Mode mode, QWidget *parent);

    // Holds the picture; AutoSize boxes take its natural size. A null file clears.
    // A bitmap shows the pixels handed over (decoded off the user-interface thread),
    // stretched to the box where it is another size; a metafile is drawn at the
    // size shown, and drawn again when the display's colour profile changes.
    void setPicture(std::shared_ptr<const PictureFile> file, const QImage &decoded = QImage());
    std::shared_ptr<const PictureFile> picture() const { return m_file; }
    // A fixed image (the corner square's icon), drawn clipped at its own size.
    void setImage(const QImage &img);
    const QImage &shownImage() const { return m_cache; }

signals:
    void DblClick();

protected:
    void paintEvent(QPaintEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void applyTwips() override;

private:
    Mode m_mode;
    std::shared_ptr<const PictureFile> m_file;
    QImage m_fixed;
    mutable QImage m_cache;   // the picture decoded at the size shown
};

}  // namespace pel::kit
