#include "kit/KitForm.h"

#include "kit/controls.h"
#include "kit/frame_probe.h"
#include "kit/style.h"
#include "system/storage.h"
#include "system/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenuBar>
#include <QTimer>
#include <array>
#include <optional>
#include <utility>

namespace pel::kit {
namespace {

// Frame sizes per border style: asked of the window manager before the first
// window of a style shows, corrected when a shown window reports otherwise.
// `measured` is false while the sizes are a guess (the window manager did not
// answer the early request in time).
struct Frame {
    QMargins margins;
    bool measured = false;
};
std::array<std::optional<Frame>, 3> g_frames{};

Qt::WindowFlags flagsFor(Border b)
{
    const Qt::WindowFlags common = Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    switch (b) {
    case Border::FixedSingle:
        return Qt::Window | common | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint;
    case Border::FixedDialog:
        return Qt::Dialog | common | Qt::WindowSystemMenuHint;
    case Border::FixedTool:
        return Qt::Tool | common;
    }
    return Qt::Window;
}

}  // namespace

// The kit's one application filter, installed once before any window exists.
// Qt walks the application's filters by index and puts a new one in front: a filter
// installed while another runs (a form made, or a wait begun, in a key handler)
// would make the running one run again for the same event.
//
// Some window managers (openbox) give a modal window a minimise box whatever its
// hints say. Minimised, it would keep every other window of the program blocked
// while nothing of it shows: a modal window, a form or a message box alike, comes
// straight back instead. A form that previews its keys hears them here.
class KitEvents : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
            auto *w = qobject_cast<QWidget *>(watched);
            auto *form = w ? qobject_cast<KitForm *>(w->window()) : nullptr;
            if (form)
                form->previewKey(w, static_cast<QKeyEvent *>(e));
            return false;   // the focused control still gets the key
        }
        if (e->type() == QEvent::WindowStateChange && watched->isWidgetType()) {
            QPointer<QWidget> w = static_cast<QWidget *>(watched);
            if (isMinimisedModal(w))
                QTimer::singleShot(0, w, [w] {
                    if (!isMinimisedModal(w))
                        return;
                    w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
                    w->raise();
                    w->activateWindow();
                });
        }
        return false;
    }

private:
    static bool isMinimisedModal(const QWidget *w)
    {
        return w && w->isWindow() && w->isVisible() && w->isMinimized() && w->windowModality() != Qt::NonModal;
    }
};

KitForm::KitForm(Border border, QWidget *parent) : QWidget(parent, flagsFor(border)), m_border(border)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setClient(new QWidget(this));
    static bool watching = false;
    if (!watching) {
        watching = true;
        qApp->installEventFilter(new KitEvents(qApp));
        followEnterKeys();
        storage::installInputGate();   // in front of the kit's filters: held input is held from them too
        // A framed window that did not move hears of its frame only this way.
        watchFrameExtents([](quintptr id) {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *form = qobject_cast<KitForm *>(w);
                if (form && form->internalWinId() == WId(id))
                    QMetaObject::invokeMethod(form, &KitForm::syncFromWindowSystem, Qt::QueuedConnection);
            }
        });
    }
}

KitForm::~KitForm() = default;

void KitForm::setClient(QWidget *client)
{
    if (m_client && m_client != client)
        m_client->deleteLater();
    m_client = client;
    m_client->setParent(this);
    m_client->installEventFilter(this);
    applyGeometry(false);
}

QMenuBar *KitForm::menuBar()
{
    if (!m_menuBar) {
        // Menus stay in the window. Said before the first menu bar is made, so Qt
        // never asks the session bus for a global menu (4 ms at start-up under X).
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
        useKitStyle();
        m_menuBar = new QMenuBar(this);
        m_menuBar->setNativeMenuBar(false);
        applyGeometry(false);
    }
    return m_menuBar;
}

QMargins KitForm::frameMargins(Border border)
{
    auto &known = g_frames[static_cast<size_t>(border)];
    if (!known) {
        const std::optional<QMargins> answer = probeFrameMargins(flagsFor(border));
        known = Frame{answer.value_or(QMargins()), answer.has_value()};
    }
    return known->margins;
}

