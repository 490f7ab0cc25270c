// Drives a running Tolvane from outside, for the README's screenshots:
//   uidriver.exe version   selects the first row and opens the version window
//   uidriver.exe select N  moves the selection N rows down
//   uidriver.exe type TEXT types TEXT into the list, which selects the first
//                          row whose name begins with it
//   uidriver.exe command N posts the menu command N to the main window
//   uidriver.exe close     closes the open dialog
//   uidriver.exe usage TEXT types TEXT into the module usage window's list,
//                          which selects the first module whose name starts so
//   uidriver.exe sort N    clicks the header of column N of the main list
#include <windows.h>
#include <commctrl.h>
#include <stdlib.h>
#include <string.h>

static void PressDown(HWND list, int times) {
    for (int i = 0; i < times; i++) {
        PostMessageA(list, WM_KEYDOWN, VK_DOWN, 0x00500001);
        PostMessageA(list, WM_KEYUP, VK_DOWN, 0xC0500001);
        Sleep(50);
    }
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    HWND window = nullptr;
    for (int tries = 0; tries < 100 && !window; tries++) {
        window = FindWindowA("Tolvane", nullptr);
        if (!window) {
            Sleep(100);
        }
    }
    if (!window) {
        return 1;
    }
    HWND list = GetDlgItem(window, 101);
    if (strncmp(commandLine, "select", 6) == 0) {
        PressDown(list, atoi(commandLine + 6));
    } else if (strncmp(commandLine, "type ", 5) == 0) {
        for (const char* p = commandLine + 5; *p && *p != ' '; p++) {
            PostMessageA(list, WM_CHAR, static_cast<unsigned char>(*p), 1);
        }
    } else if (strncmp(commandLine, "close", 5) == 0) {
        HWND dialog = FindWindowA("TOLVANE95DLG", nullptr);
        if (dialog) {
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        }
    } else if (strncmp(commandLine, "usage ", 6) == 0) {
        HWND usage = GetDlgItem(FindWindowA("TOLVANE95DLG", nullptr), 1052);
        for (const char* c = commandLine + 6; *c && *c != ' '; c++) {
            PostMessageA(usage, WM_KEYDOWN, LOBYTE(VkKeyScanA(*c)), 0x00000001);
            PostMessageA(usage, WM_CHAR, static_cast<unsigned char>(*c), 0x00000001);
            Sleep(20);
        }
    } else if (strncmp(commandLine, "sort", 4) == 0) {
        // The column's middle, from the widths the list reports.
        int column = atoi(commandLine + 4);
        int x = 0;
        for (int i = 0; i < column; i++) {
            x += static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0));
        }
        x += static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0)) / 2;
        HWND header = FindWindowExA(list, nullptr, "SysHeader32", nullptr);
        PostMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 5));
        PostMessageA(header, WM_LBUTTONUP, 0, MAKELPARAM(x, 5));
    } else if (strncmp(commandLine, "command", 7) == 0) {
        PostMessageA(window, WM_COMMAND, atoi(commandLine + 7), 0);
    } else if (strncmp(commandLine, "version", 7) == 0) {
        PressDown(list, 1);
        Sleep(300);
        PostMessageA(window, WM_COMMAND, 40019, 0);
    }
    return 0;
}
