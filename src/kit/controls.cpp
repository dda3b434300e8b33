#include "kit/controls.h"

#include "picture/picture.h"
#include "system/display_profile.h"
#include "system/fsname.h"
#include "system/twips.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QMouseEvent>
#include <QPainter>

namespace pel::kit {

QRect pixelRect(const QRectF &tw)
{
    QRect r = twips::toPixels(tw);
    if (r.width() < 0) r.setWidth(0);
    if (r.height() < 0) r.setHeight(0);
    return r;
}

// ---- CommandButton ---------------------------------------------------------

namespace {
// Enter as the whole application sees it. A held Enter may arrive at a button it
// was not pressed on (Enter in a text box moves the focus to the button), as
// presses without releases or as X11's release and press pairs with one time
// stamp, which Qt does not always mark as auto-repeat. A press of Enter with no
// release since the last press, or paired so with its release, is a repeat.
class EnterKeys : public QObject {
public:
    static EnterKeys &instance()
    {
        static EnterKeys *keys = [] {
            auto *k = new EnterKeys(QCoreApplication::instance());
            QCoreApplication::instance()->installEventFilter(k);
            return k;
        }();
        return *keys;
    }
    bool isRepeat(const QKeyEvent *e) const { return e == m_last ? m_repeat : e->isAutoRepeat(); }

protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease)
            return false;
        auto *ke = static_cast<QKeyEvent *>(e);
        auto *w = qobject_cast<QWidget *>(watched);
        if (!w || (ke->key() != Qt::Key_Return && ke->key() != Qt::Key_Enter))
            return false;
        // The same event on its way up to the parents of the widget it came to.
        if (e == m_last && e->type() == m_lastType && m_receiver && w->isAncestorOf(m_receiver))
            return false;
        m_last = e;
        m_lastType = e->type();
        m_receiver = w;
        if (e->type() == QEvent::KeyPress) {
            m_repeat = ke->isAutoRepeat() || m_down || (ke->timestamp() != 0 && ke->timestamp() == m_releaseTime);
            m_down = true;
        } else if (!ke->isAutoRepeat()) {
            m_down = false;
            m_releaseTime = ke->timestamp();
        }
        return false;
    }

private:
    using QObject::QObject;
    const QEvent *m_last = nullptr;
    QEvent::Type m_lastType = QEvent::None;
    QPointer<QWidget> m_receiver;
    bool m_repeat = false;
    bool m_down = false;   // pressed, not released since
    quint64 m_releaseTime = 0;
};
}  // namespace

void followEnterKeys() { EnterKeys::instance(); }

CommandButton::CommandButton(const QString &caption, QWidget *parent) : Twips<QPushButton>(caption, parent)
{
    setAutoDefault(false);
    setFocusPolicy(Qt::StrongFocus);
    EnterKeys::instance();   // from now on, before any Enter comes
}

void CommandButton::setFaceColor(const QColor &c)
{
    QPalette p = palette();
    p.setColor(QPalette::Button, c);
    setPalette(p);
    setAutoFillBackground(true);
    // The Fusion-like styles paint the face from the palette; a style sheet makes
    // the colour certain under any style while keeping the focus rectangle.
    setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: 1px solid #707070; }"
                                 "QPushButton:focus { border: 2px solid #202020; }"
                                 "QPushButton:pressed { background-color: %2; }")
                      .arg(c.name(), c.darker(115).name()));
}

void CommandButton::focusInEvent(QFocusEvent *e)
{
    QPushButton::focusInEvent(e);
    emit GotFocus();
}

void CommandButton::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        if (!EnterKeys::instance().isRepeat(e))   // a held Enter presses once, where it was pressed
            click();
        return;
    }
    QPushButton::keyPressEvent(e);
}

// ---- Label -------------------------------------------------------------------

Label::Label(const QString &caption, QWidget *parent) : Twips<QLabel>(caption, parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A label may show a file name, and "<i>c.bmp" is a name, not markup.
    setTextFormat(Qt::PlainText);
}

void Label::setForeColor(const QColor &c)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, c);
    setPalette(p);
}

// ---- ListBox -----------------------------------------------------------------

