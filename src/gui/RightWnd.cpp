#include "gui/RightWnd.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "core/render/Overlay.h"
#include "core/session/SyntaxParser.h"
#include "gui/ParseDlg.h"

namespace bitloupe {

namespace {

constexpr int kMargin = 10;

// The pane's text font: a rounded, informal face where the system has one, bold, 20 pixels.
QFont TextFont() {
    QFont f;
    const QStringList families = QFontDatabase::families();
    for (const char* name : {"Comic Sans MS", "Comic Neue", "Comic Relief", "DejaVu Sans"}) {
        if (families.contains(QString::fromLatin1(name))) {
            f.setFamily(QString::fromLatin1(name));
            break;
        }
    }
    f.setPixelSize(20);
    f.setBold(true);
    return f;
}

// The picture bitmap (bottom-up rows of blue, green, red) as an image, top line first, in the
// display's own format so that painting it is a copy.
QImage ToImage(const CPictureDib& dib) {
    QImage image(dib.Width(), dib.Height(), QImage::Format_RGB32);
    for (int y = 0; y < dib.Height(); ++y) {
        const uint8_t* src = dib.Line(y);
        auto* dst = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < dib.Width(); ++x)
            dst[x] = 0xFF000000u | uint32_t{src[3 * x + 2]} << 16 | uint32_t{src[3 * x + 1]} << 8 |
                     src[3 * x];
    }
    return image;
}

// Outlines the pixels of a rectangle whose right and bottom are exclusive.
void DrawOutline(QPainter& p, const PaneRect& r) {
    if (r.right - r.left < 1 || r.bottom - r.top < 1) return;
    p.drawRect(QRect(r.left, r.top, r.right - r.left - 1, r.bottom - r.top - 1));
}

// A line up to, but not including, its end point; lines of the grid are straight.
void DrawLine(QPainter& p, const PaneLine& l) {
    p.drawLine(l.from.x, l.from.y, l.to.x, l.to.y);
}

PaneRect Moved(const PaneRect& r, int dx, int dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

// A pen one device pixel wide whatever the painter's scale.
QPen Pen(const QColor& c, Qt::PenStyle style = Qt::SolidLine) {
    QPen pen(c, 0, style);
    pen.setCosmetic(true);
    return pen;
}

QColor FromRgb(uint32_t rgb, int alpha = 255) {
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF, alpha);
}

// The zoom steps the keys and the wheel go through.
constexpr int kZoomSteps[] = {1, 2, 4, 8, 16, 32};

}  // namespace

CRightWnd::CRightWnd(QWidget* parent) : QAbstractScrollArea(parent) {
    colours.pictureBackground = palette().color(QPalette::Button);
    setMinimumSize(100, 100);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    horizontalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setPageStep(10);
    verticalScrollBar()->setPageStep(10);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    textLineHeight_ = QFontMetrics(TextFont()).height();
}

QRect CRightWnd::PictureArea() const {
    return QRect(0, 0, viewport()->width(), std::max(0, viewport()->height() - textLineHeight_));
}

double CRightWnd::Scale() const {
    if (zoom_ != kZoomFit) return zoom_;
    if (!parser_ || !parser_->decoder.dib.HasPixels()) return 1.0;
    const QSize s = ShownSize();
    const QRect area = PictureArea();
    if (s.isEmpty()) return 1.0;
    const double fx = static_cast<double>(area.width() - 2 * kMargin - 2) / s.width();
    const double fy = static_cast<double>(area.height() - 2 * kMargin - 2) / s.height();
    return std::max(std::min(fx, fy), 1.0 / 16);
}

QSize CRightWnd::ZoomedSize() const {
    const QSize s = ShownSize();
    const double z = Scale();
    return QSize(static_cast<int>(std::lround(s.width() * z)),
                 static_cast<int>(std::lround(s.height() * z)));
}

