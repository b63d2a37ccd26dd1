// The parsing dialog: where the user picks how the open file is parsed, and starts, pauses,
// resumes and stops the parse. Its slider shows how far the parse has come, with the range
// parsed so far as its selection. It is the engine's `ParseDialog` for the desktop: the parse
// thread reports progress through the base class's atomics, which the frame's timer turns
// into slider moves (`PollProgress`).
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include "core/base/Host.h"

class QVBoxLayout;

namespace bitloupe {

class CSyntaxParser;

// A slider that also draws a selection range along its groove.
class SelectionSlider : public QSlider {
  public:
    using QSlider::QSlider;
    void SetSelection(int start, int end);
    void ClearSelection() { SetSelection(0, 0); }
    int selectionStart() const { return selStart_; }
    int selectionEnd() const { return selEnd_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int selStart_ = 0;
    int selEnd_ = 0;
};

class CParseDlg : public QFrame, public ParseDialog {
    Q_OBJECT

  public:
    explicit CParseDlg(QWidget* parent = nullptr);

    void SetParser(CSyntaxParser* parser) { parser_ = parser; }
    void SetPoster(CommandPoster* poster) { poster_ = poster; }

    int64_t SetupSlider(int64_t size) override;
    void SetParseEnabled(bool enabled) override;

    // Moves the slider to the parse's progress (the frame's timer calls it).
    void PollProgress();
    // A worker started by another road (an on-demand macroblock parse): Pause and Stop apply
    // to it as to a parse.
    void OnWorkerStarted();
    // The worker has ended: the dialog returns to idle.
    void OnWorkerFinished();
    bool Running() const { return running_; }

    // The controls, for the frame and the tests.
    QRadioButton* modeRadio(int mode) const { return modes_[mode]; }
    SelectionSlider* slider() const { return slider_; }
    QCheckBox* startFromSliderBox() const { return fromSlider_; }
    QCheckBox* cleanTreeBox() const { return cleanTree_; }
    QCheckBox* startFromPictureBox() const { return fromPicture_; }
    QRadioButton* pictureRadio(int kind) const { return pictures_[kind]; }
    QLineEdit* pictureNumberEdit() const { return number_; }
    QPushButton* parseButton() const { return parse_; }
    QPushButton* stopButton() const { return stop_; }

    // Parse / Pause / Resume and Stop, as the buttons do.
    void ClickParse();
    void ClickStop();

  Q_SIGNALS:
    void DoubleClicked();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    // The constructor's parts, top to bottom.
    void BuildModeGroup(QVBoxLayout* layout);
    void BuildStartControls(QVBoxLayout* layout);
    void BuildPictureRow(QVBoxLayout* layout);
    void BuildButtons(QVBoxLayout* layout);
    void ConnectControlRules();

    void UpdatePictureControls();
    void SetModeRadiosEnabled(bool enabled);
    int SelectedMode() const;

    CSyntaxParser* parser_ = nullptr;
    CommandPoster* poster_ = nullptr;
    bool running_ = false;
    int selectionStartPos_ = 0;

    QRadioButton* modes_[3] = {};
    QButtonGroup* modeGroup_ = nullptr;
    SelectionSlider* slider_ = nullptr;
    QCheckBox* fromSlider_ = nullptr;
    QCheckBox* cleanTree_ = nullptr;
    QCheckBox* fromPicture_ = nullptr;
    QRadioButton* pictures_[5] = {};
    QLabel* hash_ = nullptr;
    QLineEdit* number_ = nullptr;
    QPushButton* parse_ = nullptr;
    QPushButton* stop_ = nullptr;
};

}  // namespace bitloupe
