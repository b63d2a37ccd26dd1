#include "gui/DctMaskDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace bitloupe {

namespace {

// The mask and index texts are short: no more than this many characters.
constexpr int kTextLimit = 255;

}  // namespace

CDctMaskDlg::CDctMaskDlg(const SelectiveDct& current, QWidget* parent)
    : QDialog(parent), stored_(current) {
    setWindowTitle("Define DCT Selective Matrix ");

    enable_ = new QCheckBox("Enable DCT Selective Matrix", this);
    enable_->setChecked(stored_.enabled);

    QGridLayout* grid = BuildMatrixGrid();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 12);
    layout->setSpacing(12);
    layout->addWidget(enable_);
    auto* indented = new QHBoxLayout;
    indented->setContentsMargins(22, 0, 0, 0);
    indented->addLayout(grid);
    layout->addLayout(indented);
    layout->addSpacing(4);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(enable_, &QCheckBox::toggled, this, &CDctMaskDlg::UpdateEnabled);
    connect(allOnes_, &QPushButton::clicked, this, [this] { SetMaskText(AllOnesText()); });
    connect(allZeros_, &QPushButton::clicked, this, [this] { SetMaskText(AllZerosText()); });
    connect(someOnes_, &QPushButton::clicked, this, [this] {
        SetMaskText(ApplyIndexText(maskText(), indexEdit_->text().toStdString(), '1'));
    });
    connect(someZeros_, &QPushButton::clicked, this, [this] {
        SetMaskText(ApplyIndexText(maskText(), indexEdit_->text().toStdString(), '0'));
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &CDctMaskDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    UpdateEnabled();
}

// The mask with its buttons at the right, the index edit and its format below.
QGridLayout* CDctMaskDlg::BuildMatrixGrid() {
    BuildMaskEdit();
    QVBoxLayout* buttonColumn = BuildButtonColumn();

    indexEdit_ = new QLineEdit("(0,0)", this);
    indexEdit_->setMaxLength(kTextLimit);
    auto* hint = new QLabel("Format of DCT indices: \"(x1,y1)(x2,y2)...\"", this);
    hint->setBuddy(indexEdit_);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(10);
    grid->addWidget(maskEdit_, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->addLayout(buttonColumn, 0, 1);
    grid->addWidget(indexEdit_, 1, 0, 1, 2);
    grid->addWidget(hint, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    return grid;
}

// The mask: a fixed-pitch face, spaced out so that the entries read as a matrix.
void CDctMaskDlg::BuildMaskEdit() {
    maskEdit_ = new QPlainTextEdit(this);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (mono.pointSizeF() > 0) mono.setPointSizeF(mono.pointSizeF() * 1.2);
    mono.setLetterSpacing(QFont::AbsoluteSpacing, 6);
    maskEdit_->setFont(mono);
    maskEdit_->setLineWrapMode(QPlainTextEdit::NoWrap);
    maskEdit_->setTabChangesFocus(true);
    maskEdit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    maskEdit_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    {
        const QFontMetrics fm(mono);
        const int margins = 2 * (maskEdit_->frameWidth() +
                                 static_cast<int>(maskEdit_->document()->documentMargin()));
        maskEdit_->setFixedSize(fm.horizontalAdvance("00000000") + margins + 8,
                                8 * fm.lineSpacing() + margins + 6);
    }
    SetMaskText(MaskToText(stored_.mask));
    // Hand edits beyond the limit are cut back.
    connect(maskEdit_, &QPlainTextEdit::textChanged, this, [this] {
        if (maskEdit_->document()->characterCount() - 1 <= kTextLimit) return;
        QTextCursor cursor = maskEdit_->textCursor();
        cursor.setPosition(kTextLimit);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    });
}

QVBoxLayout* CDctMaskDlg::BuildButtonColumn() {
    allOnes_ = new QPushButton("All Ones", this);
    allZeros_ = new QPushButton("All Zeros", this);
    someOnes_ = new QPushButton("Some Ones", this);
    someZeros_ = new QPushButton("Some Zeros", this);
    auto* buttonColumn = new QVBoxLayout;
    buttonColumn->setSpacing(6);
    for (QPushButton* b : {allOnes_, allZeros_, someOnes_, someZeros_}) {
        // Enter in the index edit is OK, as everywhere else in the dialog.
        b->setAutoDefault(false);
        b->setMinimumWidth(110);
        buttonColumn->addWidget(b);
        if (b == allZeros_) buttonColumn->addSpacing(14);
    }
    buttonColumn->addStretch();
    return buttonColumn;
}

std::string CDctMaskDlg::maskText() const {
    // The edit keeps bare line feeds; the mask's layout has CR LF between the lines.
    QString text = maskEdit_->toPlainText();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text.toStdString();
}

void CDctMaskDlg::SetMaskText(const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    maskEdit_->setPlainText(shown);
}

void CDctMaskDlg::UpdateEnabled() {
    const bool on = enable_->isChecked();
    maskEdit_->setReadOnly(!on);
    // Read-only, the mask shows on the dialog's background.
    QPalette palette = maskEdit_->palette();
    palette.setColor(QPalette::Base, this->palette().color(on ? QPalette::Base : QPalette::Window));
    maskEdit_->setPalette(palette);
    for (QPushButton* b : {allOnes_, allZeros_, someOnes_, someZeros_}) b->setEnabled(on);
    indexEdit_->setEnabled(on);
}

void CDctMaskDlg::accept() {
    stored_.enabled = enable_->isChecked();
    stored_.mask = MaskFromText(maskText());
    QDialog::accept();
}

}  // namespace bitloupe