void CRightWnd::SetZoom(int zoom, QPoint anchor) {
    zoom = zoom == kZoomFit ? kZoomFit : std::clamp(zoom, 1, kMaxZoom);
    const QRect area = PictureArea();
    if (anchor.x() < 0) anchor = area.center();
    // The picture point under the anchor, in unzoomed pixels.
    const double before = Scale();
    const double px = (anchor.x() + horizontalScrollBar()->value() - frame_.left - 1) / before;
    const double py = (anchor.y() + verticalScrollBar()->value() - frame_.top - 1) / before;
    zoom_ = zoom;
    UpdateLayout();
    const double after = Scale();
    horizontalScrollBar()->setValue(
        static_cast<int>(std::lround(px * after + frame_.left + 1 - anchor.x())));
    verticalScrollBar()->setValue(
        static_cast<int>(std::lround(py * after + frame_.top + 1 - anchor.y())));
    viewport()->update();
}

void CRightWnd::ZoomIn(QPoint anchor) {
    const double now = Scale();
    for (int step : kZoomSteps)
        if (step > now + 1e-9) return SetZoom(step, anchor);
}

void CRightWnd::ZoomOut(QPoint anchor) {
    const double now = Scale();
    for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it)
        if (*it < now - 1e-9) return SetZoom(*it, anchor);
}

void CRightWnd::CentreOn(int x, int y) {
    if (!PictureShown() || !hasFrame_) return;
    const CPictureDib& dib = parser_->decoder.dib;
    const QSize shown = ZoomedSize();
    const double px = (x + 0.5) * shown.width() / std::max(1, dib.Width());
    const double py = (y + 0.5) * shown.height() / std::max(1, dib.Height());
    const QRect area = PictureArea();
    horizontalScrollBar()->setValue(static_cast<int>(frame_.left + 1 + px - area.width() / 2.0));
    verticalScrollBar()->setValue(static_cast<int>(frame_.top + 1 + py - area.height() / 2.0));
    viewport()->update();
}

bool CRightWnd::SampleAt(QPoint point, int& x, int& y) const {
    if (!PictureShown() || !hasFrame_ || !PictureArea().contains(point)) return false;
    const CPictureDib& dib = parser_->decoder.dib;
    const double z = Scale();
    const QSize shown = ShownSize();
    const double px = (point.x() + horizontalScrollBar()->value() - frame_.left - 1) / z;
    const double py = (point.y() + verticalScrollBar()->value() - frame_.top - 1) / z;
    if (px < 0 || py < 0 || px >= shown.width() || py >= shown.height()) return false;
    // A picture shown at its display size maps back to the coded samples.
    x = static_cast<int>(px * dib.Width() / shown.width());
    y = static_cast<int>(py * dib.Height() / shown.height());
    return x >= 0 && y >= 0 && x < dib.Width() && y < dib.Height();
}

void CRightWnd::SetMap(MacroblockMap map) {
    map_ = std::move(map);
    viewport()->update();
}

void CRightWnd::SetParseDialog(CParseDlg* dialog) {
    dialog_ = dialog;
    dialog_->setParent(viewport());
    connect(dialog_, &CParseDlg::DoubleClicked, this, &CRightWnd::ToggleDialog);
    PlaceDialog();
}

void CRightWnd::SetFileOpen(bool open) {
    fileOpen_ = open;
    imageStale_ = true;
    UpdateLayout();
    viewport()->update();
}

bool CRightWnd::DialogShown() const {
    return dialog_ && !dialog_->isHidden();
}

void CRightWnd::ShowDialog(bool show) {
    if (!dialog_ || DialogShown() == show) return;
    dialog_->setVisible(show);
    dialog_->visible.store(show);
    if (show) PlaceDialog();
    UpdateLayout();
    viewport()->update();
    if (!show && dialogHidden) dialogHidden();
}

void CRightWnd::ToggleDialog() {
    if (canToggle && !canToggle()) return;
    ShowDialog(!DialogShown());
}

QString CRightWnd::TextLine() const {
    return fileOpen_ ? QStringLiteral(
                           "Double click the mouse button to switch between the parsing "
                           "dialog and the display area ...")
                     : QStringLiteral("Please open an MPEG-1 or MPEG-2 file...");
}

void CRightWnd::PlaceDialog() {
    if (!dialog_) return;
    const QSize hint = dialog_->sizeHint();
    const int w = std::min(std::max(hint.width(), 560), std::max(200, viewport()->width() - 20));
    const int h = hint.height();
    dialog_->setGeometry(std::max(10, (viewport()->width() - w) / 2),
                         std::max(10, (viewport()->height() - h) / 3), w, h);
}

