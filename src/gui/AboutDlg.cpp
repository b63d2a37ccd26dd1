#include "gui/AboutDlg.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>

static void InitAboutResources() {
    Q_INIT_RESOURCE(icons);
}

namespace bitloupe {

QString LinkErrorText(int code) {
    switch (code) {
        case 0:
            return "The operating system is out\nof memory or resources.";
        case 2:
            return "The specified file was not found.";
        case 3:
            return "The specified path was not found.";
        case 5:
            return "The operating system denied\naccess to the specified file.";
        case 8:
            return "There was not enough memory to complete the operation.";
        case 11:
            return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
        case 26:
            return "A sharing violation occurred. ";
        case 27:
            return "The filename association is\nincomplete or invalid.";
        case 28:
            return "The DDE transaction could not\nbe completed because the request timed out.";
        case 29:
            return "The DDE transaction failed.";
        case 30:
            return "The DDE transaction could not\nbe completed because other DDE "
                   "transactions\nwere being processed.";
        case 31:
            return "There is no application associated\nwith the given filename extension.";
        case 32:
            return "The specified dynamic-link library was not found.";
        default:
            return QString("Unknown Error (%1) occurred.").arg(code);
    }
}

QString LinkFailureMessage(int code) {
    return "Unable to open hyperlink:\n\n" + LinkErrorText(code);
}

namespace {

bool OpenOnDesktop(const QUrl& url, int* error) {
    if (!url.isValid() || url.isEmpty()) {
        *error = kLinkFileNotFound;
        return false;
    }
    if (QDesktopServices::openUrl(url)) return true;
    *error = kLinkNoAssociation;
    return false;
}

}  // namespace

// ---- CHyperLink ----

CHyperLink::CHyperLink(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);  // the link is its text, no more
    setContentsMargins(2, 1, 2, 1);                         // room for the focus rectangle
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    UpdateLook();
}

void CHyperLink::SetAddress(const QString& address) {
    address_ = address;
    if (text().isEmpty()) setText(address_);
    setToolTip(this->address());
}

QString CHyperLink::address() const {
    return address_.isEmpty() ? text() : address_;
}

void CHyperLink::SetColours(const QColor& link, const QColor& visited, const QColor& hover) {
    link_ = link;
    visitedColour_ = visited;
    hover_ = hover;
    UpdateLook();
}

void CHyperLink::SetVisited(bool visited) {
    visited_ = visited;
    UpdateLook();
}

QColor CHyperLink::textColour() const {
    if (hovered_) return hover_.isValid() ? hover_ : palette().color(QPalette::Highlight);
    return visited_ ? visitedColour_ : link_;
}

void CHyperLink::UpdateLook() {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, textColour());
    setPalette(p);
    update();
}

bool CHyperLink::Open() {
    int error = -1;
    const QUrl url = QUrl::fromUserInput(address());
    const bool opened = opener ? opener(url, &error) : OpenOnDesktop(url, &error);
    if (opened) {
        SetVisited(true);
        return true;
    }
    QApplication::beep();
    QMessageBox::warning(window(), "Bitloupe", LinkFailureMessage(error));
    return false;
}

void CHyperLink::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    UpdateLook();
    QLabel::enterEvent(event);
}

void CHyperLink::leaveEvent(QEvent* event) {
    hovered_ = false;
    UpdateLook();
    QLabel::leaveEvent(event);
}

void CHyperLink::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        Open();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void CHyperLink::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            Open();
            return;
        default:
            QLabel::keyPressEvent(event);
    }
}

void CHyperLink::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    QPainter p(this);
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
}

// ---- CAboutDlg ----

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    InitAboutResources();
    setWindowTitle("About Bitloupe");
    setObjectName("aboutDialog");

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(":/icons/bitloupe.svg").pixmap(QSize(48, 48), devicePixelRatioF()));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* version = new QLabel("Bitloupe Version " BITLOUPE_VERSION, this);
    version->setObjectName("versionLine");
    version->setMinimumWidth(240);
    QFont bold = version->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    version->setFont(bold);

    homePage_ = new CHyperLink("Bitloupe home page", this);
    homePage_->SetAddress(kHomePage);
    userGuide_ = new CHyperLink("Bitloupe user guide", this);
    userGuide_->SetAddress(kUserGuide);
    for (CHyperLink* link : {homePage_, userGuide_})
        link->SetColours(QColor(0, 0, 255), QColor(0, 0, 255), QColor(255, 0, 0));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(version);
    texts->addSpacing(4);
    texts->addWidget(homePage_);
    texts->addWidget(userGuide_);
    texts->addStretch();

    auto* body = new QHBoxLayout;
    body->setSpacing(16);
    body->addWidget(icon, 0, Qt::AlignTop);
    body->addLayout(texts, 1);

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 12);
    layout->setSpacing(14);
    layout->addLayout(body);
    layout->addWidget(box);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    box->button(QDialogButtonBox::Ok)->setDefault(true);
    box->button(QDialogButtonBox::Ok)->setFocus();
}

}  // namespace bitloupe
