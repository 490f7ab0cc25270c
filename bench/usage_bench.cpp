// Measures the module usage window with 100 helper processes that each load
// four resource-only DLLs of the project's own (ten of them a fifth one), in
// the same run as each floor:
// - opening the window (the refresh of the main list, the listing of every
//   process's modules and the rows) against one Toolhelp module snapshot
//   walked per process;
// - filter clicks against one unchanged refresh pass of the main list: every
//   row in turn (as when arrowing through the list), the same module again,
//   and a module of all helpers alternating with one of ten, so that some 90
//   rows go and come back on every click;
// - the same clicks against the route that reads every process's module
//   list again on each click, the cost of a fresh reading without the kept
//   lists (goal: at most 0.3 x).
// Prints the figures and the target checks; always exits with 0.
#include "benchutil.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "details/modules.h"
#include "details/usage.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "views/processlist.h"

#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const int helperCount = 100;
const int fewUsers = 10;
const int openRuns = 8;
const int clickRuns = 20;
const char* const everyHelperDlls[] = {"vdesc.dll", "vprod.dll", "vorig.dll", "vtwo.dll"};
const char* const fewHelpersDll = "vempty.dll";

std::string LoadOption(int helper) {
    std::string option = "--load=";
    for (const char* dll : everyHelperDlls) {
        option += BesideBenchmark(dll) + "|";
    }
    if (helper < fewUsers) {
        option += BesideBenchmark(fewHelpersDll);
    } else {
        option.pop_back();
    }
    return option;
}

// Ends every highlight, so that the timed passes meet the steady state.
void Settle() {
    for (ProcessNode* node = processListHead; node; node = node->next) {
        node->markTime = 0;
    }
    ExpireHighlights();
    RefreshPass(listWindow);
    Pump();
    ExpireHighlights();
    RefreshPass(listWindow);
    Pump();
}

int RowCount(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

void SelectRow(HWND list, int row) {
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
}

int RowOfModule(HWND list, const char* name) {
    for (int row = 0; row < RowCount(list); row++) {
        char text[260] = "";
        LVITEMA item = {};
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
        if (lstrcmpiA(text, name) == 0) {
            return row;
        }
    }
    return -1;
}

// One click: the filter, and the filter with the paint it leaves, in ms.
struct Click {
    Series filter;
    Series painted;
    Series passes; // the unchanged pass before each click
};

void TimedClick(HWND dialog, HWND list, int row, Click* click) {
    SelectRow(list, row);
    double start = NowMilliseconds();
    ApplyModuleFilter(dialog);
    double filtered = NowMilliseconds();
    UpdateWindow(listWindow);
    double painted = NowMilliseconds();
    if (click) {
        click->filter.values.push_back(filtered - start);
        click->painted.values.push_back(painted - start);
    }
    Pump();
}

// What a click costs when it reads every process's module list again, as
// the window would without the lists it keeps (nodes the filter removed
// would also be read whole again by the refresh pass; not counted here).
double TimedRereadClick(HWND list, int row) {
    SelectRow(list, row);
    ModuleRow* module = GetSelectedModuleRow(list);
    double start = NowMilliseconds();
    RefreshPass(listWindow);
    for (ProcessNode* node = processListHead; node; node = node->next) {
        if ((node->flags & (ENTRY_NO_ACCESS | NODE_SEEN)) == NODE_SEEN) {
            ModuleUserQuery query = {node, module->path, module->baseAddress};
            FillModuleList(nullptr, node->processId, MarkModuleUser,
                           reinterpret_cast<ULONG_PTR>(&query));
        }
    }
    double elapsed = NowMilliseconds() - start;
    ClearFilterMarks();
    Pump();
    return elapsed;
}

// One unchanged refresh pass of the main list, in ms.
double TimedPass() {
    ExpireHighlights();
    double start = NowMilliseconds();
    RefreshPass(listWindow);
    double elapsed = NowMilliseconds() - start;
    Pump();
    return elapsed;
}

// A click on the row, after an unchanged pass timed for its floor.
void ClickAfterPass(HWND dialog, HWND list, int row, Click& click) {
    click.passes.values.push_back(TimedPass());
    TimedClick(dialog, list, row, &click);
}

void Report(const char* what, const Series& measured, const Series& floor, double goal) {
    double ratio = floor.Mean() > 0 ? measured.Mean() / floor.Mean() : 0;
    printf("%-44s %11s ms  floor %11s ms  %5.2f x", what, MeanAndMin(measured, 1).c_str(),
           MeanAndMin(floor, 1).c_str(), ratio);
    if (goal > 0) {
        printf("  (goal <= %.1f x: %s)", goal, Verdict(ratio <= goal));
    }
    printf("\n");
    fflush(stdout);
}

} // namespace

