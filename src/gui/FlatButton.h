// A flat push button that changes its text and background colours, or its icon, while the
// pointer is over it or it is pressed. A colour that was never set is the palette's button
// colour (background) or button-text colour (text).
#pragma once

#include <QIcon>
#include <QPushButton>

namespace bitloupe {

class CFlatButton : public QPushButton {
    Q_OBJECT

  public:
    using QPushButton::QPushButton;
    // Colours while the pointer is over the button or it is pressed (text, background).
    void SetHoverColours(const QColor& text, const QColor& background);
    void SetHoverText(const QColor& text);
    void SetHoverBackground(const QColor& background);
    // Colours otherwise. Without a normal background the button is transparent, as flat
    // buttons are.
    void SetNormalText(const QColor& text);
    void SetNormalBackground(const QColor& background);
    // Icons: normal, and while hovered or pressed.
    void SetIcons(const QIcon& normal, const QIcon& hot);
    // Where icon and text sit together (centred at construction).
    void SetContentAlignment(Qt::Alignment alignment);
    // Whether the focus rectangle is drawn when the button has the keyboard focus (off at
    // construction, as for any flat button).
    void SetFocusRectangle(bool on);

    bool hovered() const { return hovered_; }
    // The colours the button paints with while hovered or pressed.
    QColor hoverText() const;
    QColor hoverBackground() const;

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void TakeOwnPainting();

    bool hovered_ = false;
    bool ownPainting_ = false;  // set by any of the colour and layout setters
    bool focusRectangle_ = false;
    Qt::Alignment alignment_ = Qt::AlignCenter;
    QColor hoverText_, hoverBackground_, normalText_, normalBackground_;
    QIcon normal_, hot_;
};

}  // namespace bitloupe
