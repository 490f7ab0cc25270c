// The applications window: the desktop's top-level application windows with
// their small icons; a click selects the owning process in the main list, a
// double click also brings its window forward.
#ifndef TOLVANE_DETAILS_APPS_H
#define TOLVANE_DETAILS_APPS_H

#include <windows.h>

enum {
    IDC_APPLICATION_LIST = 101,
    // How long the window of another program may take to answer the icon
    // question before it counts as not answering.
    ICON_QUERY_MILLISECONDS = 250,
};

// Command handler: opens the window with the selected process's rows selected.
LRESULT OpenApplicationsWindow(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
INT_PTR CALLBACK ApplicationsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The window's small icon: its own answer, its class's, or the program's
// stand-in. A window that does not answer in time is not asked again for a
// second icon of the same thread in one fill.
HICON GetWindowSmallIcon(HWND window);
// Refills the list (and writes each row into the save file when one is open).
void FillApplicationList(HWND list);

#endif
