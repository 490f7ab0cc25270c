// Soak with process churn: the main list's refresh pass, run as its timer
// runs it but without the wait between passes, many times over while one
// helper process ends and another starts on every pass (about 100 alive).
// Every few passes one of the detail windows opens on a helper, is refreshed
// by F5 and by its timer, and closes, in turn. The handles, GDI objects,
// windows, menus and private bytes of this process are counted after the
// first hundred passes and at the end, each counter checked first by
// creating 100 objects.
//
// Options: --passes=N (10000), --every=N (a detail window every N passes,
// 10), --helpers=N (100), --report=N (a progress line every N passes, 500).
// Prints the checks, progress and the figures; exits with 0.
#include "benchutil.h"
#include "objectcount.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "views/processlist.h"

#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <deque>
#include <string>
#include <vector>

namespace {

struct Options {
    int passes = 10000;
    int every = 10;
    int helpers = 100;
    int report = 500;
};

int NumberOption(const char* commandLine, const char* name, int fallback) {
    const char* found = strstr(commandLine, name);
    if (!found) {
        return fallback;
    }
    int value = atoi(found + strlen(name));
    return value > 0 ? value : fallback;
}

struct Figures {
    long handles;
    int gdi;
    int windows;
    int menus;
    SIZE_T privateBytes;
    SIZE_T workingSet;
};

int (*gdiCounter)() = nullptr;

Figures Count() {
    Figures figures;
    figures.privateBytes = PrivateBytes();
    figures.workingSet = WorkingSet();
    figures.handles = CountHandles();
    figures.gdi = gdiCounter ? gdiCounter() : -1;
    figures.windows = CountWindows();
    figures.menus = CountMenus();
    return figures;
}

// Prints one counter's check: how much 100 new objects raised it, and
// whether it fell back once they were gone.
bool ReportCheck(const char* what, long before, long during, long after, long expected) {
    bool passed = during - before == expected && after == before;
    printf("  %-44s %8ld -> %8ld -> %8ld  (+%ld, expected +%ld)  %s\n", what, before, during, after,
           during - before, expected, Verdict(passed));
    return passed;
}

// Creates 100 objects of each kind and sees each counter rise by 100 (by
// 100 pages for the memory counters). Returns whether every counter the
// figures use works.
bool CheckCounters() {
    printf("counter checks (before -> with 100 new objects -> after deleting them):\n");
    bool all = true;

    long before = CountHandles();
    std::vector<HANDLE> events;
    for (int i = 0; i < 100; i++) {
        events.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    }
    long during = CountHandles();
    for (HANDLE event : events) {
        CloseHandle(event);
    }
    all &= ReportCheck("handles (system handle table), 100 events", before, during, CountHandles(),
                       100);

    gdiCounter = GdiCounter();
    if (gdiCounter) {
        before = gdiCounter();
        std::vector<HBRUSH> brushes;
        for (int i = 0; i < 100; i++) {
            brushes.push_back(CreateSolidBrush(RGB(0, i, 0)));
        }
        during = gdiCounter();
        for (HBRUSH brush : brushes) {
            DeleteObject(brush);
        }
        all &= ReportCheck(gdiCounter == CountGuiResources
                               ? "GDI objects (GetGuiResources), 100 brushes"
                               : "GDI objects (GDI handle table), 100 brushes",
                           before, during, gdiCounter(), 100);
    } else {
        printf("  GDI objects: neither GetGuiResources nor the handle table counts them  FAIL\n");
        all = false;
    }

    // The system gives a thread a window of its own with its first window
    // (for input methods): one window made first keeps it out of the check.
    HWND anchor = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    before = CountWindows();
    std::vector<HWND> windows;
    for (int i = 0; i < 100; i++) {
        // Top-level windows and children of the anchor.
        windows.push_back(CreateWindowExA(0, "STATIC", "", i % 2 ? WS_CHILD : WS_OVERLAPPED, 0, 0,
                                          10, 10, i % 2 ? anchor : nullptr, nullptr, nullptr,
                                          nullptr));
    }
    during = CountWindows();
    for (HWND window : windows) {
        DestroyWindow(window);
    }
    all &= ReportCheck("windows (top-level and child), 100 windows", before, during, CountWindows(),
                       100);

    before = CountMenus();
    std::vector<HMENU> menus;
    for (int i = 0; i < 100; i++) {
        menus.push_back(i % 2 ? CreateMenu() : CreatePopupMenu());
    }
    during = CountMenus();
    for (HMENU menu : menus) {
        DestroyMenu(menu);
    }
    all &= ReportCheck("menus (USER handle table), 100 menus", before, during, CountMenus(), 100);

    const SIZE_T page = 4096;
    SIZE_T bytesBefore = PrivateBytes();
    SIZE_T usageBefore = PrivateUsage();
    BYTE* pages = static_cast<BYTE*>(VirtualAlloc(nullptr, 100 * page, MEM_COMMIT, PAGE_READWRITE));
    for (int i = 0; pages && i < 100; i++) {
        pages[i * page] = 1;
    }
    SIZE_T bytesDuring = PrivateBytes();
    SIZE_T usageDuring = PrivateUsage();
    VirtualFree(pages, 0, MEM_RELEASE);
    all &= ReportCheck("private bytes (committed private regions), pages",
                       static_cast<long>(bytesBefore / page), static_cast<long>(bytesDuring / page),
                       static_cast<long>(PrivateBytes() / page), 100);
    // Reported only: the figures do not use it (it answers 0 on this Wine).
    ReportCheck("private usage (GetProcessMemoryInfo), pages",
                static_cast<long>(usageBefore / page), static_cast<long>(usageDuring / page),
                static_cast<long>(PrivateUsage() / page), 100);
    fflush(stdout);
    return all;
}

// --- helper churn ---

std::deque<PROCESS_INFORMATION> alive;
int helperSerial = 0;
std::string helperPath;

// Every fourth helper shows a window with an icon of its own, for the
// applications window.
std::string HelperArguments(int serial) {
    if (serial % 4 == 0) {
        char arguments[96];
        snprintf(arguments, sizeof arguments, "--window=visible --icon --title=tv-soak-%d", serial);
        return arguments;
    }
    return "";
}

bool StartHelper() {
    std::string commandLine = "\"" + helperPath + "\" " + HelperArguments(helperSerial++);
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    alive.push_back(info);
    return true;
}

void EndOldestHelper() {
    if (alive.empty()) {
        return;
    }
    PROCESS_INFORMATION info = alive.front();
    alive.pop_front();
    TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, 5000);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
}

