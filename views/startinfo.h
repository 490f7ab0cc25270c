// The start-up information window: the current directory, command line and
// environment of the selected process, read once when the window opens.
#ifndef TOLVANE_VIEWS_STARTINFO_H
#define TOLVANE_VIEWS_STARTINFO_H

#include <windows.h>

// Command handler: opens the window for the selected process.
LRESULT OpenStartupInfoWindow(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
// Shows the copy pop-up (caption string `captionId`) over the list-box row
// under `position` (screen coordinates as sent with WM_CONTEXTMENU); copies
// the row's last tab-separated field when chosen. The command chosen, or 0.
UINT CopyListRowMenu(HWND listBox, LPARAM position, UINT captionId);
// Sets the list box's horizontal scrolling range to its widest row, its tabs
// at the given stops (dialog units, as the list box was given them).
void FitHorizontalExtent(HWND listBox, int tabCount, const int* tabStops);
INT_PTR CALLBACK StartupInfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
