// The colours dialog (what OK and Cancel give back, the chooser, the hover colours) and the
// About box's hyperlinks (visited state, the failure message), offscreen.
#include <QEnterEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "core/syntax/StreamState.h"
#include "gui/AboutDlg.h"
#include "gui/ColorsDlg.h"
#include "gui/FlatButton.h"
#include "gui/RightWnd.h"

using namespace bitloupe;

namespace {

CustomColours SomeColours() {
    CustomColours c;
    c.pictureBackground = QColor(212, 208, 200);
    c.fieldBackground = QColor(130, 130, 130);
    c.videoEdge = QColor(0, 0, 255);
    c.focusedRectangle = QColor(255, 0, 0);
    c.forwardVectors = QColor(255, 255, 0);
    c.backwardVectors = QColor(255, 0, 255);
    c.mbGrid = QColor(0, 255, 255);
    return c;
}

void Hover(QWidget* w, bool in) {
    if (in) {
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
        QApplication::sendEvent(w, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w, &leave);
    }
}

// The colour at the button's right end, clear of its swatch and text.
QColor BackgroundOf(QWidget* w) {
    return w->grab().toImage().pixelColor(w->width() - 6, w->height() / 2);
}

}  // namespace

class AppDialogsTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void okWithoutChangeFixesFieldBackground() {
        PaneColours pane;
        pane.pictureBackground = QColor(212, 208, 200);
        CStreamState stream;
        stream.greyColourRgb = 0x302010;  // red in the low byte
        const CustomColours before = CurrentColours(pane, stream);
        QCOMPARE(before.fieldBackground, QColor(0x10, 0x20, 0x30));

        CColorsDlg dlg(before);
        dlg.accept();
        const CColorsDlg::Outcome out = dlg.outcome();
        QVERIFY(out.ok);
        QVERIFY(out.colours == before);

        QVERIFY(!stream.greyColourFixed);
        ApplyColours(out.colours, pane, stream);
        QVERIFY(stream.greyColourFixed);
        QCOMPARE(stream.greyColourRgb, 0x302010u);
        QVERIFY(CurrentColours(pane, stream) == before);
    }

    void chosenColourComesBackWithItsHoverColours() {
        const CustomColours before = SomeColours();
        CColorsDlg dlg(before);
        QColor offered;
        QString title;
        QColor answer(10, 200, 30);
        dlg.chooseColour = [&](const QColor& initial, const QString& t, QWidget*) {
            offered = initial;
            title = t;
            return answer;
        };
        dlg.show();
        CFlatButton* field = dlg.button(CColorsDlg::kFieldBackground);
        CFlatButton* forward = dlg.button(CColorsDlg::kForwardVectors);

        QTest::mouseClick(field, Qt::LeftButton);
        QCOMPARE(offered, before.fieldBackground);
        QCOMPARE(title, QString("Field Background"));
        QCOMPARE(field->hoverBackground(), answer);
        // The vector buttons keep the field background they were given.
        QCOMPARE(forward->hoverBackground(), before.fieldBackground);

        // The hover colour shows while the pointer is over the button, and only then.
        Hover(field, true);
        QCOMPARE(BackgroundOf(field), answer);
        Hover(field, false);
        QVERIFY(BackgroundOf(field) != answer);

        answer = QColor(1, 2, 3);
        QTest::mouseClick(forward, Qt::LeftButton);
        QCOMPARE(offered, before.forwardVectors);
        QCOMPARE(forward->hoverText(), answer);
        QCOMPARE(forward->hoverBackground(), QColor(10, 200, 30));

        dlg.accept();
        CustomColours expected = before;
        expected.fieldBackground = QColor(10, 200, 30);
        expected.forwardVectors = QColor(1, 2, 3);
        QVERIFY(dlg.outcome().ok);
        QVERIFY(dlg.outcome().colours == expected);
    }

    void cancelGivesNothingChanged() {
        const CustomColours before = SomeColours();
        {
            // Cancel in the chooser.
            CColorsDlg dlg(before);
            dlg.chooseColour = [](const QColor&, const QString&, QWidget*) { return QColor(); };
            dlg.ChooseColour(CColorsDlg::kMbGrid);
            QCOMPARE(dlg.button(CColorsDlg::kMbGrid)->hoverText(), before.mbGrid);
            dlg.accept();
            QVERIFY(dlg.outcome().colours == before);
        }
        {
            // Cancel in the dialog, after a colour was chosen.
            CColorsDlg dlg(before);
            dlg.chooseColour = [](const QColor&, const QString&, QWidget*) {
                return QColor(9, 9, 9);
            };
            dlg.ChooseColour(CColorsDlg::kPictureBackground);
            dlg.reject();
            QVERIFY(!dlg.outcome().ok);
            QVERIFY(dlg.outcome().colours == before);
        }
    }

    void linkVisitedOnceOpened() {
        CAboutDlg about;
        about.show();
        QCOMPARE(about.findChild<QLabel*>("versionLine")->text(), QString("Bitloupe Version 1.0"));
        CHyperLink* link = about.homePageLink();
        QUrl opened;
        link->opener = [&](const QUrl& url, int*) {
            opened = url;
            return true;
        };
        QCOMPARE(link->textColour(), QColor(0, 0, 255));
        Hover(link, true);
        QCOMPARE(link->textColour(), QColor(255, 0, 0));
        Hover(link, false);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(opened, QUrl(CAboutDlg::kHomePage));
        QVERIFY(link->visited());
        QVERIFY(!about.userGuideLink()->visited());

        // A link of its own colours: link, then visited, colour.
        CHyperLink plain("https://example.org/guide");
        plain.opener = [](const QUrl&, int*) { return true; };
        QCOMPARE(plain.textColour(), QColor(0, 0, 238));
        QVERIFY(plain.Open());
        QCOMPARE(plain.textColour(), QColor(85, 26, 139));
    }

    void linkThatCannotOpenSaysWhy() {
        CHyperLink link("Bitloupe user guide");
        link.SetAddress(CAboutDlg::kUserGuide);
        link.opener = [](const QUrl&, int* error) {
            *error = kLinkNoAssociation;
            return false;
        };
        QString caption, text;
        QTimer answer;
        answer.setInterval(10);
        connect(&answer, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            caption = box->windowTitle();
            text = box->text();
            box->accept();
            answer.stop();
        });
        answer.start();
        QVERIFY(!link.Open());
        QCOMPARE(caption, QString("Bitloupe"));
        QCOMPARE(text, QString("Unable to open hyperlink:\n\nThere is no application associated\n"
                               "with the given filename extension."));
        QVERIFY(!link.visited());
        QCOMPARE(LinkFailureMessage(77),
                 QString("Unable to open hyperlink:\n\nUnknown Error (77) occurred."));
    }
};

QTEST_MAIN(AppDialogsTest)
#include "dialogs_app_test.moc"
