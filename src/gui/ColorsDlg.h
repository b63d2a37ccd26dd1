// "Customize Colors ...": one flat button per colour of the picture pane, each opening a colour
// chooser. The buttons show their colour as a swatch, and in their hover colours while the
// pointer is over them.
#pragma once

#include <QColor>
#include <QDialog>
#include <QString>
#include <functional>

namespace bitloupe {

class CFlatButton;
class CStreamState;
struct PaneColours;

// The seven colours the dialog edits.
struct CustomColours {
    QColor pictureBackground;
    QColor fieldBackground;
    QColor videoEdge;
    QColor focusedRectangle;
    QColor forwardVectors;
    QColor backwardVectors;
    QColor mbGrid;

    bool operator==(const CustomColours&) const = default;
};

// The colours as the pane and the stream state hold them, and back. Applying also fixes the
// field background, so that sequence headers no longer recompute it: that is what closing the
// dialog with OK means, whether or not a colour changed.
CustomColours CurrentColours(const PaneColours& pane, const CStreamState& stream);
void ApplyColours(const CustomColours& colours, PaneColours& pane, CStreamState& stream);

class CColorsDlg : public QDialog {
    Q_OBJECT

  public:
    // The buttons, top to bottom.
    enum Colour {
        kPictureBackground,
        kFieldBackground,
        kForwardVectors,
        kBackwardVectors,
        kFocusedRectangle,
        kVideoEdge,
        kMbGrid,
        kColourCount
    };

    // Asks the user for a colour, starting from `initial`; an invalid colour when cancelled.
    using ColourChooser =
        std::function<QColor(const QColor& initial, const QString& title, QWidget* parent)>;

    explicit CColorsDlg(const CustomColours& colours, QWidget* parent = nullptr);

    // What the dialog gives back: whether it was closed with OK, and then the colours to copy
    // back; after Cancel, the colours it was given.
    struct Outcome {
        bool ok = false;
        CustomColours colours;
    };
    Outcome outcome() const;

    // What a click on a colour's button does.
    void ChooseColour(Colour which);
    CFlatButton* button(Colour which) const { return buttons_[which]; }
    static QString Label(Colour which);

    // The chooser the buttons open; the platform's colour dialog unless replaced.
    ColourChooser chooseColour;

  private:
    QColor& Slot(Colour which);
    void UpdateButton(Colour which);

    CustomColours original_;
    CustomColours edited_;
    CFlatButton* buttons_[kColourCount] = {};
};

}  // namespace bitloupe
