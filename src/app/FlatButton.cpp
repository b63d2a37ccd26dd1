#include "app/FlatButton.h"

#include <QEnterEvent>
#include <QPainter>
#include <QStyleOptionButton>

namespace bitloupe {

void CFlatButton::SetHoverColours(const QColor& text, const QColor& background) {
    hoverColours_ = true;
    hoverText_ = text;
    hoverBackground_ = background;
    setFlat(true);
}

void CFlatButton::SetIcons(const QIcon& normal, const QIcon& hot) {
    normal_ = normal;
    hot_ = hot;
    setFlat(true);
    setIcon(normal_);
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
    if (!(hoverColours_ && (hovered_ || isDown()))) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter p(this);
    p.fillRect(rect(), hoverBackground_);
    p.setPen(hoverText_);
    p.drawText(rect(), Qt::AlignCenter, text());
}

}  // namespace bitloupe
