#include <QClipboard>
#include <QGroupBox>
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

namespace {
// A control of a dialog by its object name; a missing one ends the test program.
template <class T> T* Child(const QObject& Parent, const char* Name) {
    auto* C = Parent.findChild<T*>(QString::fromLatin1(Name));
    if (!C)
        qFatal("no %s named %s", T::staticMetaObject.className(), Name);
    return C;
}
TRadioGroup* Group(const QObject& Parent, const char* Name) {
    return Child<TRadioGroup>(Parent, Name);
}
QLineEdit* Margin(const QObject& Form) {
    return Child<QLineEdit>(Form, "SecurityTime");
}
QPushButton* Ok(const QObject& Form) {
    return Child<QPushButton>(Form, "okButton");
}
TRunOptions Values(uint8_t DefFreq, uint8_t RTwTime, uint8_t RTwCount, uint8_t PActive,
                   uint8_t PInactive, int32_t SecurityTime) {
    TRunOptions O;
    O.DefFreq = DefFreq;
    O.RTwTime = RTwTime;
    O.RTwCount = RTwCount;
    O.PActive = PActive;
    O.PInactive = PInactive;
    O.SecurityTime = SecurityTime;
    return O;
}
} // namespace

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
    void OptionsMarginShortcuts();
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
    const struct {
        const char* Key;
        QString Caption;
        QStringList Items;
    } Rows[] = {
        {"DefFreq", "Default TCK signal frequency", {"max. 3MHz", "max. 1.5MHz", "max. 750kHz"}},
        {"RTwTime",
         "RUNTEST without run_count (SVF only)",
         {"no clock on TCK", "slow clock on TCK (~100kHz)", "default speed clock on TCK"}},
        {"RTwCount",
         "RUNTEST with run_count and no timing (both SVF and XSVF)",
         {"default speed clock on TCK",
          "interpret as RUNTEST min_time with scale current frequency",
          "interpret as RUNTEST min_time with scale 1MHz"}},
        {"PActive",
         "VPP KORVEX pin usage while running test (file)",
         {"Low (log 0)", "High (log 1)", "Tristate", "TRST (SVF only)", "SCK (SVF only)"}},
        {"PInactive",
         "VPP KORVEX pin usage after test completion",
         {"Low (log 0)", "High (log 1)", "Tristate", "Keep previous state"}},
        {"Driver", "USB driver (used from the next start)", {"auto", "D2XX (FTDI)", "libftdi1"}},
    };
    F.show();
    QVERIFY(QTest::qWaitForWindowExposed(&F));
    const auto* Explanation = Child<QTextBrowser>(F, "explanationView");
    const auto* MarginGroup = Child<QGroupBox>(F, "marginGroup");
    const auto In = [&](const QWidget* W) { return QRect(W->mapTo(&F, QPoint(0, 0)), W->size()); };
    int Bottom = -1;
    for (const auto& R : Rows) {
        const TRadioGroup* G = Group(F, R.Key);
        QCOMPARE(G->title(), R.Caption);
        QCOMPARE(G->Items(), R.Items);
        for (int I = 0; I < G->Count(); ++I)
            QCOMPARE(G->Button(I)->text(), R.Items[I]);
        // The groups go down the left column, in this order, beside the explanation.
        QVERIFY2(In(G).top() > Bottom, R.Key);
        QVERIFY2(In(G).right() < In(Explanation).left(), R.Key);
        Bottom = In(G).bottom();
        // Every item is shown whole.
        for (int I = 0; I < G->Count(); ++I)
            QVERIFY2(G->rect().contains(G->Button(I)->geometry()), R.Key);
    }
    // The margin sits between the wait and the count groups.
    QVERIFY(In(MarginGroup).top() > In(Group(F, "RTwTime")).bottom());
    QVERIFY(In(MarginGroup).bottom() < In(Group(F, "RTwCount")).top());
    QCOMPARE(MarginGroup->title(), QStringLiteral("RUNTEST timing multiply (both SVF and XSVF)"));
    QCOMPARE(Child<QLabel>(F, "marginLabel")->text(), QStringLiteral("% of additional time"));
    QCOMPARE(Margin(F)->text(), QStringLiteral("0"));
    QVERIFY(Explanation->isReadOnly());
    QCOMPARE(Ok(F)->text(), QStringLiteral("OK"));
    QVERIFY(Ok(F)->isDefault());
    const auto* Cancel = Child<QPushButton>(F, "cancelButton");
    QCOMPARE(Cancel->text(), QStringLiteral("Cancel"));
    // OK under the choices, Cancel under the explanation, both below everything else.
    QVERIFY(In(Ok(F)).top() > In(Explanation).bottom());
    QVERIFY(In(Ok(F)).right() < In(Explanation).left());
    QVERIFY(In(Cancel).left() > In(Ok(F)).right());
    // The pin group has two columns: "TRST (SVF only)" heads the second one.
    const TRadioGroup* Pins = Group(F, "PActive");
    QCOMPARE(Pins->Button(3)->y(), Pins->Button(0)->y());
    QVERIFY(Pins->Button(3)->x() > Pins->Button(0)->x());
}

