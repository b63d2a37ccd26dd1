#include "gui/FlatButton.h"

#include <qdrawutil.h>

#include <QEnterEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <algorithm>

namespace bitloupe {

void CFlatButton::TakeOwnPainting() {
    ownPainting_ = true;
    setFlat(true);
    update();
}

void CFlatButton::SetHoverColours(const QColor& text, const QColor& background) {
    hoverText_ = text;
    hoverBackground_ = background;
    TakeOwnPainting();
}

void CFlatButton::SetHoverText(const QColor& text) {
    hoverText_ = text;
    TakeOwnPainting();
}

void CFlatButton::SetHoverBackground(const QColor& background) {
    hoverBackground_ = background;
    TakeOwnPainting();
}

void CFlatButton::SetNormalText(const QColor& text) {
    normalText_ = text;
    TakeOwnPainting();
}

void CFlatButton::SetNormalBackground(const QColor& background) {
    normalBackground_ = background;
    TakeOwnPainting();
}

void CFlatButton::SetContentAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    TakeOwnPainting();
}

void CFlatButton::SetFocusRectangle(bool on) {
    focusRectangle_ = on;
    update();
}

void CFlatButton::SetIcons(const QIcon& normal, const QIcon& hot) {
    normal_ = normal;
    hot_ = hot;
    setFlat(true);
    setIcon(hovered_ || isDown() ? hot_ : normal_);
}

QColor CFlatButton::hoverText() const {
    return hoverText_.isValid() ? hoverText_ : palette().color(QPalette::ButtonText);
}

QColor CFlatButton::hoverBackground() const {
    return hoverBackground_.isValid() ? hoverBackground_ : palette().color(QPalette::Button);
}

void CFlatButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    if (!hot_.isNull()) setIcon(hot_);
    update();
    QPushButton::enterEvent(event);
}

void CFlatButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    if (!normal_.isNull() && !isDown()) setIcon(normal_);
    update();
    QPushButton::leaveEvent(event);
}

void CFlatButton::paintEvent(QPaintEvent* event) {
    if (!ownPainting_) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter p(this);
    const QRect r = rect();
    const bool hot = isEnabled() && (hovered_ || isDown());

    const QColor background = hot ? hoverBackground() : normalBackground_;
    if (background.isValid()) p.fillRect(r, background);
    // A thin edge: raised while the pointer is over the button, sunken while it is pressed.
    if (hot) qDrawShadePanel(&p, r, palette(), isDown(), 1);

    QRect content = r.adjusted(6, 1, -6, -1);
    if (isDown()) content.translate(1, 1);
    const QIcon& shownIcon = icon();
    const QSize iconExtent = shownIcon.isNull() ? QSize(0, 0) : iconSize();
    const QString caption = text();
    const int gap = shownIcon.isNull() || caption.isEmpty() ? 0 : 6;
    const QFontMetrics metrics = fontMetrics();
    const int textWidth = std::min(caption.isEmpty() ? 0 : metrics.horizontalAdvance(caption),
                                   std::max(0, content.width() - iconExtent.width() - gap));
    const int total = iconExtent.width() + gap + textWidth;
    int x = content.left() + (content.width() - total) / 2;
    if (alignment_ & Qt::AlignLeft) x = content.left();
    if (alignment_ & Qt::AlignRight) x = content.right() + 1 - total;

    if (!shownIcon.isNull()) {
        const QIcon::Mode mode =
            !isEnabled() ? QIcon::Disabled : (hot ? QIcon::Active : QIcon::Normal);
        const QRect place(QPoint(x, content.top() + (content.height() - iconExtent.height()) / 2),
                          iconExtent);
        shownIcon.paint(&p, place, Qt::AlignCenter, mode);
        x += iconExtent.width() + gap;
    }
    if (!caption.isEmpty()) {
        QColor colour = normalText_.isValid() ? normalText_ : palette().color(QPalette::ButtonText);
        if (hot) colour = hoverText();
        if (!isEnabled()) colour = palette().color(QPalette::Disabled, QPalette::ButtonText);
        p.setPen(colour);
        const QRect textRect(x, content.top(), content.right() + 1 - x, content.height());
        p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                   metrics.elidedText(caption, Qt::ElideRight, textRect.width()));
    }
    if (focusRectangle_ && hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = r.adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}

}  // namespace bitloupe