bool CRightWnd::PictureShown() const {
    return fileOpen_ && parser_ && !DialogShown() && !parser_->decoder.outOfMemory &&
           parser_->decoder.dib.HasPixels();
}

QSize CRightWnd::ShownSize() const {
    const CPictureDib& dib = parser_->decoder.dib;
    if (dispatch_ && dispatch_->displayMode == display_mode::kPicture && dib.displayWidth > 0 &&
        dib.displayHeight > 0)
        return QSize(dib.displayWidth, dib.displayHeight);
    return QSize(dib.Width(), dib.Height());
}

bool CRightWnd::IsIntraPicture() const {
    const auto record = parser_->stream.pictureRecords.find(parser_->decoder.currentPicture);
    return record != parser_->stream.pictureRecords.end() &&
           record->second.picture_coding_type == 1;
}

void CRightWnd::UpdateLayout() {
    if (fileOpen_ && parser_ && parser_->decoder.dib.HasPixels()) {
        const QSize s = ZoomedSize();
        const PaneLayout layout = ComputeLayout(s.width(), s.height());
        frame_ = layout.frame;
        hasFrame_ = true;
        needed_ = QSize(layout.neededWidth, layout.neededHeight);
    } else {
        frame_ = PaneRect();
        hasFrame_ = false;
        needed_ = QSize();
    }
    UpdateScrollBars();
}

void CRightWnd::UpdateScrollBars() {
    const QSize client = PictureArea().size();
    const bool picture = PictureShown();
    const int h = picture ? std::max(0, needed_.width() - client.width()) : 0;
    const int v = picture ? std::max(0, needed_.height() - client.height()) : 0;
    horizontalScrollBar()->setRange(0, h);
    verticalScrollBar()->setRange(0, v);
}

void CRightWnd::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    PlaceDialog();
    if (zoom_ == kZoomFit)
        UpdateLayout();
    else
        UpdateScrollBars();
}

void CRightWnd::scrollContentsBy(int, int) {
    viewport()->update();
}

const QImage& CRightWnd::PictureImage(bool grey) const {
    const CPictureDib& dib = parser_->decoder.dib;
    if (imageStale_ || image_.width() != dib.Width() || image_.height() != dib.Height()) {
        image_ = ToImage(dib);
        greyImage_ = QImage();
        imageStale_ = false;
    }
    if (!grey) return image_;
    if (greyImage_.isNull()) greyImage_ = image_.convertToFormat(QImage::Format_Grayscale8);
    return greyImage_;
}

void CRightWnd::RepaintPicture(bool) {
    imageStale_ = true;
    UpdateLayout();
    viewport()->update();
}

void CRightWnd::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), colours.pictureBackground);
    const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());

    if (fileOpen_ && !DialogShown() && hasFrame_) {
        // The picture never reaches under the text line.
        p.save();
        p.setClipRect(PictureArea());
        const PaneRect frame = Moved(frame_, -scroll.x(), -scroll.y());
        p.setPen(Pen(colours.videoEdge, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        DrawOutline(p, frame);
        if (PictureShown() && dispatch_) {
            const int mode = dispatch_->displayMode;
            // The views draw at one pixel a sample inside a frame of the unzoomed size; the
            // painter's scale zooms them about the picture's corner.
            const QSize s = mode == display_mode::kBlock
                                ? QSize(parser_->decoder.dib.Width(), parser_->decoder.dib.Height())
                                : ShownSize();
            const PaneRect plain{frame.left, frame.top, frame.left + s.width() + 2,
                                 frame.top + s.height() + 2};
            const double z = Scale();
            p.translate(frame.left + 1, frame.top + 1);
            p.scale(z, z);
            p.translate(-(frame.left + 1), -(frame.top + 1));
            if (mode == display_mode::kBlock) {
                DrawBlockView(p, plain);
            } else if (mode >= display_mode::kMacroblock) {
                DrawPictureView(p, plain, mode >= display_mode::kPictureByHeader);
                DrawMap(p, plain);
            }
            p.resetTransform();
            if (mode >= display_mode::kMacroblock && z >= kValueZoom) DrawSampleValues(p, frame);
            if (mode >= display_mode::kMacroblock) DrawLegend(p);
        }
        p.restore();
    }

    // The text line, always at the bottom of what shows.
    const QFont font = TextFont();
    p.setFont(font);
    const QFontMetrics fm(font);
    const QRect line(0, viewport()->height() - fm.height(), viewport()->width(), fm.height());
    p.fillRect(line, colours.pictureBackground);
    p.setPen(QColor(0, 0, 255));
    p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(TextLine(), Qt::ElideRight, viewport()->width()));
}

