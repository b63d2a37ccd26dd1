// The gamma and selective DCT dialogs, offscreen: the preview and OK against the tables,
// Cancel, the link and range rules; the mask buttons, the index text and OK.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QtTest>
#include <initializer_list>
#include <utility>
#include <vector>

#include "core/image/Filters.h"
#include "gui/DctMaskDlg.h"
#include "gui/GammaDlg.h"

using namespace bitloupe;

namespace {

// A 3 x 2 picture whose bytes are all different: blue, green, red of pixel i are 40i + 10,
// 40i + 20, 40i + 30.
void MakePicture(CPictureDib& dib) {
    dib.Release();
    QVERIFY(dib.Create(3, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int b = 0; b < 3; ++b)
                dib.Line(y)[3 * x + b] = static_cast<uint8_t>(40 * (3 * y + x) + 10 * (b + 1));
}

std::vector<uint8_t> Bytes(const CPictureDib& dib) {
    return {dib.Bits(), dib.Bits() + dib.ImageSize()};
}

// Every pixel of `out` is `in` mapped through the gammas (blue, green, red bytes).
void CheckMapped(const CPictureDib& in, const CPictureDib& out, double red, double green,
                 double blue) {
    QCOMPARE(out.Width(), in.Width());
    QCOMPARE(out.Height(), in.Height());
    const GammaTable tables[3] = {MakeGammaTable(blue), MakeGammaTable(green), MakeGammaTable(red)};
    for (int y = 0; y < in.Height(); ++y)
        for (size_t i = 0; i < in.RowBytes(); ++i)
            QCOMPARE(out.Line(y)[i], tables[i % 3][in.Line(y)[i]]);
}

// Replaces the edit's text in one change, as a paste does.
void Type(QLineEdit* edit, const char* text) {
    edit->selectAll();
    edit->insert(text);
}

QPushButton* Button(QDialog& dlg, QDialogButtonBox::StandardButton which) {
    return dlg.findChild<QDialogButtonBox*>()->button(which);
}

// A mask of `fill` with the entries (row, column) set to the other value.
DctMask Mask(uint8_t fill, std::initializer_list<std::pair<int, int>> others) {
    DctMask mask;
    mask.fill(fill);
    for (auto [row, column] : others) mask[row * 8 + column] = fill ? 0 : 1;
    return mask;
}

}  // namespace

class ImagingDialogsTest : public QObject {
    Q_OBJECT

    CPictureDib picture;
    std::vector<uint8_t> original;

  private Q_SLOTS:
    void init() {
        MakePicture(picture);
        original = Bytes(picture);
    }

    void gammaPreviewAndOkFollowTheTables() {
        int previews = 0;
        CPictureDib shown;
        CGammaDlg dlg(picture, [&](const CPictureDib& preview) {
            ++previews;
            QVERIFY(shown.CopyFrom(preview));
        });
        // Opening shows the picture itself and hands nothing over.
        QCOMPARE(previews, 0);
        QCOMPARE(Bytes(dlg.preview()), original);

        // The red slider's left end: linked, every channel takes the maximum.
        dlg.slider(GammaSettings::kRed)->setValue(kGammaSliderMin);
        QCOMPARE(previews, 1);
        for (int c = 0; c < 3; ++c) QCOMPARE(dlg.gammaEdit(c)->text(), QString("4"));
        CheckMapped(picture, shown, 4, 4, 4);

        // Unlinked, a typed blue gamma changes the blue bytes only.
        dlg.linkBox()->click();
        Type(dlg.gammaEdit(GammaSettings::kBlue), "0.5");
        CheckMapped(picture, shown, 4, 4, 0.5);
        QCOMPARE(dlg.slider(GammaSettings::kBlue)->value(), 67);
        QCOMPARE(Bytes(picture), original);

        Button(dlg, QDialogButtonBox::Ok)->click();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(ApplyGammaTables(picture, dlg.tables()) == FilterResult::kDone);
        CheckMapped(shown, picture, 1, 1, 1);
        QVERIFY(picture.Restore());
        QCOMPARE(Bytes(picture), original);
    }

    void gammaCancelAndUntouchedOkChangeNothing() {
        {
            CGammaDlg dlg(picture);
            dlg.slider(GammaSettings::kRed)->setValue(60);
            Type(dlg.maximumEdit(), "8");
            Button(dlg, QDialogButtonBox::Cancel)->click();
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
            QVERIFY(!picture.HasSavedCopy());
            QCOMPARE(Bytes(picture), original);
        }
        // All gammas 1: the tables are the identity.
        CGammaDlg dlg(picture);
        Button(dlg, QDialogButtonBox::Ok)->click();
        QVERIFY(ApplyGammaTables(picture, dlg.tables()) == FilterResult::kDone);
        QCOMPARE(Bytes(picture), original);
    }

