#include "kit/style.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QProxyStyle>

#include <functional>

namespace pel::kit {
namespace {

// An icon made on its first use. Qt reads an icon file through a reader that
// loads every image-format plugin and its libraries to ask whether it knows the
// file; a menu bar asks for its overflow button's icon when it is made, although
// the button only shows when the menus do not fit, which they always do here.
class DeferredIconEngine final : public QIconEngine {
public:
    explicit DeferredIconEngine(std::function<QIcon()> make) : m_make(std::move(make)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    QIconEngine *clone() const override { return new DeferredIconEngine(*this); }

private:
    QIcon &icon()
    {
        if (m_make) {
            m_icon = m_make();
            m_make = nullptr;
        }
        return m_icon;
    }
    std::function<QIcon()> m_make;
    QIcon m_icon;
};

class KitStyle final : public QProxyStyle {
public:
    QIcon standardIcon(StandardPixmap icon, const QStyleOption *option, const QWidget *widget) const override
    {
        if (icon != SP_ToolBarHorizontalExtensionButton && icon != SP_ToolBarVerticalExtensionButton)
            return QProxyStyle::standardIcon(icon, option, widget);
        const QStyle *base = baseStyle();
        return QIcon(new DeferredIconEngine([base, icon] { return base->standardIcon(icon); }));
    }
};

}  // namespace

void useKitStyle()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // The base is the style Qt would have chosen itself (the user's -style or
    // QT_STYLE_OVERRIDE included); the application owns the proxy.
    QApplication::setStyle(new KitStyle);
}

}  // namespace pel::kit