void TDialogsTest::OptionsTabOrder() {
    TOptionsForm F;
    // Walk the focus chain from OK and note the control each stop belongs to, first time only.
    QStringList Order;
    QWidget* W = Ok(F);
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
        if (W == Ok(F))
            break;
    }
    const QStringList Expected = {"okButton",        "cancelButton", "DefFreq",   "RTwTime",
                                  "RTwCount",        "PActive",      "PInactive", "Driver",
                                  "explanationView", "SecurityTime"};
    QCOMPARE(Order, Expected);
}

void TDialogsTest::OptionsCancelChangesNothing() {
    TRunOptions V = Values(1, 0, 1, 3, 2, 25);
    const TRunOptions Before = V;
    KorvexDialogs::SetExecHook([](QDialog& D) {
        auto& F = static_cast<TOptionsForm&>(D);
        Group(F, "DefFreq")->Button(2)->click();
        Group(F, "PInactive")->Button(0)->click();
        Margin(F)->setText("7");
        return int(QDialog::Rejected);
    });
    QVERIFY(!EditOptions(nullptr, V));
    QCOMPARE(V, Before);
}

void TDialogsTest::OptionsOkCopiesValues() {
    TRunOptions V = Values(0, 1, 2, 2, 3, 100);
    TRunOptions Seen;
    KorvexDialogs::SetExecHook([&](QDialog& D) {
        auto& F = static_cast<TOptionsForm&>(D);
        Seen = F.Values();
        D.show(); // as exec would; the default button acts only in a visible dialog
        Group(F, "DefFreq")->Button(1)->click();
        Group(F, "RTwTime")->Button(0)->click();
        Group(F, "RTwCount")->Button(1)->click();
        Group(F, "PActive")->Button(4)->click();
        Group(F, "PInactive")->Button(1)->click();
        Margin(F)->selectAll();
        QTest::keyClicks(Margin(F), "25");
        QTest::keyClick(Margin(F), Qt::Key_Return); // Enter presses the default button
        return D.result();
    });
    QVERIFY(EditOptions(nullptr, V));
    QCOMPARE(Seen, Values(0, 1, 2, 2, 3, 100));
    QCOMPARE(V, Values(1, 0, 1, 4, 1, 25));
}

void TDialogsTest::OptionsEmptyMarginGives100() {
    TRunOptions V = Values(0, 1, 2, 2, 3, 0);
    QString Shown, AfterBackspace;
    KorvexDialogs::SetExecHook([&](QDialog& D) {
        auto& F = static_cast<TOptionsForm&>(D);
        Shown = Margin(F)->text();
        Margin(F)->setFocus();
        Margin(F)->end(false);
        QTest::keyClick(Margin(F), Qt::Key_Backspace);
        AfterBackspace = Margin(F)->text();
        Ok(F)->click();
        return D.result();
    });
    QVERIFY(EditOptions(nullptr, V));
    QCOMPARE(Shown, QStringLiteral("0"));
    QCOMPARE(AfterBackspace, QString());
    QCOMPARE(V.SecurityTime, 100);
}

void TDialogsTest::OptionsLettersFiltered() {
    TOptionsForm F;
    Margin(F)->clear();
    QTest::keyClicks(Margin(F), "1a2-B 3.x");
    QCOMPARE(Margin(F)->text(), QStringLiteral("123"));
    QTest::keyClick(Margin(F), Qt::Key_Backspace);
    QCOMPARE(Margin(F)->text(), QStringLiteral("12"));
    // Text pasted in is held to digits as well.
    Margin(F)->clear();
    Margin(F)->insert("-5");
    QCOMPARE(F.Values().SecurityTime, 100);
    // Escape still reaches the dialog and cancels it.
    F.show();
    QSignalSpy Rejected(&F, &QDialog::rejected);
    QTest::keyClick(Margin(F), Qt::Key_Escape);
    QCOMPARE(Rejected.count(), 1);
}