void CRightWnd::DrawMap(QPainter& p, const PaneRect& frame) const {
    if (map_.kind == MapKind::kNone || map_.cells.empty()) return;
    const CPictureDib& dib = parser_->decoder.dib;
    const QSize shown = dispatch_->displayMode == display_mode::kPicture
                            ? ShownSize()
                            : QSize(dib.Width(), dib.Height());
    const double sx = static_cast<double>(shown.width()) / std::max(1, dib.Width());
    const double sy = static_cast<double>(shown.height()) / std::max(1, dib.Height());
    const int rowHeight = map_.fieldPicture ? 32 : 16;
    p.setPen(Qt::NoPen);
    for (const MapCell& c : map_.cells) {
        const QRectF r(frame.left + 1 + c.column * 16 * sx, frame.top + 1 + c.row * rowHeight * sy,
                       16 * sx, rowHeight * sy);
        p.fillRect(r, FromRgb(c.rgb, 140));
    }
}

void CRightWnd::DrawLegend(QPainter& p) const {
    if (map_.kind == MapKind::kNone || map_.legend.empty()) return;
    QFont font;
    font.setPixelSize(12);
    p.setFont(font);
    const QFontMetrics fm(font);
    int width = fm.horizontalAdvance(QString::fromUtf8(kMapMenuNames[static_cast<int>(map_.kind)]));
    for (const MapLegendEntry& e : map_.legend)
        width = std::max(width, fm.horizontalAdvance(QString::fromStdString(e.label)) + 18);
    const int lineHeight = fm.height() + 2;
    const int h = lineHeight * (static_cast<int>(map_.legend.size()) + 1) + 8;
    const QRect area = PictureArea();
    const QRect box(area.right() - width - 20, area.top() + 6, width + 14, h);
    p.fillRect(box, QColor(255, 255, 255, 220));
    p.setPen(QColor(0, 0, 0));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    int y = box.top() + 4;
    p.drawText(QRect(box.left() + 6, y, width, lineHeight), Qt::AlignVCenter,
               QString::fromUtf8(kMapMenuNames[static_cast<int>(map_.kind)]));
    for (const MapLegendEntry& e : map_.legend) {
        y += lineHeight;
        p.fillRect(QRect(box.left() + 6, y + 3, 12, lineHeight - 6), FromRgb(e.rgb));
        p.drawText(QRect(box.left() + 24, y, width, lineHeight), Qt::AlignVCenter,
                   QString::fromStdString(e.label));
    }
}

int CRightWnd::SampleValue(int x, int y) const {
    const PictureDecoder& dec = parser_->decoder;
    const int mode = dec.colourMode;
    if (mode >= 4 && mode <= 6) {  // red, green, blue: the shown bitmap's channel
        const uint8_t* line = dec.dib.Line(y);
        return line ? line[3 * x + (6 - mode)] : 0;
    }
    int yuv[3];
    if (!DecodedSamplesAt(dec, x, y, yuv)) return -1;
    return mode == 2 ? yuv[1] : mode == 3 ? yuv[2] : yuv[0];
}

void CRightWnd::DrawSampleValues(QPainter& p, const PaneRect& frame) const {
    const CPictureDib& dib = parser_->decoder.dib;
    // Values only where a square is one coded sample.
    if (ShownSize() != QSize(dib.Width(), dib.Height())) return;
    const int z = static_cast<int>(Scale());
    const QRect area = PictureArea();
    const int x0 = std::max(0, (area.left() - frame.left - 1) / z);
    const int y0 = std::max(0, (area.top() - frame.top - 1) / z);
    const int x1 = std::min(dib.Width() - 1, (area.right() - frame.left - 1) / z);
    const int y1 = std::min(dib.Height() - 1, (area.bottom() - frame.top - 1) / z);
    QFont font;
    font.setPixelSize(std::max(8, z / 3));
    p.setFont(font);
    for (int y = y0; y <= y1; ++y) {
        const uint8_t* line = dib.Line(y);
        for (int x = x0; x <= x1; ++x) {
            const int v = SampleValue(x, y);
            if (v < 0) continue;
            // Dark text on light samples, light text on dark ones.
            const int b =
                line ? (line[3 * x] * 29 + line[3 * x + 1] * 150 + line[3 * x + 2] * 77) >> 8 : 0;
            p.setPen(b > 128 ? QColor(0, 0, 0) : QColor(255, 255, 255));
            p.drawText(QRect(frame.left + 1 + x * z, frame.top + 1 + y * z, z, z), Qt::AlignCenter,
                       QString::number(v));
        }
    }
}

