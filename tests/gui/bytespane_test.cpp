// The bytes pane and its page cache: reads equal the file at page edges, at its end and far into
// a sparse file of gigabytes; the scroll bar reaches the last row of a file with more rows than
// an int counts; find and start code steps; the bit strip and the highlight styles as painted;
// clicks, keys and a file that cannot be opened.
#include "gui/BytesPane.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <climits>
#include <fstream>
#include <iterator>

#include "TestUtil.h"

namespace bitloupe {
namespace {

using test::TempFile;
constexpr uint64_t kGiB = uint64_t{1} << 30;

std::vector<uint8_t> Noise(size_t n) {
    std::vector<uint8_t> out(n);
    uint32_t x = 2463534242u;
    for (uint8_t& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A file of `size` bytes, holes but for the bytes given.
std::string SparseFile(const QTemporaryDir& dir, uint64_t size,
                       const std::vector<std::pair<uint64_t, uint8_t>>& bytes) {
    const std::string path = dir.filePath(QStringLiteral("big.mpg")).toStdString();
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    for (const auto& [offset, value] : bytes)
        EXPECT_EQ(::pwrite(fd, &value, 1, static_cast<off_t>(offset)), 1);
    ::close(fd);
    return path;
}

// A pane on screen (offscreen) with a file open.
struct ShownPane {
    BytesPane pane;
    explicit ShownPane(const std::string& path, bool expectOpen = true) {
        pane.resize(900, 600);
        pane.show();
        EXPECT_EQ(pane.OpenFile(QString::fromStdString(path)), expectOpen);
        QCoreApplication::processEvents();
    }
    QImage Image() { return pane.viewport()->grab().toImage(); }
    QColor Highlight() const { return pane.palette().color(QPalette::Highlight); }
    void Key(Qt::Key key, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(&pane, key, mods); }
};

// A point of a cell's background: its top line, which no glyph reaches.
QPoint Background(const QRect& cell) {
    return {cell.center().x(), cell.top() + 1};
}

// The pixels of a cell darker than its background: the ink of its glyph.
int Ink(const QImage& image, const QRect& cell) {
    const int background = qGray(image.pixel(Background(cell)));
    int ink = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left() + 1; x < cell.right(); ++x)
            if (background - qGray(image.pixel(x, y)) > 64) ++ink;
    return ink;
}

TEST(BytePages, ReadsEqualTheFileAtPageEdgesAndAtItsEnd) {
    // More than the cache holds, so pages are dropped and read again.
    const std::vector<uint8_t> data = Noise(20 * 1024 * 1024 + 12345);
    TempFile file(data);
    BytePages pages;
    std::string error;
    ASSERT_TRUE(pages.Open(file.path(), error));
    ASSERT_EQ(pages.Size(), data.size());

    std::vector<uint8_t> out(300000);
    auto expectRead = [&](uint64_t offset, size_t n) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n, data.size() - offset));
        ASSERT_EQ(pages.Read(offset, out.data(), n), want) << offset;
        ASSERT_TRUE(std::equal(out.begin(), out.begin() + want, data.begin() + offset)) << offset;
    };
    for (uint64_t edge = BytePages::kPageSize; edge < data.size();
         edge += 37 * BytePages::kPageSize)
        expectRead(edge - 3, 7);
    expectRead(5 * BytePages::kPageSize - 1, 3 * BytePages::kPageSize + 2);  // over four pages
    for (uint64_t at = 0; at < data.size(); at += 250000) expectRead(at, 250000);
    expectRead(1000, 20);  // the first pages again, dropped by now
    expectRead(data.size() - 3, 10);
    EXPECT_EQ(pages.At(data.size() - 1), data.back());
    EXPECT_EQ(pages.At(BytePages::kPageSize), data[BytePages::kPageSize]);
    EXPECT_EQ(pages.Read(data.size(), out.data(), 1), 0u);
    EXPECT_EQ(pages.At(data.size()), 0);
    EXPECT_LE(pages.PagesHeld(), BytePages::kMaxPages);
}

