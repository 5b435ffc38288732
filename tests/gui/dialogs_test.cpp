#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

#include "help_form.h"
#include "options_form.h"
#include "qt_dialog_seam.h"
#include "qt_radio_group.h"
#include "selection_form.h"

// The dialogs of the window, driven as a user would: keys into the edits, clicks on the items,
// and the modal runs answered through the dialog seam.
class TDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { KorvexDialogs::SetExecHook({}); }

    void OptionsLayout();
    void OptionsTabOrder();
    void OptionsCancelChangesNothing();
    void OptionsOkCopiesValues();
    void OptionsEmptyMarginGives100();
    void OptionsLettersFiltered();
    void OptionsIndexBeyondLastItem();
    void OptionsExplanationLoaded();

    void SerialText_data();
    void SerialText();
    void SelectionRefreshKeepsSelection();
    void SelectionFollowsTimer();
    void SelectionOkCancel();

    void HelpEscapeHidesAndShowAgain();
};

void TDialogsTest::OptionsLayout() {
    TOptionsForm F;
    QCOMPARE(F.windowTitle(), QStringLiteral("SVF & XSVF Player Options"));
    QCOMPARE(F.size(), QSize(656, 600));
    const struct {
        TRadioGroup* Group;
        QString Caption;
        QStringList Items;
        QRect Geometry;
    } Rows[] = {
        {F.DefFreq,
         "Default TCK signal frequency",
         {"max. 3MHz", "max. 1.5MHz", "max. 750kHz"},
         {9, 10, 399, 87}},
        {F.RTwTime,
         "RUNTEST without run_count (SVF only)",
         {"no clock on TCK", "slow clock on TCK (~100kHz)", "default speed clock on TCK"},
         {8, 104, 399, 89}},
        {F.RTwCount,
         "RUNTEST with run_count and no timing (both SVF and XSVF)",
         {"default speed clock on TCK",
          "interpret as RUNTEST min_time with scale current frequency",
          "interpret as RUNTEST min_time with scale 1MHz"},
         {8, 246, 399, 89}},
        {F.PActive,
         "VPP KORVEX pin usage while running test (file)",
         {"Low (log 0)", "High (log 1)", "Tristate", "TRST (SVF only)", "SCK (SVF only)"},
         {8, 342, 399, 81}},
        {F.PInactive,
         "VPP KORVEX pin usage after test completion",
         {"Low (log 0)", "High (log 1)", "Tristate", "Keep previous state"},
         {8, 430, 399, 105}},
    };
    for (const auto& R : Rows) {
        QCOMPARE(R.Group->title(), R.Caption);
        QCOMPARE(R.Group->Items(), R.Items);
        QCOMPARE(R.Group->geometry(), R.Geometry);
        for (int I = 0; I < R.Group->Count(); ++I)
            QCOMPARE(R.Group->Button(I)->text(), R.Items[I]);
    }
    QCOMPARE(F.GroupBox1->title(), QStringLiteral("RUNTEST timing multiply (both SVF and XSVF)"));
    QCOMPARE(F.Label1->text(), QStringLiteral("% of additional time"));
    QCOMPARE(F.SecurTime->geometry(), QRect(8, 18, 49, 21));
    QCOMPARE(F.SecurTime->text(), QStringLiteral("0"));
    QCOMPARE(F.RichEdit1->geometry(), QRect(417, 16, 217, 528));
    QVERIFY(F.RichEdit1->isReadOnly());
    QCOMPARE(F.Button1->text(), QStringLiteral("OK"));
    QVERIFY(F.Button1->isDefault());
    QCOMPARE(F.Button1->geometry(), QRect(145, 566, 75, 25));
    QCOMPARE(F.Button2->text(), QStringLiteral("Cancel"));
    QCOMPARE(F.Button2->geometry(), QRect(435, 566, 75, 25));
    // The pin group has two columns: "TRST (SVF only)" heads the second one.
    F.show();
    QCOMPARE(F.PActive->Button(3)->y(), F.PActive->Button(0)->y());
    QVERIFY(F.PActive->Button(3)->x() > F.PActive->Button(0)->x());
}