bool KitForm::frameMeasured(Border border)
{
    frameMargins(border);
    return g_frames[static_cast<size_t>(border)]->measured;
}

void KitForm::setFrameMargins(Border border, QMargins m) { g_frames[static_cast<size_t>(border)] = Frame{m, true}; }
void KitForm::setFrameEstimate(Border border, QMargins m) { g_frames[static_cast<size_t>(border)] = Frame{m, false}; }

void KitForm::frameLearned(const QMargins &)
{
    applyGeometry(true);
}

int KitForm::menuHeightPx() const { return m_menuBar ? m_menuBar->sizeHint().height() : 0; }

// Geometry is held in single precision, as the handlers' arithmetic expects.
void KitForm::setLeft(double v) { m_outer.moveLeft(twips::toSingle(v)); applyGeometry(false); }
void KitForm::setTop(double v) { m_outer.moveTop(twips::toSingle(v)); applyGeometry(false); }
void KitForm::moveTo(double left, double top)
{
    m_outer.moveTo(twips::toSingle(left), twips::toSingle(top));
    applyGeometry(false);
}

void KitForm::setDesignSize(double width, double height)
{
    m_outer.setSize(QSizeF(twips::toSingle(width), twips::toSingle(height)));
    applyGeometry(false);
}

void KitForm::setDesignClientSize(double width, double height)
{
    const QMargins fm = frameMargins(m_border);
    setDesignSize(width + twips::fromPixels(fm.left() + fm.right()), height + twips::fromPixels(fm.top() + fm.bottom()));
}

void KitForm::setWidth(double v)
{
    v = twips::toSingle(v);
    const bool changed = v != m_outer.width();
    m_outer.setWidth(v);
    applyGeometry(changed);
}

void KitForm::setHeight(double v)
{
    v = twips::toSingle(v);
    const bool changed = v != m_outer.height();
    m_outer.setHeight(v);
    applyGeometry(changed);
}

// The inner size keeps the twips of the outer size (no pixel rounding), so that
// the layouts work on exactly the sizes the handlers set.
double KitForm::ScaleWidth() const
{
    const QMargins fm = frameMargins(m_border);
    return twips::toSingle(std::max(0.0, m_outer.width() - twips::fromPixels(fm.left() + fm.right())));
}

double KitForm::ScaleHeight() const
{
    const QMargins fm = frameMargins(m_border);
    return twips::toSingle(
        std::max(0.0, m_outer.height() - twips::fromPixels(fm.top() + fm.bottom() + menuHeightPx())));
}

// A window keeps the size it was given whatever its place: position and size are
// rounded each on its own (a window of 7515 twips is 501 pixels high anywhere).
QRect KitForm::outerPixels() const
{
    using twips::toPixelsRounded;
    return QRect(toPixelsRounded(m_outer.left()), toPixelsRounded(m_outer.top()), toPixelsRounded(m_outer.width()),
                 toPixelsRounded(m_outer.height()));
}

KitForm::GeometryBatch::~GeometryBatch()
{
    if (--m_form.m_batchDepth == 0 && m_form.m_batchPending) {
        m_form.m_batchPending = false;
        m_form.applyGeometry(std::exchange(m_form.m_batchResize, false));
    }
}

void KitForm::applyGeometry(bool runResize)
{
    if (m_batchDepth > 0) {
        m_batchPending = true;
        m_batchResize = m_batchResize || runResize;
        return;
    }
    const QRect outer = outerPixels();
    const QMargins fm = frameMargins(m_border);
    const int cw = std::max(1, outer.width() - fm.left() - fm.right());
    const int ch = std::max(1, outer.height() - fm.top() - fm.bottom());
    const int menuH = menuHeightPx();
    m_applying = true;
    setFixedSize(cw, ch);
    // Left and Top place the frame's corner; the client area goes inside the frame we
    // know. Placing the client (not the frame) is what every platform honours alike,
    // also before the window manager has framed the window.
    setGeometry(QRect(outer.topLeft() + QPoint(fm.left(), fm.top()), QSize(cw, ch)));
    if (m_menuBar)
        m_menuBar->setGeometry(0, 0, cw, menuH);
    if (m_client)
        m_client->setGeometry(0, menuH, cw, std::max(0, ch - menuH));
    m_applying = false;
    if (runResize)
        Form_Resize();
}