TEST(BytesPane, FiveGigabyteSparseFileOpensAtOnceWithinTheCache) {
    QTemporaryDir dir;
    const uint64_t size = 5 * kGiB;
    const uint64_t four = 4 * kGiB;
    const std::string path =
        SparseFile(dir, size, {{four - 1, 0xAA}, {four, 0xBB}, {size - 1, 0xCC}});

    BytePages pages;
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(pages.Open(path, error));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
    EXPECT_EQ(pages.Size(), size);
    uint8_t two[2] = {};
    ASSERT_EQ(pages.Read(four - 1, two, 2), 2u);
    EXPECT_EQ(two[0], 0xAA);
    EXPECT_EQ(two[1], 0xBB);
    EXPECT_EQ(pages.At(size - 1), 0xCC);
    for (uint64_t at = 0; at < size; at += size / 1000) pages.At(at);
    EXPECT_EQ(pages.PagesHeld(), BytePages::kMaxPages);

    ShownPane shown(path);
    EXPECT_EQ(shown.pane.OffsetDigits(), 16);
    shown.Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(shown.pane.CursorOffset(), size - 1);
    EXPECT_TRUE(shown.pane.CellRect(size - 1).isValid());
    shown.Image();
    EXPECT_LT(shown.pane.lastPaintMs(), 500.0);
}

TEST(RowScroll, ExactForNormalFilesScaledBeyondAnInt) {
    EXPECT_EQ(row_scroll::BarMax(1000), 1000);
    EXPECT_EQ(row_scroll::RowOf(517, 1000), 517u);
    EXPECT_EQ(row_scroll::ValueOf(517, 1000), 517);

    const uint64_t maxTop = uint64_t{3} << 31;  // rows of a 48 GiB file
    EXPECT_EQ(row_scroll::BarMax(maxTop), row_scroll::kScaledMax);
    EXPECT_EQ(row_scroll::RowOf(0, maxTop), 0u);
    EXPECT_EQ(row_scroll::RowOf(row_scroll::kScaledMax, maxTop), maxTop);
    EXPECT_EQ(row_scroll::ValueOf(maxTop, maxTop), row_scroll::kScaledMax);
    const uint64_t perStep = maxTop / row_scroll::kScaledMax + 1;
    for (uint64_t row : {uint64_t{1}, uint64_t{12345}, maxTop / 3, maxTop - 1}) {
        const uint64_t back = row_scroll::RowOf(row_scroll::ValueOf(row, maxTop), maxTop);
        EXPECT_GE(back, row);
        EXPECT_LE(back - row, perStep);
    }
}

TEST(BytesPane, ScrollBarReachesTheLastRowOfAFileOfMoreRowsThanAnInt) {
    QTemporaryDir dir;
    const uint64_t size = 48 * kGiB + 5;
    const std::string path = SparseFile(dir, size, {{size - 1, 0x5A}});
    ShownPane shown(path);
    QScrollBar* bar = shown.pane.verticalScrollBar();
    bar->setValue(bar->maximum());
    EXPECT_TRUE(shown.pane.CellRect(size - 1).isValid());
    bar->setValue(bar->maximum() / 2);
    EXPECT_NEAR(static_cast<double>(shown.pane.TopRow()), size / 16 / 2.0, size / 16 * 1e-6);
    // Rows stay exact where the bar's steps are coarser than a row.
    const uint64_t top = shown.pane.TopRow();
    shown.pane.ScrollToOffset(top * 16 + 16);
    EXPECT_EQ(shown.pane.TopRow(), top + 1);
}

// A match across two search windows, whichever place the search starts from.
TEST(BytePages, FindBytesSeesAMatchAcrossSearchWindows) {
    std::vector<uint8_t> data(kSearchWindow * 3, 0xFF);
    const uint64_t at = kSearchWindow + 1000;
    const std::vector<uint8_t> code = {0x00, 0x00, 0x01, 0xB3};
    std::copy(code.begin(), code.end(), data.begin() + at);
    TempFile file(data);
    BytePages pages;
    std::string error;
    ASSERT_TRUE(pages.Open(file.path(), error));
    const BytePattern pattern = {0x00, -1, 0x01, 0xB3};
    for (uint64_t cut = 1; cut < code.size(); ++cut) {
        EXPECT_EQ(FindBytes(pages, pattern, at + cut - kSearchWindow, true), at) << cut;
        EXPECT_EQ(FindBytes(pages, pattern, at + cut + kSearchWindow - 1, false), at) << cut;
    }
    EXPECT_EQ(FindBytes(pages, pattern, at + 1, true), std::nullopt);
    EXPECT_EQ(FindBytes(pages, pattern, at - 1, false), std::nullopt);
}

