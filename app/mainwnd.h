// The main window: its message and command maps, handlers and globals.
#ifndef TOLVANE_APP_MAINWND_H
#define TOLVANE_APP_MAINWND_H

#include <windows.h>
#include "app/dispatch.h"

enum {
    MSG_LIST_EVENT = WM_USER + 1,
    MSG_TRAY_NOTIFY = WM_USER + 2,
    MSG_READ_WAITING = WM_USER + 3, // the main list's next slice
    SLICE_TIMER_ID = 101,
    LOAD_TIMER_ID = 102, // the tray icon's load while the window hides
};

extern HWND mainWindow;
extern HWND toolbarWindow;
extern HWND statusWindow;
extern HWND listWindow;
extern int toolbarHeight;
extern int statusHeight;
extern HCURSOR finderCursor;
extern UINT_PTR refreshTimerRunning;
extern HMENU contextMenu;

extern const MessageMap mainMessageMap;
extern const MessageMap mainCommandMap;

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A key pressed in the main list: Delete terminates, Enter opens the
// version window of the selected process (each while its command is enabled).
void OnMainListKey(WORD key);
LRESULT OnMainCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
