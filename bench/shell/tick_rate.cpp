// Measures how steadily the game timer fires: runs the server's game tick on its real timer
// and event loop for a while (10 s by default) and reports the tick count and the worst
// lateness of a tick against the 50 ms schedule.
//
//   bench_tick_rate [SECONDS]

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "shell/game_timer.h"
#include "support/temp_dir.h"
#include "world/game_tick.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/time_source.h"

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    QCoreApplication app(argc, argv);
    er_test::TempDir dir;  // the tick's heap check and rain write the debug log here
    er_test::ScopedWorkingDir cwd(dir.path());

    MonotonicTimeSource time;
    RuntimeRandom random;
    NightDay clock(time);
    GameWeather weather(random);
    clock.InitNightDay();
    weather.InitWeather();
    GameTick tick(time, clock, weather, GameTickSteps{});
    tick.TakeFirstTickTime();

    const double start = time.AppTime();
    double previous = start;
    std::vector<double> intervals;
    auto timer = MakeGameTimer([&] {
        const double now = time.AppTime();
        intervals.push_back((now - previous) * 1000.0);
        previous = now;
        tick.Run();
    });
    timer->start();
    QTimer::singleShot(static_cast<int>(seconds * 1000.0), &app, &QCoreApplication::quit);
    app.exec();

    const double elapsed = time.AppTime() - start;
    double worstLateness = 0.0;
    double sum = 0.0;
    for (double interval : intervals) {
        worstLateness = std::max(worstLateness, interval - GameTick::kIntervalMs);
        sum += interval;
    }
    const double mean = intervals.empty() ? 0.0 : sum / static_cast<double>(intervals.size());
    std::printf("ran %.3f s: %llu ticks (expected %.0f), mean interval %.3f ms, worst lateness "
                "%.3f ms\n",
                elapsed, static_cast<unsigned long long>(tick.ticksRun()),
                elapsed * 1000.0 / GameTick::kIntervalMs, mean, worstLateness);
    return 0;
}