    void gammaLinkRule() {
        int previews = 0;
        CGammaDlg dlg(picture, [&](const CPictureDib&) { ++previews; });
        QVERIFY(dlg.linkBox()->isChecked());
        QCOMPARE(dlg.linkBox()->text(), QString("Link the Gamma values of RGB color components"));
        for (int c : {GammaSettings::kGreen, GammaSettings::kBlue}) {
            QVERIFY(!dlg.slider(c)->isEnabled());
            QVERIFY(dlg.gammaEdit(c)->isReadOnly());
        }
        // A typed red gamma goes to all three; values outside 0.1..10 are ignored.
        Type(dlg.gammaEdit(GammaSettings::kRed), "2");
        for (int c = 0; c < 3; ++c) {
            QCOMPARE(dlg.gammaEdit(c)->text(), QString("2"));
            QCOMPARE(dlg.slider(c)->value(), -33);
        }
        Type(dlg.gammaEdit(GammaSettings::kRed), "12");
        Type(dlg.gammaEdit(GammaSettings::kRed), "0.05");
        QCOMPARE(dlg.gammaEdit(GammaSettings::kGreen)->text(), QString("2"));
        QCOMPARE(previews, 1);

        // Unlinked, the channels move alone, but a slider move recomputes every gamma from
        // its position: the typed 2 becomes the 1.99 of position -33. Linking again brings
        // green and blue to red.
        dlg.linkBox()->click();
        QVERIFY(dlg.slider(GammaSettings::kGreen)->isEnabled());
        QVERIFY(!dlg.gammaEdit(GammaSettings::kBlue)->isReadOnly());
        dlg.slider(GammaSettings::kGreen)->setValue(100);
        QCOMPARE(dlg.gammaEdit(GammaSettings::kGreen)->text(), QString("0.25"));
        QCOMPARE(dlg.gammaEdit(GammaSettings::kRed)->text(), QString("1.99"));
        QCOMPARE(dlg.slider(GammaSettings::kBlue)->value(), -33);
        QCOMPARE(previews, 2);
        dlg.linkBox()->click();
        QCOMPARE(dlg.slider(GammaSettings::kGreen)->value(), -33);
        QCOMPARE(dlg.gammaEdit(GammaSettings::kGreen)->text(), QString("1.99"));
        QCOMPARE(previews, 3);
        QVERIFY(!dlg.slider(GammaSettings::kGreen)->isEnabled());
    }

    void gammaMaximumRule() {
        CGammaDlg dlg(picture);
        QCOMPARE(dlg.minimumEdit()->text(), QString("1/4"));
        QCOMPARE(dlg.minimumLabel(0)->text(), QString("1/4"));

        Type(dlg.gammaEdit(GammaSettings::kRed), "3");
        Type(dlg.maximumEdit(), "2");
        QCOMPARE(dlg.minimumEdit()->text(), QString("0.5"));
        for (int c = 0; c < 3; ++c) {
            QCOMPARE(dlg.gammaEdit(c)->text(), QString("2"));
            QCOMPARE(dlg.slider(c)->value(), -100);
            QCOMPARE(dlg.maximumLabel(c)->text(), QString("2"));
            QCOMPARE(dlg.minimumLabel(c)->text(), QString("0.5"));
        }
        // Above 10 is refused; leaving the edit shows the maximum in force again.
        Type(dlg.maximumEdit(), "11");
        QCOMPARE(dlg.settings().Maximum(), 2.0);
        Q_EMIT dlg.maximumEdit()->editingFinished();
        QCOMPARE(dlg.maximumEdit()->text(), QString("2"));
    }

    void dctMaskIndexTextAndOk() {
        CDctMaskDlg dlg(SelectiveDct{true, AllOnesMask()});
        QCOMPARE(dlg.windowTitle(), QString("Define DCT Selective Matrix "));
        dlg.allZerosButton()->click();
        QCOMPARE(dlg.maskText(), AllZerosText());

        // (8,1) and (a,2) are skipped; a last group of fewer than five characters ends it.
        Type(dlg.indexEdit(), "(1,2)(8,1)(a,2)(3,4)(5,5");
        dlg.someOnesButton()->click();
        QCOMPARE(dlg.maskText(), MaskToText(Mask(0, {{2, 1}, {4, 3}})));
        dlg.allOnesButton()->click();
        Type(dlg.indexEdit(), "(0,0)(7,6)");
        dlg.someZerosButton()->click();
        QCOMPARE(dlg.maskText(), MaskToText(Mask(1, {{0, 0}, {6, 7}})));

        // OK reads the edit's text into the mask.
        QVERIFY(dlg.mask() == AllOnesMask());
        Button(dlg, QDialogButtonBox::Ok)->click();
        QVERIFY(dlg.enabled());
        QVERIFY(dlg.mask() == Mask(1, {{0, 0}, {6, 7}}));
    }

    void dctMaskCheckBoxAndCancel() {
        DctMask mask = Mask(1, {{2, 1}});
        mask[9] = 5;  // shows as 1
        CDctMaskDlg dlg(SelectiveDct{false, mask});
        QCOMPARE(dlg.maskText(), MaskToText(Mask(1, {{2, 1}})));
        QVERIFY(!dlg.enableBox()->isChecked());
        QVERIFY(dlg.maskEdit()->isReadOnly());
        QVERIFY(!dlg.indexEdit()->isEnabled());
        for (QPushButton* b : {dlg.allOnesButton(), dlg.allZerosButton(), dlg.someOnesButton(),
                               dlg.someZerosButton()})
            QVERIFY(!b->isEnabled());

        dlg.enableBox()->click();
        QVERIFY(!dlg.maskEdit()->isReadOnly());
        QVERIFY(dlg.indexEdit()->isEnabled() && dlg.someZerosButton()->isEnabled());
        dlg.allZerosButton()->click();
        Button(dlg, QDialogButtonBox::Cancel)->click();
        QVERIFY(!dlg.enabled());
        QVERIFY(dlg.mask() == mask);
    }
};

QTEST_MAIN(ImagingDialogsTest)
#include "dialogs_imaging_test.moc"