void TDialogsTest::OptionsTabOrder() {
    TOptionsForm F;
    // Walk the focus chain from OK and note the control each stop belongs to, first time only.
    QStringList Order;
    QWidget* W = F.Button1;
    for (int Guard = 0; Guard < 100; ++Guard) {
        QWidget* Owner = W;
        while (Owner && Owner != &F && !qobject_cast<TRadioGroup*>(Owner) &&
               Owner->objectName().isEmpty())
            Owner = Owner->parentWidget();
        if (qobject_cast<TRadioGroup*>(W->parentWidget()))
            Owner = W->parentWidget();
        if (Owner && Owner != &F && (W->focusPolicy() & Qt::TabFocus) &&
            !Order.contains(Owner->objectName()))
            Order << Owner->objectName();
        W = W->nextInFocusChain();
        if (W == F.Button1)
            break;
    }
    const QStringList Expected = {"Button1", "Button2",   "DefFreq",   "RTwTime",  "RTwCount",
                                  "PActive", "PInactive", "RichEdit1", "SecurTime"};
    QCOMPARE(Order, Expected);
}

void TDialogsTest::OptionsCancelChangesNothing() {
    TOptionValues V{1, 0, 1, 3, 2, 25};
    const TOptionValues Before = V;
    KorvexDialogs::SetExecHook([](QDialog& D) {
        auto& F = static_cast<TOptionsForm&>(D);
        F.DefFreq->Button(2)->click();
        F.PInactive->Button(0)->click();
        F.SecurTime->setText("7");
        return int(QDialog::Rejected);
    });
    QVERIFY(!EditOptions(nullptr, V));
    QCOMPARE(V, Before);
}

void TDialogsTest::OptionsOkCopiesValues() {
    TOptionValues V{0, 1, 2, 2, 3, 100};
    TOptionValues Seen;
    KorvexDialogs::SetExecHook([&](QDialog& D) {
        auto& F = static_cast<TOptionsForm&>(D);
        Seen = F.Values();
        D.show(); // as exec would; the default button acts only in a visible dialog
        F.DefFreq->Button(1)->click();
        F.RTwTime->Button(0)->click();
        F.RTwCount->Button(1)->click();
        F.PActive->Button(4)->click();
        F.PInactive->Button(1)->click();
        F.SecurTime->selectAll();
        QTest::keyClicks(F.SecurTime, "25");
        QTest::keyClick(F.SecurTime, Qt::Key_Return); // Enter presses the default button
        return D.result();
    });
    QVERIFY(EditOptions(nullptr, V));
    QCOMPARE(Seen, (TOptionValues{0, 1, 2, 2, 3, 100}));
    QCOMPARE(V, (TOptionValues{1, 0, 1, 4, 1, 25}));
}

void TDialogsTest::OptionsEmptyMarginGives100() {
    TOptionValues V{0, 1, 2, 2, 3, 0};
    QString Shown, AfterBackspace;
    KorvexDialogs::SetExecHook([&](QDialog& D) {
        auto& F = static_cast<TOptionsForm&>(D);
        Shown = F.SecurTime->text();
        F.SecurTime->setFocus();
        F.SecurTime->end(false);
        QTest::keyClick(F.SecurTime, Qt::Key_Backspace);
        AfterBackspace = F.SecurTime->text();
        F.Button1->click();
        return D.result();
    });
    QVERIFY(EditOptions(nullptr, V));
    QCOMPARE(Shown, QStringLiteral("0"));
    QCOMPARE(AfterBackspace, QString());
    QCOMPARE(V.SecurityTime, 100);
}

