#include "display/RightWnd.h"

#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>

#include "engine/ParseDlg.h"

namespace bitloupe {

namespace {
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
}  // namespace

CRightWnd::CRightWnd(QWidget* parent) : QWidget(parent) {
    background_ = palette().color(QPalette::Button);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(100, 100);
}

void CRightWnd::SetParseDialog(CParseDlg* dialog) {
    dialog_ = dialog;
    dialog_->setParent(this);
    connect(dialog_, &CParseDlg::DoubleClicked, this, &CRightWnd::ToggleDialog);
    PlaceDialog();
}

void CRightWnd::SetFileOpen(bool open) {
    fileOpen_ = open;
    update();
}

void CRightWnd::SetBackground(const QColor& c) {
    background_ = c;
    update();
}

bool CRightWnd::DialogShown() const {
    return dialog_ && !dialog_->isHidden();
}

void CRightWnd::ShowDialog(bool show) {
    if (!dialog_ || DialogShown() == show) return;
    dialog_->setVisible(show);
    dialog_->visible.store(show);
    if (show) PlaceDialog();
    update();
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
    const int w = std::min(std::max(hint.width(), 560), std::max(200, width() - 20));
    const int h = hint.height();
    dialog_->setGeometry(std::max(10, (width() - w) / 2), std::max(10, (height() - h) / 3), w, h);
}

void CRightWnd::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceDialog();
}

void CRightWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), background_);
    const QFont font = TextFont();
    p.setFont(font);
    p.setPen(QColor(0, 0, 255));
    const QFontMetrics fm(font);
    const QRect line(0, height() - fm.height(), width(), fm.height());
    p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(TextLine(), Qt::ElideRight, width()));
}

void CRightWnd::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) ToggleDialog();
    QWidget::mouseDoubleClickEvent(event);
}

}  // namespace bitloupe
