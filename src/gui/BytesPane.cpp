#include "gui/BytesPane.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

namespace bitloupe {

namespace row_scroll {

int BarMax(uint64_t maxTopRow) {
    return maxTopRow <= INT_MAX ? static_cast<int>(maxTopRow) : kScaledMax;
}

uint64_t RowOf(int value, uint64_t maxTopRow) {
    if (value <= 0) return 0;
    if (maxTopRow <= INT_MAX) return std::min<uint64_t>(static_cast<uint64_t>(value), maxTopRow);
    if (value >= kScaledMax) return maxTopRow;
    return static_cast<uint64_t>(static_cast<unsigned __int128>(value) * maxTopRow / kScaledMax);
}

int ValueOf(uint64_t row, uint64_t maxTopRow) {
    row = std::min(row, maxTopRow);
    if (maxTopRow <= INT_MAX) return static_cast<int>(row);
    // Rounded up, so that the bar's position read back is never above the row.
    const unsigned __int128 scaled = static_cast<unsigned __int128>(row) * kScaledMax;
    return static_cast<int>((scaled + maxTopRow - 1) / maxTopRow);
}

}  // namespace row_scroll

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// The copy of the selected bytes stops at about 1 MB of text.
constexpr uint64_t kMaxCopyBytes = (1u << 20) / 3;

// Sorted, with overlapping and touching ranges joined and empty ones dropped.
std::vector<BitRange> Merged(const std::vector<BitRange>& ranges) {
    std::vector<BitRange> out;
    for (const BitRange& r : ranges)
        if (r.endBit > r.startBit) out.push_back(r);
    std::sort(out.begin(), out.end(),
              [](const BitRange& a, const BitRange& b) { return a.startBit < b.startBit; });
    size_t n = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        if (n > 0 && out[i].startBit <= out[n - 1].endBit)
            out[n - 1].endBit = std::max(out[n - 1].endBit, out[i].endBit);
        else
            out[n++] = out[i];
    }
    out.resize(n);
    return out;
}

// Whether any bit of [lo, hi) lies in the merged ranges.
bool Touches(const std::vector<BitRange>& merged, uint64_t lo, uint64_t hi) {
    auto it = std::partition_point(merged.begin(), merged.end(),
                                   [lo](const BitRange& r) { return r.endBit <= lo; });
    return it != merged.end() && it->startBit < hi;
}

QString Hex(uint64_t value, int digits = 0) {
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QColor Mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

// The find and copy selection: a warm colour none of the highlight styles uses.
const QColor kSelection(255, 204, 92);

}  // namespace

BytesPane::BytesPane(QWidget* parent) : QAbstractScrollArea(parent) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setKerning(false);
    setFont(font);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(1);
    UpdateMetrics();
    UpdateScrollBars();
}

bool BytesPane::OpenFile(const QString& path) {
    CloseFile();
    path_ = path;
    std::string error;
    if (!pages_.Open(QFile::encodeName(path).toStdString(), error)) {
        message_ = QStringLiteral("Cannot open %1: %2").arg(path, QString::fromLocal8Bit(error));
        viewport()->update();
        return false;
    }
    UpdateScrollBars();
    viewport()->update();
    return true;
}

void BytesPane::CloseFile() {
    pages_.Close();
    path_.clear();
    message_.clear();
    header_.clear();
    strong_.clear();
    between_.clear();
    strongMerged_.clear();
    betweenMerged_.clear();
    faint_ = {0, 0};
    cursor_ = anchor_ = 0;
    selection_ = {};
    selectionNewer_ = false;
    topRow_ = 0;
    UpdateStrip();
    UpdateScrollBars();
    viewport()->update();
}

void BytesPane::SetHighlight(const std::vector<BitRange>& strong,
                             const std::vector<BitRange>& between, BitRange faint) {
    strong_ = strong;
    between_ = between;
    strongMerged_ = Merged(strong);
    betweenMerged_ = Merged(between);
    faint_ = faint;
    selectionNewer_ = false;
    UpdateStrip();
    UpdateScrollBars();
    // The first piece comes into view a couple of rows below the top, unless it shows already.
    const BitRange* lead = !strong.empty() ? &strong.front() : &faint_;
    const uint64_t row = lead->startBit / 8 / 16;
    if (lead->endBit > lead->startBit && lead->startBit / 8 < FileSize() &&
        (row < topRow_ || row >= topRow_ + VisibleRows()))
        SetTopRow(row - std::min<uint64_t>(row, std::min(2, VisibleRows() / 4)));
    viewport()->update();
}

