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

    NtApi savedNtApi;
};

#endif
