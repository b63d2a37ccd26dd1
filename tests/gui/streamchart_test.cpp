// The stream chart: a hundred thousand pictures paint by pixel columns within a frame's time,
// a lone tall picture still showing; a click on a bar names its picture in display and in stream
// order, bars and columns alike; the wheel zooms around the pointer, a drag pans and a double
// click shows everything again; a growing vector keeps the range sensible; a selection off
// screen scrolls in; the tooltip's figures; no pictures at all.
#include "gui/StreamChart.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QSignalSpy>
#include <QToolTip>
#include <QWheelEvent>
#include <QtTest>
#include <cmath>
#include <cstdio>

namespace bitloupe {
namespace {

// Pictures of GOPs of twelve (I B B P B B P B B P B B in display order) as an encoder sends
// them: each I or P before the B pictures shown ahead of it. Sizes, quantisers and the buffer
// vary the way a real stream's do.
std::vector<PictureStats> Stream(size_t count) {
    static const char kPattern[] = "IBBPBBPBBPBB";
    const double rate = 5.5e6, frameRate = 50, bufferSize = 1.8e6;
    uint32_t noise = 12345;
    auto random = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return (noise >> 8) / double(1 << 24);
    };
    std::vector<PictureStats> shown(count);
    for (size_t i = 0; i < count; ++i) {
        PictureStats& s = shown[i];
        const char c = kPattern[i % 12];
        s.type = c == 'I' ? 1 : c == 'P' ? 2 : 3;
        s.display = static_cast<uint32_t>(i + 1);
        s.gopStart = s.type == 1;
        s.gop = static_cast<uint32_t>(i / 12 + 1);
        s.temporalReference = static_cast<uint16_t>(i % 12);
        const double mean = s.type == 1 ? 400e3 : s.type == 2 ? 150e3 : 60e3;
        s.bits = static_cast<uint64_t>(mean * (0.75 + 0.5 * random()));
        s.headerBits = s.gopStart ? 1200 : 0;
        s.meanQuantiser = (s.type == 1 ? 4 : s.type == 2 ? 7 : 9) + 3 * random();
        s.pts = static_cast<int64_t>(45000 + i * 1800);
        s.vbvDelay = static_cast<uint16_t>(20000 + 10000 * random());
    }
    std::vector<PictureStats> sent;
    std::vector<PictureStats> waiting;
    for (const PictureStats& s : shown) {
        if (s.type == 3) {
            waiting.push_back(s);
            continue;
        }
        sent.push_back(s);
        sent.insert(sent.end(), waiting.begin(), waiting.end());
        waiting.clear();
    }
    sent.insert(sent.end(), waiting.begin(), waiting.end());
    double fullness = bufferSize / 2, second = 0;
    for (size_t k = 0; k < sent.size(); ++k) {
        PictureStats& s = sent[k];
        s.number = static_cast<uint32_t>(k + 1);
        s.bufferBefore = std::min(bufferSize, fullness + rate / frameRate);
        s.bufferAfter = s.bufferBefore - static_cast<double>(s.bits + s.headerBits);
        s.underflow = s.bufferAfter < 0;
        s.disagrees = k % 97 == 50;
        fullness = std::max(0.0, s.bufferAfter);
        second += static_cast<double>(s.bits + s.headerBits);
        if (k >= frameRate)
            second -= static_cast<double>(sent[k - 50].bits + sent[k - 50].headerBits);
        s.bitrate = second * frameRate / std::min<double>(k + 1, frameRate);
    }
    return sent;
}

struct ShownChart {
    StreamChart chart;
    explicit ShownChart(size_t count, int width = 1000) {
        chart.resize(width, 400);
        chart.SetBufferSize(1.8e6);
        chart.SetPictures(Stream(count));
        chart.show();
        QCoreApplication::processEvents();
    }
    QImage Image() { return chart.grab().toImage(); }
    void Click(QPoint at) { QTest::mouseClick(&chart, Qt::LeftButton, {}, at); }
    void Wheel(QPoint at, int angle) {
        QWheelEvent event(at, chart.mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&chart, &event);
    }
    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, chart.mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&chart, &event);
    }
    double Span() const { return chart.VisibleRange().second - chart.VisibleRange().first; }
};