void CRightWnd::DrawPictureView(QPainter& p, const PaneRect& frame, bool whole) const {
    const PictureDecoder& dec = parser_->decoder;
    const CPictureDib& dib = dec.dib;
    const QSize s = whole ? ShownSize() : QSize(dib.Width(), dib.Height());
    const QRect inside(frame.left + 1, frame.top + 1, s.width(), s.height());
    const bool intra = IsIntraPicture();
    const bool scaled = whole && s != QSize(dib.Width(), dib.Height());
    if (displayMvs && mvsOnly && !intra)
        p.fillRect(inside, colours.pictureBackground);
    else
        // Under a map the picture goes grey, so that the map's colours read as the legend says.
        p.drawImage(inside, PictureImage(map_.kind != MapKind::kNone && !map_.cells.empty()));

    // The focused rectangle: the unit's focus, or the display area of a whole picture.
    PaneRect focus;
    if (whole) {
        const CStreamState& st = parser_->stream;
        DisplayAreaInput area;
        area.pictureWidth = dib.Width();
        area.pictureHeight = dib.Height();
        area.shownWidth = s.width();
        area.shownHeight = s.height();
        area.displayHorizontalSize =
            st.displayWidth ? static_cast<int>(st.displayWidth) : dib.Width();
        area.displayVerticalSize =
            st.displayHeight ? static_cast<int>(st.displayHeight) : dib.Height();
        const auto display = st.pictureDisplayRecords.find(dec.currentPicture);
        area.hasPictureDisplay = display != st.pictureDisplayRecords.end();
        if (area.hasPictureDisplay) {
            area.frameCentreHorizontalOffset = display->second.frame_centre_horizontal_offset[0];
            area.frameCentreVerticalOffset = display->second.frame_centre_vertical_offset[0];
        }
        focus = DisplayAreaRect(frame, area);
    } else {
        focus = PartFocusRect(frame, dib.Focus(), mbGrid);
    }

    if (mbGrid) {
        p.setPen(Pen(colours.grid));
        for (const PaneLine& l : GridLines(frame, dib.Width(), dib.Height(),
                                           scaled ? dib.scaleX : 1.0, scaled ? dib.scaleY : 1.0)) {
            // Straight lines up to their end point, which is not drawn.
            PaneLine shorter = l;
            if (l.to.x > l.from.x) --shorter.to.x;
            if (l.to.y > l.from.y) --shorter.to.y;
            DrawLine(p, shorter);
        }
    }
    if (displayMvs && !intra && !dec.overlay.empty()) {
        MotionVectorView view;
        view.mbWidth = dec.Sequence().mbWidth;
        view.mbHeight = view.mbWidth > 0 ? static_cast<int>(dec.overlay.size()) / view.mbWidth : 0;
        view.pictureStructure = dib.PictureStructure();
        view.intraPicture = intra;
        view.displayMode = dispatch_->displayMode;
        view.focus = dib.Focus();
        view.frame = frame;
        view.scaleX = dib.scaleX;
        view.scaleY = dib.scaleY;
        view.vectorIndex = vectorSelect == 0 || vectorSelect == 1 ? vectorSelect : kBothSelected;
        view.direction =
            directionSelect == 0 || directionSelect == 1 ? directionSelect : kBothSelected;
        for (const Arrow& a : MotionVectorLines(dec.overlay, view)) {
            p.setPen(Pen(a.direction ? colours.backwardVectors : colours.forwardVectors));
            DrawLine(p, a.line);
            for (int i = 0; i < a.head.count; ++i) DrawLine(p, a.head.stroke[i]);
        }
    }
    p.setPen(Pen(colours.focusedRectangle));
    p.setBrush(Qt::NoBrush);
    DrawOutline(p, focus);
}

