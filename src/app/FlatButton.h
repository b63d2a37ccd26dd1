// A flat push button that changes its text and background colours, or its icon, while the
// pointer is over it.
#pragma once

#include <QIcon>
#include <QPushButton>

namespace bitloupe {

class CFlatButton : public QPushButton {
    Q_OBJECT

public:
    using QPushButton::QPushButton;
    // Colours while the pointer is over the button (text, background).
    void SetHoverColours(const QColor& text, const QColor& background);
    // Icons: normal, and while hovered or pressed.
    void SetIcons(const QIcon& normal, const QIcon& hot);
    bool hovered() const { return hovered_; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool hovered_ = false;
    bool hoverColours_ = false;
    QColor hoverText_, hoverBackground_;
    QIcon normal_, hot_;
};

}  // namespace bitloupe
