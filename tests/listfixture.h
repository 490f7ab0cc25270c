// A real main window created in-process, with helpers to read its process
// list: the fixture of the list, back-end and main-window tests.
#ifndef TOLVANE_TESTS_LISTFIXTURE_H
#define TOLVANE_TESTS_LISTFIXTURE_H

#include "sysinfo/process_entry.h"
#include "sysinfo/platform.h"
#include "views/processlist.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

// Every entry handed to a fake process enumeration, and cell-text requests.
struct ListCounters {
    int cellRequests;
    std::vector<int> requestedRows;
    std::vector<int> requestedColumns;
};
extern ListCounters listCounters;

// 16-bit tasks of crafted NTVDM processes, played through the VDM entries
// of the NT table (this Wine lists none), with what the calls were given.
struct FakeTask {
    DWORD ntvdmId;
    DWORD threadId;
    WORD task16;
    std::string moduleName;
    std::string fileName;
};
extern std::vector<DWORD> fakeNtvdms;
extern std::vector<FakeTask> fakeTasks;
extern int processWowCalls;
extern WowProcessEnumProc processWowCallback;
extern LPARAM processWowUserValue;
extern std::vector<BOOL> ntvdmVisitResults;
extern std::vector<DWORD> taskEnumerations;
extern DWORD terminatedNtvdm;
extern WORD terminatedTask;
extern BOOL terminateResult;
extern int terminateCalls;
INT WINAPI FakeEnumProcessWow(WowProcessEnumProc callback, LPARAM userValue);
INT WINAPI FakeEnumTaskWowEx(DWORD processId, WowTaskEnumProc callback, LPARAM userValue);
BOOL WINAPI FakeTerminateTaskWow(DWORD processId, WORD task16);
// Empties the table and the records; PlayWowTasks also puts the three fakes
// into the NT table (the fixture's TearDown restores it).
void ClearWowTasks();
void PlayWowTasks();

// Loads the program's texts and icon as start-up does, detects the platform,
// loads the back-end and registers the main window and dialog classes; once
// per test process.
void PrepareProgramClasses();

class ListFixture : public ::testing::Test {
  protected:
    // Creates the main window with the given family's column set; the window
    // fills its list from the real back-end unless `emptyList`.
    void CreateMainWindowFor(int ntFamilyValue, bool emptyList = true);
    void TearDown() override;

    static ProcessEntry MakeEntry(DWORD processId, const char* name, DWORD priorityClass = 32,
                                  DWORD kind = KIND_WIN32, DWORD parent = 0,
                                  const char* path = "C:\\bin\\x.exe");
    static std::vector<DWORD> RowIds();
    static std::vector<std::string> RowNames();
    static int RowOf(DWORD processId, DWORD kind = KIND_WIN32);
    static std::string CellText(int row, int column);
    static void Paint(); // lets the list view paint what is invalid
    // A real click on a column header of the list.
    static void ClickHeader(int column);
    static void ResetCounters();
    static bool Grayed(UINT commandId);
    // "name (id)" with the selected process's id as the list shows it.
    static std::string WithSelectedId(const std::string& name);

    NtApi savedNtApi;
};

#endif