int main() {
    StartClock();
    for (const char* file : {"tvhelper.exe", "vdesc.dll", fewHelpersDll}) {
        if (GetFileAttributesA(BesideBenchmark(file).c_str()) == INVALID_FILE_ATTRIBUTES) {
            printf("%s is missing\n", BesideBenchmark(file).c_str());
            return 0;
        }
    }
    if (!SetUpMainWindow() || !RegisterDialogClass(appInstance)) {
        return 0;
    }
    Helpers helpers;
    if (!helpers.Start(HelperPath(), helperCount, LoadOption)) {
        helpers.EndAll();
        return 0;
    }
    ReloadProcessList();
    PumpFor(HIGHLIGHT_MILLISECONDS + 200);
    Settle();

    // Opening the window against one module snapshot walked per process.
    Series opening, snapshots;
    int processes = 0, modules = 0, usageRows = 0;
    for (int run = 0; run < openRuns; run++) {
        double start = NowMilliseconds();
        processes = modules = 0;
        for (DWORD processId : ListProcessIds()) {
            modules += SnapshotWalk(processId);
            processes++;
        }
        snapshots.values.push_back(NowMilliseconds() - start);
        Pump();

        start = NowMilliseconds();
        HWND dialog = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_MODULE_USAGE),
                                         mainWindow, UsageDlgProc, 0);
        opening.values.push_back(NowMilliseconds() - start);
        usageRows = RowCount(GetDlgItem(dialog, IDC_USAGE_LIST));
        DestroyWindow(dialog);
        Pump();
    }
    printf("module usage window, %d helpers (%d processes, %d modules, %d usage rows); ms as "
           "mean/min\n",
           helperCount, processes, modules, usageRows);
    Report("opening (refresh, listing, rows)", opening, snapshots, 1.3);

    // Filter clicks against the unchanged pass, measured before and after.
    HWND dialog = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_MODULE_USAGE), mainWindow,
                                     UsageDlgProc, 0);
    ShowWindow(dialog, SW_SHOW);
    HWND list = GetDlgItem(dialog, IDC_USAGE_LIST);
    Pump();
    RefreshProcessList();
    Settle();
    // Each click follows an unchanged pass, timed as its floor, so that
    // both meet the same load of this shared machine.
    Click arrowing, same, alternating;
    for (int row = 0; row < RowCount(list); row++) {
        ClickAfterPass(dialog, list, row, arrowing);
    }
    int everyHelper = RowOfModule(list, everyHelperDlls[0]);
    int fewHelpers = RowOfModule(list, fewHelpersDll);
    Series reread, rereadPasses;
    int shownEvery = 0, shownFew = 0;
    if (everyHelper != -1 && fewHelpers != -1) {
        TimedClick(dialog, list, everyHelper, nullptr);
        for (int run = 0; run < clickRuns; run++) {
            ClickAfterPass(dialog, list, everyHelper, same);
        }
        for (int run = 0; run < clickRuns; run++) {
            ClickAfterPass(dialog, list, run % 2 ? everyHelper : fewHelpers, alternating);
            (run % 2 ? shownEvery : shownFew) = RowCount(listWindow);
        }
        RefreshProcessList();
        Pump();
        for (int run = 0; run < 5; run++) {
            rereadPasses.values.push_back(TimedPass());
            reread.values.push_back(TimedRereadClick(list, run % 2 ? everyHelper : fewHelpers));
        }
    }
    printf("filter clicks (ApplyModuleFilter), each against the unchanged pass before it; main "
           "list rows: %d with %s, %d with %s\n",
           shownEvery, everyHelperDlls[0], shownFew, fewHelpersDll);
    Report("click, each row in turn (arrowing)", arrowing.filter, arrowing.passes, 2.0);
    Report("  the same with the list's paint", arrowing.painted, arrowing.passes, 0);
    Report("click, the same module again", same.filter, same.passes, 0);
    Report("click, 100 and 10 users alternating", alternating.filter, alternating.passes, 2.0);
    Report("  the same with the list's paint", alternating.painted, alternating.passes, 0);
    Report("click reading every module list again", reread, rereadPasses, 0);
    Report("click, each row, against re-reading", arrowing.filter, reread, 0.3);
    Report("click, alternating, against re-reading", alternating.filter, reread, 0.3);
    DestroyWindow(dialog);
    RefreshProcessList();
    helpers.EndAll();
    // The main window is left to the end of the process: destroying it would
    // store the settings changed above.
    return 0;
}