void BytesPane::ClearHighlight() {
    SetHighlight({}, {}, {0, 0});
}

void BytesPane::SetHeaderText(const QString& text) {
    header_ = text;
    viewport()->update();
}

QString BytesPane::HeaderText() const {
    if (!header_.isEmpty()) return header_;
    if (!pages_.IsOpen()) return path_.isEmpty() ? QStringLiteral("No file") : path_;
    return QStringLiteral("%1, %2 bytes (0x%3)")
        .arg(QFileInfo(path_).fileName())
        .arg(FileSize())
        .arg(Hex(FileSize()));
}

void BytesPane::ScrollToOffset(uint64_t offset) {
    SetTopRow(offset / 16);
}

QString BytesPane::HighlightReport() const {
    QStringList pieces;
    for (const BitRange& r : strong_)
        pieces << QStringLiteral("0x%1.%2-0x%3.%4")
                      .arg(Hex(r.startBit / 8))
                      .arg(r.startBit % 8)
                      .arg(Hex(r.endBit / 8))
                      .arg(r.endBit % 8);
    return pieces.join(QStringLiteral(", "));
}

bool BytesPane::FindPattern(const QString& hexPattern, bool forward) {
    const auto pattern = ParseBytePattern(hexPattern.toStdString());
    return pattern && FindFromCursor(*pattern, forward);
}

bool BytesPane::NextStartCode(bool forward) {
    return FindFromCursor({0x00, 0x00, 0x01, -1}, forward);
}

// Forward from the cursor itself, or from the byte after it when the cursor stands on the last
// match; backward from the byte before the cursor.
bool BytesPane::FindFromCursor(const BytePattern& pattern, bool forward) {
    if (!pages_.IsOpen()) return false;
    uint64_t from = cursor_;
    if (forward && selection_.end > selection_.start && selection_.start == cursor_) ++from;
    if (!forward) {
        if (cursor_ == 0) return false;
        from = cursor_ - 1;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto found = FindBytes(pages_, pattern, from, forward);
    QGuiApplication::restoreOverrideCursor();
    return found && Select(*found, pattern.size());
}

bool BytesPane::Select(uint64_t start, uint64_t length) {
    selection_ = {start, start + length};
    selectionNewer_ = true;
    cursor_ = anchor_ = start;
    EnsureVisible(start);
    viewport()->update();
    return true;
}

QString BytesPane::SelectedBytesAsHex() const {
    std::vector<std::pair<uint64_t, uint64_t>> spans;  // byte ranges, end exclusive
    const bool useSelection =
        selection_.end > selection_.start && (selectionNewer_ || strong_.empty());
    if (useSelection) {
        spans.emplace_back(selection_.start, selection_.end);
    } else {
        for (const BitRange& r : strong_)
            if (r.endBit > r.startBit) spans.emplace_back(r.startBit / 8, (r.endBit + 7) / 8);
    }
    std::string text;
    uint64_t budget = kMaxCopyBytes;
    uint8_t chunk[4096];
    for (const auto& [start, end] : spans) {
        for (uint64_t at = start; at < end && budget > 0;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>({end - at, budget, 4096}));
            const size_t got = pages_.Read(at, chunk, want);
            if (got == 0) break;
            for (size_t i = 0; i < got; ++i) {
                text += kHexDigits[chunk[i] >> 4];
                text += kHexDigits[chunk[i] & 15];
                text += ' ';
            }
            at += got;
            budget -= got;
        }
    }
    if (!text.empty()) text.pop_back();
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

int BytesPane::VisibleRows() const {
    return std::max(1, (viewport()->height() - RowsTop()) / lineHeight_);
}

uint64_t BytesPane::MaxTopRow() const {
    const uint64_t visible = static_cast<uint64_t>(VisibleRows());
    return TotalRows() > visible ? TotalRows() - visible : 0;
}

void BytesPane::UpdateMetrics() {
    const QFontMetricsF fm(font());
    charWidth_ = fm.horizontalAdvance(QLatin1Char('0'));
    lineHeight_ = static_cast<int>(std::ceil(fm.height())) + 2;
    ascent_ = static_cast<int>(std::ceil(fm.ascent())) + 1;
}

void BytesPane::UpdateScrollBars() {
    const uint64_t maxTop = MaxTopRow();
    topRow_ = std::min(topRow_, maxTop);
    const int barMax = row_scroll::BarMax(maxTop);
    const int page =
        maxTop <= INT_MAX ? VisibleRows() : std::max(1, row_scroll::ValueOf(VisibleRows(), maxTop));
    settingBar_ = true;
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, barMax);
    bar->setPageStep(page);
    bar->setValue(row_scroll::ValueOf(topRow_, maxTop));
    QScrollBar* across = horizontalScrollBar();
    across->setRange(0, std::max(0, ContentWidth() - viewport()->width()));
    across->setPageStep(viewport()->width());
    across->setSingleStep(static_cast<int>(charWidth_));
    settingBar_ = false;
}

