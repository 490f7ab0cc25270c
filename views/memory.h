// The memory window: the virtual address space of the selected process, one
// row per region, with the owning module of image regions and the totals of
// committed private, mapped and image memory.
#ifndef TOLVANE_VIEWS_MEMORY_H
#define TOLVANE_VIEWS_MEMORY_H

#include <windows.h>

// One value of a protection, state or type field and its cached name; a
// table ends with value 0.
struct ValueName {
    DWORD value;
    UINT stringId;
    char* text;
};

enum { REGION_ROW_SIZE = 600 }; // room for every field and a 255-byte module name

// Command handler: opens the window for the selected process.
LRESULT OpenMemoryWindow(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
// Walks the address space; fills the list and sets the totals text when
// given. 1 when the totals differ from the last walk's.
int WalkMemory(HWND list, HWND totals, DWORD processId);
void FormatRegionRow(const MEMORY_BASIC_INFORMATION* region, char* buffer);
const char* LookupValueName(DWORD value, ValueName* table, char* scratch);
int CollectModuleRange(ULONG_PTR userValue, HWND window, const char* moduleName,
                       ULONGLONG baseAddress, DWORD imageSize, const char* fullPath);
INT_PTR CALLBACK MemoryDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
