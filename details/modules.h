// The modules window: the modules loaded into the selected process in a
// sortable report list with a status bar. The row record, the sort state and
// the list operations serve the module usage window too.
#ifndef TOLVANE_DETAILS_MODULES_H
#define TOLVANE_DETAILS_MODULES_H

#include <windows.h>
#include <stdio.h>

#include "app/uiops.h"
#include "views/listview.h"
#include "sysinfo/process_entry.h"

// One list-view item's record, held in its lParam and freed with the item.
struct ModuleRow {
    char* path;
    char* name;
    ULONGLONG baseAddress;
    DWORD size;
    FILETIME created; // zero when the file's time cannot be read
    LONG useCount;    // set by the module usage window only
    int isNote;       // a line that tells about the list, not a module; always last
};

extern DWORD modulesProcessId;
extern int moduleSortColumn;
extern int moduleSortDirection;
extern int moduleArrowColumn;

// Command handler: opens the window for the selected process.
LRESULT OpenModulesWindow(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
void FillModuleList(HWND list, DWORD processId, ModuleVisitor visitor, ULONG_PTR value);
void FreeModuleRow(ModuleRow* row);
// A module's base address in eight hexadecimal digits, or in sixteen when it
// lies above 4 GB; the buffer holds 17 bytes at least.
void FormatModuleBase(ULONGLONG baseAddress, char* buffer);
// The base column holds an address of the program's width.
enum { BASE_COLUMN_WIDTH = ADDRESS_DIGITS > 8 ? 100 : 75 };
// Inserts the five columns of a module list: the base and size columns wide
// enough for the largest address and size.
void InsertModuleColumns(HWND list, const ColumnDef* columns);
// Appends the row's item with its five cells; the fourth cell's text is the
// caller's. Returns the item's index, or -1 (the caller still owns the row).
int InsertModuleRow(HWND list, ModuleRow* row, const char* fourthCell);
// A refill stops the list's drawing and empties it, then selects again the
// module that was selected, shows the row that was last in view and draws
// the list again.
int BeginModuleRefill(HWND list);
void EndModuleRefill(HWND list, int lastVisible);
int AddModuleRow(ULONG_PTR value, HWND list, const char* moduleName, ULONGLONG baseAddress,
                 DWORD imageSize, const char* fullPath);
// Writes one line per row in the order shown: the five cells as shown and
// the module's version summary, separated by tabs. Nothing without a file.
void WriteModuleRows(HWND list, FILE* file);
int CALLBACK CompareModuleRows(LPARAM a, LPARAM b, LPARAM param);
void SortModuleList(HWND list, int controlId);
void UpdateModuleSortArrow(HWND list);
void UpdateModuleStatus(HWND list, HWND statusBar, const ModuleRow* row);
ModuleRow* GetSelectedModuleRow(HWND list);
ModuleRow* ModuleRowAt(HWND list, int index);
// Fills the dialog with the list above the status bar; the path column
// reaches at least to the list's right edge.
void LayoutModuleWindow(HWND dialog, HWND list, HWND statusBar);
void RouteModuleListNotify(HWND dialog, const NMHDR* header);
HWND CreateModuleStatusBar(HWND dialog);
// A right-click opens the pop-up of the context menu with the given caption;
// a double-click opens the version window of the row's file.
void OnModuleRowEvent(HWND dialog, WPARAM code, const ModuleRow* row, UINT popupCaption);
// Escape, copy module path and version, shared by both module windows.
void OnModuleWindowCommand(HWND dialog, HWND list, WPARAM wParam);
INT_PTR CALLBACK ModulesDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
