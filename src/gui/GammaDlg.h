// The "Gamma Correction" dialog: one gamma per colour channel, set with a slider or typed,
// within a range whose maximum the user may change (the minimum is always its inverse). The
// rules live in GammaSettings; the dialog mirrors them in its controls.
//
// While the dialog is open every change of the tables maps the shown picture through them
// into a preview, which the dialog draws in its own frame and hands to the caller (the frame
// shows it in the picture pane). The dialog never touches the picture itself: after OK the
// caller applies tables() with ApplyGammaTables, after Cancel it simply shows its picture
// again.
#pragma once

#include <QDialog>
#include <QImage>
#include <functional>

#include "core/image/Gamma.h"
#include "core/image/PictureDib.h"

class QCheckBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSlider;

namespace bitloupe {

class GammaPreview;

class CGammaDlg : public QDialog {
    Q_OBJECT

  public:
    using PreviewCallback = std::function<void(const CPictureDib& preview)>;

    // `source` must outlive the dialog. `onPreview` may be empty.
    explicit CGammaDlg(const CPictureDib& source, PreviewCallback onPreview = {},
                       QWidget* parent = nullptr);

    // The tables of the gammas the dialog shows (the identity until something changes).
    const GammaTables& tables() const { return tables_; }
    const GammaSettings& settings() const { return settings_; }
    // The source mapped through tables(); without pixels when the source has none.
    const CPictureDib& preview() const { return preview_; }

    // The controls, for the tests. Channels as in GammaSettings: 0 red, 1 green, 2 blue.
    QSlider* slider(int channel) const { return channels_[Clamp(channel)].slider; }
    QLineEdit* gammaEdit(int channel) const { return channels_[Clamp(channel)].edit; }
    QLabel* maximumLabel(int channel) const { return channels_[Clamp(channel)].maxLabel; }
    QLabel* minimumLabel(int channel) const { return channels_[Clamp(channel)].minLabel; }
    QLineEdit* maximumEdit() const { return maximumEdit_; }
    QLineEdit* minimumEdit() const { return minimumEdit_; }
    QCheckBox* linkBox() const { return link_; }

  private:
    struct Channel {
        QSlider* slider = nullptr;
        QLineEdit* edit = nullptr;
        QLabel* maxLabel = nullptr;
        QLabel* minLabel = nullptr;
    };
    static int Clamp(int channel) { return channel < 0 ? 0 : channel > 2 ? 2 : channel; }

    // The constructor's parts: the preview, the range, the channels' rows.
    QGroupBox* BuildPreviewBox();
    QGroupBox* BuildRangeBox();
    QGridLayout* BuildChannelRows();
    // An edit for a gamma or the range, wide enough for its digits.
    QLineEdit* NewNumberEdit(QWidget* owner);

    void SliderMoved(int channel, int position);
    void GammaEdited(int channel, const QString& text);
    void LinkToggled(bool linked);
    void MaximumEdited(const QString& text);

    // Puts the state into the controls; the edit being typed in keeps its text.
    void ShowSettings(const QLineEdit* typing = nullptr);
    void ShowRange();
    void UpdateLinkedControls();
    // New tables from the gammas; when they differ, a new preview.
    void Recompute();

    const CPictureDib& source_;
    PreviewCallback onPreview_;
    GammaSettings settings_;
    GammaTables tables_;
    CPictureDib preview_;

    Channel channels_[3];
    QLineEdit* maximumEdit_ = nullptr;
    QLineEdit* minimumEdit_ = nullptr;
    QCheckBox* link_ = nullptr;
    GammaPreview* view_ = nullptr;
};

}  // namespace bitloupe