void KitForm::syncFromWindowSystem()
{
    if (m_applying || !isVisible())
        return;
    const std::optional<QMargins> real = currentFrameMargins(*this);
    if (!real)
        return;   // not framed yet: nothing to learn, nothing has moved
    if (!frameMeasured(m_border)) {
        // The first framed showing after a guess: from now on the real frame.
        const QMargins guessed = frameMargins(m_border);
        setFrameMargins(m_border, *real);
        frameLearned(guessed);
        return;
    }
    if (*real != frameMargins(m_border)) {
        // The window manager framed it otherwise than it said: keep the outer size
        // and place the handlers set.
        setFrameMargins(m_border, *real);
        applyGeometry(true);
        return;
    }
    // The user dragged the window: follow it.
    const QPoint corner = geometry().topLeft() - QPoint(real->left(), real->top());
    if (corner != outerPixels().topLeft())
        m_outer.moveTo(twips::fromPixels(corner.x()), twips::fromPixels(corner.y()));
}

bool KitForm::event(QEvent *e)
{
    const bool r = QWidget::event(e);
    if (e->type() == QEvent::Move || e->type() == QEvent::Resize || e->type() == QEvent::Show)
        syncFromWindowSystem();
    return r;
}

void KitForm::Show()
{
    if (!m_shownOnce) {
        m_shownOnce = true;
        applyGeometry(false);
        Form_Resize();
    }
    show();
    raise();
    activateWindow();
}

namespace {
std::function<void(KitForm *)> g_modalScript;
}

void KitForm::ShowModal(const std::function<void()> &onShown)
{
    // Qt takes a window's modality into account only when the window is shown:
    // one already on screen is hidden and shown again, or it would stay modeless.
    if (isVisible() && windowModality() != Qt::ApplicationModal)
        hide();
    setWindowModality(Qt::ApplicationModal);
    Show();
    QPointer<KitForm> self(this);
    if (onShown)
        onShown();
    if (g_modalScript) {
        g_modalScript(this);
    } else {
        QEventLoop loop;
        m_modalLoop = &loop;
        if (isVisible())
            loop.exec(QEventLoop::DialogExec);
        if (self)
            self->m_modalLoop = nullptr;
    }
    // Modeless again for a later Show; a window still on screen (a test's script
    // left it open) stays modal until it is hidden, as Qt keeps it.
    if (self && !self->isVisible())
        self->setWindowModality(Qt::NonModal);
}

void KitForm::SetFocus()
{
    // The keyboard goes to the control that had it last in this window (Qt gives
    // it back on activation); focusing the window widget itself would leave no
    // control with the focus.
    activateWindow();
}

void KitForm::setModalScript(std::function<void(KitForm *)> script) { g_modalScript = std::move(script); }

void KitForm::Hide()
{
    hide();
    if (m_modalLoop)
        m_modalLoop->quit();
}

void KitForm::Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    Form_QueryUnload();
    Hide();
    emit unloaded(this);
    deleteLater();
}

void KitForm::closeEvent(QCloseEvent *e)
{
    Unload();
    e->accept();
}

void KitForm::setKeyPreview(bool on)
{
    m_keyPreview = on;
}

bool KitForm::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == m_client && e->type() == QEvent::MouseButtonRelease) {
        auto *me = static_cast<QMouseEvent *>(e);
        const QPoint at = me->position().toPoint();
        // Labels and pictures let their clicks through to the client; a click on
        // a control is not a click on the background.
        if (me->button() == Qt::LeftButton && m_client->rect().contains(at) && !m_client->childAt(at))
            Form_Click();
        return false;
    }
    return false;
}

