// User-interface operations shared by every window of the program.
#ifndef TOLVANE_APP_UIOPS_H
#define TOLVANE_APP_UIOPS_H

#include <windows.h>

#include "sysinfo/chosenprocess.h"
#include "sysinfo/process_entry.h"

enum { REFRESH_TIMER_ID = 100, DETAIL_TEXT_SIZE = 288 };

// Set by a detail window's opener before its dialog opens: the process the
// window shows, and its title (or, for the version window, the file).
extern DWORD selectedProcessId;
extern char detailText[DETAIL_TEXT_SIZE];

// A new heap copy of a string-table text (free() it), or null without memory.
char* LoadText(UINT stringId);
// A message box with a string-table text and the program's caption.
int ShowMessage(HWND owner, UINT stringId, UINT style);
// A warning box with the program's caption: the subject (a file name, say),
// then the system's text for the error code.
int ShowSystemError(HWND owner, const char* subject, DWORD error);
// Gives a dialog and its children the list's font on double-byte systems.
void ApplyDialogFont(HWND dialog);
void SetListHeader(HWND dialog, int listBoxId, int headerEditId, UINT stringId, int tabCount,
                   const int* tabs);
int CopyTextToClipboard(HWND owner, const char* text);
HMENU FindPopupByCaption(HMENU menu, UINT stringId);
// Shows a pop-up of the menu (null: the context menus) at the cursor, or at
// a given screen point; the chosen command goes to the owner.
LRESULT ShowPopupMenu(HWND owner, HMENU menu, UINT stringId);
LRESULT ShowPopupMenuAt(HWND owner, HMENU menu, UINT stringId, int x, int y);
// Makes a window of the program the foreground window, with the keyboard.
void TakeForeground(HWND window);
// Brings the main window forward, or the dialog it has open over it.
void BringMainWindowForward();
int IsMenuItemChecked(UINT commandId);
int ToggleMenuCheck(UINT commandId);
void SetRefreshTimer(int start);
// A refresh period in seconds as a timer's milliseconds, cut to the longest
// timer the system takes; 0 for a period that is not positive.
UINT RefreshPeriodMilliseconds(int seconds);
// Enables the selection-dependent commands for the selected row's node (or none).
void UpdateCommandStates(ProcessEntry* node);
// A new main window starts with every selection-dependent command disabled.
void ForgetCommandStates();
BOOL SetTrayIcon(int show);
// Makes the selected row's process the chosen one, and copies its path
// (length > 0) or name (length < 0) as GetSelectedProcess does. Returns its
// id, or 0 without a selection.
DWORD ChooseSelectedProcess(char* buffer, int length);
// Gives the tray icon another icon (null: keeps it) and tip.
BOOL ChangeTrayIcon(HICON icon, const char* tip);
// Writes "name (id)", the id as the list shows it, into a buffer of `size`
// bytes, the name cut at a character boundary so that the id fits; returns
// the length.
int FormatProcessLabel(char* buffer, int size, const char* name, DWORD processId);
// Writes a detail window's title into the detail text buffer: the prefix,
// then the selected process's name and id, the name cut so that the whole
// fits in 258 bytes, and makes that process the chosen one. Returns the
// selected process id, or 0 without a selection.
DWORD BuildDetailTitle(const char* prefix);
// Whether the process a detail window shows has ended, or can no longer be
// told apart. The first time it is found so, the window's title says which
// and its refresh timer stops: its rows stay as they were, rather than show
// another process.
int DetailProcessEnded(HWND dialog);
// Tells the user that nothing was done because the chosen process has
// ended (CHOSEN_ENDED) or cannot be told apart (CHOSEN_UNKNOWN).
void ReportChosenProcessEnded(HWND owner, int state);
// The closing rows every detail dialog shares, for the messages it does not
// handle itself: Cancel (Esc) ends it with IDCANCEL, the close box with 0.
INT_PTR EndDetailDialog(HWND dialog, UINT message, WPARAM wParam);

// Addresses in lists: the 64-bit program writes every address at one width
// that holds its whole address space, so that lists sorted as text keep
// the order of addresses; the 32-bit program writes eight digits.
#ifdef _WIN64
enum { ADDRESS_DIGITS = 12 };
#else
enum { ADDRESS_DIGITS = 8 };
#endif
// Writes the address in hexadecimal at ADDRESS_DIGITS (more only where it
// does not fit); the buffer holds 17 bytes.
void FormatAddress(ULONGLONG address, char* buffer);

#endif
