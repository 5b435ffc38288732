#include <QTemporaryDir>
#include <QtTest>

#include "driver_env.h"
#include "main_form.h"
#include "player_registration.h"
#include "qt_console_view.h"
#include "qt_dialog_seam.h"

// A 50 MB SVF file played through the window on the simulated programmer, with the 100 ms timer
// running as in use. Every other line of the file is a comment, so the console receives hundreds
// of thousands of lines; the window stays responsive only if each tick, drain included, stays
// far below the timer's period.
class TConsolePerfTest : public QObject {
    Q_OBJECT
private slots:
    void FiftyMegabyteRunKeepsTheTickShort();
};

namespace {
constexpr qint64 FileSize = 50 * 1024 * 1024;

QString WriteBigSvf(const QString& Path, qint64& Comments) {
    QFile F(Path);
    if (!F.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(Path));
    QByteArray Chunk;
    Comments = 0;
    qint64 Written = 0;
    for (qint64 Row = 0; Written < FileSize; ++Row) {
        Chunk += "! Programming row " + QByteArray::number(Row).rightJustified(7, '0') +
                 " of the flash array\n"
                 "SDR 64 TDI(0123456789ABCDEF) TDO(0000000000000000) MASK(FFFFFFFFFFFFFFFF);\n";
        ++Comments;
        if (Chunk.size() > (1 << 20)) {
            Written += F.write(Chunk);
            Chunk.clear();
        }
    }
    F.write(Chunk);
    return Path;
}
} // namespace

void TConsolePerfTest::FiftyMegabyteRunKeepsTheTickShort() {
    QTemporaryDir Dir;
    QVERIFY(Dir.isValid());
    RegisterPlayers();
    korvextest::UseDriverLibrary(KORVEX_SIM_LIBRARY);
    QFile Sim(Dir.filePath("sim.cfg"));
    QVERIFY(Sim.open(QIODevice::WriteOnly));
    Sim.write("tdo_constant 0\n");
    Sim.close();
    qputenv("KORVEX_SIM", Sim.fileName().toLocal8Bit());
    QStringList Boxes;
    KorvexDialogs::SetErrorBoxHook([&](QWidget*, const QString& T) { Boxes << T; });

    qint64 Comments = 0;
    const QString File = WriteBigSvf(Dir.filePath("big.svf"), Comments);
    const std::vector<std::string> Args = {
        "-I", Dir.filePath("t.ini").toStdString(), "-S", "012345", "-F", File.toStdString()};
    TJtagMainForm W(Dir.filePath("korvex-player").toStdString(), Args);
    W.show();
    QVERIFY(QTest::qWaitForWindowExposed(&W));

    QElapsedTimer Clock;
    Clock.start();
    W.MenuProcessClick();
    QVERIFY(W.Controller.Processing());
    // The timer drives the run; the test only keeps the event loop turning.
    const int Limit = qEnvironmentVariableIntValue("KORVEX_PERF_LIMIT_MS") ?: 120000;
    while (W.Controller.Processing() && Clock.elapsed() < Limit)
        QTest::qWait(50);
    const qint64 RunMs = Clock.elapsed();
    QVERIFY2(!W.Controller.Processing(), "the run did not end in time");
    QTest::qWait(150); // the tick after the end drains the last lines

    const TTickStats& S = W.TickStats();
    const QString Last = W.MainMemo->LineText(W.MainMemo->LineCount() - 1);
    auto Ms = [](std::chrono::microseconds U) { return double(U.count()) / 1000.0; };
    const double Ticks = double(std::max<int64_t>(S.Count, 1));
    qInfo("50 MB run: %lld ms, %lld ticks; tick wall time mean %.2f ms, p99 %d ms, max %.2f ms; "
          "tick processor time mean %.2f ms, max %.2f ms; largest batch %zu lines; console "
          "%d lines",
          RunMs, static_cast<long long>(S.Count), Ms(S.Total) / Ticks, S.PercentileMs(0.99),
          Ms(S.Max), Ms(S.TotalCpu) / Ticks, Ms(S.MaxCpu), S.MaxLines, W.MainMemo->LineCount());
    QCOMPARE(Last, QStringLiteral("File processing completed successfully"));
    QVERIFY(Boxes.isEmpty());
    // Every comment reached the console, plus the serial, file and outcome lines.
    QCOMPARE(W.MainMemo->LineCount(), int(Comments) + 3);
    QVERIFY(S.Count > 10);
    // What the tick itself costs, and what it took on average on this machine as loaded as it is
    // (a build beside the test stretches single ticks, not the average).
    QVERIFY2(S.MaxCpu < std::chrono::milliseconds(50), "a tick used 50 ms of processor time");
    QVERIFY2(S.Total / S.Count < std::chrono::milliseconds(50), "ticks took 50 ms on average");
}

QTEST_MAIN(TConsolePerfTest)
#include "console_perf_test.moc"
