// The threads window: the threads of the selected process, one text row per
// thread, refreshed on its own timer.
#ifndef TOLVANE_DETAILS_THREADS_H
#define TOLVANE_DETAILS_THREADS_H

#include <windows.h>

// Command handler: opens the window for the selected process.
LRESULT OpenThreadsWindow(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
int RefreshThreadList(HWND listBox, DWORD processId);
// Resizes `control` by the change of the dialog's client size since `stored`,
// which then takes the new client rectangle.
// Nothing changes (result 0) when the control would have no width or height.
int ResizeToClient(HWND dialog, HWND control, LPARAM newSize, RECT* stored);
INT_PTR CALLBACK ThreadsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
