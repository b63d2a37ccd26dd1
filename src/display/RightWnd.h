// The right pane: the picture area with its text line at the bottom, and the parsing dialog
// shown over it. A double click toggles between the two while no parse runs.
#pragma once

#include <QWidget>
#include <functional>

namespace bitloupe {

class CParseDlg;
class CStreamState;

class CRightWnd : public QWidget {
    Q_OBJECT

public:
    explicit CRightWnd(QWidget* parent = nullptr);

    void SetParseDialog(CParseDlg* dialog);
    void SetStreamState(const CStreamState* stream) { stream_ = stream; }
    // Whether a file is open (the text line says so).
    void SetFileOpen(bool open);
    bool DialogShown() const;
    void ShowDialog(bool show);
    // The double click of the pane (also forwarded by the dialog): toggles, unless refused.
    void ToggleDialog();
    // Asked before toggling: false while a parse runs.
    std::function<bool()> canToggle;
    // Told after the dialog was hidden (the frame redisplays the tree's selection).
    std::function<void()> dialogHidden;

    QString TextLine() const;
    QColor background() const { return background_; }
    void SetBackground(const QColor& c);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void PlaceDialog();

    CParseDlg* dialog_ = nullptr;
    const CStreamState* stream_ = nullptr;
    bool fileOpen_ = false;
    QColor background_;
};

}  // namespace bitloupe
