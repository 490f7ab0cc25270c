// Checks an installed Tolvane from outside, for scripts/check-installer.sh:
//   releasecheck.exe window     waits up to 30 s for Tolvane's main window to
//                               be shown; prints its caption, size and the
//                               path of its process
//   releasecheck.exe exit       chooses File > Exit in the main window and
//                               waits up to 30 s for the process to end
//   releasecheck.exe help       chooses Help > Help in the main window, waits
//                               up to 30 s for another program's window that
//                               shows the help page, prints its caption and
//                               the path of its process, and closes it
//   releasecheck.exe version F  prints the version record of file F as the
//                               system reads it: fixed version, FileVersion
//                               and ProductVersion
// Exit code 0 on success, 1 otherwise.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>

#include "res/resource.h"

static const DWORD WAIT_MS = 30000;

// The main window once it exists and is shown (not minimised, not hidden in
// the notification area), or null after the wait.
static HWND WaitForMainWindow() {
    for (DWORD waited = 0; waited < WAIT_MS; waited += 100) {
        HWND window = FindWindowA("Tolvane", nullptr);
        if (window && IsWindowVisible(window) && !IsIconic(window)) {
            return window;
        }
        Sleep(100);
    }
    return nullptr;
}

static int ShowWindowFound() {
    HWND window = WaitForMainWindow();
    if (!window) {
        printf("no main window of Tolvane within %lu s\n", WAIT_MS / 1000);
        return 1;
    }
    char caption[256] = "";
    GetWindowTextA(window, caption, sizeof caption);
    RECT rect = {};
    GetWindowRect(window, &rect);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char path[MAX_PATH] = "";
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process) {
        GetModuleFileNameExA(process, nullptr, path, sizeof path);
        CloseHandle(process);
    }
    printf("main window \"%s\", %ldx%ld at %ld,%ld, of process %lu: %s\n", caption,
           rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top, processId, path);
    return 0;
}

static int ExitProgram() {
    HWND window = FindWindowA("Tolvane", nullptr);
    if (!window) {
        printf("Tolvane is not running\n");
        return 1;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    DWORD result = process ? WaitForSingleObject(process, WAIT_MS) : WAIT_FAILED;
    if (process) {
        CloseHandle(process);
    }
    if (result != WAIT_OBJECT_0) {
        printf("Tolvane did not end within %lu s of File > Exit\n", WAIT_MS / 1000);
        return 1;
    }
    printf("Tolvane ended\n");
    return 0;
}

struct PageSearch {
    DWORD tolvaneProcessId;
    HWND found;
};

static BOOL CALLBACK MatchHelpPageWindow(HWND window, LPARAM value) {
    PageSearch* search = reinterpret_cast<PageSearch*>(value);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char caption[256] = "";
    GetWindowTextA(window, caption, sizeof caption);
    if (processId != search->tolvaneProcessId && IsWindowVisible(window) &&
        strstr(caption, "tolvane-help")) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static void ProcessPath(DWORD processId, char* path, DWORD size) {
    path[0] = 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process) {
        GetModuleFileNameExA(process, nullptr, path, size);
        CloseHandle(process);
    }
}

static int ShowHelpPage() {
    HWND window = FindWindowA("Tolvane", nullptr);
    if (!window) {
        printf("Tolvane is not running\n");
        return 1;
    }
    PageSearch search = {0, nullptr};
    GetWindowThreadProcessId(window, &search.tolvaneProcessId);
    PostMessageA(window, WM_COMMAND, IDM_HELP, 0);
    for (DWORD waited = 0; waited < WAIT_MS && !search.found; waited += 100) {
        Sleep(100);
        EnumWindows(MatchHelpPageWindow, reinterpret_cast<LPARAM>(&search));
    }
    if (!search.found) {
        printf("Help > Help showed no help page within %lu s\n", WAIT_MS / 1000);
        return 1;
    }
    char caption[256] = "";
    GetWindowTextA(search.found, caption, sizeof caption);
    DWORD processId = 0;
    GetWindowThreadProcessId(search.found, &processId);
    char path[MAX_PATH];
    ProcessPath(processId, path, sizeof path);
    printf("Help > Help shows \"%s\" in %s\n", caption, path);
    HANDLE viewer = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageA(search.found, WM_CLOSE, 0, 0);
    if (viewer) {
        WaitForSingleObject(viewer, WAIT_MS);
        CloseHandle(viewer);
    }
    return 0;
}

// The value at path in a version block, or "" when it has none.
static const char* VersionText(void* block, const char* path) {
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block, path, reinterpret_cast<void**>(&value), &length) || !value) {
        return "";
    }
    return value;
}

static int PrintVersion(const char* path) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) {
        printf("%s has no version record\n", path);
        return 1;
    }
    void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
    if (!block || !GetFileVersionInfoA(path, handle, size, block)) {
        printf("cannot read the version record of %s\n", path);
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block, "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof *fixed) {
        printf("%s has no fixed version\n", path);
        return 1;
    }
    printf("fixed %u.%u.%u.%u FileVersion %s ProductVersion %s\n", HIWORD(fixed->dwFileVersionMS),
           LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
           LOWORD(fixed->dwFileVersionLS),
           VersionText(block, "\\StringFileInfo\\080403a8\\FileVersion"),
           VersionText(block, "\\StringFileInfo\\080403a8\\ProductVersion"));
    HeapFree(GetProcessHeap(), 0, block);
    return 0;
}

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 2 && strcmp(argv[1], "window") == 0) {
        return ShowWindowFound();
    }
    if (argc == 2 && strcmp(argv[1], "exit") == 0) {
        return ExitProgram();
    }
    if (argc == 2 && strcmp(argv[1], "help") == 0) {
        return ShowHelpPage();
    }
    if (argc == 3 && strcmp(argv[1], "version") == 0) {
        return PrintVersion(argv[2]);
    }
    printf("usage: releasecheck window | help | exit | version FILE\n");
    return 1;
}
