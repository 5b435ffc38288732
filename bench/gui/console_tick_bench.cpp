#include <array>
#include <chrono>
#include <ctime>

#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include "main_form.h"
#include "player_registration.h"
#include "qt_console_view.h"
#include "qt_dialog_seam.h"

// A 50 MB SVF file played through the window on the simulated programmer, with the 100 ms timer
// running as in use. Every other line of the file is a comment, so the console receives hundreds
// of thousands of lines; the window stays responsive only if each tick, drain included, stays
// far below the timer's period. Prints the tick figures; fails only when the run itself fails.
//   KORVEX_D2XX is set to the simulator by the program itself:
//   QT_QPA_PLATFORM=offscreen build/bench/korvex-gui-tick-bench
class TConsolePerfTest : public QObject {
    Q_OBJECT
private slots:
    void FiftyMegabyteRun();
};

namespace {
// How long the timer ticks took, controller and console drain included. Wall time includes any
// wait for a processor on a busy machine; the thread's processor time is what the tick itself
// cost. A tick begins when its timer event reaches the timer and ends in a slot connected after
// the window's own.
class TTickStats : public QObject {
public:
    explicit TTickStats(QTimer* Timer) {
        Timer->installEventFilter(this);
        connect(Timer, &QTimer::timeout, this, [this] {
            if (Started)
                Add(std::chrono::steady_clock::now() - Begin, ThreadCpuTime() - BeginCpu);
            Started = false;
        });
    }

    int64_t Count = 0;
    std::chrono::microseconds Max{0};
    std::chrono::microseconds Total{0};
    std::chrono::microseconds MaxCpu{0};
    std::chrono::microseconds TotalCpu{0};
    std::array<int64_t, 201> PerMillisecond{}; // wall time by whole milliseconds, last: 200 and up

    // The smallest whole number of milliseconds that at least Fraction of the ticks stayed within.
    int PercentileMs(double Fraction) const {
        int64_t Seen = 0;
        for (size_t Ms = 0; Ms < PerMillisecond.size(); ++Ms) {
            Seen += PerMillisecond[Ms];
            if (Seen >= Fraction * static_cast<double>(Count))
                return static_cast<int>(Ms) + 1;
        }
        return static_cast<int>(PerMillisecond.size());
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() == QEvent::Timer) {
            Started = true;
            Begin = std::chrono::steady_clock::now();
            BeginCpu = ThreadCpuTime();
        }
        return QObject::eventFilter(Watched, Event);
    }

private:
    static std::chrono::microseconds ThreadCpuTime() {
        timespec T{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
        return std::chrono::microseconds(int64_t(T.tv_sec) * 1000000 + T.tv_nsec / 1000);
    }
    void Add(std::chrono::steady_clock::duration Wall, std::chrono::microseconds Cpu) {
        const auto Us = std::chrono::duration_cast<std::chrono::microseconds>(Wall);
        ++Count;
        Total += Us;
        Max = std::max(Max, Us);
        TotalCpu += Cpu;
        MaxCpu = std::max(MaxCpu, Cpu);
        const auto Ms = static_cast<size_t>(Us.count() / 1000);
        ++PerMillisecond[std::min(Ms, PerMillisecond.size() - 1)];
    }

    bool Started = false;
    std::chrono::steady_clock::time_point Begin;
    std::chrono::microseconds BeginCpu{0};
};

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

void TConsolePerfTest::FiftyMegabyteRun() {
    QTemporaryDir Dir;
    QVERIFY(Dir.isValid());
    RegisterPlayers();
    qputenv("KORVEX_D2XX", KORVEX_SIM_LIBRARY);
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

    const TTickStats S(W.findChild<QTimer*>("pollTimer"));
    QElapsedTimer Clock;
    Clock.start();
    emit W.findChild<QMenu*>("fileMenu")->aboutToShow();
    W.findChild<QAction*>("processLastAction")->trigger();
    QVERIFY(W.Controller().Processing());
    // The timer drives the run; the test only keeps the event loop turning.
    const int Limit = qEnvironmentVariableIntValue("KORVEX_PERF_LIMIT_MS") ?: 120000;
    while (W.Controller().Processing() && Clock.elapsed() < Limit)
        QTest::qWait(50);
    const qint64 RunMs = Clock.elapsed();
    QVERIFY2(!W.Controller().Processing(), "the run did not end in time");
    QTest::qWait(150); // the tick after the end drains the last lines

    const auto* Console = W.findChild<TConsoleView*>("consoleView");
    const QString Last = Console->LineText(Console->LineCount() - 1);
    auto Ms = [](std::chrono::microseconds U) { return double(U.count()) / 1000.0; };
    const double Ticks = double(std::max<int64_t>(S.Count, 1));
    qInfo("50 MB run: %lld ms, %lld ticks; tick wall time mean %.2f ms, p99 %d ms, max %.2f ms; "
          "tick processor time mean %.2f ms, max %.2f ms; console %d lines",
          RunMs, static_cast<long long>(S.Count), Ms(S.Total) / Ticks, S.PercentileMs(0.99),
          Ms(S.Max), Ms(S.TotalCpu) / Ticks, Ms(S.MaxCpu), Console->LineCount());
    QCOMPARE(Last, QStringLiteral("File processing completed successfully"));
    QVERIFY(Boxes.isEmpty());
    // Every comment reached the console, plus the serial, file and outcome lines.
    QCOMPARE(Console->LineCount(), int(Comments) + 3);
}

QTEST_MAIN(TConsolePerfTest)
#include "console_tick_bench.moc"