class ListBox::Model : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;
    using QAbstractListModel::beginResetModel;
    using QAbstractListModel::endResetModel;
    using QAbstractListModel::beginInsertRows;
    using QAbstractListModel::endInsertRows;
    using QAbstractListModel::beginRemoveRows;
    using QAbstractListModel::endRemoveRows;
    QStringList items;
    std::vector<FileId> ids;
    QStringList shown;   // empty while every name shows as it is
    int rowCount(const QModelIndex &parent) const override { return parent.isValid() ? 0 : int(items.size()); }
    QVariant data(const QModelIndex &idx, int role) const override
    {
        if (role == Qt::DisplayRole && idx.isValid() && idx.row() < items.size())
            return text(idx.row());
        return {};
    }
    QString text(int row) const { return shown.isEmpty() ? items.at(row) : shown.at(row); }
    // After every change: one entry's look may depend on the others'.
    void updateShown(bool notify)
    {
        shown = fsname::displayDistinct(items);
        if (shown.constData() == items.constData() || shown == items)
            shown.clear();
        if (notify && !shown.isEmpty() && rowCount({}) > 0)
            emit dataChanged(index(0), index(rowCount({}) - 1), {Qt::DisplayRole});
    }
};

ListBox::ListBox(QWidget *parent) : Twips<QListView>(parent), m_model(new Model(this))
{
    setModel(m_model);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &cur, const QModelIndex &) { onCurrentChanged(cur); });
}

void ListBox::onCurrentChanged(const QModelIndex &current)
{
    if (m_codeChange || !current.isValid())
        return;
    // Keyboard moves may set the current row without selecting it; a list box
    // has no such distinction.
    if (!selectionModel()->isSelected(current)) {
        m_codeChange = true;
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect);
        m_codeChange = false;
    }
    emit Click();
}

void ListBox::selectRow(int row)
{
    m_codeChange = true;
    if (row < 0 || row >= m_model->items.size()) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::Clear);
    } else {
        selectionModel()->setCurrentIndex(m_model->index(row), QItemSelectionModel::ClearAndSelect);
    }
    m_codeChange = false;
}

void ListBox::Clear() { setItems({}); }

void ListBox::setItems(const QStringList &items, const std::vector<FileId> &ids)
{
    m_codeChange = true;
    m_model->beginResetModel();
    m_model->items = items;
    m_model->ids = ids;
    m_model->ids.resize(size_t(items.size()));
    m_model->updateShown(false);
    m_model->endResetModel();
    selectRow(-1);
    m_codeChange = false;
}

void ListBox::AddItem(const QString &s) { AddItem(s, int(m_model->items.size())); }

void ListBox::AddItem(const QString &s, int index, FileId id)
{
    index = std::clamp(index, 0, int(m_model->items.size()));
    m_codeChange = true;
    m_model->beginInsertRows(QModelIndex(), index, index);
    m_model->items.insert(index, s);
    m_model->ids.insert(m_model->ids.begin() + index, id);
    if (!m_model->shown.isEmpty())
        m_model->shown.insert(index, s);
    m_model->endInsertRows();   // a selection after `index` moves down with its entry
    m_model->updateShown(true);
    m_codeChange = false;
}

void ListBox::RemoveItem(int index)
{
    if (index < 0 || index >= m_model->items.size())
        return;
    const bool wasSelected = ListIndex() == index;
    m_codeChange = true;
    m_model->beginRemoveRows(QModelIndex(), index, index);
    m_model->items.removeAt(index);
    m_model->ids.erase(m_model->ids.begin() + index);
    if (!m_model->shown.isEmpty())
        m_model->shown.removeAt(index);
    m_model->endRemoveRows();
    m_model->updateShown(true);
    m_codeChange = false;
    if (wasSelected)
        selectRow(-1);   // Qt would move the selection to a neighbour
}

QString ListBox::List(int index) const
{
    return (index >= 0 && index < m_model->items.size()) ? m_model->items.at(index) : QString();
}

QString ListBox::Shown(int index) const
{
    return (index >= 0 && index < m_model->items.size()) ? m_model->text(index) : QString();
}

FileId ListBox::ItemId(int index) const
{
    return (index >= 0 && index < m_model->items.size()) ? m_model->ids[size_t(index)] : FileId{};
}

int ListBox::ListCount() const { return int(m_model->items.size()); }

int ListBox::ListIndex() const
{
    const QModelIndex cur = selectionModel()->currentIndex();
    return (cur.isValid() && selectionModel()->isSelected(cur)) ? cur.row() : -1;
}

void ListBox::setListIndex(int index)
{
    selectRow(index);
    if (ListIndex() >= 0) {
        scrollTo(m_model->index(index));
        emit Click();
    }
}

QString ListBox::Text() const { return List(ListIndex()); }

void ListBox::setBackColor(const QColor &c)
{
    m_back = c;
    QPalette p = palette();
    p.setColor(QPalette::Base, c);
    setPalette(p);
}

