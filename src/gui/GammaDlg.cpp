#include "gui/GammaDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>

#include "core/image/Filters.h"

namespace bitloupe {

namespace {

// The longest side of the preview; the other follows the picture's proportions.
constexpr int kPreviewSide = 240;
constexpr int kPreviewShortest = 96;

bool SameTables(const GammaTables& a, const GammaTables& b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// The bitmap's bottom-up blue, green, red rows as an image, top line first.
QImage ToImage(const CPictureDib& dib) {
    if (!dib.HasPixels()) return {};
    return QImage(dib.Bits(), dib.Width(), dib.Height(), static_cast<qsizetype>(dib.Stride()),
                  QImage::Format_BGR888)
        .mirrored();
}

// A read-only edit gets the dialog's background, so that it does not invite typing.
void SetReadOnly(QLineEdit* edit, bool readOnly) {
    edit->setReadOnly(readOnly);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, edit->parentWidget()->palette().color(
                                         readOnly ? QPalette::Window : QPalette::Base));
    edit->setPalette(palette);
}

QSize PreviewSize(const CPictureDib& source) {
    const int w = std::max(1, source.Width());
    const int h = std::max(1, source.Height());
    if (w >= h)
        return {kPreviewSide, std::clamp(kPreviewSide * h / w, kPreviewShortest, kPreviewSide)};
    return {std::clamp(kPreviewSide * w / h, kPreviewShortest, kPreviewSide), kPreviewSide};
}

}  // namespace

// The preview, stretched over the whole widget.
class GammaPreview : public QWidget {
  public:
    GammaPreview(QSize size, QWidget* parent) : QWidget(parent) { setFixedSize(size); }
    void SetImage(QImage image) {
        image_ = std::move(image);
        scaled_ = QPixmap();
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        if (image_.isNull()) {
            p.fillRect(rect(), palette().color(QPalette::Dark));
            return;
        }
        if (scaled_.size() != size())
            scaled_ = QPixmap::fromImage(
                image_.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        p.drawPixmap(0, 0, scaled_);
    }

  private:
    QImage image_;
    QPixmap scaled_;
};

CGammaDlg::CGammaDlg(const CPictureDib& source, PreviewCallback onPreview, QWidget* parent)
    : QDialog(parent), source_(source), onPreview_(std::move(onPreview)) {
    setWindowTitle("Gamma Correction");

    QGroupBox* previewBox = BuildPreviewBox();
    QGroupBox* rangeBox = BuildRangeBox();
    QGridLayout* grid = BuildChannelRows();

    link_ = new QCheckBox("Link the Gamma values of RGB color components", this);
    link_->setChecked(settings_.Linked());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto* controls = new QVBoxLayout;
    controls->setSpacing(12);
    controls->addWidget(rangeBox);
    controls->addLayout(grid);
    controls->addWidget(link_);
    controls->addStretch();

    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(previewBox);
    top->addLayout(controls, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 12);
    layout->setSpacing(14);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(link_, &QCheckBox::toggled, this, &CGammaDlg::LinkToggled);
    connect(maximumEdit_, &QLineEdit::textEdited, this, &CGammaDlg::MaximumEdited);
    connect(maximumEdit_, &QLineEdit::editingFinished, this,
            [this] { maximumEdit_->setText(QString::fromStdString(settings_.MaximumText())); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    ShowRange();
    UpdateLinkedControls();
    // The opening preview is the picture itself: shown here, not handed to the caller.
    tables_ = settings_.Tables();
    if (MapThroughGammaTables(source_, preview_, tables_)) view_->SetImage(ToImage(preview_));
}

// The preview, at the left.
QGroupBox* CGammaDlg::BuildPreviewBox() {
    auto* previewBox = new QGroupBox("Preview", this);
    auto* previewLayout = new QVBoxLayout(previewBox);
    previewLayout->setContentsMargins(10, 10, 10, 10);
    view_ = new GammaPreview(PreviewSize(source_), previewBox);
    previewLayout->addWidget(view_, 0, Qt::AlignCenter);
    previewLayout->addStretch();
    return previewBox;
}

QLineEdit* CGammaDlg::NewNumberEdit(QWidget* owner) {
    auto* e = new QLineEdit(owner);
    e->setFixedWidth(fontMetrics().horizontalAdvance("0.0000000") + 16);
    e->setAlignment(Qt::AlignRight);
    return e;
}

// The range.
QGroupBox* CGammaDlg::BuildRangeBox() {
    auto* rangeBox = new QGroupBox("Gamma range", this);
    auto* rangeLayout = new QHBoxLayout(rangeBox);
    maximumEdit_ = NewNumberEdit(rangeBox);
    maximumEdit_->setText(QString::fromStdString(settings_.MaximumText()));
    minimumEdit_ = NewNumberEdit(rangeBox);
    SetReadOnly(minimumEdit_, true);
    minimumEdit_->setFocusPolicy(Qt::NoFocus);
    rangeLayout->addWidget(new QLabel("Maximum:", rangeBox));
    rangeLayout->addWidget(maximumEdit_);
    rangeLayout->addSpacing(16);
    rangeLayout->addWidget(new QLabel("Minimum:", rangeBox));
    rangeLayout->addWidget(minimumEdit_);
    rangeLayout->addStretch();
    return rangeBox;
}

// One row per channel: name, slider with its range labels below, gamma edit.
QGridLayout* CGammaDlg::BuildChannelRows() {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(2);
    const char* names[3] = {"Red:", "Green:", "Blue:"};
    for (int c = 0; c < 3; ++c) {
        Channel& ch = channels_[c];
        ch.slider = new QSlider(Qt::Horizontal, this);
        ch.slider->setRange(kGammaSliderMin, kGammaSliderMax);
        ch.slider->setTickInterval(kGammaSliderTicks);
        ch.slider->setTickPosition(QSlider::TicksBelow);
        ch.slider->setPageStep(kGammaSliderTicks);
        ch.slider->setMinimumWidth(240);
        ch.slider->setValue(settings_.Position(c));
        ch.edit = NewNumberEdit(this);
        ch.edit->setText(QString::fromStdString(settings_.GammaText(c)));
        ch.maxLabel = new QLabel(this);
        ch.minLabel = new QLabel(this);
        auto* name = new QLabel(names[c], this);

        auto* ends = new QHBoxLayout;
        ends->setContentsMargins(0, 0, 0, 0);
        ends->addWidget(ch.maxLabel);
        ends->addStretch();
        ends->addWidget(ch.minLabel);

        const int row = 2 * c;
        grid->addWidget(name, row, 0);
        grid->addWidget(ch.slider, row, 1);
        grid->addWidget(ch.edit, row, 2);
        grid->addLayout(ends, row + 1, 1);
        if (c < 2) grid->setRowMinimumHeight(row + 1, fontMetrics().height() + 10);

        connect(ch.slider, &QSlider::valueChanged, this,
                [this, c](int position) { SliderMoved(c, position); });
        connect(ch.edit, &QLineEdit::textEdited, this,
                [this, c](const QString& text) { GammaEdited(c, text); });
        // A text that was not accepted gives way to the gamma in force.
        connect(ch.edit, &QLineEdit::editingFinished, this, [this, c] {
            channels_[c].edit->setText(QString::fromStdString(settings_.GammaText(c)));
        });
    }
    return grid;
}

void CGammaDlg::SliderMoved(int channel, int position) {
    settings_.SetPosition(channel, position);
    ShowSettings();
    Recompute();
}

void CGammaDlg::GammaEdited(int channel, const QString& text) {
    if (!settings_.SetGammaText(channel, text.toStdString())) return;
    ShowSettings(channels_[channel].edit);
    Recompute();
}

void CGammaDlg::LinkToggled(bool linked) {
    settings_.SetLinked(linked);
    UpdateLinkedControls();
    ShowSettings();
    Recompute();
}

void CGammaDlg::MaximumEdited(const QString& text) {
    if (!settings_.SetMaximumText(text.toStdString())) return;
    ShowRange();
    ShowSettings();
    Recompute();
}

void CGammaDlg::ShowSettings(const QLineEdit* typing) {
    for (int c = 0; c < 3; ++c) {
        Channel& ch = channels_[c];
        {
            const QSignalBlocker quiet(ch.slider);
            ch.slider->setValue(settings_.Position(c));
        }
        if (ch.edit == typing) continue;
        const QString text = QString::fromStdString(settings_.GammaText(c));
        if (ch.edit->text() != text) ch.edit->setText(text);
    }
}

void CGammaDlg::ShowRange() {
    const QString maxText = QString::fromStdString(settings_.MaximumText());
    const QString minText = QString::fromStdString(settings_.MinimumText());
    minimumEdit_->setText(minText);
    for (Channel& ch : channels_) {
        ch.maxLabel->setText(maxText);
        ch.minLabel->setText(minText);
    }
}

void CGammaDlg::UpdateLinkedControls() {
    const bool linked = settings_.Linked();
    for (int c : {GammaSettings::kGreen, GammaSettings::kBlue}) {
        channels_[c].slider->setEnabled(!linked);
        SetReadOnly(channels_[c].edit, linked);
    }
}

void CGammaDlg::Recompute() {
    GammaTables tables = settings_.Tables();
    if (SameTables(tables, tables_)) return;
    tables_ = tables;
    if (!MapThroughGammaTables(source_, preview_, tables_)) return;
    view_->SetImage(ToImage(preview_));
    if (onPreview_) onPreview_(preview_);
}

}  // namespace bitloupe