TEST(BytesPane, FindsPatternsWithWildcardsForwardAndBack) {
    std::vector<uint8_t> data(200 * 1024, 0xFF);
    const uint64_t at[] = {100, BytePages::kPageSize - 2, 70000, 2 * BytePages::kPageSize - 1};
    for (uint64_t a : at) {
        data[a] = 0x00;
        data[a + 1] = 0x00;
        data[a + 2] = 0x01;
        data[a + 3] = 0xB3;
    }
    data[70001] = 0x07;  // only a wildcard matches this one
    TempFile file(data);
    ShownPane shown(file.path());
    BytesPane& pane = shown.pane;

    ASSERT_TRUE(pane.FindPattern(QStringLiteral("00 00 01 B3"), true));
    EXPECT_EQ(pane.CursorOffset(), at[0]);
    EXPECT_EQ(pane.SelectedBytesAsHex(), QStringLiteral("00 00 01 B3"));
    ASSERT_TRUE(pane.FindPattern(QStringLiteral("000001b3"), true));
    EXPECT_EQ(pane.CursorOffset(), at[1]);
    ASSERT_TRUE(pane.FindPattern(QStringLiteral("00 ? 01 B3"), true));
    EXPECT_EQ(pane.CursorOffset(), at[2]);
    ASSERT_TRUE(pane.FindPattern(QStringLiteral("00 00 01 B3"), true));
    EXPECT_EQ(pane.CursorOffset(), at[3]);
    EXPECT_TRUE(pane.CellRect(at[3]).isValid());
    EXPECT_FALSE(pane.FindPattern(QStringLiteral("00 00 01 B3"), true));
    EXPECT_EQ(pane.CursorOffset(), at[3]);

    ASSERT_TRUE(pane.FindPattern(QStringLiteral("FF FF"), true));  // a cursor past the last
    EXPECT_EQ(pane.CursorOffset(), at[3] + 4);
    for (int i = 3; i >= 0; --i) {
        ASSERT_TRUE(pane.FindPattern(QStringLiteral("00 ?? 01 b3"), false)) << i;
        EXPECT_EQ(pane.CursorOffset(), at[i]);
    }
    EXPECT_FALSE(pane.FindPattern(QStringLiteral("00 ?? 01 b3"), false));
    for (const char* bad : {"", "0", "0G", "00 0", "???", "0x00"})
        EXPECT_FALSE(pane.FindPattern(QString::fromLatin1(bad), true)) << bad;
    EXPECT_EQ(pane.CursorOffset(), at[0]);
}

TEST(BytesPane, NextStartCodeVisitsEveryStartCodeBothWays) {
    const std::string path = test::DataPath("mpeg2-ps.mpg");
    const std::vector<uint8_t> data = FileBytes(path);
    std::vector<uint64_t> expected;
    for (size_t i = 0; i + 3 < data.size(); ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) expected.push_back(i);
    ASSERT_GT(expected.size(), 10u);
    ASSERT_EQ(expected.front(), 0u);

    ShownPane shown(path);
    std::vector<uint64_t> forward;
    while (shown.pane.NextStartCode(true)) forward.push_back(shown.pane.CursorOffset());
    EXPECT_EQ(forward, expected);
    std::vector<uint64_t> backward;
    while (shown.pane.NextStartCode(false)) backward.push_back(shown.pane.CursorOffset());
    expected.pop_back();
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(backward, expected);

    // A zero before the prefix, and a prefix the file ends inside.
    TempFile edge({0xFF, 0x00, 0x00, 0x00, 0x01, 0xB3, 0xFF, 0x00, 0x00, 0x01});
    ShownPane edgeShown(edge.path());
    ASSERT_TRUE(edgeShown.pane.NextStartCode(true));
    EXPECT_EQ(edgeShown.pane.CursorOffset(), 2u);
    EXPECT_FALSE(edgeShown.pane.NextStartCode(true));
}