void TDialogsTest::OptionsLettersFiltered() {
    TOptionsForm F;
    F.SecurTime->clear();
    QTest::keyClicks(F.SecurTime, "1a2-B 3.x");
    QCOMPARE(F.SecurTime->text(), QStringLiteral("123"));
    QTest::keyClick(F.SecurTime, Qt::Key_Backspace);
    QCOMPARE(F.SecurTime->text(), QStringLiteral("12"));
    // Text pasted in is held to digits as well.
    F.SecurTime->clear();
    F.SecurTime->insert("-5");
    QCOMPARE(F.Values().SecurityTime, 100);
    // Escape still reaches the dialog and cancels it.
    F.show();
    QSignalSpy Rejected(&F, &QDialog::rejected);
    QTest::keyClick(F.SecurTime, Qt::Key_Escape);
    QCOMPARE(Rejected.count(), 1);
}

void TDialogsTest::OptionsIndexBeyondLastItem() {
    // A settings file holding DefFreq 7 shows the last frequency and stores 2 on OK; the other
    // groups clamp the same way.
    TOptionValues V{7, 9, 200, 5, 4, 100};
    QString Checked;
    KorvexDialogs::SetExecHook([&](QDialog& D) {
        auto& F = static_cast<TOptionsForm&>(D);
        for (int I = 0; I < F.DefFreq->Count(); ++I)
            if (F.DefFreq->Button(I)->isChecked())
                Checked = F.DefFreq->Button(I)->text();
        F.Button1->click();
        return D.result();
    });
    QVERIFY(EditOptions(nullptr, V));
    QCOMPARE(Checked, QStringLiteral("max. 750kHz"));
    QCOMPARE(V, (TOptionValues{2, 2, 2, 4, 3, 100}));
}

void TDialogsTest::OptionsExplanationLoaded() {
    TOptionsForm F;
    const QString Text = F.RichEdit1->toPlainText();
    for (const char* Topic : {"Default TCK frequency", "run_count", "max_time", "XREPEAT"})
        QVERIFY2(Text.contains(QLatin1String(Topic)), Topic);
    QVERIFY(F.RichEdit1->toHtml().contains("font-weight:700")); // bold lead-ins
}

void TDialogsTest::SerialText_data() {
    QTest::addColumn<int>("Serial");
    QTest::addColumn<QString>("Text");
    QTest::newRow("six digits") << 0x012345 << "S/N 012345";
    QTest::newRow("upper case") << 0xABCDEF << "S/N ABCDEF";
    QTest::newRow("small") << 0x1F << "S/N 00001F";
    QTest::newRow("tagged") << int(0xA6012345) << "S/N A6012345";
    QTest::newRow("none") << -1 << "S/N FFFFFFFF";
}

void TDialogsTest::SerialText() {
    QFETCH(int, Serial);
    QFETCH(QString, Text);
    QCOMPARE(KorvexSerialText(Serial), Text);
}

