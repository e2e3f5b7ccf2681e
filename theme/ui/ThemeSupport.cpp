#include "theme/ui/ThemeSupport.h"

#include "theme/ButtonLook.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCommandLinkButton>
#include <QEvent>
#include <QIcon>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>

#include <algorithm>

namespace chimora {

using theme::ButtonFacts;
using theme::ButtonLook;
using theme::Edges;
using theme::LookChoice;
using theme::PictureKind;

namespace {

// Marks the painter object a button owns, so a second call does not install another.
const char* const PainterName = "pvRedirectButton";
// Dynamic property on the button: 1 while the pointer hovers over it or a press started on it.
const char* const HotProperty = "Hot";

bool pvGetHot(const QObject* button) {
    return button->property(HotProperty).toInt() == 1;
}

void pvSetHot(QObject* button, bool hot) {
    button->setProperty(HotProperty, hot ? 1 : 0);
}

// A style sheet describes its own button looks, which a panel drawn by the base style would
// hide; such a button paints itself. Asked at every paint, so adding or removing a sheet (or
// changing the application's style) takes effect at the next repaint.
bool pvIsThemed(const QWidget* button) {
    const QStyle* style = button->style();
    return IsComCtl6Loaded() && style && !style->inherits("QStyleSheetStyle");
}

bool pvIsPictureButton(const QAbstractButton* button) {
    if (button->icon().isNull())
        return false;
    // Command link buttons have a layout of their own; tool buttons belong to tool bars.
    const bool pushButton = qobject_cast<const QPushButton*>(button) &&
                            !qobject_cast<const QCommandLinkButton*>(button);
    return pushButton || qobject_cast<const QCheckBox*>(button) ||
           qobject_cast<const QRadioButton*>(button);
}

// The button's picture of one kind, or a null pixmap when its icon holds none. The down
// picture is the icon's "on" image, the disabled picture its explicit disabled image; only the
// everyday picture may be derived by the icon.
QPixmap pvPicture(const QAbstractButton* button, PictureKind kind) {
    const QIcon icon = button->icon();
    if (icon.isNull())
        return {};
    QIcon::Mode mode = QIcon::Normal;
    QIcon::State state = QIcon::Off;
    if (kind == PictureKind::DownPicture)
        state = QIcon::On;
    else if (kind == PictureKind::DisabledPicture)
        mode = QIcon::Disabled;
    if (kind != PictureKind::Picture && icon.availableSizes(mode, state).isEmpty())
        return {};
    return icon.pixmap(button->iconSize(), button->devicePixelRatio(), mode, state);
}

QPixmap pvPickPicture(const QPixmap& first, const QPixmap& second) {
    return first.isNull() ? second : first;
}

Edges toEdges(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

QRect toRect(const Edges& e) {
    return QRect(e.left, e.top, e.right - e.left, e.bottom - e.top);
}

// The picture in one flat colour, as opaque as the picture is dark: dark lines come out solid,
// light fills faint and white not at all, so a picture keeps its inner shapes when embossed.
QImage pvInkStamp(const QImage& picture, const QColor& colour) {
    QImage stamp(picture.size(), QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(stamp.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const int darkness = std::min(255, (255 - qGray(in[x])) * 2);
            out[x] =
                qRgba(colour.red(), colour.green(), colour.blue(), darkness * qAlpha(in[x]) / 255);
        }
    }
    stamp.setDevicePixelRatio(picture.devicePixelRatio());
    return stamp;
}

// The embossed disabled look: the picture's ink in the light colour one pixel down and right,
// and in the shadow colour on top.
void pvDrawDisabledPicture(QPainter& p, const QPixmap& picture, QPoint at, const QPalette& pal) {
    if (picture.isNull())
        return;
    const QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    p.drawImage(at + QPoint(1, 1), pvInkStamp(image, pal.color(QPalette::Active, QPalette::Light)));
    p.drawImage(at, pvInkStamp(image, pal.color(QPalette::Active, QPalette::Dark)));
}

void pvDrawButton(QAbstractButton* button, QPainter& p) {
    auto* push = qobject_cast<QPushButton*>(button);
    ButtonFacts facts;
    facts.enabled = button->isEnabled();
    facts.hot = pvGetHot(button);
    facts.pushed = button->isDown();
    facts.selected = button->isCheckable() && button->isChecked();
    facts.focused = button->hasFocus();
    facts.defaulted = push && push->isDefault() && facts.focused;
    const LookChoice choice = theme::chooseButtonLook(facts);
    const QPixmap picture =
        pvPickPicture(pvPicture(button, choice.picture), pvPicture(button, PictureKind::Picture));

    QStyle* style = button->style();
    QStyleOptionButton option;
    option.initFrom(button);
    option.state &= ~(QStyle::State_Enabled | QStyle::State_MouseOver | QStyle::State_Sunken |
                      QStyle::State_On | QStyle::State_Raised | QStyle::State_HasFocus);
    switch (choice.look) {
    case ButtonLook::Disabled:
        option.state |= QStyle::State_Raised;
        break;
    case ButtonLook::Hot:
        option.state |= QStyle::State_Enabled | QStyle::State_Raised | QStyle::State_MouseOver;
        break;
    case ButtonLook::Pressed:
        option.state |= QStyle::State_Enabled | QStyle::State_Sunken;
        break;
    case ButtonLook::Defaulted:
        option.state |= QStyle::State_Enabled | QStyle::State_Raised;
        option.features |= QStyleOptionButton::DefaultButton;
        break;
    case ButtonLook::Normal:
        option.state |= QStyle::State_Enabled | QStyle::State_Raised;
        break;
    }
    if (facts.focused)
        option.state |= QStyle::State_HasFocus;
    style->drawControl(QStyle::CE_PushButtonBevel, &option, &p, button);

    // Qt's content rectangle lies just inside the frame; keep a desktop theme's few pixels more,
    // so that a caption never touches the frame.
    const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, button) / 2;
    QRect content = style->subElementRect(QStyle::SE_PushButtonContents, &option, button)
                        .adjusted(margin, margin, -margin, -margin);
    if (facts.focused) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = content;
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, button);
    }
    // Styles that move a pressed button's contents move ours the same way.
    if (choice.look == ButtonLook::Pressed)
        content.translate(style->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, button),
                          style->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, button));

    QRect pictureArea = content;
    const QString caption = button->text();
    if (!caption.isEmpty()) {
        const int mnemonic = style->styleHint(QStyle::SH_UnderlineShortcut, &option, button)
                                 ? Qt::TextShowMnemonic
                                 : Qt::TextHideMnemonic;
        const int flags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap | mnemonic;
        const int textHeight =
            button->fontMetrics()
                .boundingRect(QRect(0, 0, content.width(), QWIDGETSIZE_MAX), flags, caption)
                .height();
        const theme::CaptionPlace place =
            theme::placeCaption(toEdges(content), textHeight, !picture.isNull());
        style->drawItemText(&p, toRect(place.caption), flags, option.palette, facts.enabled,
                            caption, QPalette::ButtonText);
        pictureArea = toRect(place.pictureArea);
    }

    if (picture.isNull())
        return;
    const QSize size = picture.deviceIndependentSize().toSize();
    const theme::Point at = theme::centrePicture(toEdges(pictureArea), size.width(), size.height());
    if (!facts.enabled)
        pvDrawDisabledPicture(p, picture, QPoint(at.x, at.y), option.palette);
    else
        p.drawPixmap(at.x, at.y, picture);
}