// One picture far taller than the rest must show in its column, whichever pictures share it,
// with the shorter types still drawn in front up to their own tallest.
TEST(StreamChart, HundredThousandPicturesPaintByColumnsWithinAFrame) {
    ShownChart shown(100000, 1400);
    std::vector<PictureStats> pictures = Stream(100000);
    pictures[50000].bits = 2000000;
    shown.chart.SetPictures(pictures);
    const QPoint spike = shown.chart.BarPoint(50001);
    ASSERT_FALSE(spike.isNull());
    const QImage image = shown.Image();
    const QColor tall = image.pixelColor(spike.x(), spike.y() - 20);
    EXPECT_EQ(tall, image.pixelColor(spike.x(), spike.y() + 20));
    EXPECT_NE(image.pixelColor(spike.x() + 3, spike.y() - 20), tall);
    // Lower down, the column's other types stand in front of it.
    int y = spike.y();
    while (y + 1 < image.height() && image.pixelColor(spike.x(), y) == tall) ++y;
    EXPECT_NE(image.pixelColor(spike.x(), y), shown.chart.palette().color(QPalette::Base));

    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        shown.Image();
        best = std::min(best, shown.chart.lastPaintMs());
    }
    std::printf("paint of 100000 pictures at 1400x400: %.2f ms\n", best);
    EXPECT_TRUE(shown.chart.DrewColumns());
    EXPECT_LT(best, 100.0);
    EXPECT_EQ(shown.chart.VisibleRange(), std::make_pair(0.0, 100000.0));
}

// Stream order differs from display order by the B pictures: display 2 and 3 come after 4.
TEST(StreamChart, ClickAtABarNamesItsPictureInBothOrdersBarsAndColumns) {
    for (const size_t count : {size_t{60}, size_t{5000}}) {
        ShownChart shown(count);
        QSignalSpy clicked(&shown.chart, &StreamChart::PictureClicked);
        for (const bool display : {true, false}) {
            shown.chart.SetDisplayOrder(display);
            shown.Image();
            EXPECT_EQ(shown.chart.DrewColumns(), count > 1000);
            int clicks = 0;
            for (uint32_t n = 1; n <= count; n += count > 1000 ? 7 : 1) {
                const QPoint at = shown.chart.BarPoint(n);
                if (at.isNull()) continue;
                shown.Click(at);
                ++clicks;
                ASSERT_EQ(clicked.size(), 1) << n;
                EXPECT_EQ(clicked.takeFirst().at(0).toUInt(), n) << display << " " << count;
                EXPECT_EQ(shown.chart.Selected(), n);
            }
            // Columns draw only their tallest picture; still, many are there to click.
            EXPECT_GT(clicks, count > 1000 ? 100 : 59);
            if (count > 1000) continue;
            // Picture 2 is the P shown fourth, picture 3 the first B shown second.
            EXPECT_EQ(shown.chart.BarPoint(2).x() > shown.chart.BarPoint(3).x(), display);
            for (uint32_t n = 1; n <= count; ++n) EXPECT_FALSE(shown.chart.BarPoint(n).isNull());
        }
    }
}

TEST(StreamChart, WheelZoomsAroundThePointerDragPansDoubleClickShowsAll) {
    ShownChart shown(600);
    QSignalSpy clicked(&shown.chart, &StreamChart::PictureClicked);
    const QPoint at = shown.chart.BarPoint(437);
    ASSERT_FALSE(at.isNull());
    for (int i = 0; i < 4; ++i) shown.Wheel(at, 120);
    EXPECT_LT(shown.Span(), 600 * 0.45);
    const QPoint after = shown.chart.BarPoint(437);
    ASSERT_FALSE(after.isNull());
    EXPECT_NEAR(after.x(), at.x(), 3);

    // A drag to the left shows later pictures and clicks nothing.
    const auto [first, last] = shown.chart.VisibleRange();
    auto drag = [&](int dx) {
        shown.Mouse(QEvent::MouseButtonPress, at, Qt::LeftButton);
        shown.Mouse(QEvent::MouseMove, at + QPoint(dx / 2, 0), Qt::LeftButton);
        shown.Mouse(QEvent::MouseMove, at + QPoint(dx, 0), Qt::LeftButton);
        shown.Mouse(QEvent::MouseButtonRelease, at + QPoint(dx, 0), Qt::NoButton);
    };
    drag(-120);
    EXPECT_EQ(clicked.size(), 0);
    EXPECT_GT(shown.chart.VisibleRange().first, first + 0.5 * 120 * (last - first) / 1000);
    EXPECT_NEAR(shown.Span(), last - first, 1e-9);

    // Zoomed in, a growing vector keeps the range; showing the end, the range follows it.
    const auto kept = shown.chart.VisibleRange();
    shown.chart.SetPictures(Stream(700));
    EXPECT_EQ(shown.chart.VisibleRange(), kept);
    drag(-5000);
    EXPECT_EQ(shown.chart.VisibleRange().second, 700);
    shown.chart.SetPictures(Stream(800));
    EXPECT_EQ(shown.chart.VisibleRange().second, 800);
    EXPECT_NEAR(shown.Span(), last - first, 1e-9);

    QTest::mouseDClick(&shown.chart, Qt::LeftButton, {}, at);
    EXPECT_EQ(shown.chart.VisibleRange(), std::make_pair(0.0, 800.0));
    // Not zoomed, the chart shows all of a growing stream.
    shown.chart.SetPictures(Stream(900));
    EXPECT_EQ(shown.chart.VisibleRange(), std::make_pair(0.0, 900.0));
}

