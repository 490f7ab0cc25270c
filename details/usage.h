// The module usage window: every module loaded by the processes of the main
// list with the number of processes that use it. Selecting a module filters
// the main list down to its users.
#ifndef TOLVANE_DETAILS_USAGE_H
#define TOLVANE_DETAILS_USAGE_H

#include <windows.h>

#include "views/processlist.h"

// One distinct module (base address and path, ignoring case) while a listing
// is counted; new entries go to the front.
struct UsageEntry {
    ULONGLONG baseAddress;
    DWORD size;
    char* name;
    char* path;
    LONG useCount;
    UsageEntry* next;
};

// The value handed to MarkModuleUser: the node and the module it looks for.
struct ModuleUserQuery {
    ProcessNode* node;
    const char* path;
    ULONGLONG baseAddress;
};

// Command handler: ends the module filter when one is shown, otherwise opens
// the window.
LRESULT OnModuleUsageCommand(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
INT_PTR CALLBACK UsageDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Counts the modules of every accessible process of the main list, shown or
// taken off by the filter, and adds one row per module to the list.
void BuildUsageList(HWND list);
// Module visitor: the value points to the head of a UsageEntry list.
int CountModuleUse(ULONG_PTR value, HWND window, const char* moduleName, ULONGLONG baseAddress,
                   DWORD imageSize, const char* fullPath);
// Module visitor: the value points to a ModuleUserQuery; marks its node with
// NODE_FILTERED_OUT when the module is the one looked for.
int MarkModuleUser(ULONG_PTR value, HWND window, const char* moduleName, ULONGLONG baseAddress,
                   DWORD imageSize, const char* fullPath);
// Refreshes the main list and leaves in it only the users of the module
// selected in the window's list.
void ApplyModuleFilter(HWND dialog);

#endif