void CRightWnd::DrawBlockView(QPainter& p, const PaneRect& frame) const {
    const BlockResult& b = dispatch_->block;
    const PaneRect r =
        BlockViewRect(frame, b.x, b.y, b.component, parser_->decoder.Sequence().chroma_format);
    p.setPen(Pen(colours.focusedRectangle));
    p.setBrush(Qt::NoBrush);
    DrawOutline(p, r);
    QImage samples(8, 8, QImage::Format_RGB32);
    for (int i = 0; i < 64; ++i) {
        const uint32_t c = BlockSampleColour(b.component, b.display[i]);
        samples.setPixel(i % 8, i / 8, qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
    }
    p.drawImage(QPoint(r.left + 1, r.top + 1), samples);
}

QImage CRightWnd::Snapshot() const {
    if (!PictureShown() || !dispatch_ || dispatch_->displayMode < display_mode::kMacroblock)
        return {};
    const QSize s = dispatch_->displayMode == display_mode::kPicture
                        ? ShownSize()
                        : QSize(parser_->decoder.dib.Width(), parser_->decoder.dib.Height());
    QImage image(s, QImage::Format_RGB32);
    image.fill(colours.pictureBackground);
    QPainter p(&image);
    // The frame just outside the image, so the picture lands at (0, 0).
    DrawPictureView(p, PaneRect{-1, -1, s.width() + 1, s.height() + 1},
                    dispatch_->displayMode >= display_mode::kPictureByHeader);
    return image;
}

std::string CRightWnd::SaveSnapshot(const std::string& path) const {
    const QImage image = Snapshot();
    if (image.isNull()) return "Failed to save the snapshot!";
    ScreenBitmap screen;
    screen.bits = image.constBits();
    screen.width = image.width();
    screen.height = image.height();
    screen.bitsPerPixel = 32;
    screen.bytesPerLine = static_cast<size_t>(image.bytesPerLine());
    CPictureDib dib;
    if (!dib.CreateFromScreenBitmap(screen)) return "Failed to save the snapshot!";
    const BmpResult result = dib.Save(path);
    if (result != BmpResult::kOk) {
        const BmpMessage m = BmpResultMessage(result);
        return m.text ? m.text : "Failed to save the snapshot!";
    }
    return {};
}

void CRightWnd::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        doubleClicked_ = true;
        ToggleDialog();
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void CRightWnd::mouseMoveEvent(QMouseEvent* event) {
    int x = 0, y = 0;
    const bool inside = SampleAt(event->position().toPoint(), x, y);
    if (hovered) hovered(x, y, inside);
    QAbstractScrollArea::mouseMoveEvent(event);
}

void CRightWnd::leaveEvent(QEvent* event) {
    if (hovered) hovered(0, 0, false);
    QAbstractScrollArea::leaveEvent(event);
}

void CRightWnd::mouseReleaseEvent(QMouseEvent* event) {
    QAbstractScrollArea::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton) return;
    // The release that ends a double click is no click of its own.
    if (doubleClicked_) {
        doubleClicked_ = false;
        return;
    }
    int x = 0, y = 0;
    if (!clicked || !SampleAt(event->position().toPoint(), x, y)) return;
    // A click waits out the double-click time: the double click toggles the dialog instead.
    QTimer::singleShot(QApplication::doubleClickInterval(), this, [this, x, y] {
        if (doubleClicked_ || DialogShown()) return;
        if (clicked) clicked(x, y);
    });
}

void CRightWnd::wheelEvent(QWheelEvent* event) {
    const QPoint at = event->position().toPoint();
    const int notches = event->angleDelta().y() / 120;
    if (event->modifiers() & Qt::ControlModifier) {
        if (notches > 0) ZoomIn(at);
        if (notches < 0) ZoomOut(at);
        event->accept();
        return;
    }
    // The platform's step: its lines a notch, a line as tall as a line of text.
    const int lineStep = QFontMetrics(font()).height() * QApplication::wheelScrollLines();
    QPoint delta = event->pixelDelta();
    if (delta.isNull()) delta = event->angleDelta() * lineStep / 120;
    if (event->modifiers() & Qt::ShiftModifier && delta.x() == 0) delta = QPoint(delta.y(), 0);
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() - delta.y());
    event->accept();
}

}  // namespace bitloupe