TEST(StreamChart, SelectingAPictureOffScreenScrollsItIn) {
    ShownChart shown(600);
    for (int i = 0; i < 12; ++i) shown.Wheel(shown.chart.BarPoint(1), 120);
    ASSERT_LT(shown.chart.VisibleRange().second, 100);
    EXPECT_TRUE(shown.chart.BarPoint(500).isNull());
    const double span = shown.Span();
    shown.chart.SetSelected(500);
    EXPECT_EQ(shown.chart.Selected(), 500u);
    EXPECT_FALSE(shown.chart.BarPoint(500).isNull());
    EXPECT_NEAR(shown.Span(), span, 1e-9);
    // The selection is marked where its bar stands.
    const QImage image = shown.Image();
    const QPoint bar = shown.chart.BarPoint(500);
    const QColor highlight = shown.chart.palette().color(QPalette::Highlight);
    int marked = 0;
    for (int y = 0; y < bar.y(); ++y) marked += image.pixelColor(bar.x(), y) == highlight;
    EXPECT_GT(marked, 2);
    shown.chart.SetSelected(0);
    EXPECT_EQ(shown.chart.Selected(), 0u);
}

TEST(StreamChart, TooltipNamesThePictureUnderThePointer) {
    ShownChart shown(60);
    std::vector<PictureStats> pictures = Stream(60);
    PictureStats& p = pictures[2];  // the first B, shown second
    p.pts = (3723 * 1000 + 45) * 90;
    p.macroblocksParsed = true;
    p.mbMeanQuantiser = 17.5;
    p.intra = 12;
    p.interpolated = 345;
    pictures[3].pts = -1;
    shown.chart.SetPictures(pictures);
    auto tip = [&](uint32_t number) {
        const QPoint at = shown.chart.BarPoint(number);
        QHelpEvent help(QEvent::ToolTip, at, shown.chart.mapToGlobal(at));
        QApplication::sendEvent(&shown.chart, &help);
        return QToolTip::text();
    };
    const QString text = tip(3);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Picture 3 (display 2), B\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("PTS 01:02:03.045"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("quantiser 17.50"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("intra 12,"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("interpolated 345"))) << text.toStdString();
    const QString other = tip(4);
    EXPECT_TRUE(other.startsWith(QStringLiteral("Picture 4 (display 3), B\n")));
    EXPECT_FALSE(other.contains(QStringLiteral("PTS")));
    EXPECT_FALSE(other.contains(QStringLiteral("intra")));
}

TEST(StreamChart, NoPicturesPaintsOneLineAndTakesNoClicks) {
    StreamChart chart;
    chart.resize(600, 300);
    chart.show();
    QSignalSpy clicked(&chart, &StreamChart::PictureClicked);
    const QImage image = chart.grab().toImage();
    EXPECT_EQ(chart.PictureCount(), 0u);
    EXPECT_TRUE(chart.BarPoint(1).isNull());
    chart.SetSelected(3);
    QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(300, 150));
    QTest::mouseDClick(&chart, Qt::LeftButton, {}, QPoint(300, 150));
    QWheelEvent wheel(QPointF(300, 150), QPointF(300, 150), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&chart, &wheel);
    chart.grab();
    EXPECT_EQ(clicked.size(), 0);
    EXPECT_EQ(chart.VisibleRange(), std::make_pair(0.0, 0.0));
    // Ink only round the middle, where the line is.
    const QColor base = chart.palette().color(QPalette::Base);
    int outside = 0, inside = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) != base)
                ++(std::abs(y - image.height() / 2) < 20 ? inside : outside);
    EXPECT_EQ(outside, 0);
    EXPECT_GT(inside, 20);
}

}  // namespace
}  // namespace bitloupe

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