TEST(BytesPane, BitStripMarksExactlyTheFieldsBits) {
    const std::vector<uint8_t> data = FileBytes(test::DataPath("mpeg2-ps.mpg"));
    ShownPane shown(test::DataPath("mpeg2-ps.mpg"));
    BytesPane& pane = shown.pane;
    const auto expectStrip = [&](BitRange field, uint64_t firstByte, uint64_t endByte) {
        pane.SetHighlight({field}, {}, {0, 0});
        ASSERT_TRUE(pane.StripShown());
        EXPECT_FALSE(pane.StripBitRect(firstByte * 8 - 1).isValid());
        EXPECT_FALSE(pane.StripBitRect(endByte * 8).isValid());
        const QImage image = shown.Image();
        int inkOfOnes = 0;
        int inkOfZeros = INT_MAX;
        for (uint64_t bit = firstByte * 8; bit < endByte * 8; ++bit) {
            const QRect cell = pane.StripBitRect(bit);
            ASSERT_TRUE(cell.isValid()) << bit;
            if (bit > firstByte * 8) {
                EXPECT_GT(cell.left(), pane.StripBitRect(bit - 1).left());
            }
            const bool inField = bit >= field.startBit && bit < field.endBit;
            EXPECT_EQ(image.pixelColor(Background(cell)) == shown.Highlight(), inField) << bit;
            // Outside the field the digits read as the byte's bits: a 1 takes less ink than a 0.
            if (inField) continue;
            const bool one = (data[bit / 8] >> (7 - bit % 8)) & 1;
            int& bound = one ? inkOfOnes : inkOfZeros;
            bound = one ? std::max(bound, Ink(image, cell)) : std::min(bound, Ink(image, cell));
        }
        EXPECT_LT(inkOfOnes, inkOfZeros);
        // The grid shows a partly covered byte whole.
        EXPECT_EQ(image.pixelColor(Background(pane.CellRect(field.startBit / 8))),
                  shown.Highlight());
        EXPECT_NE(image.pixelColor(Background(pane.CellRect(firstByte))), shown.Highlight());
    };
    expectStrip({0x20 * 8 + 2, 0x20 * 8 + 6}, 0x1F, 0x22);  // 4 bits inside a byte
    expectStrip({0x40 * 8 + 4, 0x41 * 8 + 8}, 0x3F, 0x43);  // 12 bits over two bytes
    expectStrip({0x100 * 8 + 1, 0x200 * 8}, 0xFF, 0x107);   // a long field: its first bytes
    pane.SetHighlight({{0x20 * 8, 0x22 * 8}}, {}, {0, 0});
    EXPECT_FALSE(pane.StripShown());
}

TEST(BytesPane, HighlightStylesReportAndCopy) {
    const std::string path = test::DataPath("mpeg2-ps.mpg");
    const std::vector<uint8_t> data = FileBytes(path);
    ShownPane shown(path);
    BytesPane& pane = shown.pane;
    EXPECT_EQ(pane.OffsetDigits(), 8);
    EXPECT_TRUE(pane.HeaderText().contains(QStringLiteral("mpeg2-ps.mpg")));
    EXPECT_TRUE(pane.HeaderText().contains(QString::number(data.size())));

    pane.SetHighlight({{0x34 * 8 + 3, 0x36 * 8}, {0x40 * 8, 0x42 * 8 + 4}}, {{0x36 * 8, 0x40 * 8}},
                      {0x30 * 8, 0x50 * 8});
    EXPECT_EQ(pane.TopRow(), 0u);  // already on screen
    EXPECT_EQ(pane.HighlightReport(), QStringLiteral("0x34.3-0x36.0, 0x40.0-0x42.4"));
    QStringList bytes;
    for (uint64_t at : {0x34, 0x35, 0x40, 0x41, 0x42})
        bytes << QStringLiteral("%1").arg(data[at], 2, 16, QLatin1Char('0')).toUpper();
    EXPECT_EQ(pane.SelectedBytesAsHex(), bytes.join(QLatin1Char(' ')));

    // Strong, between, faint and plain bytes each look different.
    const QImage image = shown.Image();
    const QColor strong = image.pixelColor(Background(pane.CellRect(0x35)));
    const QColor between = image.pixelColor(Background(pane.CellRect(0x38)));
    const QColor faint = image.pixelColor(Background(pane.CellRect(0x48)));
    const QColor plain = image.pixelColor(Background(pane.CellRect(0x60)));
    EXPECT_EQ(strong, shown.Highlight());
    EXPECT_EQ(QSet<QRgb>({strong.rgb(), between.rgb(), faint.rgb(), plain.rgb()}).size(), 4);

    // A selection made later is what is copied, until the next highlight.
    ASSERT_TRUE(pane.NextStartCode(true));
    EXPECT_EQ(pane.SelectedBytesAsHex().left(8), QStringLiteral("00 00 01"));
    pane.SetHighlight({{0x100 * 8, 0x102 * 8}}, {}, {0, 0});
    EXPECT_EQ(pane.SelectedBytesAsHex().size(), 5);

    // Scrolled to only when off screen.
    pane.SetHighlight({{0x8000 * 8, 0x8001 * 8}}, {}, {0, 0});
    const uint64_t top = pane.TopRow();
    EXPECT_TRUE(pane.CellRect(0x8000).isValid());
    pane.SetHighlight({{0x8040 * 8, 0x8041 * 8}}, {}, {0, 0});
    EXPECT_EQ(pane.TopRow(), top);
}

