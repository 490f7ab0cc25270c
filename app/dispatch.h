// Table-driven dispatch of the main window's messages and commands.
#ifndef TOLVANE_APP_DISPATCH_H
#define TOLVANE_APP_DISPATCH_H

#include <windows.h>

typedef LRESULT (*MessageHandler)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Receives the whole wParam of WM_COMMAND, its notification code (wParam >> 16) and lParam.
typedef LRESULT (*CommandHandler)(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);

enum DefaultProcKind {
    DEFPROC_NONE = 0,
    DEFPROC_WINDOW = 1,
    DEFPROC_DIALOG = 2,
    DEFPROC_MDICHILD = 3,
    DEFPROC_FRAME = 4,
};

struct MessageMapEntry {
    UINT message;
    MessageHandler handler;
};

struct CommandMapEntry {
    UINT commandId; // only the low 16 bits are compared
    CommandHandler handler;
};

struct MessageMap {
    int count;
    const void* entries; // MessageMapEntry or CommandMapEntry rows
    int defaultKind;     // a DefaultProcKind
};

extern UINT taskbarCreatedMessage;
extern int taskbarMessagePending;

LRESULT CallDefaultProc(int kind, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DispatchMessageMap(const MessageMap* map, HWND window, UINT message, WPARAM wParam,
                           LPARAM lParam);
LRESULT DispatchCommandMap(const MessageMap* map, HWND window, WPARAM wParam, LPARAM lParam);

#endif
