#include <QClipboard>
#include <QImage>
#include <QScrollBar>
#include <QtTest>

#include "qt_console_view.h"

// The run console: order, colours, following the output, selection and copy, and what is drawn.
class TConsoleViewTest : public QObject {
    Q_OBJECT
private slots:
    void KeepsOrderAndColours();
    void FollowsTheEndUnlessScrolledBack();
    void SelectAndCopy();
    void DrawsEachLineInItsColour();
};

namespace {
std::vector<TConsoleLine> Numbered(int Count, uint8_t Severity) {
    std::vector<TConsoleLine> L;
    for (int I = 0; I < Count; ++I)
        L.push_back({"line " + std::to_string(I), Severity});
    return L;
}
} // namespace

void TConsoleViewTest::KeepsOrderAndColours() {
    TConsoleView V;
    V.AppendLines({{"Using KORVEX S/N 012345", sevInfo}, {"! comment", sevComment}});
    V.AppendLines({});
    V.AppendLines({{"Fatal error \"x\"", sevError}, {"\tWarning:\tTRST\r", sevWarning}});
    QCOMPARE(V.LineCount(), 4);
    QCOMPARE(V.Text(), QStringLiteral("Using KORVEX S/N 012345\n! comment\nFatal error \"x\"\n"
                                      "        Warning:        TRST")); // tab stops every 8 columns
    const QColor Colours[] = {QColor(0, 0, 0), QColor(128, 128, 128), QColor(255, 0, 0),
                              QColor(96, 64, 0)};
    for (int I = 0; I < 4; ++I)
        QCOMPARE(V.LineColor(I), Colours[I]);
    // Any other severity draws black.
    QCOMPARE(SeverityColour(4), QColor(0, 0, 0));
    QCOMPARE(SeverityColour(255), QColor(0, 0, 0));
    // A comment written by a Windows tool: its bytes shown as Windows-1252, not as U+FFFD.
    V.AppendLines({{"! r\xE9vision \x93"
                    "B\x94 caf\xC3\xA9",
                    sevComment}});
    QCOMPARE(V.LineText(4), QStringLiteral(u"! r\u00E9vision \u201CB\u201D caf\u00E9"));
    V.Clear();
    QCOMPARE(V.LineCount(), 0);
    QCOMPARE(V.Text(), QString());
    V.AppendLines({{"next run", 0}});
    QCOMPARE(V.Text(), QStringLiteral("next run"));
}

void TConsoleViewTest::FollowsTheEndUnlessScrolledBack() {
    TConsoleView V;
    V.resize(300, 200);
    V.show();
    V.AppendLines(Numbered(500, 0));
    QVERIFY(V.AtEnd());
    QVERIFY(V.FirstVisibleLine() > 400);
    V.AppendLines(Numbered(100, 0));
    QVERIFY(V.AtEnd());
    // The user scrolls up to read: new lines do not pull the view away.
    V.verticalScrollBar()->setValue(10);
    V.AppendLines(Numbered(100, 0));
    QCOMPARE(V.FirstVisibleLine(), 10);
    QTest::keyClick(&V, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(V.AtEnd());
    V.AppendLines(Numbered(1, 0));
    QVERIFY(V.AtEnd());
    QCOMPARE(V.LineCount(), 701);
}

void TConsoleViewTest::SelectAndCopy() {
    TConsoleView V;
    V.resize(300, 200);
    V.show();
    QVERIFY(QTest::qWaitForWindowExposed(&V));
    V.AppendLines(Numbered(5, 0));
    QCOMPARE(V.SelectedText(), QString());
    const int Row = V.fontMetrics().lineSpacing();
    QTest::mouseClick(V.viewport(), Qt::LeftButton, {}, QPoint(5, Row / 2));
    QTest::mouseClick(V.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      QPoint(5, 2 * Row + Row / 2));
    QCOMPARE(V.Selection(), std::make_pair(0, 2));
    QTest::keyClick(&V, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("line 0\nline 1\nline 2"));
    QTest::keyClick(&V, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(V.Selection(), std::make_pair(0, 4));
    // A bare letter is not the console's: it goes on to the window and its shortcuts.
    QKeyEvent Letter(QEvent::KeyPress, Qt::Key_P, Qt::NoModifier, QStringLiteral("p"));
    QCoreApplication::sendEvent(&V, &Letter);
    QVERIFY(!Letter.isAccepted());
}

void TConsoleViewTest::DrawsEachLineInItsColour() {
    TConsoleView V;
    V.resize(300, 120);
    V.show();
    QVERIFY(QTest::qWaitForWindowExposed(&V));
    V.AppendLines({{"RED RED RED RED", sevError}, {"GREY GREY GREY", sevComment}});
    const QImage Shot = V.viewport()->grab().toImage();
    const int Row = V.fontMetrics().lineSpacing();
    // The pixel of each row that differs most from the white background carries the line's
    // colour (anti-aliasing only lightens it).
    auto Darkest = [&](int Line) {
        QColor Best = Qt::white;
        for (int Y = Line * Row; Y < (Line + 1) * Row; ++Y)
            for (int X = 0; X < Shot.width() / 2; ++X) {
                const QColor C = Shot.pixelColor(X, Y);
                if (C.lightness() < Best.lightness())
                    Best = C;
            }
        return Best;
    };
    const QColor Red = Darkest(0), Grey = Darkest(1);
    QVERIFY2(Red.red() > 200 && Red.green() < 80 && Red.blue() < 80, qPrintable(Red.name()));
    QVERIFY2(qAbs(Grey.red() - Grey.green()) < 10 && Grey.red() >= 110 && Grey.red() < 200,
             qPrintable(Grey.name()));
    QCOMPARE(Darkest(3), QColor(Qt::white)); // nothing below the last line
}

QTEST_MAIN(TConsoleViewTest)
#include "console_view_test.moc"