void BytesPane::SetTopRow(uint64_t row) {
    topRow_ = std::min(row, MaxTopRow());
    settingBar_ = true;
    verticalScrollBar()->setValue(row_scroll::ValueOf(topRow_, MaxTopRow()));
    settingBar_ = false;
    viewport()->update();
}

void BytesPane::EnsureVisible(uint64_t offset) {
    const uint64_t row = offset / 16;
    const uint64_t visible = static_cast<uint64_t>(VisibleRows());
    if (row < topRow_)
        SetTopRow(row);
    else if (row >= topRow_ + visible)
        SetTopRow(row - visible + 1);
}

void BytesPane::scrollContentsBy(int, int) {
    if (!settingBar_) topRow_ = row_scroll::RowOf(verticalScrollBar()->value(), MaxTopRow());
    viewport()->update();
}

void BytesPane::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void BytesPane::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        UpdateScrollBars();
    }
}

// The strip writes out bit by bit the first piece that starts or ends inside a byte, with a byte
// on either side, eight bytes at most.
void BytesPane::UpdateStrip() {
    stripFirst_ = 0;
    stripCount_ = 0;
    const auto piece = std::find_if(strong_.begin(), strong_.end(), [](const BitRange& r) {
        return r.endBit > r.startBit && (r.startBit % 8 != 0 || r.endBit % 8 != 0);
    });
    if (piece == strong_.end()) return;
    const uint64_t firstByte = piece->startBit / 8;
    if (firstByte >= FileSize()) return;
    const uint64_t lastByte = (piece->endBit - 1) / 8;
    stripFirst_ = firstByte > 0 ? firstByte - 1 : 0;
    const uint64_t end = std::min(lastByte + 2, FileSize());
    stripCount_ = static_cast<int>(std::min<uint64_t>(8, end - stripFirst_));
}

BytesPane::Style BytesPane::ByteStyle(uint64_t offset) const {
    return BitStyle(offset * 8, 8);
}

BytesPane::Style BytesPane::BitStyle(uint64_t bitPlace, uint64_t count) const {
    const uint64_t end = bitPlace + count;
    if (Touches(strongMerged_, bitPlace, end)) return Style::Strong;
    if (Touches(betweenMerged_, bitPlace, end)) return Style::Between;
    if (faint_.startBit < end && bitPlace < faint_.endBit) return Style::Faint;
    return Style::Plain;
}

int BytesPane::ScrollX() const {
    return horizontalScrollBar()->value();
}

int BytesPane::ContentWidth() const {
    if (!pages_.IsOpen()) return 0;
    qreal width = AsciiX() + 16 * charWidth_ + kMargin;
    if (StripShown()) width = std::max(width, 2 * kMargin + stripCount_ * StripByteWidth());
    return static_cast<int>(std::ceil(width));
}

// Each byte of the strip is as wide as its offset label or its eight digits, and two more.
qreal BytesPane::StripByteWidth() const {
    const int label = 2 + static_cast<int>(Hex(stripFirst_ + std::max(stripCount_, 1) - 1).size());
    return (std::max(8, label) + 2) * charWidth_;
}

QRectF BytesPane::CellRectF(uint64_t offset, bool ascii) const {
    const uint64_t row = offset / 16;
    if (offset >= FileSize() || row < topRow_ || row >= topRow_ + VisibleRows()) return {};
    const int i = static_cast<int>(offset % 16);
    const qreal x = (ascii ? AsciiX() + i * charWidth_ : HexX() + HexColumn(i) * charWidth_);
    const qreal y = RowsTop() + static_cast<int>(row - topRow_) * lineHeight_;
    return QRectF(x - ScrollX(), y, (ascii ? 1 : 2) * charWidth_, lineHeight_);
}

