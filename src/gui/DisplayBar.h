// The bar of display controls below the toolbar: colours, display type, field option, motion
// vectors and their type, the macroblock grid, and the keyword search.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QWidget>
#include <functional>

#include "gui/FlatButton.h"

namespace bitloupe {

class CDisplayBar : public QWidget {
    Q_OBJECT

  public:
    explicit CDisplayBar(QWidget* parent = nullptr);

    // Every control's action goes to the frame as its command id.
    std::function<void(int)> command;

    CFlatButton* colorsButton() const { return colors_; }
    QComboBox* displayTypeCombo() const { return displayType_; }
    QComboBox* fieldOptionCombo() const { return fieldOption_; }
    QCheckBox* displayMvsBox() const { return displayMvs_; }
    QComboBox* mvTypeCombo() const { return mvType_; }
    QCheckBox* mbGridBox() const { return mbGrid_; }
    QLineEdit* keywordEdit() const { return keyword_; }
    CFlatButton* searchButton() const { return search_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Post(int id) {
        if (command) command(id);
    }

    CFlatButton* colors_;
    QComboBox* displayType_;
    QComboBox* fieldOption_;
    QCheckBox* displayMvs_;
    QComboBox* mvType_;
    QCheckBox* mbGrid_;
    QLineEdit* keyword_;
    CFlatButton* search_;
};

}  // namespace bitloupe
