// From the end of a receive to the box a digit typed at once opens over the
// current cell: the receive dialog's close, the window back in front with
// the keyboard, the key queued to the window that has the keyboard, the box
// on show. 20 receives in a row against a simulated unit. Offscreen unless
// QT_QPA_PLATFORM says otherwise: under Xvfb with a window manager,
//   QT_QPA_PLATFORM=xcb xvfb-run -a sh -c 'openbox & sleep 1; build/bin/bench_gui_focus'
// the window manager's activation is part of the time.

#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdlib>
#include <string>

#include "SimFixture.h"
#include "TestDir.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/ModalRun.h"
#include "unit/Unit.h"

namespace {

constexpr int kRuns = 20;

QApplication& App()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static std::string program = "bench_gui_focus";
    static int argc = 1;
    static char* argv[] = {program.data(), nullptr};
    static QApplication app(argc, argv);
    return app;
}

void Spin(const std::function<bool()>& until, int timeoutMs = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!until() && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

void BM_ReceiveEndToDigitBox(benchmark::State& state)
{
    App();
    TestDir home;
    home.CopyResource("English.lng");
    home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=ENGLISH\r\n");
    SimLine line;
    line.Bus().AddUnit(MakeSimUnit(3, 1103, 16, 8));
    line.Start();

    using Clock = std::chrono::steady_clock;
    Clock::time_point receiveEnd;
    SetModalHook([&](QDialog& dialog) {
        if (dialog.objectName() == "134") {
            dialog.findChild<QRadioButton*>("1105")->click();
            dialog.findChild<QAbstractButton*>("1")->click();
            return;
        }
        QObject::connect(&dialog, &QDialog::finished, [&] { receiveEnd = Clock::now(); });
    });
    CDarozozazWindowsDlg window;
    window.OnInitDialog();
    window.show();
    Spin([&] { return window.isActiveWindow() && TheUnit().IsOffline(); });
    line.Attach(TheUnit(), 50);
    window.Menu().EnableMenu(menupos::kDevices, true);
    window.OnDevicesItem(3, "MZR 16");
    window.Menu().Find(cmd::kFirstUnit + 2)->trigger();

    double worstMs = 0;
    double sumMs = 0;
    int opened = 0;
    for (auto _ : state) {
        window.HideCellEdit();
        window.Menu().Find(cmd::kReceiveParams)->trigger();
        // The digit goes to the window that has the keyboard once the
        // window system says which one that is.
        Spin([] { return QGuiApplication::focusWindow() != nullptr; });
        QWindow* target = QGuiApplication::focusWindow();
        if (target) {
            QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, Qt::Key_7, Qt::NoModifier, "7"));
            QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, Qt::Key_7, Qt::NoModifier, "7"));
        }
        Spin([&] { return window.IsEditVisible(); }, 3000);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - receiveEnd).count();
        state.SetIterationTime(ms / 1000);
        if (window.IsEditVisible() && window.EditBox().text() == "7")
            ++opened;
        worstMs = std::max(worstMs, ms);
        sumMs += ms;
    }
    SetModalHook(nullptr);
    state.counters["opened"] = opened;
    state.counters["runs"] = static_cast<double>(state.iterations());
    state.counters["worst_ms"] = worstMs;
    state.counters["mean_ms"] = sumMs / static_cast<double>(state.iterations());
}

}  // namespace

BENCHMARK(BM_ReceiveEndToDigitBox)->Iterations(kRuns)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
