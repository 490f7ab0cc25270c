// Actions on the process selected in the main list: terminate or politely
// close it, suspend or resume it, switch to or bring forward its window,
// change its priority class or processor affinity, copy its path or open
// its folder.
#ifndef TOLVANE_DETAILS_ACTIONS_H
#define TOLVANE_DETAILS_ACTIONS_H

#include <windows.h>

// Command handlers of the main window.
LRESULT TerminateSelectedProcess(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
LRESULT OnSwitchToProcess(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
LRESULT OpenPriorityDialog(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
LRESULT OpenAffinityDialog(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
LRESULT CopySelectedPath(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
// Suspends (IDM_SUSPEND) or resumes (IDM_RESUME) every thread of the
// selected process; suspending this program or the desktop asks first.
LRESULT SuspendSelectedProcess(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
// Opens the system's file browser at the selected process's executable.
LRESULT OpenSelectedLocation(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);

INT_PTR CALLBACK TerminateDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PriorityDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AffinityDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

struct ChosenProcess;

// Ends the chosen process; asks again every 5 seconds while it does not
// end. Nonzero when the terminate call succeeded; a process that has ended
// since it was chosen is not looked for by its id: the user is told.
int KillChosenProcess(ChosenProcess* chosen);
// The same for the process that has the id now.
int KillProcess(DWORD processId);
// Asks the process's window to close, as its close box would.
void RequestProcessClose(DWORD processId);
// Restores and activates the process's window; 0 when it has none.
int ActivateProcessWindow(DWORD processId);
// The process's best window: visible, not minimised, not a pop-up and with
// a system menu, then any not minimised, then any visible with a system
// menu. For a 16-bit task row the id is a thread id.
HWND FindProcessWindow(DWORD processId);

#endif
