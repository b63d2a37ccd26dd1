#include "gui/ParseDlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

#include "core/session/SyntaxParser.h"
#include "gui/CommandIds.h"
#include "gui/StringTable.h"

namespace bitloupe {

void SelectionSlider::SetSelection(int start, int end) {
    if (start == selStart_ && end == selEnd_) return;
    selStart_ = start;
    selEnd_ = end;
    update();
}

void SelectionSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (selEnd_ <= selStart_ || maximum() <= minimum()) return;
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    // The handle's centre travels from groove.left + half a handle to groove.right - half.
    const int span = groove.width() - handle.width();
    auto x = [&](int v) {
        return groove.left() + handle.width() / 2 +
               QStyle::sliderPositionFromValue(minimum(), maximum(), v, span);
    };
    QPainter p(this);
    QColor band = palette().color(QPalette::Highlight);
    band.setAlpha(150);
    p.fillRect(QRect(QPoint(x(selStart_), groove.center().y() - 2),
                     QPoint(x(selEnd_), groove.center().y() + 2)),
               band);
}

namespace {

void SetTip(QWidget* w, int id) {
    w->setToolTip(QString::fromUtf8(ControlTooltip(id)));
}

}  // namespace

CParseDlg::CParseDlg(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setObjectName("parsingDialog");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);

    BuildModeGroup(layout);
    BuildStartControls(layout);
    BuildPictureRow(layout);
    BuildButtons(layout);

    auto* hint = new QLabel(
        "Double click the mouse button to show/hide the parsing dialog and the display area ...",
        this);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    ConnectControlRules();
    UpdatePictureControls();
}

void CParseDlg::BuildModeGroup(QVBoxLayout* layout) {
    auto* group = new QGroupBox("Parsing mode (invalid for pure video streams)", this);
    SetTip(group, 1046);
    auto* groupLayout = new QVBoxLayout(group);
    modeGroup_ = new QButtonGroup(this);
    const char* modeTexts[3] = {"Parse Program Stream only",
                                "Parse the first Elementary Video Stream only",
                                "Parse Program Stream and the first Elementary Video Stream "
                                "simultaneously"};
    for (int m = 0; m < 3; ++m) {
        modes_[m] = new QRadioButton(modeTexts[m], group);
        SetTip(modes_[m], 1039 + m);
        modeGroup_->addButton(modes_[m], m);
        groupLayout->addWidget(modes_[m]);
    }
    modes_[kModeVideoOnly]->setChecked(true);
    layout->addWidget(group);
}

// The slider and the two boxes that go with it.
void CParseDlg::BuildStartControls(QVBoxLayout* layout) {
    slider_ = new SelectionSlider(Qt::Horizontal, this);
    slider_->setRange(0, sliderRange);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setTickInterval(sliderRange / 10);
    slider_->setSingleStep(sliderRange / 20);
    slider_->setPageStep(sliderRange / 10);
    SetTip(slider_, 1042);
    layout->addWidget(slider_);

    fromSlider_ = new QCheckBox("Start from the position indicated by the slider", this);
    SetTip(fromSlider_, 1047);
    layout->addWidget(fromSlider_);
    cleanTree_ = new QCheckBox("Clean the tree before parsing", this);
    cleanTree_->setChecked(true);
    cleanTree_->setEnabled(false);
    layout->addWidget(cleanTree_);
}

// "Start from" a picture of a kind, with its number.
void CParseDlg::BuildPictureRow(QVBoxLayout* layout) {
    fromPicture_ = new QCheckBox("Start from", this);
    SetTip(fromPicture_, 1049);
    layout->addWidget(fromPicture_);
    auto* pictureRow = new QHBoxLayout;
    pictureRow->setContentsMargins(24, 0, 0, 0);
    const char* kinds[5] = {"Picture", "I-Picture", "P-Picture", "B-Picture", "D-Picture"};
    auto* kindGroup = new QButtonGroup(this);
    for (int k = 0; k < 5; ++k) {
        pictures_[k] = new QRadioButton(kinds[k], this);
        kindGroup->addButton(pictures_[k], k);
        pictureRow->addWidget(pictures_[k]);
    }
    pictures_[0]->setChecked(true);
    hash_ = new QLabel("#", this);
    pictureRow->addWidget(hash_);
    number_ = new QLineEdit("1", this);
    number_->setValidator(new QIntValidator(0, 999999999, number_));
    number_->setMaximumWidth(80);
    pictureRow->addWidget(number_);
    pictureRow->addStretch();
    layout->addLayout(pictureRow);
}

void CParseDlg::BuildButtons(QVBoxLayout* layout) {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    parse_ = new QPushButton("Parse", this);
    parse_->setDefault(true);
    parse_->setEnabled(false);
    stop_ = new QPushButton("Stop", this);
    stop_->setEnabled(false);
    parse_->setMinimumWidth(90);
    stop_->setMinimumWidth(90);
    buttons->addWidget(parse_);
    buttons->addWidget(stop_);
    layout->addLayout(buttons);
}