void TDialogsTest::SelectionRefreshKeepsSelection() {
    std::vector<int32_t> Attached = {0x012345, 0x00ABCD, 0x100000};
    int Searches = 0;
    TJTAGKorvexSelectionForm F(nullptr, [&] {
        ++Searches;
        return Attached;
    });
    QCOMPARE(F.windowTitle(), QStringLiteral("Select KORVEX"));
    QCOMPARE(F.RadioGroup->title(), QStringLiteral("KORVEX Serial Number"));
    QCOMPARE(F.RadioGroup->Items(), (QStringList{"S/N 012345", "S/N 00ABCD", "S/N 100000"}));
    QCOMPARE(F.RadioGroup->ItemIndex(), -1); // starts with nothing selected
    QCOMPARE(F.SelectedSerial(), -1);
    QCOMPARE(Searches, 1);

    F.RadioGroup->Button(1)->click();
    QCOMPARE(F.SelectedSerial(), int32_t(0xA600ABCD));
    F.RefreshList(); // same list: the user's choice stays
    QCOMPARE(F.RadioGroup->ItemIndex(), 1);
    QVERIFY(F.RadioGroup->Button(1)->isChecked());

    // A programmer plugged in: the items change, the index stays.
    Attached.push_back(0x000001);
    F.RefreshList();
    QCOMPARE(F.RadioGroup->Count(), 4);
    QCOMPARE(F.RadioGroup->ItemIndex(), 1);

    // The selected item's position disappears: the selection moves to the last item.
    F.RadioGroup->Button(3)->click();
    Attached = {0x000001, 0x000002};
    F.RefreshList();
    QCOMPARE(F.RadioGroup->Items(), (QStringList{"S/N 000001", "S/N 000002"}));
    QCOMPARE(F.RadioGroup->ItemIndex(), 1);
    QCOMPARE(F.SelectedSerial(), int32_t(0xA6000002));

    // All unplugged: nothing to select.
    Attached.clear();
    F.RefreshList();
    QCOMPARE(F.RadioGroup->Count(), 0);
    QCOMPARE(F.SelectedSerial(), -1);

    // Many programmers: the dialog grows so that every item stays visible.
    for (int32_t S = 1; S <= 9; ++S)
        Attached.push_back(S);
    F.RefreshList();
    F.show();
    const QRadioButton* Last = F.RadioGroup->Button(8);
    QVERIFY(F.RadioGroup->rect().contains(Last->geometry()));
    QVERIFY(F.ButtonOK->geometry().top() >= F.RadioGroup->geometry().bottom());
}

void TDialogsTest::SelectionFollowsTimer() {
    std::vector<int32_t> Attached = {0x000010};
    TJTAGKorvexSelectionForm F(nullptr, [&] { return Attached; });
    QCOMPARE(F.Timer->interval(), 1000);
    QVERIFY(F.Timer->isActive());
    F.RadioGroup->Button(0)->click();
    Attached.push_back(0x000020);
    QTRY_COMPARE_WITH_TIMEOUT(F.RadioGroup->Count(), 2, 1500);
    QCOMPARE(F.RadioGroup->ItemIndex(), 0);
}

void TDialogsTest::SelectionOkCancel() {
    TJTAGKorvexSelectionForm F(nullptr, [] { return std::vector<int32_t>{0x0A0B0C}; });
    QCOMPARE(F.ButtonOK->text(), QStringLiteral("OK"));
    QCOMPARE(F.ButtonCancel->text(), QStringLiteral("Cancel"));
    QVERIFY(F.ButtonOK->isDefault());
    F.ButtonCancel->click();
    QCOMPARE(F.result(), int(QDialog::Rejected));
    F.ButtonOK->click();
    QCOMPARE(F.result(), int(QDialog::Accepted));
}

void TDialogsTest::HelpEscapeHidesAndShowAgain() {
    THelpForm H;
    QCOMPARE(H.windowTitle(), QStringLiteral("SVF & XSVF Player Help & Programming Tips"));
    QVERIFY(!H.isVisible());
    const QString Text = H.Text->toPlainText();
    for (const char* Piece : {"MOSI", "CLOCK", "MISO", "LVP", "XSETSDRMASKS", "-cc", "PIOMAP"})
        QVERIFY2(Text.contains(QLatin1String(Piece)), Piece);
    QVERIFY(H.Text->toHtml().contains("Courier New"));

    H.ShowHelp();
    QVERIFY(H.isVisible());
    QVERIFY(H.windowState() & Qt::WindowMaximized);
    H.Text->setFocus();
    QTest::keyClick(H.Text, Qt::Key_Escape); // the window sees it before the text control
    QVERIFY(!H.isVisible());
    H.ShowHelp();
    QVERIFY(H.isVisible());
    QTest::keyClick(&H, Qt::Key_Escape);
    QVERIFY(!H.isVisible());
}

QTEST_MAIN(TDialogsTest)
#include "dialogs_test.moc"