// Only the button itself is repainted, never its neighbours.
void pvRefreshButton(QWidget* button) {
    button->update();
}

// Paints its button (the object's parent) while themed drawing applies and keeps the button's
// hot state from the pointer and focus events; every event still reaches the button itself,
// except the paint events it answers.
class ButtonRedirect final : public QObject {
public:
    explicit ButtonRedirect(QAbstractButton* button) : QObject(button), m_button(button) {
        setObjectName(QString::fromLatin1(PainterName));
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_button)
            return false;
        switch (event->type()) {
        case QEvent::Paint:
            if (!m_button->isVisible() || !pvIsThemed(m_button))
                return false;
            {
                QPainter p(m_button);
                pvDrawButton(m_button, p);
            }
            return true;
        case QEvent::Enter:
            pvSetHot(m_button, true);
            pvRefreshButton(m_button);
            break;
        case QEvent::MouseMove:
            if (!pvGetHot(m_button)) {
                pvSetHot(m_button, true);
                pvRefreshButton(m_button);
            }
            break;
        case QEvent::MouseButtonPress:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                pvSetHot(m_button, true);
                pvRefreshButton(m_button);
            }
            break;
        case QEvent::MouseButtonRelease:
            pvRefreshButton(m_button);
            break;
        case QEvent::Leave:
        case QEvent::FocusOut:
            pvSetHot(m_button, false);
            pvRefreshButton(m_button);
            break;
        case QEvent::FocusIn:
        case QEvent::EnabledChange:
            pvRefreshButton(m_button);
            break;
        default:
            break;
        }
        return false;
    }

private:
    QAbstractButton* m_button; // the parent; not owned
};

} // namespace

bool IsComCtl6Loaded() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) && QApplication::style();
}

bool FixThemeSupport(const QList<QWidget*>& controls) {
    if (!IsComCtl6Loaded())
        return false;
    for (QWidget* control : controls) {
        auto* button = qobject_cast<QAbstractButton*>(control);
        if (!button || !pvIsPictureButton(button) ||
            button->findChild<QObject*>(QString::fromLatin1(PainterName),
                                        Qt::FindDirectChildrenOnly))
            continue;
        button->installEventFilter(new ButtonRedirect(button));
    }
    return true;
}

} // namespace chimora