void ListBox::focusInEvent(QFocusEvent *e)
{
    // Qt's views make the first entry current when they gain the focus with none;
    // here that would be a pick (and a preview, or a bad-file message) the user
    // never made. Gaining the focus picks nothing.
    if (currentIndex().isValid()) {
        QListView::focusInEvent(e);
    } else {
        QAbstractScrollArea::focusInEvent(e);
        viewport()->update();
    }
    emit GotFocus();
}

// ---- ScrollBar16 -------------------------------------------------------------

ScrollBar16::ScrollBar16(Qt::Orientation o, QWidget *parent) : Twips<QScrollBar>(o, parent)
{
    QScrollBar::setRange(0, m_max);
    connect(this, &QScrollBar::sliderMoved, this, [this](int v) {
        if (m_sync) return;
        m_value = static_cast<std::int16_t>(v);
        emit Scroll();
    });
    connect(this, &QScrollBar::valueChanged, this, [this](int v) {
        if (m_sync || isSliderDown()) return;   // a drag reports through Scroll
        fromWidget(v);
    });
    connect(this, &QScrollBar::sliderReleased, this, [this]() {
        m_value = static_cast<std::int16_t>(QScrollBar::value());
        emit Change();
    });
}

void ScrollBar16::fromWidget(int v)
{
    const auto nv = static_cast<std::int16_t>(v);
    if (nv == m_value) return;
    m_value = nv;
    emit Change();
}

void ScrollBar16::setMax(std::int16_t v)
{
    m_max = v;
    m_sync = true;
    QScrollBar::setRange(0, std::max<int>(0, v));
    m_sync = false;
    if (m_value > std::max<std::int16_t>(0, v))
        setValue16(std::max<std::int16_t>(0, v));
}

void ScrollBar16::setValue16(std::int16_t v)
{
    v = std::clamp<std::int16_t>(v, 0, std::max<std::int16_t>(0, m_max));
    m_sync = true;
    QScrollBar::setValue(v);
    m_sync = false;
    if (v == m_value)
        return;
    m_value = v;
    emit Change();
}

void ScrollBar16::setLargeChange(std::int16_t v)
{
    m_large = v;
    QScrollBar::setPageStep(std::max<int>(1, v));
}

void ScrollBar16::setSmallChange(std::int16_t v)
{
    m_small = v;
    QScrollBar::setSingleStep(std::max<int>(1, v));
}

// ---- PictureBox --------------------------------------------------------------

PictureBox::PictureBox(Mode mode, QWidget *parent) : Twips<QWidget>(parent), m_mode(mode)
{
    // A metafile is drawn here, so it is drawn again here for the display's new
    // profile; a bitmap's pixels come again from the window that shows it.
    connect(display_profile::notifier(), &display_profile::Notifier::changed, this, [this] {
        if (m_file && m_file->isVector()) {
            m_cache = QImage();
            update();
        }
    });
}

void PictureBox::setPicture(std::shared_ptr<const PictureFile> file, const QImage &decoded)
{
    m_file = std::move(file);
    m_fixed = QImage();
    m_cache = decoded;
    if (m_mode == Mode::AutoSize) {
        const QSizeF tw = m_file ? m_file->sizeTwips() : QSizeF();
        m_tw.setSize(QSizeF(float(tw.width()), float(tw.height())));
        applyTwips();
    }
    update();
}

void PictureBox::setImage(const QImage &img)
{
    m_file.reset();
    m_fixed = img;
    m_cache = img;
    update();
}

void PictureBox::applyTwips()
{
    Twips<QWidget>::applyTwips();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    // A metafile is drawn afresh at the size shown (from memory: nothing is read).
    // A bitmap is never decoded here, where a file on a share that stopped answering
    // would freeze the window: it comes decoded with the picture.
    const QSize shown = m_mode == Mode::AutoSize && m_file ? m_file->pixelSize() : size();
    if (m_file && m_file->isVector() && m_cache.size() != shown)
        m_cache = m_file->render(shown);
    if (m_cache.isNull())
        return;
    QPainter p(this);
    if (m_mode == Mode::Stretch && m_cache.size() != size()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(rect(), m_cache);
    } else {
        p.drawImage(0, 0, m_cache);   // clipped to the box
    }
}

void PictureBox::mouseDoubleClickEvent(QMouseEvent *e)
{
    QWidget::mouseDoubleClickEvent(e);
    emit DblClick();
}

}  // namespace pel::kit
