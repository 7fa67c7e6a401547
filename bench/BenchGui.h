#pragma once
// What the window benchmarks share: the one application object of their
// process, a folder of their own, and the heartbeat that measures how long
// the user-interface thread is kept from its events.

#include <QApplication>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace bench {

// The application object on the offscreen platform, made by the first call;
// name is the program name it is given then.
inline QApplication& App(const char* name)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static std::string program = name;
    static int argc = 1;
    static char* argv[] = {program.data(), nullptr};
    static QApplication app(argc, argv);
    return app;
}

// A fresh folder under the temporary directory, removed with its content at
// the end of its scope.
struct TempFolder
{
    TempFolder()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vorlent-bench-XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string path;
};

// A 1 ms timer on the user-interface thread: the longest gap between two of
// its ticks is the longest the window could not paint or take a click.
class Heartbeat
{
public:
    using Clock = std::chrono::steady_clock;

    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
    }

    // The gaps count from now on.
    void Start()
    {
        m_last = Clock::now();
        m_timer.start();
    }
    void Stop() { m_timer.stop(); }
    // Stops, counting the gap since the last tick as one more: the time up
    // to a blocking call's return.
    void StopWithLastGap()
    {
        Stop();
        Tick();
    }
    double LongestMs() const { return m_longestMs; }

private:
    void Tick()
    {
        const Clock::time_point now = Clock::now();
        m_longestMs = std::max(m_longestMs, std::chrono::duration<double, std::milli>(now - m_last).count());
        m_last = now;
    }

    QTimer m_timer;
    Clock::time_point m_last = Clock::now();
    double m_longestMs = 0;
};

}  // namespace bench
