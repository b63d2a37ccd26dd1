// The right pane: the picture of the selected unit inside its dashed video edge, with the
// focused rectangle, the macroblock grid and the motion vectors; a selected block as its 64
// samples; the text line at the bottom; and the parsing dialog shown over it all. A double
// click toggles between the dialog and the picture while no parse runs.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <functional>
#include <string>

#include "core/render/DecodeDispatch.h"
#include "core/render/Overlay.h"
#include "core/render/PictureFacts.h"

namespace bitloupe {

class CParseDlg;
class CSyntaxParser;

// The colours of the pane, as "Customize Colors ..." names them (RGB).
struct PaneColours {
    QColor pictureBackground;
    QColor videoEdge{0, 0, 255};
    QColor focusedRectangle{255, 0, 0};
    QColor forwardVectors{255, 255, 0};
    QColor backwardVectors{255, 0, 255};
    QColor grid{0, 255, 255};
};

class CRightWnd : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit CRightWnd(QWidget* parent = nullptr);

    void SetParseDialog(CParseDlg* dialog);
    void SetParser(const CSyntaxParser* parser, const DecodeDispatch* dispatch) {
        parser_ = parser;
        dispatch_ = dispatch;
    }
    // Whether a file is open and not refused (the text line and the video edge say so).
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
    PaneColours colours;

    // Display options of the bar.
    bool displayMvs = false;
    bool mvsOnly = false;
    int vectorSelect = 255;     // 0 first, 1 second, 255 both
    int directionSelect = 255;  // 0 forward, 1 backward, 255 both
    bool mbGrid = false;

    // Recomputes the frame and the scroll bars for the shown picture's size.
    void UpdateLayout();
    // Repaints the picture area (after a decode or an option change).
    void RepaintPicture(bool erase);
    // The picture view with its overlays, at the picture's size (its display size in display
    // mode 4), as "Save Snapshot" writes it. A null image when there is nothing to draw.
    QImage Snapshot() const;
    // Writes the snapshot as a BMP file; the error message's text on failure, empty on success.
    std::string SaveSnapshot(const std::string& path) const;

    // The client size the picture needs so that no scroll bar shows.
    QSize NeededSize() const { return needed_; }
    PaneRect frameRect() const { return frame_; }

    // Zoom: kZoomFit fits the picture into the pane, else the size in pixels of one sample
    // (1 is the plain view). Sample squares are drawn without smoothing, the overlays scale
    // with the picture, and from kValueZoom on every square shows its sample's value.
    static constexpr int kZoomFit = 0;
    static constexpr int kMaxZoom = 32;
    static constexpr int kValueZoom = 32;
    int zoom() const { return zoom_; }
    // The factor in effect (fit included).
    double Scale() const;
    // Sets the zoom keeping the picture point under `anchor` (viewport pixels) in place; the
    // viewport's centre without one.
    void SetZoom(int zoom, QPoint anchor = QPoint(-1, -1));
    // The next step up or down of 1, 2, 4 .. 32 (from fit: the step above the fit's factor).
    void ZoomIn(QPoint anchor = QPoint(-1, -1));
    void ZoomOut(QPoint anchor = QPoint(-1, -1));
    // Scrolls so that the sample (x, y) lies in the middle of the picture area.
    void CentreOn(int x, int y);
    // The sample of the picture (coded coordinates) under a viewport point; false outside it.
    bool SampleAt(QPoint viewportPoint, int& x, int& y) const;
    // Told when the pointer moves over the picture (inside false when it leaves it) and when a
    // single click lands on it.
    std::function<void(int x, int y, bool inside)> hovered;
    std::function<void(int x, int y)> clicked;
    // The macroblock map drawn over the picture, with its legend.
    void SetMap(MacroblockMap map);
    const MacroblockMap& map() const { return map_; }
    // The picture area: the viewport less the text line at its bottom.
    QRect PictureArea() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    void PlaceDialog();
    void UpdateScrollBars();
    bool PictureShown() const;
    // The picture view (display modes 1 to 4) with the frame at `frame`.
    void DrawPictureView(class QPainter& p, const PaneRect& frame, bool whole) const;
    void DrawBlockView(class QPainter& p, const PaneRect& frame) const;
    QSize ShownSize() const;
    // The shown size times the zoom, in pixels.
    QSize ZoomedSize() const;
    void DrawMap(class QPainter& p, const PaneRect& frame) const;
    void DrawLegend(class QPainter& p) const;
    void DrawSampleValues(class QPainter& p, const PaneRect& zoomedFrame) const;
    // The bitmap as an image, made again only after RepaintPicture (a scroll or a zoom paints
    // from the one made before); grey for the view under a map.
    const QImage& PictureImage(bool grey) const;
    // The value a sample square shows: the component of the colour mode.
    int SampleValue(int x, int y) const;
    bool IsIntraPicture() const;

    CParseDlg* dialog_ = nullptr;
    const CSyntaxParser* parser_ = nullptr;
    const DecodeDispatch* dispatch_ = nullptr;
    bool fileOpen_ = false;
    PaneRect frame_;  // the video edge, in content coordinates
    bool hasFrame_ = false;
    QSize needed_;  // the scroll extent
    int zoom_ = 1;
    mutable QImage image_;
    mutable QImage greyImage_;
    mutable bool imageStale_ = true;
    MacroblockMap map_;
    bool doubleClicked_ = false;
    int textLineHeight_ = 0;
};

}  // namespace bitloupe
