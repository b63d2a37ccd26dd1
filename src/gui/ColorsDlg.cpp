#include "gui/ColorsDlg.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/session/SyntaxParser.h"
#include "gui/FlatButton.h"
#include "gui/RightWnd.h"

namespace bitloupe {

namespace {

// The core keeps the field background as an RGB word with red in the low byte.
QColor FromRgbWord(uint32_t rgb) {
    return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

uint32_t ToRgbWord(const QColor& c) {
    return static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8 |
           static_cast<uint32_t>(c.blue()) << 16;
}

QIcon Swatch(const QColor& colour, const QSize& size, const QColor& frame) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.fillRect(pixmap.rect().adjusted(1, 1, -1, -1), colour);
    p.setPen(frame);
    p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return QIcon(pixmap);
}

}  // namespace

CustomColours CurrentColours(const PaneColours& pane, const CStreamState& stream) {
    CustomColours c;
    c.pictureBackground = pane.pictureBackground;
    c.fieldBackground = FromRgbWord(stream.greyColourRgb);
    c.videoEdge = pane.videoEdge;
    c.focusedRectangle = pane.focusedRectangle;
    c.forwardVectors = pane.forwardVectors;
    c.backwardVectors = pane.backwardVectors;
    c.mbGrid = pane.grid;
    return c;
}

void ApplyColours(const CustomColours& colours, PaneColours& pane, CStreamState& stream) {
    pane.pictureBackground = colours.pictureBackground;
    pane.videoEdge = colours.videoEdge;
    pane.focusedRectangle = colours.focusedRectangle;
    pane.forwardVectors = colours.forwardVectors;
    pane.backwardVectors = colours.backwardVectors;
    pane.grid = colours.mbGrid;
    stream.greyColourRgb = ToRgbWord(colours.fieldBackground);
    stream.greyColourFixed = true;
}

QString CColorsDlg::Label(Colour which) {
    switch (which) {
        case kPictureBackground:
            return "Picture Background";
        case kFieldBackground:
            return "Field Background";
        case kForwardVectors:
            return "Forward Motion Vectors";
        case kBackwardVectors:
            return "Backward Motion Vectors";
        case kFocusedRectangle:
            return "Focused Rectangle";
        case kVideoEdge:
            return "Video Edge";
        case kMbGrid:
            return "MB Grid";
        case kColourCount:
            break;
    }
    return {};
}

CColorsDlg::CColorsDlg(const CustomColours& colours, QWidget* parent)
    : QDialog(parent), original_(colours), edited_(colours) {
    setWindowTitle("Customize Colors ...");
    setObjectName("colorsDialog");

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(2);
    for (int i = 0; i < kColourCount; ++i) {
        const auto which = static_cast<Colour>(i);
        auto* b = new CFlatButton(Label(which), this);
        b->setAutoDefault(false);
        b->SetContentAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        b->SetFocusRectangle(true);
        b->setMinimumSize(230, 28);
        connect(b, &QPushButton::clicked, this, [this, which] { ChooseColour(which); });
        buttons_[i] = b;
        layout->addWidget(b);
        UpdateButton(which);
    }
    layout->addSpacing(10);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(box);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    QPushButton* ok = box->button(QDialogButtonBox::Ok);
    ok->setDefault(true);
    ok->setFocus();
}

CColorsDlg::Outcome CColorsDlg::outcome() const {
    const bool ok = result() == QDialog::Accepted;
    return Outcome{ok, ok ? edited_ : original_};
}

QColor& CColorsDlg::Slot(Colour which) {
    switch (which) {
        case kPictureBackground:
            return edited_.pictureBackground;
        case kFieldBackground:
            return edited_.fieldBackground;
        case kForwardVectors:
            return edited_.forwardVectors;
        case kBackwardVectors:
            return edited_.backwardVectors;
        case kFocusedRectangle:
            return edited_.focusedRectangle;
        case kVideoEdge:
            return edited_.videoEdge;
        case kMbGrid:
        case kColourCount:
            break;
    }
    return edited_.mbGrid;
}

void CColorsDlg::ChooseColour(Colour which) {
    QColor& slot = Slot(which);
    const QString title = Label(which);
    const QColor chosen =
        chooseColour ? chooseColour(slot, title, this) : QColorDialog::getColor(slot, this, title);
    if (!chosen.isValid()) return;  // cancelled
    slot = chosen.toRgb();
    slot.setAlpha(255);
    UpdateButton(which);
}

void CColorsDlg::UpdateButton(Colour which) {
    CFlatButton* b = buttons_[which];
    const QColor colour = Slot(which);
    b->setIcon(Swatch(colour, b->iconSize(), palette().color(QPalette::Dark)));
    switch (which) {
        case kPictureBackground:
        case kFieldBackground:
            b->SetHoverBackground(colour);
            break;
        case kForwardVectors:
        case kBackwardVectors:
            // The field background as it is now; a later change of it leaves these alone.
            b->SetHoverColours(colour, edited_.fieldBackground);
            break;
        default:
            b->SetHoverText(colour);
            break;
    }
}

}  // namespace bitloupe
