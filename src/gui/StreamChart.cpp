#include "gui/StreamChart.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <numeric>
#include <span>

namespace bitloupe {

namespace {

// Per place, what the marks along the chart need.
enum : uint8_t { kOverflow = 1, kUnderflow = 2, kDisagrees = 4, kGopStart = 8 };

// The fewest pictures the range narrows to.
constexpr double kMinSpan = 4;
// One wheel notch shows this much of the range.
constexpr double kZoomPerNotch = 0.8;
constexpr int kMargin = 8;

// Picture types by picture_coding_type (0 when not known): colours told apart with any of the
// common colour vision deficiencies.
const QColor kTypeColour[5] = {
    {150, 150, 150}, {213, 94, 0}, {0, 114, 178}, {0, 158, 115}, {120, 120, 120}};
const char* const kTypeLetter[5] = {"?", "I", "P", "B", "D"};
const QColor kRateColour(230, 159, 0);
const QColor kQuantColour(117, 80, 163);
const QColor kBufferColour(60, 100, 140);
const QColor kBufferFill(204, 230, 246);
const QColor kWarning(200, 0, 0);
const QColor kDisagreeColour(230, 159, 0);

QColor Lighter(const QColor& c, double t) {
    return QColor::fromRgbF(c.redF() + (1 - c.redF()) * t, c.greenF() + (1 - c.greenF()) * t,
                            c.blueF() + (1 - c.blueF()) * t);
}

// A step of 1, 2, 2.5 or 5 times a power of ten, the smallest not under `raw`. The right-hand
// scales share the grid of the bars, so they take 3, 4, 6 and 8 too and waste less height.
double NiceStep(double raw, bool fine = false) {
    if (!(raw > 0) || !std::isfinite(raw)) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    static const double kCoarse[] = {1, 2, 2.5, 5, 10};
    static const double kFine[] = {1, 2, 2.5, 3, 4, 5, 6, 8, 10};
    for (const double m : fine ? std::span<const double>(kFine) : std::span<const double>(kCoarse))
        if (m * power >= raw * (1 - 1e-9)) return m * power;
    return 10 * power;
}

// A tick's value with as many decimals as its step needs.
QString TickText(double value, double step) {
    int decimals = 0;
    while (decimals < 4 && std::abs(step * std::pow(10.0, decimals) -
                                    std::round(step * std::pow(10.0, decimals))) > 1e-6)
        ++decimals;
    return QString::number(value, 'f', decimals);
}

QString Thousands(uint64_t value) {
    QString digits = QString::number(value);
    for (int i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(' '));
    return digits;
}

// 90 kHz ticks as hh:mm:ss.mmm.
QString TimeText(int64_t pts) {
    const int64_t ms = pts / 90;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

float Quantiser(const PictureStats& picture) {
    return static_cast<float>(picture.macroblocksParsed ? picture.mbMeanQuantiser
                                                        : picture.meanQuantiser);
}

// y of a value on a scale drawn over a rectangle, 0 at its bottom edge.
double YOf(double value, double top, const QRect& r) {
    return r.bottom() + 1 - value / top * r.height();
}

}  // namespace

StreamChart::StreamChart(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
}

void StreamChart::SetPictures(std::vector<PictureStats> pictures) {
    const double oldCount = static_cast<double>(pictures_.size());
    const bool showedEnd = first_ + span_ >= oldCount - 1e-6;
    pictures_ = std::move(pictures);
    RebuildOrder();
    const double count = static_cast<double>(pictures_.size());
    // Fewer pictures than before: another file, seen whole.
    if (count < oldCount) zoomed_ = false;
    if (!zoomed_)
        SetRange(0, count);
    else
        SetRange(showedEnd ? count - span_ : first_, span_);
    update();
}

void StreamChart::SetBufferSize(double bits) {
    bufferSize_ = std::max(0.0, bits);
    update();
}

void StreamChart::SetDisplayOrder(bool display) {
    if (display == displayOrder_) return;
    displayOrder_ = display;
    RebuildOrder();
    update();
}

void StreamChart::SetSelected(uint32_t number) {
    selected_ = number;
    const int64_t place = PlaceOf(number);
    if (place >= 0 && (place < first_ || place + 1 > first_ + span_))
        SetRange(static_cast<double>(place) + 0.5 - span_ / 2, span_);
    update();
}

void StreamChart::SetSeriesShown(Series series, bool shown) {
    shown_[static_cast<size_t>(series)] = shown;
    update();
}

void StreamChart::ResetZoom() {
    zoomed_ = false;
    SetRange(0, static_cast<double>(pictures_.size()));
    update();
}

// The order of the places, and the figures by place, laid out flat so that a paint walks memory
// in one direction.
void StreamChart::RebuildOrder() {
    const size_t n = pictures_.size();
    order_.resize(n);
    std::iota(order_.begin(), order_.end(), 0u);
    if (displayOrder_) {
        auto key = [this](uint32_t i) {
            return pictures_[i].display != 0 ? pictures_[i].display : pictures_[i].number;
        };
        std::stable_sort(order_.begin(), order_.end(),
                         [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
    }
    placeOf_.resize(n);
    for (uint32_t k = 0; k < n; ++k) placeOf_[order_[k]] = k;

    for (auto* v : {&bits_, &header_, &rate_, &quant_, &before_, &after_}) v->resize(n);
    type_.resize(n);
    flags_.resize(n);
    maxBar_ = maxRate_ = maxQuant_ = maxBuffer_ = 0;
    for (size_t k = 0; k < n; ++k) {
        const PictureStats& s = pictures_[order_[k]];
        bits_[k] = static_cast<float>(s.bits);
        header_[k] = static_cast<float>(s.headerBits);
        rate_[k] = static_cast<float>(s.bitrate);
        quant_[k] = Quantiser(s);
        before_[k] = static_cast<float>(s.bufferBefore);
        after_[k] = static_cast<float>(s.bufferAfter);
        type_[k] = s.type <= 4 ? s.type : 0;
        flags_[k] = (s.overflow ? kOverflow : 0) | (s.underflow ? kUnderflow : 0) |
                    (s.disagrees ? kDisagrees : 0) | (s.gopStart ? kGopStart : 0);
        maxBar_ = std::max(maxBar_, double{bits_[k]} + header_[k]);
        maxRate_ = std::max(maxRate_, double{rate_[k]});
        maxQuant_ = std::max(maxQuant_, double{quant_[k]});
        maxBuffer_ = std::max({maxBuffer_, double{before_[k]}, double{after_[k]}});
    }
}

void StreamChart::SetRange(double first, double span) {
    const double n = static_cast<double>(pictures_.size());
    span = std::clamp(span, std::min(n, kMinSpan), n);
    first_ = std::clamp(first, 0.0, n - span);
    span_ = span;
}

int64_t StreamChart::PlaceOf(uint32_t number) const {
    if (number == 0) return -1;
    // Numbers rise in stream order; a vector that breaks that is searched through.
    auto it =
        std::lower_bound(pictures_.begin(), pictures_.end(), number,
                         [](const PictureStats& s, uint32_t value) { return s.number < value; });
    if (it == pictures_.end() || it->number != number)
        it = std::find_if(pictures_.begin(), pictures_.end(),
                          [number](const PictureStats& s) { return s.number == number; });
    if (it == pictures_.end()) return -1;
    return placeOf_[static_cast<size_t>(it - pictures_.begin())];
}

StreamChart::Geometry StreamChart::ComputeGeometry() const {
    Geometry g;
    const QFontMetrics fm = fontMetrics();
    const int lh = fm.height();
    g.legend = QRect(0, 0, width(), Legend().back().rect.bottom() + 5);
    const int top = g.legend.bottom() + lh + 6;
    g.axisY = std::max(top + 20, height() - (lh + 10));
    int plotBottom = g.axisY;
    int band = 0;
    // A stream without a bit rate (a variable rate) has no buffer model to draw.
    if (SeriesShown(Series::Buffer) && maxBuffer_ > 0) {
        band = std::max(lh * 3, (g.axisY - top) * 3 / 10);
        plotBottom = g.axisY - band - lh - 4;
    }
    const int plotHeight = std::max(10, plotBottom - top);

    // The divisions of the bars' scale set the grid; the right-hand scales share it.
    const int divisions = std::clamp(plotHeight / (2 * lh), 2, 8);
    const double maxBar = std::max(maxBar_, 1.0);
    g.bits.step = NiceStep(maxBar / divisions);
    g.bits.divisions = std::max(1, static_cast<int>(std::ceil(maxBar / g.bits.step - 1e-9)));
    g.rate = {NiceStep(std::max(maxRate_, 1.0) / g.bits.divisions, true), g.bits.divisions};
    g.quant = {NiceStep(std::max(maxQuant_, 1.0) / g.bits.divisions, true), g.bits.divisions};
    const double maxFullness = std::max({maxBuffer_, bufferSize_, 1.0});
    const int bufferDivisions = std::clamp(band / (lh * 3 / 2), 1, 4);
    g.fullness.step = NiceStep(maxFullness / bufferDivisions);
    g.fullness.divisions =
        std::max(1, static_cast<int>(std::ceil(maxFullness / g.fullness.step - 1e-9)));

    auto widest = [&fm](const Scale& s, double unit, const QString& title) {
        int w = fm.horizontalAdvance(title);
        for (int i = 0; i <= s.divisions; ++i)
            w = std::max(w, fm.horizontalAdvance(TickText(s.step * i / unit, s.step / unit)));
        return w;
    };
    int left = widest(g.bits, 1e3, QStringLiteral("kbit"));
    if (band > 0) left = std::max(left, widest(g.fullness, 1e3, QString()));
    const int rateWidth =
        SeriesShown(Series::Bitrate) ? widest(g.rate, 1e6, QStringLiteral("Mbit/s")) + kMargin : 0;
    const int quantWidth =
        SeriesShown(Series::Quantiser) ? widest(g.quant, 1, QStringLiteral("q")) + kMargin : 0;
    const int plotLeft = kMargin + left + 6;
    const int plotRight = std::max(plotLeft + 20, width() - kMargin - rateWidth - quantWidth);
    g.plot = QRect(plotLeft, top, plotRight - plotLeft, plotHeight);
    if (band > 0) g.buffer = QRect(plotLeft, g.axisY - band, g.plot.width(), band);
    g.rateAxisX = plotRight + 6;
    g.quantAxisX = g.rateAxisX + rateWidth;
    g.pixelsPerPicture = span_ > 0 ? g.plot.width() / span_ : 1;
    g.columns = g.pixelsPerPicture < 1;
    g.smooth = g.pixelsPerPicture >= 3;
    return g;
}

int StreamChart::Column(const Geometry& g, double place) const {
    return static_cast<int>(std::floor((place + 0.5 - first_) * g.pixelsPerPicture));
}

// The tallest picture of a pixel column, the first of equals: the one its column draws.
int64_t StreamChart::TallestIn(const Geometry& g, int column) const {
    const int64_t n = static_cast<int64_t>(pictures_.size());
    int64_t place = static_cast<int64_t>(std::ceil(first_ + column / g.pixelsPerPicture - 0.5));
    place = std::clamp<int64_t>(place - 1, 0, n);
    while (place < n && Column(g, static_cast<double>(place)) < column) ++place;
    int64_t tallest = -1;
    float height = -1;
    for (; place < n && Column(g, static_cast<double>(place)) == column; ++place) {
        const float h = bits_[place] + header_[place];
        if (h > height) {
            height = h;
            tallest = place;
        }
    }
    return tallest;
}

int64_t StreamChart::PlaceAt(const Geometry& g, QPoint point) const {
    const int column = point.x() - g.plot.left();
    if (pictures_.empty() || column < 0 || column >= g.plot.width() || point.y() < g.plot.top() ||
        point.y() > g.axisY + 6)
        return -1;
    if (g.columns) return TallestIn(g, column);
    const int64_t place =
        static_cast<int64_t>(std::floor(first_ + (column + 0.5) / g.pixelsPerPicture));
    return place >= 0 && place < static_cast<int64_t>(pictures_.size()) ? place : -1;
}

QPoint StreamChart::BarPoint(uint32_t number) const {
    const int64_t place = PlaceOf(number);
    if (place < 0 || place < first_ || place + 1 > first_ + span_) return {};
    const Geometry g = ComputeGeometry();
    const int column = Column(g, static_cast<double>(place));
    if (column < 0 || column >= g.plot.width()) return {};
    if (g.columns && TallestIn(g, column) != place) return {};
    const double h = (bits_[place] + header_[place]) / g.bits.Top() * g.plot.height();
    const int y = g.plot.bottom() - static_cast<int>(std::clamp(h / 2, 0.0, g.plot.height() - 1.0));
    return {g.plot.left() + column, y};
}

// The slots of the range: a picture each while pictures are a pixel wide or more, else a pixel
// column each with the tallest of its pictures, the tallest of each type, and the lines' means
// and extremes over all of them.
std::vector<StreamChart::Slot> StreamChart::Slots(const Geometry& g) const {
    std::vector<Slot> slots;
    const int64_t n = static_cast<int64_t>(pictures_.size());
    const int64_t begin = std::clamp<int64_t>(static_cast<int64_t>(std::floor(first_)), 0, n);
    const int64_t end = std::clamp<int64_t>(static_cast<int64_t>(std::ceil(first_ + span_)), 0, n);
    auto start = [this](Slot& s, int64_t k) {
        s.place = static_cast<uint32_t>(k);
        s.bits = bits_[k];
        s.header = header_[k];
        s.type = type_[k];
        s.flags = flags_[k];
        s.rateLow = s.rateHigh = s.rateMean = rate_[k];
        s.quantLow = s.quantHigh = s.quantMean = quant_[k];
        s.bufferHigh = before_[k];
        s.bufferLow = after_[k];
        s.typeTop[s.type] = bits_[k] + header_[k];
    };
    if (!g.columns) {
        slots.resize(static_cast<size_t>(end - begin));
        for (int64_t k = begin; k < end; ++k) {
            Slot& s = slots[static_cast<size_t>(k - begin)];
            start(s, k);
            s.x0 = static_cast<float>(g.plot.left() + (k - first_) * g.pixelsPerPicture);
            s.x1 = static_cast<float>(s.x0 + g.pixelsPerPicture);
        }
        return slots;
    }
    slots.reserve(static_cast<size_t>(g.plot.width()));
    int current = -1;
    for (int64_t k = begin; k < end; ++k) {
        const int column = Column(g, static_cast<double>(k));
        if (column < 0 || column >= g.plot.width()) continue;
        if (column != current) {
            current = column;
            slots.emplace_back();
            Slot& s = slots.back();
            start(s, k);
            s.x0 = static_cast<float>(g.plot.left() + column);
            s.x1 = s.x0 + 1;
            continue;
        }
        Slot& s = slots.back();
        if (bits_[k] + header_[k] > s.bits + s.header) {
            s.place = static_cast<uint32_t>(k);
            s.bits = bits_[k];
            s.header = header_[k];
            s.type = type_[k];
        }
        s.typeTop[type_[k]] = std::max(s.typeTop[type_[k]], bits_[k] + header_[k]);
        s.flags |= flags_[k];
        s.rateMean += rate_[k];
        s.quantMean += quant_[k];
        ++s.count;
        s.rateLow = std::min(s.rateLow, rate_[k]);
        s.rateHigh = std::max(s.rateHigh, rate_[k]);
        s.quantLow = std::min(s.quantLow, quant_[k]);
        s.quantHigh = std::max(s.quantHigh, quant_[k]);
        s.bufferHigh = std::max(s.bufferHigh, before_[k]);
        s.bufferLow = std::min(s.bufferLow, after_[k]);
    }
    for (Slot& s : slots) {
        s.rateMean /= static_cast<float>(s.count);
        s.quantMean /= static_cast<float>(s.count);
    }
    return slots;
}

void StreamChart::paintEvent(QPaintEvent*) {
    const auto started = std::chrono::steady_clock::now();
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    if (pictures_.empty()) {
        p.setPen(palette().color(QPalette::Text));
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("No pictures yet"));
        drewColumns_ = false;
    } else {
        const Geometry g = ComputeGeometry();
        const std::vector<Slot> slots = Slots(g);
        drewColumns_ = g.columns;
        DrawAxes(p, g);
        p.save();
        p.setClipRect(g.plot.adjusted(0, -6, 0, 0));
        DrawSelection(p, g, slots);
        if (g.columns) DrawSpreads(p, g, slots);
        if (SeriesShown(Series::Bars)) DrawBars(p, g, slots);
        DrawLines(p, g, slots);
        p.restore();
        if (!g.buffer.isEmpty()) DrawBuffer(p, g, slots);
        DrawXAxis(p, g, slots);
        DrawLegend(p);
    }
    lastPaintMs_ =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
}

// The grid of the bars' scale and the labels of every scale shown, each in its line's colour.
void StreamChart::DrawAxes(QPainter& p, const Geometry& g) const {
    const QFontMetrics fm = fontMetrics();
    const QColor text = palette().color(QPalette::Text);
    const QColor grid = GridColour();
    const int half = fm.ascent() / 2 - 1;
    auto labels = [&](const Scale& s, const QRect& r, double unit, int x, bool right,
                      const QColor& colour) {
        p.setPen(colour);
        for (int i = 0; i <= s.divisions; ++i) {
            const int y = static_cast<int>(std::lround(YOf(s.step * i, s.Top(), r)));
            const QString label = TickText(s.step * i / unit, s.step / unit);
            const int lx = right ? x : x - fm.horizontalAdvance(label);
            p.drawText(lx, y + half, label);
        }
    };
    auto gridLines = [&](const Scale& s, const QRect& r) {
        p.setPen(grid);
        for (int i = 0; i <= s.divisions; ++i) {
            const int y = static_cast<int>(std::lround(YOf(s.step * i, s.Top(), r)));
            p.drawLine(r.left(), y, r.right(), y);
        }
    };
    gridLines(g.bits, g.plot);
    const int labelRight = g.plot.left() - 6;
    labels(g.bits, g.plot, 1e3, labelRight, false, text);
    const int titleY = g.plot.top() - fm.descent() - 6;
    p.setPen(text);
    p.drawText(labelRight - fm.horizontalAdvance(QStringLiteral("kbit")), titleY,
               QStringLiteral("kbit"));
    if (SeriesShown(Series::Bitrate)) {
        labels(g.rate, g.plot, 1e6, g.rateAxisX, true, kRateColour.darker(130));
        p.drawText(g.rateAxisX, titleY, QStringLiteral("Mbit/s"));
    }
    if (SeriesShown(Series::Quantiser)) {
        labels(g.quant, g.plot, 1, g.quantAxisX, true, kQuantColour);
        p.drawText(g.quantAxisX, titleY, QStringLiteral("q"));
    }
    if (g.buffer.isEmpty()) return;
    p.fillRect(g.buffer, Lighter(palette().color(QPalette::AlternateBase), 0.3));
    labels(g.fullness, g.buffer, 1e3, labelRight, false, text);
    p.setPen(kBufferColour);
    p.drawText(g.buffer.left(), g.buffer.top() - fm.descent() - 3,
               QStringLiteral("Decoder buffer (kbit)"));
}

void StreamChart::DrawSelection(QPainter& p, const Geometry& g,
                                const std::vector<Slot>& slots) const {
    const int64_t place = PlaceOf(selected_);
    if (place < 0 || slots.empty()) return;
    float x0 = 0, x1 = 0;
    if (g.columns) {
        x0 = static_cast<float>(g.plot.left() + Column(g, static_cast<double>(place)));
        x1 = x0 + 1;
    } else {
        if (place < slots.front().place || place > slots.back().place) return;
        const Slot& s = slots[place - slots.front().place];
        x0 = s.x0;
        x1 = s.x1;
    }
    // A band at least a few pixels wide behind the bar, and a marker over the plot.
    const float mid = (x0 + x1) / 2;
    const float half = std::max(2.0f, (x1 - x0) / 2 + 1);
    QColor band = palette().color(QPalette::Highlight);
    band.setAlpha(60);
    const int bottom = g.buffer.isEmpty() ? g.plot.bottom() : g.buffer.bottom();
    p.save();
    p.setClipping(false);
    p.fillRect(QRectF(mid - half, g.plot.top(), 2 * half, bottom - g.plot.top() + 1), band);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Highlight));
    const QPointF marker[3] = {
        {mid - 5, g.plot.top() - 7.0}, {mid + 5, g.plot.top() - 7.0}, {mid, g.plot.top() - 1.0}};
    p.drawPolygon(marker, 3);
    p.restore();
}

// Bars gathered by colour, so that a paint fills ten lists of rectangles whatever the count.
void StreamChart::DrawBars(QPainter& p, const Geometry& g, const std::vector<Slot>& slots) const {
    std::vector<QRectF> rects[5][2];  // by type: the picture's bits, the headers before it
    const double scale = g.plot.height() / g.bits.Top();
    const double base = g.plot.bottom() + 1;
    if (g.columns) {
        ColumnBars(g, slots, rects);
    } else {
        const double gap = g.pixelsPerPicture >= 6 ? std::max(1.0, g.pixelsPerPicture * 0.15) : 0;
        for (const Slot& s : slots) {
            const double width = s.x1 - s.x0 - gap;
            double bits = s.bits * scale;
            if (s.bits > 0) bits = std::max(bits, 1.0);
            const double header = s.header * scale;
            rects[s.type][0].emplace_back(s.x0 + gap / 2, base - bits, width, bits);
            if (header > 0)
                rects[s.type][1].emplace_back(s.x0 + gap / 2, base - bits - header, width, header);
        }
    }
    p.setPen(Qt::NoPen);
    for (int t = 0; t < 5; ++t) {
        for (int part = 0; part < 2; ++part) {
            if (rects[t][part].empty()) continue;
            p.setBrush(part == 0 ? kTypeColour[t] : Lighter(kTypeColour[t], 0.55));
            p.drawRects(rects[t][part].data(), static_cast<int>(rects[t][part].size()));
        }
    }
}

// A pixel column shows each type of its pictures up to that type's tallest, the shorter in
// front: a segment per type from the next shorter type's top to its own, so that no two overlap
// and the lists can be filled in any order. Whole pixels.
void StreamChart::ColumnBars(const Geometry& g, const std::vector<Slot>& slots,
                             std::vector<QRectF> (&rects)[5][2]) const {
    const double scale = g.plot.height() / g.bits.Top();
    const int base = g.plot.bottom() + 1;
    auto y = [&](double v) { return static_cast<int>(std::lround(base - v * scale)); };
    for (const Slot& s : slots) {
        // Tallest first; the drawn picture's type leads its equals, as the click takes it.
        std::pair<float, uint8_t> tops[5];
        int m = 0;
        tops[m++] = {s.bits + s.header, s.type};
        for (uint8_t t = 0; t < 5; ++t)
            if (t != s.type && s.typeTop[t] > 0) tops[m++] = {s.typeTop[t], t};
        for (int i = 1; i < m; ++i)
            for (int j = i; j > 0 && tops[j].first > tops[j - 1].first; --j)
                std::swap(tops[j], tops[j - 1]);
        for (int i = 0; i < m; ++i) {
            const int top = std::min(y(tops[i].first), i == 0 && s.bits > 0 ? base - 1 : base);
            const int bottom = i + 1 < m ? y(tops[i + 1].first) : base;
            if (top >= bottom) continue;
            const uint8_t t = tops[i].second;
            if (i > 0 || s.header <= 0) {
                rects[t][0].emplace_back(s.x0, top, 1, bottom - top);
                continue;
            }
            // The tallest picture's headers on top of its bits.
            const int split = std::clamp(y(s.bits), top, bottom);
            if (split > top) rects[t][1].emplace_back(s.x0, top, 1, split - top);
            if (bottom > split) rects[t][0].emplace_back(s.x0, split, 1, bottom - split);
        }
    }
}

// Under pixel columns, the range of each line over a column's pictures as a faint band behind
// the bars.
void StreamChart::DrawSpreads(QPainter& p, const Geometry& g,
                              const std::vector<Slot>& slots) const {
    auto spread = [&](float Slot::*low, float Slot::*high, const Scale& s, QColor colour) {
        // Whole pixels: a rectangle on pixel edges is filled without the rasterizer.
        std::vector<QRect> rects;
        rects.reserve(slots.size());
        for (const Slot& slot : slots) {
            const int top = static_cast<int>(std::lround(YOf(slot.*high, s.Top(), g.plot)));
            const int bottom = static_cast<int>(std::lround(YOf(slot.*low, s.Top(), g.plot)));
            rects.emplace_back(static_cast<int>(slot.x0), top, 1, std::max(1, bottom - top));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(Lighter(colour, 0.8));  // opaque, as blending costs too much here
        p.drawRects(rects.data(), static_cast<int>(rects.size()));
    };
    if (SeriesShown(Series::Quantiser))
        spread(&Slot::quantLow, &Slot::quantHigh, g.quant, kQuantColour);
    if (SeriesShown(Series::Bitrate)) spread(&Slot::rateLow, &Slot::rateHigh, g.rate, kRateColour);
}

// The bit rate and the quantiser through each slot's middle, through the mean of a column's
// pictures under pixel columns.
void StreamChart::DrawLines(QPainter& p, const Geometry& g, const std::vector<Slot>& slots) const {
    p.setRenderHint(QPainter::Antialiasing, g.smooth);
    p.setBrush(Qt::NoBrush);
    auto line = [&](float Slot::*value, const Scale& s, const QColor& colour, int width) {
        QPolygonF points(static_cast<int>(slots.size()));
        for (size_t i = 0; i < slots.size(); ++i)
            points[static_cast<int>(i)] = {(slots[i].x0 + slots[i].x1) / 2.0,
                                           YOf(slots[i].*value, s.Top(), g.plot)};
        if (g.smooth) {
            p.setPen(QPen(colour, width));
            p.drawPolyline(points);
            return;
        }
        // A wide pen is stroked as a path, slow over thousands of points: a one-pixel line
        // drawn again a pixel lower looks the same.
        p.setPen(QPen(colour, 0));
        p.drawPolyline(points);
        if (width > 1) {
            points.translate(0, 1);
            p.drawPolyline(points);
        }
    };
    if (SeriesShown(Series::Bitrate))
        line(g.columns ? &Slot::rateMean : &Slot::rateLow, g.rate, kRateColour, 2);
    if (SeriesShown(Series::Quantiser))
        line(g.columns ? &Slot::quantMean : &Slot::quantLow, g.quant, kQuantColour, 1);
    p.setRenderHint(QPainter::Antialiasing, false);
}

// The fullness as a saw-tooth (filling between pictures, a drop as each is taken out) over a
// tinted area, and the buffer's size dashed.
void StreamChart::DrawBuffer(QPainter& p, const Geometry& g, const std::vector<Slot>& slots) const {
    const QRect& r = g.buffer;
    const double top = g.fullness.Top();
    p.save();
    p.setClipRect(r.adjusted(-4, -4, 4, 4));
    QPolygonF saw;
    saw.reserve(static_cast<int>(slots.size() * 2 + 2));
    for (const Slot& s : slots) {
        const double x = (s.x0 + s.x1) / 2;
        saw.append({x, YOf(s.bufferHigh, top, r)});
        saw.append({x, YOf(s.bufferLow, top, r)});
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kBufferFill);
    if (g.columns) {
        // A polygon of thousands of points is slow to fill; a column is one rectangle.
        std::vector<QRectF> area;
        area.reserve(slots.size());
        for (int i = 0; i < saw.size(); i += 2)
            area.emplace_back(saw[i].x() - 0.5, saw[i].y(), 1, r.bottom() + 1 - saw[i].y());
        p.drawRects(area.data(), static_cast<int>(area.size()));
    } else if (!saw.isEmpty()) {
        QPolygonF area = saw;
        area.append({saw.back().x(), r.bottom() + 1.0});
        area.append({saw.front().x(), r.bottom() + 1.0});
        p.drawPolygon(area);
    }
    // The grid over the fill, which is opaque: blending thousands of columns costs too much.
    p.setPen(GridColour());
    for (int i = 0; i <= g.fullness.divisions; ++i) {
        const int y = static_cast<int>(std::lround(YOf(g.fullness.step * i, top, r)));
        p.drawLine(r.left(), y, r.right(), y);
    }
    p.setRenderHint(QPainter::Antialiasing, g.smooth);
    p.setPen(QPen(kBufferColour, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(saw);
    p.setRenderHint(QPainter::Antialiasing, false);
    if (bufferSize_ > 0) {
        const double y = YOf(bufferSize_, top, r);
        p.setPen(QPen(palette().color(QPalette::Text), 1, Qt::DashLine));
        p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
    }
    DrawBufferMarks(p, g, slots);
    p.restore();
}

// Pictures that overflow the buffer (a triangle down onto its size), underflow it (a triangle
// up from the bottom) or whose vbv_delay disagrees with the model (a dot at the top of the
// tooth); a mark every few pixels at most.
void StreamChart::DrawBufferMarks(QPainter& p, const Geometry& g,
                                  const std::vector<Slot>& slots) const {
    const QRect& r = g.buffer;
    const double top = g.fullness.Top();
    const double sizeY = YOf(bufferSize_ > 0 ? bufferSize_ : top, top, r);
    const double bottom = r.bottom() + 1.0;
    QPainterPath warnings, disagreements;
    double lastWarning = -10, lastDisagreement = -10;
    for (const Slot& s : slots) {
        const double x = (s.x0 + s.x1) / 2;
        if ((s.flags & (kOverflow | kUnderflow)) && x - lastWarning >= 4) {
            lastWarning = x;
            if (s.flags & kOverflow)
                warnings.addPolygon(
                    QPolygonF({{x - 4, sizeY - 7}, {x + 4, sizeY - 7}, {x, sizeY}}));
            if (s.flags & kUnderflow)
                warnings.addPolygon(QPolygonF({{x - 4, bottom}, {x + 4, bottom}, {x, bottom - 7}}));
        }
        if ((s.flags & kDisagrees) && x - lastDisagreement >= 4) {
            lastDisagreement = x;
            disagreements.addEllipse(QPointF(x, YOf(s.bufferHigh, top, r)), 2.5, 2.5);
        }
    }
    p.setRenderHint(QPainter::Antialiasing, g.smooth);
    p.setPen(Qt::NoPen);
    p.fillPath(warnings, kWarning);
    p.fillPath(disagreements, kDisagreeColour);
}

// Picture numbers (from 1, in the order shown) under the axis, and a tick at each GOP's first
// picture while they stand a few pixels apart.
void StreamChart::DrawXAxis(QPainter& p, const Geometry& g, const std::vector<Slot>& slots) const {
    const QFontMetrics fm = fontMetrics();
    const QColor text = palette().color(QPalette::Text);
    const int y = g.axisY;
    p.setPen(text);
    p.drawLine(g.plot.left(), y, g.plot.right(), y);
    int gops = 0;
    for (const Slot& s : slots) gops += (s.flags & kGopStart) ? 1 : 0;
    if (gops * 3 <= g.plot.width()) {
        std::vector<QLineF> ticks;
        for (const Slot& s : slots)
            if (s.flags & kGopStart) ticks.emplace_back(s.x0, y + 1, s.x0, y + 6);
        p.setPen(QPen(text, 1));
        p.drawLines(ticks.data(), static_cast<int>(ticks.size()));
    }
    const int labelWidth = fm.horizontalAdvance(QString::number(pictures_.size())) + 16;
    const double step = std::max(1.0, NiceStep(span_ * labelWidth / std::max(1, g.plot.width())));
    const double lastPlace = first_ + span_;
    p.setPen(Lighter(text, 0.3));
    for (double number = std::ceil((first_ + 1) / step) * step; number <= lastPlace;
         number += step) {
        const double x = g.plot.left() + (number - 0.5 - first_) * g.pixelsPerPicture;
        const QString label = QString::number(static_cast<int64_t>(number));
        const int w = fm.horizontalAdvance(label);
        if (x - w / 2.0 < g.plot.left() - 8 || x + w / 2.0 > g.plot.right() + 8) continue;
        p.drawLine(QPointF(x, y + 7), QPointF(x, y + 9));
        p.drawText(QPointF(x - w / 2.0, y + 9 + fm.ascent()), label);
    }
}

std::vector<StreamChart::LegendEntry> StreamChart::Legend() const {
    const QFontMetrics fm = fontMetrics();
    std::vector<LegendEntry> entries;
    int x = kMargin;
    int y = 2;
    const int h = fm.height() + 4;
    // Entries go on as many rows as the width needs.
    auto add = [&](int toggle, const QString& text, const QColor& colour, int sample) {
        const int w = sample + fm.horizontalAdvance(text) + 4;
        if (x > kMargin && x + w > width() - kMargin) {
            x = kMargin;
            y += h;
        }
        entries.push_back({QRect(x, y, w, h), toggle, text, colour});
        x += w + 12;
    };
    for (int t = 1; t <= 4; ++t) add(-1, QString::fromLatin1(kTypeLetter[t]), kTypeColour[t], 14);
    add(-1, QStringLiteral("headers"), Lighter(kTypeColour[0], 0.55), 14);
    x += 12;
    add(static_cast<int>(Series::Bars), QStringLiteral("Bars"), kTypeColour[0], 16);
    add(static_cast<int>(Series::Bitrate), QStringLiteral("Bit rate"), kRateColour, 34);
    add(static_cast<int>(Series::Quantiser), QStringLiteral("Quantiser"), kQuantColour, 34);
    add(static_cast<int>(Series::Buffer), QStringLiteral("Buffer"), kBufferColour, 34);
    add(kOrderToggle, QStringLiteral("Display order"), palette().color(QPalette::Text), 16);
    return entries;
}

QColor StreamChart::GridColour() const {
    return Lighter(palette().color(QPalette::Mid), 0.6);
}

bool StreamChart::Toggled(int toggle) const {
    return toggle == kOrderToggle ? displayOrder_ : SeriesShown(static_cast<Series>(toggle));
}

void StreamChart::Toggle(int toggle) {
    if (toggle == kOrderToggle)
        SetDisplayOrder(!displayOrder_);
    else if (toggle >= 0)
        SetSeriesShown(static_cast<Series>(toggle), !Toggled(toggle));
}

// Type swatches, then the entries that show and hide a series: a check box, a sample of the
// line and its name, greyed while hidden.
void StreamChart::DrawLegend(QPainter& p) const {
    const QFontMetrics fm = fontMetrics();
    const QColor text = palette().color(QPalette::Text);
    const QColor muted = Lighter(text, 0.55);
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const LegendEntry& e : Legend()) {
        const int mid = e.rect.center().y();
        const QRect box(e.rect.left(), mid - 5, 10, 10);
        int textX = e.rect.left() + 14;
        bool on = true;
        if (e.toggle < 0) {
            p.fillRect(box, e.colour);
        } else {
            on = Toggled(e.toggle);
            p.setPen(on ? text : muted);
            p.setBrush(palette().color(QPalette::Base));
            p.drawRect(box.adjusted(0, 0, -1, -1));
            if (on) {
                p.setRenderHint(QPainter::Antialiasing, true);
                p.setPen(QPen(text, 1.6));
                const QPointF tick[3] = {{box.left() + 2.0, mid + 0.0},
                                         {box.left() + 4.5, mid + 3.0},
                                         {box.left() + 8.5, mid - 3.5}};
                p.drawPolyline(tick, 3);
                p.setRenderHint(QPainter::Antialiasing, false);
            }
            if (e.toggle != kOrderToggle && e.toggle != static_cast<int>(Series::Bars)) {
                p.setPen(QPen(on ? e.colour : muted, 2));
                p.drawLine(e.rect.left() + 15, mid, e.rect.left() + 29, mid);
                textX = e.rect.left() + 34;
            } else {
                textX = e.rect.left() + 16;
            }
        }
        p.setPen(on ? text : muted);
        p.drawText(textX, mid + fm.ascent() / 2 - 1, e.text);
    }
}

QString StreamChart::PictureText(const PictureStats& s) const {
    QStringList lines;
    QString head = QStringLiteral("Picture %1").arg(s.number);
    if (s.display != 0) head += QStringLiteral(" (display %1)").arg(s.display);
    lines << head + QStringLiteral(", ") + QLatin1String(kTypeLetter[s.type <= 4 ? s.type : 0]);
    lines << QStringLiteral("bits %1, header bits %2")
                 .arg(Thousands(s.bits), Thousands(s.headerBits));
    lines << QStringLiteral("temporal_reference %1").arg(s.temporalReference);
    if (s.pts >= 0) lines << QStringLiteral("PTS %1").arg(TimeText(s.pts));
    lines << QStringLiteral("vbv_delay %1").arg(s.vbvDelay);
    lines << QStringLiteral("buffer %1 -> %2 bits")
                 .arg(Thousands(static_cast<uint64_t>(std::max(0.0, s.bufferBefore))),
                      Thousands(static_cast<uint64_t>(std::max(0.0, s.bufferAfter))));
    QStringList marks;
    if (s.overflow) marks << QStringLiteral("overflow");
    if (s.underflow) marks << QStringLiteral("underflow");
    if (s.disagrees) marks << QStringLiteral("vbv_delay disagrees with the buffer model");
    if (!marks.isEmpty()) lines << marks.join(QStringLiteral(", "));
    lines << QStringLiteral("bit rate %1 Mbit/s").arg(s.bitrate / 1e6, 0, 'f', 3);
    lines << QStringLiteral("quantiser %1").arg(Quantiser(s), 0, 'f', 2);
    if (s.macroblocksParsed)
        lines << QStringLiteral(
                     "macroblocks: intra %1, skipped %2, forward %3, backward %4, "
                     "interpolated %5")
                     .arg(s.intra)
                     .arg(s.skipped)
                     .arg(s.forward)
                     .arg(s.backward)
                     .arg(s.interpolated);
    return lines.join(QLatin1Char('\n'));
}

void StreamChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    if (ToggleAt(at)) return;
    pressed_ = true;
    dragging_ = false;
    pressPoint_ = at;
    pressFirst_ = first_;
}

void StreamChart::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_ || !(event->buttons() & Qt::LeftButton)) return;
    const QPoint at = event->position().toPoint();
    if (!dragging_ && (at - pressPoint_).manhattanLength() < QApplication::startDragDistance())
        return;
    if (!dragging_) setCursor(Qt::ClosedHandCursor);
    dragging_ = true;
    const Geometry g = ComputeGeometry();
    SetRange(pressFirst_ - (at.x() - pressPoint_.x()) / g.pixelsPerPicture, span_);
    update();
}

