// Measures the detail windows' refreshes on one helper process that loads
// some 30 DLLs, reserves a few hundred regions and runs 50 threads, each
// against its floor in the same run: the module list against one Toolhelp
// module snapshot walked, the memory window's refresh against a bare
// VirtualQueryEx walk, and the threads window's refresh (reported). Prints
// the figures and the target checks; always exits with 0.
#include "benchutil.h"
#include "app/startup.h"
#include "app/settings.h"
#include "details/modules.h"
#include "details/threads.h"
#include "res/resource.h"
#include "sysinfo/backend.h"
#include "sysinfo/ntbackend.h"
#include "sysinfo/platform.h"
#include "views/memory.h"
#include "views/processlist.h"

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

const int runs = 20;

double Time(const std::function<void()>& work) {
    double start = NowMilliseconds();
    work();
    double elapsed = NowMilliseconds() - start;
    Pump();
    return elapsed;
}

// The floor of a memory refresh: open the process, walk it, close it.
int BareMemoryWalk(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!process) {
        return 0;
    }
    int regions = 0;
    MEMORY_BASIC_INFORMATION region;
    ULONG_PTR address = 0;
    do {
        if (VirtualQueryEx(process, reinterpret_cast<void*>(address), &region, sizeof region) !=
            sizeof region) {
            break;
        }
        regions++;
        address = reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize;
    } while (address != 0);
    CloseHandle(process);
    return regions;
}

int CountModule(ULONG_PTR userValue, HWND, const char*, ULONGLONG, DWORD, const char*) {
    (*reinterpret_cast<int*>(userValue))++;
    return 0;
}

std::string Figures(const Series& series) {
    char text[64];
    snprintf(text, sizeof text, "%7.1f/%7.1f", series.Mean(), series.Min());
    return text;
}

void Report(const char* what, const Series& measured, const Series& floor, double goal) {
    double ratio = floor.Mean() > 0 ? measured.Mean() / floor.Mean() : 0;
    printf("%-34s %s  floor %s  %5.2f x", what, Figures(measured).c_str(), Figures(floor).c_str(),
           ratio);
    if (goal > 0) {
        printf("  (goal <= %.1f x: %s)", goal, ratio <= goal ? "PASS" : "FAIL");
    }
    printf("\n");
}

// The 64-bit program's module list of a 64-bit notepad against one bare
// Toolhelp module snapshot of it.
void MeasureNotepad() {
#ifdef _WIN64
    char command[] = "notepad.exe";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINNOACTIVE;
    PROCESS_INFORMATION notepad = {};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &notepad)) {
        printf("a 64-bit notepad did not start\n");
        return;
    }
    WaitForInputIdle(notepad.hProcess, 20000);
    Series modules, snapshots;
    int moduleCount = 0;
    for (int run = 0; run < runs; run++) {
        snapshots.values.push_back(Time([&] { moduleCount = SnapshotWalk(notepad.dwProcessId); }));
        modules.values.push_back(Time([&] {
            int visited = 0;
            ListModules(nullptr, notepad.dwProcessId, CountModule,
                        reinterpret_cast<ULONG_PTR>(&visited));
        }));
    }
    printf("64-bit notepad: %d modules\n", moduleCount);
    Report("notepad's module list", modules, snapshots, 1.3);
    TerminateProcess(notepad.hProcess, 0);
    CloseHandle(notepad.hThread);
    CloseHandle(notepad.hProcess);
#endif
}

} // namespace

int main() {
    StartClock();
    appInstance = GetModuleHandleA(nullptr);
    DetectPlatform();
    if (!LoadBackEnd()) {
        printf("the process-status back-end did not load\n");
        return 0;
    }
    InitCommonControls();

    Helpers helpers;
    if (!helpers.Start(HelperPath(), 1, [](int) {
            return "--loadmany=30 --reserve=300 --idlethreads=49 --lifetime=600000";
        })) {
        helpers.EndAll();
        return 0;
    }
    const PROCESS_INFORMATION& helper = helpers.processes[0];
    DWORD processId = helper.dwProcessId;
    // The helper is ready once it has its 50 threads.
    HWND threadList = CreateWindowExA(0, "LISTBOX", "", LBS_SORT, 0, 0, 300, 600, nullptr, nullptr,
                                      appInstance, nullptr);
    for (int tries = 0; tries < 600; tries++) {
        RefreshThreadList(threadList, processId);
        if (SendMessageA(threadList, LB_GETCOUNT, 0, 0) >= 50) {
            break;
        }
        Sleep(100);
    }
    HWND memoryList = CreateWindowExA(0, "LISTBOX", "", LBS_SORT, 0, 0, 600, 600, nullptr, nullptr,
                                      appInstance, nullptr);
    HWND totals =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 600, 20, nullptr, nullptr, appInstance, nullptr);
    HWND moduleList = CreateWindowExA(0, WC_LISTVIEWA, "", LVS_REPORT, 0, 0, 800, 600, nullptr,
                                      nullptr, appInstance, nullptr);
    for (int column = 0; column < 5; column++) {
        LVCOLUMNA definition = {};
        definition.mask = LVCF_WIDTH;
        definition.cx = 100;
        SendMessageA(moduleList, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&definition));
    }

    Series modules, psapiModules, moduleWindow, snapshots, memory, memoryTick, bareWalks, threads;
    int moduleCount = 0, regionCount = 0;
    for (int run = 0; run < runs; run++) {
        snapshots.values.push_back(Time([&] { moduleCount = SnapshotWalk(processId); }));
        modules.values.push_back(Time([&] {
            int visited = 0;
            ListModules(nullptr, processId, CountModule, reinterpret_cast<ULONG_PTR>(&visited));
        }));
        psapiModules.values.push_back(Time([&] {
            int visited = 0;
            ListModulesPsapi(nullptr, processId, CountModule,
                             reinterpret_cast<ULONG_PTR>(&visited));
        }));
        moduleWindow.values.push_back(
            Time([&] { FillModuleList(moduleList, processId, AddModuleRow, 0); }));
        bareWalks.values.push_back(Time([&] { regionCount = BareMemoryWalk(processId); }));
        memory.values.push_back(Time([&] { WalkMemory(memoryList, totals, processId); }));
        memoryTick.values.push_back(Time([&] { WalkMemory(nullptr, totals, processId); }));
        threads.values.push_back(Time([&] { RefreshThreadList(threadList, processId); }));
    }
    printf("detail windows of one helper: %d modules, %d regions, %d threads; ms as mean/min of "
           "%d runs\n",
           moduleCount, regionCount, static_cast<int>(SendMessageA(threadList, LB_GETCOUNT, 0, 0)),
           runs);
    Report("module list (ListModules)", modules, snapshots, 1.3);
    Report("  the same by process-status calls", psapiModules, snapshots, 0);
    Report("modules window fill (with rows)", moduleWindow, snapshots, 0);
    Report("memory window refresh (F5)", memory, bareWalks, 1.5);
    Report("memory timer tick (totals only)", memoryTick, bareWalks, 0);
    printf("%-34s %s\n", "threads window refresh (50 threads)", Figures(threads).c_str());
    fflush(stdout);
    helpers.EndAll();
    MeasureNotepad();
    fflush(stdout);
    return 0;
}
