// The stream chart: a bar per picture (its bits, the sequence and GOP headers before it in a
// lighter shade, coloured by picture type) in display or stream order, with the bit rate over a
// second and the mean quantiser as lines on their own right-hand scales, and the decoder buffer
// as a saw-tooth in a band of its own under the bars. The wheel zooms around the pointer, a drag
// pans, a double click shows the whole stream again; a click on a bar names its picture.
//
// Drawn on QPainter from arrays made when the pictures are set. When a picture is narrower than
// a pixel, each pixel column shows the tallest of its pictures (with the tallest of each other
// type in front), the lines through the mean of its pictures over a faint band of their range,
// so a stream of a hundred thousand pictures draws as fast as one of a thousand.
#pragma once

#include <QRectF>
#include <QWidget>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/render/StreamStats.h"

namespace bitloupe {

class StreamChart : public QWidget {
    Q_OBJECT

  public:
    // The series the legend (and the context menu) shows and hides.
    enum class Series { Bars, Bitrate, Buffer, Quantiser };

    explicit StreamChart(QWidget* parent = nullptr);

    // May be called again and again with a growing vector while a parse runs: a chart the user
    // has not zoomed keeps showing everything, a zoomed one keeps its range (and follows the end
    // when it showed the end).
    void SetPictures(std::vector<PictureStats> pictures);
    void SetBufferSize(double bits);
    void SetDisplayOrder(bool display);
    bool DisplayOrder() const { return displayOrder_; }
    // Marks the picture of that stream-order number and scrolls it into view; 0 clears.
    void SetSelected(uint32_t number);
    uint32_t Selected() const { return selected_; }
    void SetSeriesShown(Series series, bool shown);
    bool SeriesShown(Series series) const { return shown_[static_cast<size_t>(series)]; }
    // Shows the whole stream again (what a double click does).
    void ResetZoom();

    // For tests and the main window's report.
    double lastPaintMs() const { return lastPaintMs_; }
    // The picture places shown, [first, last): place k is the k-th picture of the order.
    std::pair<double, double> VisibleRange() const { return {first_, first_ + span_}; }
    // A point inside that picture's bar; a null point when the bar is not drawn (outside the
    // range, or a taller picture of its pixel column stands for it).
    QPoint BarPoint(uint32_t number) const;
    size_t PictureCount() const { return pictures_.size(); }
    // Whether the last paint drew pixel columns rather than one bar per picture.
    bool DrewColumns() const { return drewColumns_; }

    QSize sizeHint() const override { return {900, 320}; }
    QSize minimumSizeHint() const override { return {320, 180}; }

  Q_SIGNALS:
    void PictureClicked(uint32_t number);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;

  private:
    // A vertical scale from 0: `divisions` steps of `step` each.
    struct Scale {
        double step = 1;
        int divisions = 1;
        double Top() const { return step * divisions; }
    };
    // Where everything goes for the present size, data and range.
    struct Geometry {
        QRect legend;
        QRect plot;    // the bars and the two lines
        QRect buffer;  // the buffer band; empty when hidden
        int axisY = 0;
        int rateAxisX = 0;   // left edge of the bit rate labels
        int quantAxisX = 0;  // left edge of the quantiser labels
        Scale bits, rate, quant, fullness;
        double pixelsPerPicture = 1;
        bool columns = false;
        bool smooth = false;  // lines antialiased, while pictures stand a few pixels apart
    };
    // One thing drawn along x: a picture, or a pixel column of pictures. Values in the units of
    // the data; `place` is the drawn bar's place in the order.
    struct Slot {
        float x0 = 0, x1 = 0;
        uint32_t place = 0;
        float bits = 0, header = 0;
        uint8_t type = 0;
        uint8_t flags = 0;
        float rateLow = 0, rateHigh = 0, rateMean = 0;
        float quantLow = 0, quantHigh = 0, quantMean = 0;
        uint32_t count = 1;     // pictures in the slot
        float typeTop[5] = {};  // by type: the tallest of the slot's pictures of that type
        float bufferHigh = 0, bufferLow = 0;
    };
    struct LegendEntry {
        QRect rect;
        int toggle;  // a Series, kOrderToggle, or -1 for a type swatch
        QString text;
        QColor colour;
    };

    void RebuildOrder();
    void ClampRange();
    void SetRange(double first, double span);
    Geometry ComputeGeometry() const;
    std::vector<LegendEntry> Legend() const;
    bool Toggled(int toggle) const;
    QColor GridColour() const;
    void Toggle(int toggle);
    bool ToggleAt(QPoint point);  // a click on a legend entry; false elsewhere
    // The place under x (in the plot's columns), the drawn one in pixel-column mode; -1 if none.
    int64_t PlaceAt(const Geometry& g, QPoint point) const;
    int Column(const Geometry& g, double place) const;
    int64_t TallestIn(const Geometry& g, int column) const;
    int64_t PlaceOf(uint32_t number) const;
    std::vector<Slot> Slots(const Geometry& g) const;
    QString PictureText(const PictureStats& picture) const;

    void DrawLegend(class QPainter& p) const;
    void DrawAxes(class QPainter& p, const Geometry& g) const;
    void DrawXAxis(class QPainter& p, const Geometry& g, const std::vector<Slot>& slots) const;
    void DrawBars(class QPainter& p, const Geometry& g, const std::vector<Slot>& slots) const;
    void ColumnBars(const Geometry& g, const std::vector<Slot>& slots,
                    std::vector<QRectF> (&rects)[5][2]) const;
    void DrawSpreads(class QPainter& p, const Geometry& g, const std::vector<Slot>& slots) const;
    void DrawLines(class QPainter& p, const Geometry& g, const std::vector<Slot>& slots) const;
    void DrawBuffer(class QPainter& p, const Geometry& g, const std::vector<Slot>& slots) const;
    void DrawBufferMarks(class QPainter& p, const Geometry& g,
                         const std::vector<Slot>& slots) const;
    void DrawSelection(class QPainter& p, const Geometry& g, const std::vector<Slot>& slots) const;

    static constexpr int kOrderToggle = 4;

    std::vector<PictureStats> pictures_;  // stream order, as given
    // By place in the shown order: the picture's index, and its figures laid out for the paint.
    std::vector<uint32_t> order_;
    std::vector<uint32_t> placeOf_;  // by index in pictures_
    std::vector<float> bits_, header_, rate_, quant_, before_, after_;
    std::vector<uint8_t> type_, flags_;
    // Over the whole stream, for the scales.
    double maxBar_ = 0, maxRate_ = 0, maxQuant_ = 0, maxBuffer_ = 0;
    double bufferSize_ = 0;
    bool displayOrder_ = true;
    std::array<bool, 4> shown_{true, true, true, true};
    uint32_t selected_ = 0;

    // The range shown, in places; `zoomed_` once the user narrowed it.
    double first_ = 0;
    double span_ = 0;
    bool zoomed_ = false;

    QPoint pressPoint_;
    double pressFirst_ = 0;
    bool pressed_ = false;
    bool dragging_ = false;

    double lastPaintMs_ = 0;
    bool drewColumns_ = false;
};

}  // namespace bitloupe