// A press and release without a drag is a click on the picture under the pointer.
void StreamChart::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    pressed_ = false;
    if (dragging_) {
        dragging_ = false;
        unsetCursor();
        return;
    }
    const int64_t place = PlaceAt(ComputeGeometry(), event->position().toPoint());
    if (place < 0) return;
    selected_ = pictures_[order_[place]].number;
    update();
    Q_EMIT PictureClicked(selected_);
}

// On the legend, the second click of a double click toggles again.
void StreamChart::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || ToggleAt(event->position().toPoint())) return;
    if (event->position().y() > ComputeGeometry().legend.bottom()) ResetZoom();
}

bool StreamChart::ToggleAt(QPoint point) {
    for (const LegendEntry& e : Legend()) {
        if (e.toggle >= 0 && e.rect.contains(point)) {
            Toggle(e.toggle);
            return true;
        }
    }
    return false;
}

// The place under the pointer stays under it while the range narrows or widens.
void StreamChart::wheelEvent(QWheelEvent* event) {
    const int delta =
        event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
    if (pictures_.empty() || delta == 0) {
        event->ignore();
        return;
    }
    const Geometry g = ComputeGeometry();
    const double offset =
        std::clamp(event->position().x() - g.plot.left(), 0.0, double(g.plot.width()));
    const double place = first_ + offset / g.pixelsPerPicture;
    const double count = static_cast<double>(pictures_.size());
    const double span = std::clamp(span_ * std::pow(kZoomPerNotch, delta / 120.0),
                                   std::min(count, kMinSpan), count);
    SetRange(place - offset * span / g.plot.width(), span);
    zoomed_ = span_ < count;
    update();
    event->accept();
}

void StreamChart::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    for (const LegendEntry& e : Legend()) {
        if (e.toggle < 0) continue;
        QAction* action = menu.addAction(e.text);
        action->setCheckable(true);
        action->setChecked(Toggled(e.toggle));
        const int toggle = e.toggle;
        connect(action, &QAction::triggered, this, [this, toggle] { Toggle(toggle); });
    }
    menu.addSeparator();
    QAction* whole = menu.addAction(QStringLiteral("Show Whole Stream"));
    whole->setEnabled(zoomed_);
    connect(whole, &QAction::triggered, this, &StreamChart::ResetZoom);
    menu.exec(event->globalPos());
}

bool StreamChart::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const int64_t place = PlaceAt(ComputeGeometry(), help->pos());
    if (place >= 0)
        QToolTip::showText(help->globalPos(), PictureText(pictures_[order_[place]]), this);
    else
        QToolTip::hideText();
    return true;
}

}  // namespace bitloupe
