#include "display/RightWnd.h"

#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "display/Overlay.h"
#include "engine/ParseDlg.h"
#include "engine/SyntaxParser.h"

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

// The picture bitmap (bottom-up rows of blue, green, red) as an image, top line first.
QImage ToImage(const CPictureDib& dib) {
    QImage image(dib.Width(), dib.Height(), QImage::Format_RGB888);
    for (int y = 0; y < dib.Height(); ++y) {
        const uint8_t* src = dib.Line(y);
        uint8_t* dst = image.scanLine(y);
        for (int x = 0; x < dib.Width(); ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
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
}

void CRightWnd::SetParseDialog(CParseDlg* dialog) {
    dialog_ = dialog;
    dialog_->setParent(viewport());
    connect(dialog_, &CParseDlg::DoubleClicked, this, &CRightWnd::ToggleDialog);
    PlaceDialog();
}

void CRightWnd::SetFileOpen(bool open) {
    fileOpen_ = open;
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
    return fileOpen_ ? QStringLiteral("Double click the mouse button to switch between the parsing "
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
    return fileOpen_ && parser_ && !DialogShown() && !parser_->stream.outOfMemory &&
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
        const QSize s = ShownSize();
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
    const QSize client = viewport()->size();
    const bool picture = PictureShown();
    const int h = picture ? std::max(0, needed_.width() - client.width()) : 0;
    const int v = picture ? std::max(0, needed_.height() - client.height()) : 0;
    horizontalScrollBar()->setRange(0, h);
    verticalScrollBar()->setRange(0, v);
}

void CRightWnd::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    PlaceDialog();
    UpdateScrollBars();
}

void CRightWnd::scrollContentsBy(int, int) {
    viewport()->update();
}

void CRightWnd::RepaintPicture(bool) {
    UpdateLayout();
    viewport()->update();
}

void CRightWnd::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), colours.pictureBackground);
    const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());

    if (fileOpen_ && !DialogShown() && hasFrame_) {
        const PaneRect frame = Moved(frame_, -scroll.x(), -scroll.y());
        QPen edge(colours.videoEdge, 1, Qt::DashLine);
        p.setPen(edge);
        p.setBrush(Qt::NoBrush);
        DrawOutline(p, frame);
        if (PictureShown() && dispatch_) {
            const int mode = dispatch_->displayMode;
            if (mode == display_mode::kBlock)
                DrawBlockView(p, frame);
            else if (mode >= display_mode::kMacroblock)
                DrawPictureView(p, frame, mode >= display_mode::kPictureByHeader);
        }
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
        p.drawImage(inside, ToImage(dib));

    // The focused rectangle: the unit's focus, or the display area of a whole picture.
    PaneRect focus;
    if (whole) {
        const CStreamState& st = parser_->stream;
        DisplayAreaInput area;
        area.pictureWidth = dib.Width();
        area.pictureHeight = dib.Height();
        area.shownWidth = s.width();
        area.shownHeight = s.height();
        area.displayHorizontalSize = st.displayWidth ? static_cast<int>(st.displayWidth) : dib.Width();
        area.displayVerticalSize = st.displayHeight ? static_cast<int>(st.displayHeight) : dib.Height();
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
        p.setPen(QPen(colours.grid, 1));
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
        view.mbWidth = parser_->stream.mbWidth;
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
            p.setPen(QPen(a.direction ? colours.backwardVectors : colours.forwardVectors, 1));
            DrawLine(p, a.line);
            for (int i = 0; i < a.head.count; ++i) DrawLine(p, a.head.stroke[i]);
        }
    }
    p.setPen(QPen(colours.focusedRectangle, 1));
    p.setBrush(Qt::NoBrush);
    DrawOutline(p, focus);
}

void CRightWnd::DrawBlockView(QPainter& p, const PaneRect& frame) const {
    const BlockResult& b = dispatch_->block;
    const PaneRect r = BlockViewRect(frame, b.x, b.y, b.component, parser_->stream.chroma_format);
    p.setPen(QPen(colours.focusedRectangle, 1));
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
    if (event->button() == Qt::LeftButton) ToggleDialog();
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

}  // namespace bitloupe
