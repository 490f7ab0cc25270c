// A small program that tests start as a child process. Options:
//   --platform            exit at once with a code describing the platform:
//                         bit 0 NT family, bit 1 NT 5 or later, bit 2 back-end loaded
//   --window=MODE         create a top-level window: visible, minimized, hidden, nosysmenu
//   --title=TEXT          the window's caption (default "tvhelper")
//   --priority=CLASS      idle, below, normal, above, high, realtime
//   --load=DLL            load a library and keep it loaded
//   --lifetime=MS         end by itself after MS milliseconds
// Without --platform it lives until its window is closed, it is ended, or
// the lifetime runs out.
#include "sysinfo/platform.h"

#include <windows.h>
#include <string.h>
#include <stdlib.h>

static const char* OptionValue(const char* commandLine, const char* name, char* out, int size) {
    const char* found = strstr(commandLine, name);
    if (!found) {
        return nullptr;
    }
    found += strlen(name);
    int length = 0;
    if (*found == '"') {
        found++;
        while (found[length] && found[length] != '"' && length < size - 1) {
            length++;
        }
    } else {
        while (found[length] && found[length] != ' ' && length < size - 1) {
            length++;
        }
    }
    memcpy(out, found, length);
    out[length] = 0;
    return out;
}

static LRESULT CALLBACK HelperWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static DWORD PriorityClassByName(const char* name) {
    static const struct {
        const char* name;
        DWORD value;
    } classes[] = {{"idle", IDLE_PRIORITY_CLASS},     {"below", BELOW_NORMAL_PRIORITY_CLASS},
                   {"normal", NORMAL_PRIORITY_CLASS}, {"above", ABOVE_NORMAL_PRIORITY_CLASS},
                   {"high", HIGH_PRIORITY_CLASS},     {"realtime", REALTIME_PRIORITY_CLASS}};
    for (const auto& entry : classes) {
        if (strcmp(entry.name, name) == 0) {
            return entry.value;
        }
    }
    return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    char value[260];
    if (strstr(commandLine, "--platform")) {
        int code = DetectPlatform() ? 1 : 0;
        code |= nt5OrLater ? 2 : 0;
        code |= LoadBackEnd() ? 4 : 0;
        return code;
    }
    if (OptionValue(commandLine, "--priority=", value, sizeof value)) {
        SetPriorityClass(GetCurrentProcess(), PriorityClassByName(value));
    }
    if (OptionValue(commandLine, "--load=", value, sizeof value)) {
        LoadLibraryA(value);
    }
    char title[260] = "tvhelper";
    OptionValue(commandLine, "--title=", title, sizeof title);
    if (OptionValue(commandLine, "--window=", value, sizeof value)) {
        WNDCLASSA windowClass;
        memset(&windowClass, 0, sizeof windowClass);
        windowClass.lpfnWndProc = HelperWndProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = "TvHelperWindow";
        RegisterClassA(&windowClass);
        DWORD style = WS_OVERLAPPEDWINDOW;
        if (strcmp(value, "nosysmenu") == 0) {
            style = WS_OVERLAPPED | WS_CAPTION;
        }
        HWND window = CreateWindowExA(0, "TvHelperWindow", title, style, 10, 10, 200, 120, nullptr,
                                      nullptr, instance, nullptr);
        if (strcmp(value, "minimized") == 0) {
            ShowWindow(window, SW_SHOWMINNOACTIVE);
        } else if (strcmp(value, "hidden") != 0) {
            ShowWindow(window, SW_SHOWNOACTIVATE);
        }
    }
    if (OptionValue(commandLine, "--lifetime=", value, sizeof value)) {
        SetTimer(nullptr, 0, static_cast<UINT>(atoi(value)), nullptr);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
