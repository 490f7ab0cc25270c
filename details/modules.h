// The modules window: the modules loaded into the selected process in a
// sortable report list with a status bar. The row record, the sort state and
// the list operations serve the module usage window too.
#ifndef TOLVANE_DETAILS_MODULES_H
#define TOLVANE_DETAILS_MODULES_H

#include <windows.h>

#include "sysinfo/process_entry.h"

// One list-view item's record, held in its lParam and freed with the item.
struct ModuleRow {
    char* path;
    char* name;
    DWORD baseAddress;
    DWORD size;
    FILETIME created; // zero when the file's time cannot be read
    LONG useCount;    // set by the module usage window only
};

extern DWORD modulesProcessId;
extern int moduleSortColumn;
extern int moduleSortDirection;
extern int moduleArrowColumn;

// Command handler: opens the window for the selected process.
LRESULT OpenModulesWindow(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
void FillModuleList(HWND list, DWORD processId, ModuleVisitor visitor, DWORD value);
int AddModuleRow(DWORD value, HWND list, const char* moduleName, DWORD baseAddress, DWORD imageSize,
                 const char* fullPath);
int CALLBACK CompareModuleRows(LPARAM a, LPARAM b, LPARAM param);
void SortModuleList(HWND list, int controlId);
void UpdateModuleSortArrow(HWND list);
void UpdateModuleStatus(HWND list, HWND statusBar, const ModuleRow* row);
ModuleRow* GetSelectedModuleRow(HWND list);
void LayoutModuleWindow(HWND dialog, HWND list, HWND statusBar);
void RouteModuleListNotify(HWND dialog, const NMHDR* header);
INT_PTR CALLBACK ModulesDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