TEST(BytesPane, ClicksAndKeysMoveTheCursor) {
    ShownPane shown(test::DataPath("mpeg2-fieldpic.m2v"));
    BytesPane& pane = shown.pane;
    QSignalSpy clicked(&pane, &BytesPane::ByteClicked);
    pane.ScrollToOffset(0x1000);
    // Both edges of every hex cell and ASCII character of a row, either side of the middle gap.
    for (uint64_t offset = 0x1030; offset < 0x1040; ++offset) {
        for (const QRect& cell : {pane.CellRect(offset), pane.CellRect(offset, true)}) {
            for (int x : {cell.left() + 1, cell.right() - 1}) {
                QTest::mouseClick(pane.viewport(), Qt::LeftButton, {},
                                  QPoint(x, cell.center().y()));
                ASSERT_EQ(clicked.size(), 1) << offset;
                const QList<QVariant> args = clicked.takeFirst();
                EXPECT_EQ(args[0].value<uint64_t>(), offset);
                EXPECT_EQ(args[1].toInt(), -1);
            }
        }
        EXPECT_EQ(pane.CursorOffset(), offset);
    }

    pane.SetHighlight({{0x1010 * 8 + 5, 0x1011 * 8 + 1}}, {}, {0, 0});
    QTest::mouseClick(pane.viewport(), Qt::LeftButton, {},
                      pane.StripBitRect(0x1011 * 8 + 6).center());
    ASSERT_EQ(clicked.size(), 1);
    const QList<QVariant> strip = clicked.takeFirst();
    EXPECT_EQ(strip[0].value<uint64_t>(), 0x1011u);
    EXPECT_EQ(strip[1].toInt(), 6);

    const uint64_t page = static_cast<uint64_t>(pane.VisibleRows()) * 16;
    const uint64_t from = pane.CursorOffset();
    shown.Key(Qt::Key_PageDown);
    shown.Key(Qt::Key_PageDown);
    EXPECT_EQ(pane.CursorOffset(), from + 2 * page);
    EXPECT_TRUE(pane.CellRect(pane.CursorOffset()).isValid());
    shown.Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(pane.CursorOffset(), pane.FileSize() - 1);
    EXPECT_TRUE(pane.CellRect(pane.FileSize() - 1).isValid());
    shown.Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(pane.TopRow(), 0u);
    shown.Key(Qt::Key_Right, Qt::ShiftModifier);
    shown.Key(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(pane.SelectedBytesAsHex().size(), 18 * 3 - 1);
}

TEST(BytesPane, AFileThatCannotBeOpenedShowsOneLineAndNoRows) {
    QTemporaryDir dir;
    for (const QString& path : {dir.filePath(QStringLiteral("missing.mpg")), dir.path()}) {
        ShownPane shown(path.toStdString(), false);
        BytesPane& pane = shown.pane;
        EXPECT_TRUE(pane.Message().contains(path));
        EXPECT_FALSE(pane.Message().contains(QLatin1Char('\n')));
        QSignalSpy clicked(&pane, &BytesPane::ByteClicked);
        pane.SetHighlight({{4, 20}}, {}, {0, 64});
        shown.Image();
        QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, QPoint(200, 100));
        shown.Key(Qt::Key_End, Qt::ControlModifier);
        EXPECT_EQ(clicked.size(), 0);
        EXPECT_FALSE(pane.CellRect(0).isValid());
        EXPECT_FALSE(pane.FindPattern(QStringLiteral("00"), true));
        EXPECT_FALSE(pane.NextStartCode(true));
        EXPECT_TRUE(pane.SelectedBytesAsHex().isEmpty());
    }
    // An empty file opens, with no rows to draw or move through.
    ShownPane empty(test::DataPath("empty.bin"));
    empty.pane.SetHighlight({{4, 20}}, {{20, 40}}, {0, 64});
    empty.Image();
    empty.Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(empty.pane.CursorOffset(), 0u);
    EXPECT_FALSE(empty.pane.NextStartCode(false));
    EXPECT_FALSE(empty.pane.StripShown());
}

}  // namespace
}  // namespace bitloupe

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