void TDialogsTest::OptionsMarginShortcuts() {
    TOptionsForm F;
    F.show();
    QLineEdit* Edit = Margin(F);
    Edit->setFocus();
    QGuiApplication::clipboard()->setText(QStringLiteral("7"));
    // Each row starts from "25" with the cursor at the end.
    const struct {
        const char* Case;
        std::vector<QKeyCombination> Keys;
        QString Text, Clipboard;
    } Rows[] = {
        {"Ctrl+A then a digit replaces all", {Qt::CTRL | Qt::Key_A, Qt::Key_9}, "9", "7"},
        {"Ctrl+A, Ctrl+C copies", {Qt::CTRL | Qt::Key_A, Qt::CTRL | Qt::Key_C}, "25", "25"},
        {"Ctrl+A, Ctrl+X cuts", {Qt::CTRL | Qt::Key_A, Qt::CTRL | Qt::Key_X}, "", "25"},
        {"Ctrl+V pastes digits", {Qt::CTRL | Qt::Key_V}, "257", "7"},
        {"Ctrl+Z undoes the last typing", {Qt::Key_3, Qt::CTRL | Qt::Key_Z}, "25", "7"},
    };
    for (const auto& R : Rows) {
        QGuiApplication::clipboard()->setText(QStringLiteral("7"));
        Edit->setText(QStringLiteral("25"));
        Edit->end(false);
        for (const QKeyCombination K : R.Keys)
            QTest::keyClick(Edit, K.key(), K.keyboardModifiers());
        QCOMPARE(Edit->text(), R.Text);
        QCOMPARE(QGuiApplication::clipboard()->text(), R.Clipboard);
    }
    // Pasted letters still do not get in.
    QGuiApplication::clipboard()->setText(QStringLiteral("x-1"));
    Edit->setText(QStringLiteral("5"));
    QTest::keyClick(Edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(Edit->text(), QStringLiteral("5"));
}

void TDialogsTest::OptionsIndexBeyondLastItem() {
    // A settings file holding DefFreq 7 shows the last frequency and stores 2 on OK; the other
    // groups clamp the same way.
    TRunOptions V = Values(7, 9, 200, 5, 4, 100);
    QString Checked;
    KorvexDialogs::SetExecHook([&](QDialog& D) {
        auto& F = static_cast<TOptionsForm&>(D);
        for (int I = 0; I < Group(F, "DefFreq")->Count(); ++I)
            if (Group(F, "DefFreq")->Button(I)->isChecked())
                Checked = Group(F, "DefFreq")->Button(I)->text();
        Ok(F)->click();
        return D.result();
    });
    QVERIFY(EditOptions(nullptr, V));
    QCOMPARE(Checked, QStringLiteral("max. 750kHz"));
    QCOMPARE(V, Values(2, 2, 2, 4, 3, 100));
}

void TDialogsTest::OptionsExplanationLoaded() {
    TOptionsForm F;
    const QString Text = Child<QTextBrowser>(F, "explanationView")->toPlainText();
    for (const char* Topic : {"Default TCK frequency", "run_count", "max_time", "XREPEAT"})
        QVERIFY2(Text.contains(QLatin1String(Topic)), Topic);
    QVERIFY(Child<QTextBrowser>(F, "explanationView")
                ->toHtml()
                .contains("font-weight:700")); // bold lead-ins
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
    QCOMPARE(Group(F, "serialGroup")->title(), QStringLiteral("KORVEX Serial Number"));
    QCOMPARE(Group(F, "serialGroup")->Items(),
             (QStringList{"S/N 012345", "S/N 00ABCD", "S/N 100000"}));
    QCOMPARE(Group(F, "serialGroup")->ItemIndex(), -1); // starts with nothing selected
    QCOMPARE(F.SelectedSerial(), -1);
    QCOMPARE(Searches, 1);

    Group(F, "serialGroup")->Button(1)->click();
    QCOMPARE(F.SelectedSerial(), int32_t(0xA600ABCD));
    F.RefreshList(); // same list: the user's choice stays
    QCOMPARE(Group(F, "serialGroup")->ItemIndex(), 1);
    QVERIFY(Group(F, "serialGroup")->Button(1)->isChecked());

    // A programmer plugged in: the items change, the index stays.
    Attached.push_back(0x000001);
    F.RefreshList();
    QCOMPARE(Group(F, "serialGroup")->Count(), 4);
    QCOMPARE(Group(F, "serialGroup")->ItemIndex(), 1);

    // The selected item's position disappears: the selection moves to the last item.
    Group(F, "serialGroup")->Button(3)->click();
    Attached = {0x000001, 0x000002};
    F.RefreshList();
    QCOMPARE(Group(F, "serialGroup")->Items(), (QStringList{"S/N 000001", "S/N 000002"}));
    QCOMPARE(Group(F, "serialGroup")->ItemIndex(), 1);
    QCOMPARE(F.SelectedSerial(), int32_t(0xA6000002));

    // All unplugged: nothing to select.
    Attached.clear();
    F.RefreshList();
    QCOMPARE(Group(F, "serialGroup")->Count(), 0);
    QCOMPARE(F.SelectedSerial(), -1);

    // Many programmers: the dialog grows so that every item stays visible.
    for (int32_t S = 1; S <= 9; ++S)
        Attached.push_back(S);
    F.RefreshList();
    F.show();
    const QRadioButton* Last = Group(F, "serialGroup")->Button(8);
    QVERIFY(Group(F, "serialGroup")->rect().contains(Last->geometry()));
    QVERIFY(Ok(F)->geometry().top() >= Group(F, "serialGroup")->geometry().bottom());
}

void TDialogsTest::SelectionFollowsTimer() {
    std::vector<int32_t> Attached = {0x000010};
    TJTAGKorvexSelectionForm F(nullptr, [&] { return Attached; });
    QCOMPARE(Child<QTimer>(F, "refreshTimer")->interval(), 1000);
    QVERIFY(Child<QTimer>(F, "refreshTimer")->isActive());
    Group(F, "serialGroup")->Button(0)->click();
    Attached.push_back(0x000020);
    QTRY_COMPARE_WITH_TIMEOUT(Group(F, "serialGroup")->Count(), 2, 1500);
    QCOMPARE(Group(F, "serialGroup")->ItemIndex(), 0);
}

void TDialogsTest::SelectionOkCancel() {
    TJTAGKorvexSelectionForm F(nullptr, [] { return std::vector<int32_t>{0x0A0B0C}; });
    QCOMPARE(Ok(F)->text(), QStringLiteral("OK"));
    QCOMPARE(Child<QPushButton>(F, "cancelButton")->text(), QStringLiteral("Cancel"));
    QVERIFY(Ok(F)->isDefault());
    Child<QPushButton>(F, "cancelButton")->click();
    QCOMPARE(F.result(), int(QDialog::Rejected));
    Ok(F)->click();
    QCOMPARE(F.result(), int(QDialog::Accepted));
}

void TDialogsTest::HelpEscapeHidesAndShowAgain() {
    THelpForm H;
    QCOMPARE(H.windowTitle(), QStringLiteral("SVF & XSVF Player Help & Programming Tips"));
    QVERIFY(!H.isVisible());
    const QString Text = Child<QTextBrowser>(H, "helpView")->toPlainText();
    for (const char* Piece : {"MOSI", "CLOCK", "MISO", "LVP", "XSETSDRMASKS", "-cc", "PIOMAP"})
        QVERIFY2(Text.contains(QLatin1String(Piece)), Piece);
    QVERIFY(Child<QTextBrowser>(H, "helpView")->toHtml().contains("Courier New"));

    H.ShowHelp();
    QVERIFY(H.isVisible());
    QVERIFY(H.windowState() & Qt::WindowMaximized);
    Child<QTextBrowser>(H, "helpView")->setFocus();
    QTest::keyClick(Child<QTextBrowser>(H, "helpView"),
                    Qt::Key_Escape); // the window sees it before the text control
    QVERIFY(!H.isVisible());
    H.ShowHelp();
    QVERIFY(H.isVisible());
    QTest::keyClick(&H, Qt::Key_Escape);
    QVERIFY(!H.isVisible());
}

QTEST_MAIN(TDialogsTest)
#include "dialogs_test.moc"
