// The bytes pane: the open file as rows of 16 bytes (offset, hex, ASCII) with the selected
// item's bits drawn strongly, the parts of other structures between its pieces hatched and its
// parent's range tinted. A field that does not fill whole bytes is also written out bit by bit
// in a strip above the rows. Only the rows on screen are read, through a page cache of its own,
// so a file of many gigabytes scrolls as freely as a small one.
#pragma once

#include <QAbstractScrollArea>
#include <QRectF>
#include <QString>
#include <cstdint>
#include <vector>

#include "gui/BytePages.h"

namespace bitloupe {

// Bit places: offset * 8 + bit (bit 0 is the most significant); the end is exclusive.
struct BitRange {
    uint64_t startBit;
    uint64_t endBit;
};

// The vertical scroll bar counts rows while they fit into an int; beyond that its range is
// scaled, and the first and last positions still reach the first and last rows.
namespace row_scroll {
constexpr int kScaledMax = 1 << 30;
int BarMax(uint64_t maxTopRow);
uint64_t RowOf(int value, uint64_t maxTopRow);
int ValueOf(uint64_t row, uint64_t maxTopRow);
}  // namespace row_scroll

class BytesPane : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit BytesPane(QWidget* parent = nullptr);

    // False, with the message shown in place of the rows, when the file cannot be read.
    bool OpenFile(const QString& path);
    void CloseFile();
    uint64_t FileSize() const { return pages_.Size(); }

    // The item's own bits (one piece or more), the other structures' bits between its pieces
    // and its parent's range. Scrolls the first piece into view when it is not on screen.
    void SetHighlight(const std::vector<BitRange>& strong, const std::vector<BitRange>& between,
                      BitRange faint);
    void ClearHighlight();
    // The line above the rows; empty shows the file's name and size.
    void SetHeaderText(const QString& text);
    // Puts the row of `offset` at the top (as near as the end of the file allows).
    void ScrollToOffset(uint64_t offset);

    uint64_t CursorOffset() const { return cursor_; }
    // The strong pieces as "0x1F4.3-0x1F6.0" (offset.bit, end exclusive), comma separated.
    QString HighlightReport() const;

    // Finds "00 00 01 B3" ("?" or "??" for any byte) from the cursor on, or before it; the
    // match becomes the cursor and the selection. False when none or the pattern is not valid.
    bool FindPattern(const QString& hexPattern, bool forward);
    // The next or previous 00 00 01 xx, selected as FindPattern does.
    bool NextStartCode(bool forward);
    // The bytes of the strong pieces, or of the user's selection when that came later, as
    // "00 00 01 B3 ..."; at most about 1 MB of text.
    QString SelectedBytesAsHex() const;

    double lastPaintMs() const { return lastPaintMs_; }

    // For the tests and the main window's report.
    QString Message() const { return message_; }
    QString HeaderText() const;
    int OffsetDigits() const { return pages_.Size() >= (uint64_t{1} << 32) ? 16 : 8; }
    uint64_t TopRow() const { return topRow_; }
    int VisibleRows() const;
    bool StripShown() const { return stripCount_ > 0; }
    // Where a byte's hex digits (or its ASCII character) are drawn, in viewport coordinates;
    // empty when not on screen.
    QRect CellRect(uint64_t offset, bool ascii = false) const;
    // Where the strip draws the digit of a bit place; empty when the strip does not show it.
    QRect StripBitRect(uint64_t bitPlace) const;

  Q_SIGNALS:
    // bit: 0 to 7 for a click on the bit strip, otherwise -1.
    void ByteClicked(uint64_t offset, int bit);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    enum class Style { Plain, Faint, Between, Strong };
    struct Selection {
        uint64_t start = 0;
        uint64_t end = 0;  // exclusive; empty when equal
    };

    void UpdateMetrics();
    void UpdateScrollBars();
    uint64_t TotalRows() const { return (pages_.Size() + 15) / 16; }
    uint64_t MaxTopRow() const;
    void SetTopRow(uint64_t row);
    void EnsureVisible(uint64_t offset);
    void UpdateStrip();
    // The style a byte is drawn in, from the highlight ranges.
    Style ByteStyle(uint64_t offset) const;
    Style BitStyle(uint64_t bitPlace, uint64_t count) const;
    bool Select(uint64_t start, uint64_t length);
    bool FindFromCursor(const BytePattern& pattern, bool forward);
    void MoveCursor(uint64_t offset, bool extend);
    // The byte (and bit, on the strip) under a viewport point.
    bool HitTest(QPoint point, uint64_t& offset, int& bit) const;

    int HeaderHeight() const { return lineHeight_ + 6; }
    int StripHeight() const { return StripShown() ? 2 * lineHeight_ + 8 : 0; }
    int RowsTop() const { return HeaderHeight() + StripHeight(); }
    // Horizontal places are fractional: a monospace face's advance is seldom a whole pixel,
    // and rounded it would drift off the glyphs along a row.
    qreal HexX() const { return kMargin + (OffsetDigits() + 2) * charWidth_; }
    qreal AsciiX() const { return HexX() + (HexColumn(15) + 4) * charWidth_; }
    static int HexColumn(int index) { return index * 3 + (index >= 8 ? 1 : 0); }
    int ContentWidth() const;
    qreal StripByteWidth() const;
    QRectF CellRectF(uint64_t offset, bool ascii) const;
    QRectF StripBitRectF(uint64_t bitPlace) const;
    int ScrollX() const;

    void DrawHeader(class QPainter& p) const;
    void DrawStrip(class QPainter& p) const;
    // One row on screen: its bytes as read and the style of each.
    struct RowView {
        uint64_t offset = 0;
        const uint8_t* bytes = nullptr;
        int count = 0;
        int y = 0;
        Style styles[16] = {};
    };
    void DrawRows(class QPainter& p);
    void DrawRowBackground(class QPainter& p, const RowView& row) const;
    void DrawRowText(class QPainter& p, const RowView& row) const;
    void FillStyle(class QPainter& p, const QRectF& r, Style style) const;

    mutable BytePages pages_;
    QString path_;
    QString message_;
    QString header_;
    uint64_t topRow_ = 0;
    bool settingBar_ = false;
    uint64_t cursor_ = 0;
    uint64_t anchor_ = 0;
    Selection selection_;
    bool selectionNewer_ = false;  // made after the last highlight was set
    std::vector<BitRange> strong_;
    std::vector<BitRange> between_;
    // The same ranges sorted and joined, for finding a byte's style by bisection.
    std::vector<BitRange> strongMerged_;
    std::vector<BitRange> betweenMerged_;
    BitRange faint_{0, 0};
    uint64_t stripFirst_ = 0;
    int stripCount_ = 0;
    static constexpr int kMargin = 6;
    qreal charWidth_ = 8;
    int lineHeight_ = 16;
    int ascent_ = 12;
    double lastPaintMs_ = 0;
};

}  // namespace bitloupe