// The control rules.
void CParseDlg::ConnectControlRules() {
    connect(fromSlider_, &QCheckBox::clicked, this, [this](bool checked) {
        if (checked) fromPicture_->setChecked(false);
        UpdatePictureControls();
    });
    connect(fromPicture_, &QCheckBox::clicked, this, [this](bool checked) {
        if (checked) fromSlider_->setChecked(false);
        UpdatePictureControls();
    });
    connect(modes_[kModeProgramStreamOnly], &QRadioButton::clicked, this,
            [this] { UpdatePictureControls(); });
    connect(modes_[kModeVideoOnly], &QRadioButton::clicked, this,
            [this] { UpdatePictureControls(); });
    connect(modes_[kModeBoth], &QRadioButton::clicked, this, [this] { UpdatePictureControls(); });
    connect(number_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!text.isEmpty() && text.toLongLong() == 0) number_->setText("1");
    });
    connect(parse_, &QPushButton::clicked, this, &CParseDlg::ClickParse);
    connect(stop_, &QPushButton::clicked, this, &CParseDlg::ClickStop);
}

void CParseDlg::UpdatePictureControls() {
    const bool psOnly = modes_[kModeProgramStreamOnly]->isChecked();
    fromPicture_->setEnabled(!psOnly);
    const bool on = !psOnly && fromPicture_->isChecked();
    for (QRadioButton* r : pictures_) r->setEnabled(on);
    hash_->setEnabled(on);
    number_->setEnabled(on);
    number_->setReadOnly(!on);
}

void CParseDlg::SetModeRadiosEnabled(bool enabled) {
    for (QRadioButton* r : modes_) r->setEnabled(enabled);
}

int CParseDlg::SelectedMode() const {
    const int id = modeGroup_->checkedId();
    return id < 0 ? kModeVideoOnly : id;
}

int64_t CParseDlg::SetupSlider(int64_t size) {
    const int64_t step = ParseDialog::SetupSlider(size);
    slider_->setRange(0, sliderRange);
    if (slider_->value() > 0) {
        slider_->setValue(0);
        slider_->ClearSelection();
    }
    return step;
}

void CParseDlg::SetParseEnabled(bool enabled) {
    ParseDialog::SetParseEnabled(enabled);
    if (!running_) parse_->setEnabled(enabled);
}

void CParseDlg::PollProgress() {
    const int pos = SliderPositionFor(ProgressOffset());
    if (running_) {
        const int64_t from = SelectionStartOffset();
        if (from >= 0) selectionStartPos_ = SliderPositionFor(from);
    }
    if (pos == slider_->value()) return;
    slider_->setValue(pos);
    if (running_ && !IsStopped() && !IsPaused()) {
        if (selectionStartPos_ < pos)
            slider_->SetSelection(selectionStartPos_, pos);
        else
            slider_->ClearSelection();
    }
}

void CParseDlg::ClickParse() {
    if (!running_) {
        if (!parseEnabled || !parser_) return;
        mode = SelectedMode();
        cleanTree = cleanTree_->isChecked();
        startFromPicture = fromPicture_->isChecked() && fromPicture_->isEnabled();
        pictureKind = 0;
        for (int k = 0; k < 5; ++k)
            if (pictures_[k]->isChecked()) pictureKind = k;
        pictureNumber = std::max(1, number_->text().toInt());
        if (fromSlider_->isChecked()) {
            selectionStartPos_ = slider_->value();
            startOffset = OffsetForSliderPosition(slider_->value());
        } else {
            selectionStartPos_ = 0;
            startOffset = 0;
        }
        UpdateProgress(0);
        SetSelectionStartFromOffset(-1);
        PollProgress();
        BeginParse();
        running_ = true;
        if (mode == kModeBoth && parser_->stream.streamType == kProgramStream) {
            parse_->setEnabled(false);  // a parse of both layers cannot be paused
        } else {
            parse_->setText("Pause");
        }
        stop_->setEnabled(true);
        SetModeRadiosEnabled(false);
        int command = cmd::kParseVideo;
        if (parser_->stream.streamType == kProgramStream) {
            if (mode == kModeProgramStreamOnly) command = cmd::kParseProgramStream;
            if (mode == kModeBoth) command = cmd::kParseBoth;
        }
        if (poster_) poster_->PostCommand(command);
        return;
    }
    if (!IsPaused()) {
        SetPaused(true);  // returns once the worker waits at the gate
        parse_->setText("Resume");
    } else {
        parse_->setText("Pause");
        SetPaused(false);
    }
}

void CParseDlg::ClickStop() {
    ResetToIdle();  // stopped, and let go if paused
    parse_->setText("Parse");
    parse_->setEnabled(parseEnabled);
    stop_->setEnabled(false);
    SetModeRadiosEnabled(true);
}

void CParseDlg::OnWorkerStarted() {
    running_ = true;
    parse_->setText("Pause");
    parse_->setEnabled(true);
    stop_->setEnabled(true);
    SetModeRadiosEnabled(false);
}

void CParseDlg::OnWorkerFinished() {
    running_ = false;
    PollProgress();
    if (!IsStopped()) ResetToIdle();
    parse_->setText("Parse");
    parse_->setEnabled(parseEnabled);
    stop_->setEnabled(false);
    SetModeRadiosEnabled(true);
}

void CParseDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) Q_EMIT DoubleClicked();
    QFrame::mouseDoubleClickEvent(event);
}

}  // namespace bitloupe
