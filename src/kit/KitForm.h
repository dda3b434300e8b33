#pragma once
// A top-level window measured the way the windows' handlers expect: outer
// position and size in twips with the frame included, an inner (scale) area below
// the menu bar, a resize handler that runs at once when code sets the size, key
// preview, and an unload that runs the query-unload handler and then discards the
// window at once.
#include <QMargins>
#include <QPointer>
#include <QRectF>
#include <QWidget>

class QTimer;
#include <functional>

class QMenuBar;
class QEventLoop;
class QKeyEvent;

namespace pel::kit {

enum class Border {
    FixedSingle,   // main window: fixed size, minimise box, no maximise box
    FixedDialog,   // viewer: fixed size, close box only
    FixedTool,     // small tool windows: narrow title bar, close box only
};

class KitForm : public QWidget {
    Q_OBJECT
public:
    explicit KitForm(Border border, QWidget *parent = nullptr);
    ~KitForm() override;

    // Outer geometry in twips, frame included.
    double Left() const { return m_outer.left(); }
    double Top() const { return m_outer.top(); }
    double Width() const { return m_outer.width(); }
    double Height() const { return m_outer.height(); }
    void setLeft(double v);
    void setTop(double v);
    void setWidth(double v);
    void setHeight(double v);
    void moveTo(double left, double top);
    // The size the window has when it is created (no resize handling runs).
    void setDesignSize(double width, double height);
    // The same, given as the client area the window is designed with (the frame
    // of its border style added around it).
    void setDesignClientSize(double width, double height);

    // Inner area in twips: the client area below the menu bar.
    double ScaleWidth() const;
    double ScaleHeight() const;

    QString Caption() const { return windowTitle(); }
    void setCaption(const QString &c) { setWindowTitle(c); }

    // The area that holds the controls, in twips from its top-left corner.
    QWidget *client() const { return m_client; }
    void setClient(QWidget *client);
    QMenuBar *menuBar();

    void Show();        // modeless; runs the resize handler at the first showing
    // Returns when the window has been hidden or unloaded; `onShown` runs once the
    // window shows, before it handles any input.
    void ShowModal(const std::function<void()> &onShown = {});
    void Hide();
    // Makes this the active window, the keyboard with the control that last had it.
    void SetFocus();
    bool isShowingModal() const { return m_modalLoop != nullptr; }

    // Runs Form_QueryUnload (never cancelled), hides the window and schedules its
    // destruction. Returns at once; the owner drops its reference at the same time.
    void Unload();
    bool isUnloaded() const { return m_unloaded; }

    void setKeyPreview(bool on);
    // X11 sends a held key as release and press pairs with one time stamp, which Qt
    // does not always mark as auto-repeat. A previewed release with a time stamp is
    // held back a moment to tell it from such a pair; this delivers a held-back
    // release now (tests call it instead of waiting).
    void settleKeys();

    // Tests run modal windows without a nested loop: while a script is set,
    // ShowModal shows the window, calls the script (which drives it) and returns.
    static void setModalScript(std::function<void(KitForm *)> script);

    // Frame sizes (pixels) of a border style as the window manager draws them;
    // known once a window of that style has been shown, estimated before.
    static QMargins frameMargins(Border border);
    static void setFrameMargins(Border border, QMargins m);
    // False while the sizes are a guess: the window manager did not answer before
    // the first window of the style showed. Tests make such a guess.
    static bool frameMeasured(Border border);
    static void setFrameEstimate(Border border, QMargins m);

    Border border() const { return m_border; }

    // While one is alive the window's own geometry is recorded, not applied: it is
    // applied once when the last ends. A window under construction is thus not
    // laid out (nor its menu bar measured) before its fonts are set.
    class GeometryBatch {
    public:
        explicit GeometryBatch(KitForm &form) : m_form(form) { ++m_form.m_batchDepth; }
        ~GeometryBatch();
        GeometryBatch(const GeometryBatch &) = delete;
        GeometryBatch &operator=(const GeometryBatch &) = delete;

    private:
        KitForm &m_form;
    };

signals:
    void unloaded(pel::kit::KitForm *form);

protected:
    virtual void Form_Resize() {}
    virtual void Form_QueryUnload() {}
    virtual void Form_KeyDown(int keyCode, int shift) { Q_UNUSED(keyCode) Q_UNUSED(shift) }
    virtual void Form_KeyUp(int keyCode, int shift) { Q_UNUSED(keyCode) Q_UNUSED(shift) }
    virtual void Form_Click() {}   // the client area outside the controls
    // The first framed showing replaced a guessed frame (`guessed`) by the real
    // one. By default the window keeps its outer size and place (its inner area
    // changes and the resize handler runs).
    virtual void frameLearned(const QMargins &guessed);

    void closeEvent(QCloseEvent *e) override;
    bool event(QEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    friend class KitEvents;
    void previewKey(QWidget *watched, QKeyEvent *e);
    QRect outerPixels() const;
    void applyGeometry(bool runResize);
    int menuHeightPx() const;
    void syncFromWindowSystem();

    Border m_border;
    QRectF m_outer;               // twips
    QWidget *m_client = nullptr;
    QMenuBar *m_menuBar = nullptr;
    bool m_keyPreview = false;
    bool m_unloaded = false;
    bool m_shownOnce = false;
    bool m_applying = false;
    int m_batchDepth = 0;
    bool m_batchPending = false, m_batchResize = false;
    QEventLoop *m_modalLoop = nullptr;
    struct HeldRelease {
        bool active = false;
        int code = 0, shift = 0;
        quint64 time = 0;
    } m_heldRelease;
    QTimer *m_releaseTimer = nullptr;
};

// Key codes of the key events the handlers see (Enter 13, Esc 27, Left 37,
// Up 38, Right 39, Down 40, letters their capital ASCII code).
int keyCode(int qtKey);
// Shift state: bit 0 Shift, bit 1 Ctrl, bit 2 Alt.
int shiftState(Qt::KeyboardModifiers m);

}  // namespace pel::kit

namespace pel::kit {
// Runs `handler(keyCode, shift)` on every key-down of `widget`, before the widget
// handles the key itself; the key is never swallowed.
void onKeyDown(QWidget *widget, std::function<void(int, int)> handler);

// A key-down as a handler that needs more than the code sees it.
struct KeyDown {
    int keyCode;   // a handler sets it to 0 to keep the key from the control
    int shift;
    // The key is held: Qt's auto-repeat mark, a press of a key not released since,
    // or X11's release and press with one time stamp that Qt left unmarked.
    bool repeat;
};
void onKeyDown(QWidget *widget, std::function<void(KeyDown &)> handler);
}  // namespace pel::kit