void EndAllHelpers() {
    while (!alive.empty()) {
        EndOldestHelper();
    }
}

// --- the passes ---

long passesRun = 0;
long passesInWindows = 0;

// What the refresh timer does every period.
void FirePass() {
    SendMessageA(mainWindow, WM_TIMER, REFRESH_TIMER_ID, 0);
}

// --- detail windows ---

struct DetailWindow {
    const char* name;
    UINT command;
    int opened;
    double milliseconds;
};

DetailWindow detailWindows[] = {
    {"threads", IDM_THREADS, 0, 0},
    {"modules", IDM_MODULES, 0, 0},
    {"memory", IDM_MEMORY, 0, 0},
    {"start-up information", IDM_STARTUP_INFO, 0, 0},
    {"module usage", IDM_MODULE_USAGE, 0, 0},
    {"process tree", IDM_PROCESS_TREE, 0, 0},
    {"applications", IDM_APPLICATIONS, 0, 0},
    {"version", IDM_VERSION, 0, 0},
};
const int detailWindowCount = sizeof detailWindows / sizeof detailWindows[0];

// The open window's progress, advanced one step per tick of a thread timer
// that runs inside the window's modal loop.
enum Step { FIND, PRESS_F5, FIRE_TIMER, MAIN_PASS, CLOSE, DONE };
struct OpenWindow {
    int step;
    HWND dialog;
    int closeByEscape;
    int usageRow;
    DWORD started;
};
OpenWindow openWindow;
long messageBoxes = 0;
long windowsNotShown = 0;

struct WindowSearch {
    const char* className;
    HWND found;
};

