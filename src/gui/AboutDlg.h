// The About box, and the hyperlink label it shows its web addresses with.
#pragma once

#include <QColor>
#include <QDialog>
#include <QLabel>
#include <QUrl>
#include <functional>

namespace bitloupe {

// Why an address could not be opened: the codes the desktop opener gives.
inline constexpr int kLinkFileNotFound = 2;    // not a usable address
inline constexpr int kLinkNoAssociation = 31;  // nothing on the desktop opens it
// The text for a reason's code; "Unknown Error (N) occurred." for a code it does not know.
QString LinkErrorText(int code);
// The message a link that cannot be opened shows.
QString LinkFailureMessage(int code);

// A text label that behaves like a hyperlink: underlined, in the link colour, the visited
// colour once opened, and the hover colour while the pointer is over it; the address as its
// tooltip; a click (or Space or Enter when it has the focus) opens the address.
class CHyperLink : public QLabel {
    Q_OBJECT

  public:
    // Opens the address; on failure stores the reason's code in *error.
    using Opener = std::function<bool(const QUrl& url, int* error)>;

    explicit CHyperLink(const QString& text = QString(), QWidget* parent = nullptr);

    // The address to open. A link without text shows its address; a link without an address
    // opens its text.
    void SetAddress(const QString& address);
    QString address() const;
    // An invalid hover colour stands for the palette's highlight colour.
    void SetColours(const QColor& link, const QColor& visited, const QColor& hover = QColor());
    void SetVisited(bool visited);
    bool visited() const { return visited_; }
    bool hovered() const { return hovered_; }
    // The colour the text is drawn in now.
    QColor textColour() const;

    // What a click does: opens the address and marks the link visited, or beeps and says why
    // it could not. Returns whether it opened.
    bool Open();

    // How addresses are opened; the desktop's handler for the address unless replaced.
    Opener opener;

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void UpdateLook();

    QString address_;
    QColor link_{0, 0, 238};
    QColor visitedColour_{85, 26, 139};
    QColor hover_;  // invalid: the palette's highlight colour
    bool hovered_ = false;
    bool visited_ = false;
};

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    static constexpr const char* kHomePage = "https://bitloupe.org";
    static constexpr const char* kUserGuide = "https://bitloupe.org/docs/user-guide";

    explicit CAboutDlg(QWidget* parent = nullptr);

    CHyperLink* homePageLink() const { return homePage_; }
    CHyperLink* userGuideLink() const { return userGuide_; }

  private:
    CHyperLink* homePage_ = nullptr;
    CHyperLink* userGuide_ = nullptr;
};

}  // namespace bitloupe
