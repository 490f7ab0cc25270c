#include "app/dispatch.h"
#include "app/settings.h"
#include "app/uiops.h"

UINT taskbarCreatedMessage = 0;
int taskbarMessagePending = 1;

LRESULT CallDefaultProc(int kind, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (kind) {
    case DEFPROC_WINDOW:
        return DefWindowProcA(window, message, wParam, lParam);
    case DEFPROC_DIALOG:
        return DefDlgProcA(window, message, wParam, lParam);
    case DEFPROC_MDICHILD:
        return DefMDIChildProcA(window, message, wParam, lParam);
    case DEFPROC_FRAME:
        return DefFrameProcA(window, nullptr, message, wParam, lParam);
    default:
        return 0;
    }
}

LRESULT DispatchMessageMap(const MessageMap* map, HWND window, UINT message, WPARAM wParam,
                           LPARAM lParam) {
    const MessageMapEntry* rows = static_cast<const MessageMapEntry*>(map->entries);
    for (int i = 0; i < map->count; i++) {
        if (rows[i].message == message) {
            return rows[i].handler(window, message, wParam, lParam);
        }
    }
    // Registered lazily, on the first message no row claims.
    if (taskbarMessagePending) {
        taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
        taskbarMessagePending = 0;
    }
    // The shell rebuilt its taskbar: put the icon back.
    if (taskbarCreatedMessage != 0 && message == taskbarCreatedMessage && useSysTray) {
        SetTrayIcon(0);
        SetTrayIcon(1);
    }
    return CallDefaultProc(map->defaultKind, window, message, wParam, lParam);
}

LRESULT DispatchCommandMap(const MessageMap* map, HWND window, WPARAM wParam, LPARAM lParam) {
    const CommandMapEntry* rows = static_cast<const CommandMapEntry*>(map->entries);
    for (int i = 0; i < map->count; i++) {
        if (LOWORD(rows[i].commandId) == LOWORD(wParam)) {
            return rows[i].handler(window, wParam, wParam >> 16, lParam);
        }
    }
    return CallDefaultProc(map->defaultKind, window, WM_COMMAND, wParam, lParam);
}