BOOL CALLBACK FindThreadWindow(HWND window, LPARAM parameter) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    char className[64];
    GetClassNameA(window, className, sizeof className);
    if (window != mainWindow && IsWindowVisible(window) && IsWindowEnabled(window) &&
        lstrcmpiA(className, search->className) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND ThreadWindowOfClass(const char* className) {
    WindowSearch search = {className, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindThreadWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK FindListControl(HWND window, LPARAM found) {
    char className[64];
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpiA(className, "ListBox") == 0 || lstrcmpiA(className, WC_LISTVIEWA) == 0 ||
        lstrcmpiA(className, WC_TREEVIEWA) == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

HWND ListControl(HWND dialog) {
    HWND found = nullptr;
    EnumChildWindows(dialog, FindListControl, reinterpret_cast<LPARAM>(&found));
    return found;
}

void PressF5(HWND control) {
    SendMessageA(control, WM_KEYDOWN, VK_F5, 0);
    SendMessageA(control, WM_KEYUP, VK_F5, 0xC0000000);
}

// In the module usage window: selects one module row, which the window's
// timer then applies to the main list as its filter.
void SelectUsageRow(HWND list, int serial) {
    int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    if (rows <= 0) {
        return;
    }
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, serial % rows, reinterpret_cast<LPARAM>(&item));
}

void CALLBACK WindowTick(HWND, UINT, UINT_PTR, DWORD) {
    // A message box (a process that ended under the window, say) is
    // answered and counted.
    HWND messageBox = ThreadWindowOfClass("#32770");
    if (messageBox) {
        messageBoxes++;
        SendMessageA(messageBox, WM_COMMAND, IDOK, 0);
        return;
    }
    switch (openWindow.step) {
    case FIND:
        openWindow.dialog = ThreadWindowOfClass("TOLVANE95DLG");
        if (openWindow.dialog) {
            openWindow.step = PRESS_F5;
        }
        break;
    case PRESS_F5: {
        HWND list = ListControl(openWindow.dialog);
        if (list) {
            if (GetWindowLongPtrA(list, GWLP_ID) == IDC_USAGE_LIST) {
                SelectUsageRow(list, openWindow.usageRow);
            }
            PressF5(list);
        }
        openWindow.step = FIRE_TIMER;
        break;
    }
    case FIRE_TIMER:
        SendMessageA(openWindow.dialog, WM_TIMER, REFRESH_TIMER_ID, 0);
        openWindow.step = MAIN_PASS;
        break;
    case MAIN_PASS:
        // The main list goes on refreshing under the window.
        FirePass();
        passesInWindows++;
        openWindow.step = CLOSE;
        break;
    case CLOSE:
        if (openWindow.closeByEscape) {
            SendMessageA(openWindow.dialog, WM_COMMAND, IDCANCEL, 0);
        } else {
            SendMessageA(openWindow.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        openWindow.step = DONE;
        break;
    default:
        break;
    }
}

// Opens detail window number `index` on the helper in the middle of the
// churn (old enough to be listed), as its menu command does, and lets the
// tick refresh and close it.
void OpenDetailWindow(int index, int round) {
    DetailWindow& window = detailWindows[index];
    if (!alive.empty()) {
        SelectProcessById(alive[alive.size() / 2].dwProcessId);
    }
    openWindow = {FIND, nullptr, round % 2, round, GetTickCount()};
    double start = NowMilliseconds();
    UINT_PTR timer = SetTimer(nullptr, 0, 10, WindowTick);
    SendMessageA(mainWindow, WM_COMMAND, window.command, 0);
    KillTimer(nullptr, timer);
    if (openWindow.step == FIND) {
        windowsNotShown++;
    }
    window.opened++;
    window.milliseconds += NowMilliseconds() - start;
    if (refreshSuspended) {
        // The module usage window left its filter on the main list: the
        // toolbar button takes it away again.
        SendMessageA(mainWindow, WM_COMMAND, IDM_MODULE_USAGE, 0);
    }
}

// --- figures ---

double Growth(double first, double last) {
    return first != 0 ? (last - first) * 100.0 / first : 0;
}

void PrintFigures(const char* when, const Figures& f) {
    printf("  %-24s handles %6ld  GDI %5d  windows %4d  menus %3d  private %8.1f KB  working set "
           "%8.1f KB\n",
           when, f.handles, f.gdi, f.windows, f.menus, f.privateBytes / 1024.0,
           f.workingSet / 1024.0);
}

bool ReportGrowth(const char* what, double first, double last, const char* unit) {
    double growth = Growth(first, last);
    bool passed = growth <= 1.0 && growth >= -1.0;
    printf("  %-14s %12.1f -> %12.1f %-3s %+7.3f %%  (goal within 1 %%: %s)\n", what, first, last,
           unit, growth, Verdict(passed));
    return passed;
}

void PrintProgress(int pass, double startMs, const Figures& f) {
    double seconds = (NowMilliseconds() - startMs) / 1000.0;
    printf("pass %6d  %7.1f s  %5.2f passes/s  handles %6ld  GDI %5d  windows %4d  menus %3d  "
           "private %8.1f KB  WS %8.1f KB\n",
           pass, seconds, pass / seconds, f.handles, f.gdi, f.windows, f.menus,
           f.privateBytes / 1024.0, f.workingSet / 1024.0);
    fflush(stdout);
}

} // namespace

int main() {
    StartClock();
    const char* commandLine = GetCommandLineA();
    Options options;
    options.passes = NumberOption(commandLine, "--passes=", options.passes);
    options.every = NumberOption(commandLine, "--every=", options.every);
    options.helpers = NumberOption(commandLine, "--helpers=", options.helpers);
    options.report = NumberOption(commandLine, "--report=", options.report);

    helperPath = HelperPath();
    if (GetFileAttributesA(helperPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        printf("%s is missing\n", helperPath.c_str());
        return 0;
    }
    if (!CheckCounters()) {
        printf("a counter failed its check: its figures below are not to be trusted\n");
    }
    if (!SetUpMainWindow() || !RegisterDialogClass(appInstance)) {
        return 0;
    }
    // The passes come from this driver alone, without the period between them.
    KillTimer(mainWindow, REFRESH_TIMER_ID);

    Helpers first;
    if (!first.Start(helperPath, options.helpers,
                     [](int) { return HelperArguments(helperSerial++); })) {
        first.EndAll();
        return 0;
    }
    alive.assign(first.processes.begin(), first.processes.end());
    first.processes.clear();

    printf("soak: %d passes, %d helpers alive, one ended and one started per pass, a detail window "
           "every %d passes (%d windows in turn)\n",
           options.passes, options.helpers, options.every, detailWindowCount);
    fflush(stdout);

    double start = NowMilliseconds();
    Figures afterHundred = {};
    int windowRound = 0;
    long startFailures = 0;
    for (int pass = 1; pass <= options.passes; pass++) {
        EndOldestHelper();
        if (!StartHelper()) {
            startFailures++;
        }
        FirePass();
        Pump();
        passesRun++;
        if (pass % options.every == 0) {
            OpenDetailWindow(windowRound % detailWindowCount, windowRound / detailWindowCount);
            windowRound++;
            Pump();
        }
        if (pass == 100 || pass == options.passes || pass % options.report == 0) {
            Figures now = Count();
            if (pass == 100) {
                afterHundred = now;
            }
            PrintProgress(pass, start, now);
        }
    }
    double seconds = (NowMilliseconds() - start) / 1000.0;
    Figures last = Count();

    printf(
        "\nran %ld passes (and %ld more under open windows) in %.0f s: %.2f passes/s; %d helpers "
        "started in all, %ld starts failed\n",
        passesRun, passesInWindows, seconds, passesRun / seconds, helperSerial, startFailures);
    printf("detail windows opened, refreshed (F5 and timer) and closed:\n");
    for (const DetailWindow& window : detailWindows) {
        printf("  %-22s %5d times, %7.1f ms each\n", window.name, window.opened,
               window.opened ? window.milliseconds / window.opened : 0);
    }
    printf("  message boxes answered: %ld; windows that did not show: %ld\n", messageBoxes,
           windowsNotShown);
    printf("figures:\n");
    PrintFigures("after 100 passes", afterHundred);
    char when[64];
    snprintf(when, sizeof when, "after %ld passes", passesRun);
    PrintFigures(when, last);
    if (passesRun > 100) {
        printf("growth from pass 100 to the end:\n");
        ReportGrowth("handles", afterHundred.handles, last.handles, "");
        ReportGrowth("GDI objects", afterHundred.gdi, last.gdi, "");
        ReportGrowth("windows", afterHundred.windows, last.windows, "");
        ReportGrowth("menus", afterHundred.menus, last.menus, "");
        ReportGrowth("private bytes", afterHundred.privateBytes / 1024.0,
                     last.privateBytes / 1024.0, "KB");
        double perThousand =
            (static_cast<double>(last.workingSet) - static_cast<double>(afterHundred.workingSet)) /
            1024.0 * 1000.0 / static_cast<double>(passesRun - 100);
        printf("  working set (reported only): %+.1f KB per 1,000 passes\n", perThousand);
    }
    fflush(stdout);
    EndAllHelpers();
    // The window is left to the end of the process: destroying it would store
    // the settings changed above.
    return 0;
}