QRect BytesPane::CellRect(uint64_t offset, bool ascii) const {
    return CellRectF(offset, ascii).toRect();
}

QRectF BytesPane::StripBitRectF(uint64_t bitPlace) const {
    const uint64_t byte = bitPlace / 8;
    if (!StripShown() || byte < stripFirst_ || byte >= stripFirst_ + stripCount_) return {};
    const qreal x = kMargin + static_cast<int>(byte - stripFirst_) * StripByteWidth() +
                    static_cast<int>(bitPlace % 8) * charWidth_;
    return QRectF(x - ScrollX(), HeaderHeight() + 4 + lineHeight_, charWidth_, lineHeight_);
}

QRect BytesPane::StripBitRect(uint64_t bitPlace) const {
    return StripBitRectF(bitPlace).toRect();
}

bool BytesPane::HitTest(QPoint point, uint64_t& offset, int& bit) const {
    if (!pages_.IsOpen() || !message_.isEmpty()) return false;
    bit = -1;
    for (int i = 0; i < stripCount_ * 8; ++i) {
        const uint64_t place = stripFirst_ * 8 + static_cast<uint64_t>(i);
        if (StripBitRectF(place).contains(point)) {
            offset = place / 8;
            bit = static_cast<int>(place % 8);
            return true;
        }
    }
    if (point.y() < RowsTop()) return false;
    const uint64_t row = topRow_ + static_cast<uint64_t>((point.y() - RowsTop()) / lineHeight_);
    const qreal x = point.x() + ScrollX();
    int index = -1;
    if (x >= AsciiX() && x < AsciiX() + 16 * charWidth_) {
        index = static_cast<int>((x - AsciiX()) / charWidth_);
    } else if (x >= HexX()) {
        // A byte's two digits and the space after them.
        const int column = static_cast<int>((x - HexX()) / charWidth_);
        for (int i = 0; i < 16 && index < 0; ++i)
            if (column >= HexColumn(i) && column < HexColumn(i) + 3) index = i;
    }
    if (index < 0 || row >= TotalRows()) return false;
    offset = row * 16 + static_cast<uint64_t>(index);
    return offset < FileSize();
}

void BytesPane::MoveCursor(uint64_t offset, bool extend) {
    cursor_ = offset;
    if (extend) {
        selection_ = {std::min(anchor_, offset), std::max(anchor_, offset) + 1};
        selectionNewer_ = true;
    } else {
        anchor_ = offset;
        selection_ = {};
    }
    EnsureVisible(offset);
    viewport()->update();
}

void BytesPane::mousePressEvent(QMouseEvent* event) {
    uint64_t offset = 0;
    int bit = -1;
    if (event->button() != Qt::LeftButton || !HitTest(event->position().toPoint(), offset, bit)) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    MoveCursor(offset, bit < 0 && (event->modifiers() & Qt::ShiftModifier));
    Q_EMIT ByteClicked(offset, bit);
}

void BytesPane::mouseMoveEvent(QMouseEvent* event) {
    uint64_t offset = 0;
    int bit = -1;
    if ((event->buttons() & Qt::LeftButton) && HitTest(event->position().toPoint(), offset, bit) &&
        bit < 0 && offset != cursor_)
        MoveCursor(offset, true);
}

// The press did the work; the release of a click on a byte is taken here too.
void BytesPane::mouseReleaseEvent(QMouseEvent* event) {
    uint64_t offset = 0;
    int bit = -1;
    if (event->button() == Qt::LeftButton && HitTest(event->position().toPoint(), offset, bit))
        event->accept();
    else
        QAbstractScrollArea::mouseReleaseEvent(event);
}

