// What the benchmarks share: a millisecond clock, series of timings, message
// pumping, the helper processes they start, and the main window they measure.
#ifndef TOLVANE_BENCH_BENCHUTIL_H
#define TOLVANE_BENCH_BENCHUTIL_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Starts the performance-counter clock; call once before NowMilliseconds.
void StartClock();
double NowMilliseconds();

struct Series {
    std::vector<double> values;
    double Mean() const;
    double Min() const;
};

// "mean/min" with the given number of decimals.
std::string MeanAndMin(const Series& series, int decimals);
const char* Verdict(bool passed);

// Dispatches everything waiting, lets the main list paint what is invalid,
// and returns once the queue stayed empty for a moment.
void Pump();
void PumpFor(DWORD milliseconds);

std::vector<DWORD> ListProcessIds();
// tvhelper.exe, or another file, beside the running benchmark.
std::string BesideBenchmark(const char* fileName);
std::string HelperPath();

// One Toolhelp module snapshot of the process, walked: the floor of a module
// list. Returns the number of modules.
int SnapshotWalk(DWORD processId);

struct Helpers {
    std::vector<PROCESS_INFORMATION> processes;
    // Starts all copies first, each with the options `arguments` gives for
    // its index (none without), then waits until the system lists every one
    // and each has reached its message loop.
    bool Start(const std::string& path, int count,
               const std::function<std::string(int)>& arguments = nullptr);
    void EndAll();
};

// Creates and shows the program's main window with its process list, as
// start-up does, for the benchmarks that measure the main list.
bool SetUpMainWindow();

#endif