void KitForm::previewKey(QWidget *watched, QKeyEvent *ke)
{
    if (!m_keyPreview || m_unloaded)
        return;
    // A key event travels from the focus widget up to its parents; preview it once,
    // at the focus widget (or at the window when the focus is elsewhere).
    QWidget *focus = QApplication::focusWidget();
    if (focus && focus->window() == this ? watched != focus : watched != this)
        return;
    const int code = keyCode(ke->key());
    const int shift = shiftState(ke->modifiers());
    if (ke->type() == QEvent::KeyPress) {
        if (m_heldRelease.active && m_heldRelease.code == code && m_heldRelease.time == ke->timestamp()) {
            m_heldRelease.active = false;   // the pair of a held key: no release happened
            m_releaseTimer->stop();
        } else {
            settleKeys();   // a real release comes before the next press
        }
        Form_KeyDown(code, shift);
    } else if (!ke->isAutoRepeat()) {
        settleKeys();
        if (ke->timestamp() == 0) {
            Form_KeyUp(code, shift);   // made by a program, never half of a pair
        } else {
            if (!m_releaseTimer) {
                m_releaseTimer = new QTimer(this);
                m_releaseTimer->setSingleShot(true);
                // The pair's press follows its release at once; a person's next
                // press never comes within this.
                m_releaseTimer->setInterval(30);
                connect(m_releaseTimer, &QTimer::timeout, this, &KitForm::settleKeys);
            }
            m_heldRelease = {true, code, shift, ke->timestamp()};
            m_releaseTimer->start();
        }
    }
}

void KitForm::settleKeys()
{
    if (!m_heldRelease.active)
        return;
    m_heldRelease.active = false;
    m_releaseTimer->stop();
    if (!m_unloaded)
        Form_KeyUp(m_heldRelease.code, m_heldRelease.shift);
}

int keyCode(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    default: break;
    }
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9))
        return qtKey;
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12)
        return 112 + (qtKey - Qt::Key_F1);
    return 0;
}

int shiftState(Qt::KeyboardModifiers m)
{
    int s = 0;
    if (m & Qt::ShiftModifier) s |= 1;
    if (m & Qt::ControlModifier) s |= 2;
    if (m & Qt::AltModifier) s |= 4;
    return s;
}

}  // namespace pel::kit

namespace pel::kit {
namespace {
class KeyDownFilter : public QObject {
public:
    KeyDownFilter(QObject *parent, std::function<void(int, int)> h) : QObject(parent), m_handler(std::move(h)) {}
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::KeyPress) {
            auto *ke = static_cast<QKeyEvent *>(e);
            m_handler(keyCode(ke->key()), shiftState(ke->modifiers()));
        }
        return false;
    }
private:
    std::function<void(int, int)> m_handler;
};
}  // namespace

void onKeyDown(QWidget *widget, std::function<void(int, int)> handler)
{
    widget->installEventFilter(new KeyDownFilter(widget, std::move(handler)));
}

namespace {
class HeldKeyFilter : public QObject {
public:
    HeldKeyFilter(QObject *parent, std::function<void(KeyDown &)> h) : QObject(parent), m_handler(std::move(h)) {}
    bool eventFilter(QObject *, QEvent *e) override
    {
        switch (e->type()) {
        case QEvent::KeyPress: {
            auto *ke = static_cast<QKeyEvent *>(e);
            const int code = keyCode(ke->key());
            const bool pairOfHeldKey = m_released == code && ke->timestamp() != 0 && m_releaseTime == ke->timestamp();
            KeyDown k{code, shiftState(ke->modifiers()), ke->isAutoRepeat() || pairOfHeldKey || (code && m_down == code)};
            // Noted before the handler runs: a handler may open a modal window, which
            // takes the focus (and the key's release) until it closes.
            m_down = code;
            m_released = 0;
            m_handler(k);
            return code != 0 && k.keyCode == 0;
        }
        case QEvent::KeyRelease: {
            auto *ke = static_cast<QKeyEvent *>(e);
            if (!ke->isAutoRepeat()) {
                m_released = keyCode(ke->key());
                m_releaseTime = ke->timestamp();
                if (m_down == m_released)
                    m_down = 0;
            }
            return false;
        }
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            // A release may have gone to another window meanwhile.
            m_down = m_released = 0;
            return false;
        default:
            return false;
        }
    }
private:
    std::function<void(KeyDown &)> m_handler;
    int m_down = 0;       // pressed here and not released since
    int m_released = 0;   // the last release, and its time stamp
    quint64 m_releaseTime = 0;
};
}  // namespace

void onKeyDown(QWidget *widget, std::function<void(KeyDown &)> handler)
{
    widget->installEventFilter(new HeldKeyFilter(widget, std::move(handler)));
}
}  // namespace pel::kit