void BytesPane::keyPressEvent(QKeyEvent* event) {
    const uint64_t size = FileSize();
    if (size == 0 || !message_.isEmpty()) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const uint64_t page = static_cast<uint64_t>(VisibleRows()) * 16;
    const uint64_t last = size - 1;
    uint64_t to = cursor_;
    switch (event->key()) {
        case Qt::Key_Left:
            to = cursor_ > 0 ? cursor_ - 1 : 0;
            break;
        case Qt::Key_Right:
            to = std::min(cursor_ + 1, last);
            break;
        case Qt::Key_Up:
            to = cursor_ >= 16 ? cursor_ - 16 : cursor_;
            break;
        case Qt::Key_Down:
            to = cursor_ + 16 <= last ? cursor_ + 16 : cursor_;
            break;
        case Qt::Key_PageUp:
            to = cursor_ >= page ? cursor_ - page : cursor_ % 16;
            SetTopRow(topRow_ - std::min<uint64_t>(topRow_, VisibleRows()));
            break;
        case Qt::Key_PageDown:
            to = std::min(cursor_ + page, last);
            SetTopRow(topRow_ + VisibleRows());
            break;
        case Qt::Key_Home:
            to = ctrl ? 0 : cursor_ - cursor_ % 16;
            break;
        case Qt::Key_End:
            to = ctrl ? last : std::min(cursor_ - cursor_ % 16 + 15, last);
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
    }
    MoveCursor(to, event->modifiers() & Qt::ShiftModifier);
}

void BytesPane::FillStyle(QPainter& p, const QRectF& r, Style style) const {
    switch (style) {
        case Style::Plain:
            break;
        case Style::Strong:
            p.fillRect(r, palette().color(QPalette::Highlight));
            break;
        case Style::Between:
            p.fillRect(r, QColor(200, 212, 232));
            p.fillRect(r, QBrush(QColor(120, 140, 184), Qt::BDiagPattern));
            break;
        case Style::Faint: {
            QColor tint = palette().color(QPalette::Highlight);
            tint.setAlpha(48);
            p.fillRect(r, tint);
            break;
        }
    }
}

void BytesPane::paintEvent(QPaintEvent*) {
    const auto started = std::chrono::steady_clock::now();
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), palette().color(QPalette::Base));
    DrawHeader(p);
    if (!message_.isEmpty()) {
        p.setPen(palette().color(QPalette::Text));
        const QString line =
            fontMetrics().elidedText(message_, Qt::ElideMiddle, viewport()->width() - 2 * kMargin);
        p.drawText(kMargin, RowsTop() + 4 + ascent_, line);
    } else if (pages_.IsOpen()) {
        DrawStrip(p);
        p.setClipRect(0, RowsTop(), viewport()->width(), viewport()->height() - RowsTop());
        DrawRows(p);
    }
    lastPaintMs_ =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
}

void BytesPane::DrawHeader(QPainter& p) const {
    const int width = viewport()->width();
    p.fillRect(0, 0, width, HeaderHeight(), palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(0, HeaderHeight() - 1, width, HeaderHeight() - 1);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(kMargin, 3 + ascent_,
               fontMetrics().elidedText(HeaderText(), Qt::ElideRight, width - 2 * kMargin));
}

void BytesPane::DrawStrip(QPainter& p) const {
    if (!StripShown()) return;
    const int top = HeaderHeight();
    const int width = viewport()->width();
    p.fillRect(0, top, width, StripHeight(), palette().color(QPalette::AlternateBase));
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(0, top + StripHeight() - 1, width, top + StripHeight() - 1);
    const QColor text = palette().color(QPalette::Text);
    const QColor muted = Mix(text, palette().color(QPalette::Base), 0.45);
    const QColor strongText = palette().color(QPalette::HighlightedText);
    for (int i = 0; i < stripCount_; ++i) {
        const uint64_t offset = stripFirst_ + static_cast<uint64_t>(i);
        const uint8_t value = pages_.At(offset);
        const QRectF first = StripBitRectF(offset * 8);
        p.setPen(muted);
        p.drawText(QPointF(first.left(), top + 2 + ascent_), QStringLiteral("0x") + Hex(offset));
        for (int b = 0; b < 8; ++b) {
            const QRectF cell = StripBitRectF(offset * 8 + static_cast<uint64_t>(b));
            const Style style = BitStyle(offset * 8 + static_cast<uint64_t>(b), 1);
            FillStyle(p, cell, style);
            p.setPen(style == Style::Strong ? strongText : text);
            p.drawText(QPointF(cell.left(), cell.top() + ascent_),
                       QString(QLatin1Char((value >> (7 - b)) & 1 ? '1' : '0')));
        }
    }
}

void BytesPane::DrawRows(QPainter& p) {
    const int rows = (viewport()->height() - RowsTop() + lineHeight_ - 1) / lineHeight_;
    const uint64_t first = topRow_ * 16;
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(rows, 0)) * 16);
    const size_t got = pages_.Read(first, bytes.data(), bytes.size());
    for (int r = 0; r < rows && static_cast<size_t>(r) * 16 < got; ++r) {
        RowView row;
        row.offset = first + static_cast<uint64_t>(r) * 16;
        row.bytes = bytes.data() + r * 16;
        row.count = static_cast<int>(std::min<size_t>(16, got - static_cast<size_t>(r) * 16));
        row.y = RowsTop() + r * lineHeight_;
        for (int i = 0; i < row.count; ++i)
            row.styles[i] = ByteStyle(row.offset + static_cast<uint64_t>(i));
        DrawRowBackground(p, row);
        DrawRowText(p, row);
    }
}

