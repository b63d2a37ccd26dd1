// The "Define DCT Selective Matrix " dialog: the enable flag and the 8x8 mask, edited as eight
// lines of "0" and "1" (row v = vertical frequency, column u = horizontal frequency). The
// buttons fill the whole mask or set the entries an index text "(x,y)(x,y)..." names
// (x the column, y the row). The mask and the buttons can be used only while the matrix is
// enabled. OK reads the text back into the mask; until then, and after Cancel, the
// accessors give the values the dialog was opened with.
#pragma once

#include <QDialog>
#include <string>

#include "core/image/DctMask.h"

class QCheckBox;
class QGridLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;

namespace bitloupe {

class CDctMaskDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CDctMaskDlg(const SelectiveDct& current, QWidget* parent = nullptr);

    bool enabled() const { return stored_.enabled; }
    const DctMask& mask() const { return stored_.mask; }
    const SelectiveDct& selectiveDct() const { return stored_; }

    // The mask text as the dialog keeps it: lines separated by CR LF.
    std::string maskText() const;

    // The controls, for the tests.
    QCheckBox* enableBox() const { return enable_; }
    QPlainTextEdit* maskEdit() const { return maskEdit_; }
    QLineEdit* indexEdit() const { return indexEdit_; }
    QPushButton* allOnesButton() const { return allOnes_; }
    QPushButton* allZerosButton() const { return allZeros_; }
    QPushButton* someOnesButton() const { return someOnes_; }
    QPushButton* someZerosButton() const { return someZeros_; }

  public Q_SLOTS:
    void accept() override;

  private:
    // The constructor's parts: the grid holds the mask edit and the button column.
    QGridLayout* BuildMatrixGrid();
    void BuildMaskEdit();
    QVBoxLayout* BuildButtonColumn();

    void SetMaskText(const std::string& text);
    void UpdateEnabled();

    SelectiveDct stored_;

    QCheckBox* enable_ = nullptr;
    QPlainTextEdit* maskEdit_ = nullptr;
    QLineEdit* indexEdit_ = nullptr;
    QPushButton* allOnes_ = nullptr;
    QPushButton* allZeros_ = nullptr;
    QPushButton* someOnes_ = nullptr;
    QPushButton* someZeros_ = nullptr;
};

}  // namespace bitloupe