// A run of bytes in one style is one band, the spaces between them included. The selection
// fills plain bytes and underlines highlighted ones.
void BytesPane::DrawRowBackground(QPainter& p, const RowView& row) const {
    const qreal scroll = ScrollX();
    for (int i = 0; i < row.count; ++i) {
        const qreal x = HexX() + HexColumn(i) * charWidth_ - scroll;
        const qreal toNext = i + 1 < row.count ? (HexColumn(i + 1) - HexColumn(i)) * charWidth_ : 0;
        const bool joined = toNext > 0 && row.styles[i + 1] == row.styles[i];
        const QRectF ascii(AsciiX() + i * charWidth_ - scroll, row.y, charWidth_, lineHeight_);
        FillStyle(p, QRectF(x, row.y, joined ? toNext : 2 * charWidth_, lineHeight_),
                  row.styles[i]);
        FillStyle(p, ascii, row.styles[i]);
        const uint64_t offset = row.offset + static_cast<uint64_t>(i);
        if (offset < selection_.start || offset >= selection_.end) continue;
        const bool plain = row.styles[i] == Style::Plain;
        const qreal h = plain ? lineHeight_ : 3;
        const qreal y = plain ? row.y : row.y + lineHeight_ - 3;
        const bool next = offset + 1 < selection_.end && toNext > 0;
        p.fillRect(QRectF(x, y, next ? toNext : 2 * charWidth_, h), kSelection);
        p.fillRect(QRectF(ascii.left(), y, charWidth_, h), kSelection);
    }
}

// The text goes in runs of one colour, so that a plain row takes three calls.
void BytesPane::DrawRowText(QPainter& p, const RowView& row) const {
    const QColor text = palette().color(QPalette::Text);
    const QColor strongText = palette().color(QPalette::HighlightedText);
    const qreal scroll = ScrollX();
    const int baseline = row.y + ascent_;
    p.setPen(Mix(text, palette().color(QPalette::Base), 0.45));
    p.drawText(QPointF(kMargin - scroll, baseline), Hex(row.offset, OffsetDigits()));
    QString hex(HexColumn(15) + 2, QLatin1Char(' '));
    QString ascii(16, QLatin1Char(' '));
    for (int i = 0; i < row.count; ++i) {
        const uint8_t b = row.bytes[i];
        hex[HexColumn(i)] = QLatin1Char(kHexDigits[b >> 4]);
        hex[HexColumn(i) + 1] = QLatin1Char(kHexDigits[b & 15]);
        ascii[i] = QLatin1Char(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.');
    }
    for (int i = 0; i < row.count;) {
        const bool strong = row.styles[i] == Style::Strong;
        int j = i;
        while (j + 1 < row.count && (row.styles[j + 1] == Style::Strong) == strong) ++j;
        p.setPen(strong ? strongText : text);
        const int from = HexColumn(i);
        p.drawText(QPointF(HexX() + from * charWidth_ - scroll, baseline),
                   hex.mid(from, HexColumn(j) + 2 - from));
        p.drawText(QPointF(AsciiX() + i * charWidth_ - scroll, baseline), ascii.mid(i, j - i + 1));
        i = j + 1;
    }
    // The cursor: a frame round its byte, dotted while the pane has no focus.
    if (cursor_ < row.offset || cursor_ >= row.offset + static_cast<uint64_t>(row.count)) return;
    p.setPen(QPen(text, 1, hasFocus() ? Qt::SolidLine : Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    const int i = static_cast<int>(cursor_ - row.offset);
    p.drawRect(QRectF(HexX() + HexColumn(i) * charWidth_ - scroll - 1, row.y, 2 * charWidth_ + 1,
                      lineHeight_ - 1));
    p.drawRect(QRectF(AsciiX() + i * charWidth_ - scroll, row.y, charWidth_, lineHeight_ - 1));
}

}  // namespace bitloupe
