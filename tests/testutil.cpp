#include "testutil.h"
#include "app/settings.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <vector>

std::string BinDir() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (slash) {
        *slash = 0;
    }
    return path;
}

std::string BinPath(const char* fileName) {
    return BinDir() + "\\" + fileName;
}

std::string Lower(std::string text) {
    CharLowerA(&text[0]);
    return text;
}

std::string ToAnsi(const char* utf8) {
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::vector<wchar_t> wide(wideLength);
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), wideLength);
    int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> ansi(length);
    WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, ansi.data(), length, nullptr, nullptr);
    return ansi.data();
}

Child StartChild(const std::string& commandLine) {
    Child child;
    memset(&child.info, 0, sizeof child.info);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    child.started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &child.info) != 0;
    return child;
}

static DWORD WINAPI EndAtOnce(void*) {
    return 0;
}

bool ProcessIdHeld(DWORD id) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (process) {
        CloseHandle(process);
    }
    return process != nullptr;
}

Child StartChildOnFreedId(DWORD id, const std::string& commandLine,
                          const std::function<void()>& release) {
    if (!PumpUntil([&] { return release(), !ProcessIdHeld(id); }, 10000)) {
        return Child{};
    }
    // Threads that end at once take the next free id and, their handle
    // closed, put it back last. Once one gets this id, the id freed just
    // before it again marks where to stop on the next round.
    DWORD marker = 0;
    for (int i = 0; i < 40000; i++) {
        DWORD threadId = 0;
        HANDLE thread = CreateThread(nullptr, 0, EndAtOnce, nullptr, 0, &threadId);
        if (!thread) {
            break;
        }
        WaitForSingleObject(thread, INFINITE);
        if (marker && threadId == marker) {
            CloseHandle(thread);
            return StartChild(commandLine);
        }
        if (!marker && threadId == id) {
            // The next thread's id is freed first, then this one.
            marker = static_cast<DWORD>(-1);
            HANDLE next = CreateThread(nullptr, 0, EndAtOnce, nullptr, 0, &marker);
            WaitForSingleObject(next, INFINITE);
            CloseHandle(next);
        }
        CloseHandle(thread);
    }
    return Child{};
}

long WaitChild(Child& child, DWORD milliseconds) {
    if (!child.started) {
        return -1;
    }
    DWORD start = GetTickCount();
    for (;;) {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(child.info.hProcess, 0) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(child.info.hProcess, &code)) {
            return static_cast<long>(code);
        }
        if (GetTickCount() - start > milliseconds) {
            return -1;
        }
        // Keep answering messages: the child may send some to our windows.
        MsgWaitForMultipleObjects(1, &child.info.hProcess, FALSE, 50, QS_ALLINPUT);
        PumpMessages(0);
    }
}

void EndChild(Child& child) {
    if (!child.started) {
        return;
    }
    if (WaitForSingleObject(child.info.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(child.info.hProcess, 1);
        WaitForSingleObject(child.info.hProcess, 5000);
    }
    CloseHandle(child.info.hProcess);
    CloseHandle(child.info.hThread);
    child.started = false;
}

int (*pumpTranslate)(MSG* message) = nullptr;

void PumpMessages(DWORD milliseconds) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (pumpTranslate && pumpTranslate(&message)) {
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (milliseconds == 0) {
            break;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < milliseconds);
}

bool PumpUntil(const std::function<bool()>& condition, DWORD milliseconds) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > milliseconds) {
            return false;
        }
        PumpMessages(20);
    }
    return true;
}

static std::function<void(HWND)> pendingDialogAction;
static bool dialogActionRan;
static UINT_PTR dialogTimer;

static BOOL CALLBACK FindDialogOfThread(HWND window, LPARAM result) {
    char className[64];
    GetClassNameA(window, className, sizeof className);
    if (IsWindowVisible(window) &&
        (strcmp(className, "#32770") == 0 || lstrcmpiA(className, "TOLVANE95DLG") == 0)) {
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
    }
    return TRUE;
}

static void CALLBACK DialogTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialogOfThread, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog || dialogActionRan) {
        return;
    }
    KillTimer(nullptr, dialogTimer);
    dialogActionRan = true;
    pendingDialogAction(dialog);
}

void PressKey(HWND list, int key, bool control, bool shift) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = control ? 0x80 : 0;
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    SendMessageA(list, WM_KEYDOWN, key, 0);
    PumpMessages(50);
    keys[VK_CONTROL] = keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

bool WithDialog(const std::function<void()>& modal, const std::function<void(HWND)>& action) {
    pendingDialogAction = action;
    dialogActionRan = false;
    dialogTimer = SetTimer(nullptr, 0, 50, DialogTimerProc);
    modal();
    KillTimer(nullptr, dialogTimer);
    return dialogActionRan;
}

struct DialogWait {
    const char* className;
    std::function<void(HWND)> action;
    UINT_PTR timer;
    bool ran;
    HWND found;
};
static std::vector<DialogWait*> dialogWaits;

static BOOL CALLBACK FindEnabledDialog(HWND window, LPARAM parameter) {
    DialogWait* wait = reinterpret_cast<DialogWait*>(parameter);
    char className[64];
    GetClassNameA(window, className, sizeof className);
    if (IsWindowVisible(window) && IsWindowEnabled(window) &&
        lstrcmpiA(className, wait->className) == 0) {
        wait->found = window;
        return FALSE;
    }
    return TRUE;
}

static void CALLBACK DialogWaitTimerProc(HWND, UINT, UINT_PTR id, DWORD) {
    DialogWait* wait = nullptr;
    for (DialogWait* candidate : dialogWaits) {
        if (candidate->timer == id && !candidate->ran) {
            wait = candidate;
        }
    }
    if (!wait) {
        return;
    }
    wait->found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindEnabledDialog, reinterpret_cast<LPARAM>(wait));
    if (!wait->found) {
        return;
    }
    KillTimer(nullptr, id);
    wait->ran = true;
    wait->action(wait->found);
}

bool WithDialogOfClass(const char* className, const std::function<void()>& modal,
                       const std::function<void(HWND)>& action) {
    DialogWait wait = {className, action, 0, false, nullptr};
    wait.timer = SetTimer(nullptr, 0, 50, DialogWaitTimerProc);
    dialogWaits.push_back(&wait);
    modal();
    KillTimer(nullptr, wait.timer);
    dialogWaits.erase(std::find(dialogWaits.begin(), dialogWaits.end(), &wait));
    return wait.ran;
}

// Message boxes are the thread's only windows of the system dialog class:
// Tolvane's own dialogs have a class of their own.
static BOOL CALLBACK FindMessageBox(HWND window, LPARAM result) {
    char className[64];
    GetClassNameA(window, className, sizeof className);
    if (IsWindowVisible(window) && strcmp(className, "#32770") == 0) {
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
    }
    return TRUE;
}

static BOOL CALLBACK CollectMessageTexts(HWND window, LPARAM texts) {
    char text[260];
    GetWindowTextA(window, text, sizeof text);
    *reinterpret_cast<std::string*>(texts) += text;
    return TRUE;
}

static std::string messageText;
static int messageAnswer;

std::string DialogTexts(HWND dialog) {
    std::string texts;
    EnumChildWindows(dialog, CollectMessageTexts, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

static void CALLBACK AnswerMessageBox(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindMessageBox, reinterpret_cast<LPARAM>(&box));
    if (box) {
        KillTimer(nullptr, timer);
        messageText += DialogTexts(box);
        PostMessageA(box, WM_COMMAND, messageAnswer, 0);
    }
}

std::string MessageOf(const std::function<void()>& action, int answer) {
    messageText.clear();
    messageAnswer = answer;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, AnswerMessageBox);
    action();
    KillTimer(nullptr, timer);
    return messageText;
}

void SaveAsIn(HWND saveDialog, const std::string& path) {
    // The file-name box: a combo box (cmb13) in the Explorer-style dialog, an
    // edit (edt1) in the old one.
    HWND box = GetDlgItem(saveDialog, 0x47C);
    if (!box) {
        box = GetDlgItem(saveDialog, 0x480);
    }
    SetWindowTextA(box, path.c_str());
    SendMessageA(saveDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(saveDialog, IDOK)));
}

std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        return "<missing>";
    }
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, count);
    }
    fclose(file);
    return bytes;
}

static std::vector<std::function<void(HWND)>> dialogSequence;
static std::vector<HWND> dialogsMet;
static UINT_PTR sequenceTimer;

static BOOL CALLBACK FindNewDialogOfThread(HWND window, LPARAM result) {
    for (HWND met : dialogsMet) {
        if (met == window) {
            return TRUE;
        }
    }
    return FindDialogOfThread(window, result);
}

// Runs on every tick, also inside the modal loop an action started, so a
// dialog that opens over the one being handled gets its action too.
static void CALLBACK SequenceTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindNewDialogOfThread,
                      reinterpret_cast<LPARAM>(&dialog));
    if (!dialog || dialogsMet.size() >= dialogSequence.size()) {
        return;
    }
    dialogsMet.push_back(dialog);
    dialogSequence[dialogsMet.size() - 1](dialog);
}

size_t WithDialogs(const std::function<void()>& modal,
                   const std::vector<std::function<void(HWND)>>& actions) {
    dialogSequence = actions;
    dialogsMet.clear();
    sequenceTimer = SetTimer(nullptr, 0, 50, SequenceTimerProc);
    modal();
    KillTimer(nullptr, sequenceTimer);
    return dialogsMet.size();
}

void PressKey(WORD key) {
    INPUT input[2];
    memset(input, 0, sizeof input);
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = key;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof input[0]);
}

struct WindowSearch {
    DWORD processId;
    const char* className;
    const char* caption;
    HWND found;
};

static BOOL CALLBACK MatchProcessWindow(HWND window, LPARAM parameter) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) {
        return TRUE;
    }
    char text[260];
    if (search->className) {
        GetClassNameA(window, text, sizeof text);
        if (lstrcmpiA(text, search->className) != 0) {
            return TRUE;
        }
    }
    if (search->caption) {
        GetWindowTextA(window, text, sizeof text);
        if (strcmp(text, search->caption) != 0) {
            return TRUE;
        }
    }
    search->found = window;
    return FALSE;
}

HWND FindProcessWindow(DWORD processId, const char* className, const char* caption,
                       DWORD milliseconds) {
    WindowSearch search = {processId, className, caption, nullptr};
    PumpUntil(
        [&] {
            EnumWindows(MatchProcessWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        milliseconds);
    return search.found;
}

void SetWineAppVersion(const char* exeName, const char* version) {
    std::string path = std::string("Software\\Wine\\AppDefaults\\") + exeName;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>(strlen(version) + 1));
    RegCloseKey(key);
}

void DeleteSettingsKey() {
    RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
}

static HKEY CreateSettingsKey() {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    return key;
}

void SetSettingsText(const char* name, const char* text) {
    HKEY key = CreateSettingsKey();
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(strlen(text) + 1));
    RegCloseKey(key);
}

void SetSettingsBinary(const char* name, const void* data, DWORD size) {
    HKEY key = CreateSettingsKey();
    RegSetValueExA(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

std::string GetSettingsText(const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return "<no key>";
    }
    char buffer[1024];
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    LONG status =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return "<no value>";
    }
    buffer[size] = 0;
    return buffer;
}

bool SettingsValueExists(const char* name) {
    return GetSettingsText(name).rfind("<no", 0) != 0;
}

std::string RemoteListText(HWND list, int row, int column) {
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process) {
        return "<no access>";
    }
    const SIZE_T textSize = 300;
    char* remote = static_cast<char*>(
        VirtualAllocEx(process, nullptr, sizeof(LVITEMA) + textSize, MEM_COMMIT, PAGE_READWRITE));
    LVITEMA item;
    memset(&item, 0, sizeof item);
    item.iSubItem = column;
    item.pszText = remote + sizeof(LVITEMA);
    item.cchTextMax = textSize;
    WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote));
    char text[300];
    text[0] = 0;
    ReadProcessMemory(process, remote + sizeof(LVITEMA), text, sizeof text, nullptr);
    text[sizeof text - 1] = 0;
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return text;
}

int RemoteRowCount(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

std::string WindowText(HWND window) {
    std::vector<char> text(GetWindowTextLengthA(window) + 1);
    GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    return text.data();
}

std::vector<std::string> ListBoxRows(HWND listBox) {
    std::vector<std::string> rows;
    int count = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; i++) {
        std::vector<char> row(SendMessageA(listBox, LB_GETTEXTLEN, i, 0) + 1);
        SendMessageA(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row.data()));
        rows.push_back(row.data());
    }
    return rows;
}

std::string ListViewText(HWND list, int row, int column) {
    char text[300] = "";
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

StartupControls::StartupControls() {
    commandLine =
        CreateWindowExA(0, "EDIT", "", 0, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
    directory =
        CreateWindowExA(0, "EDIT", "", 0, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
    environment = CreateWindowExA(0, "LISTBOX", "", LBS_SORT, 0, 0, 100, 100, nullptr, nullptr,
                                  nullptr, nullptr);
}

StartupControls::~StartupControls() {
    DestroyWindow(commandLine);
    DestroyWindow(directory);
    DestroyWindow(environment);
}

// A file of the host as this program names it, on Wine's drive Z:.
static std::string HostFileName(const char* path) {
    std::string name = std::string("Z:") + path;
    for (char& c : name) {
        c = c == '/' ? '\\' : c;
    }
    return name;
}

bool StartHostCommand(const std::string& command) {
    Child child = StartChild("/bin/sh -c \"" + command + "\"");
    // A program of the host comes back without handles: the process handle
    // is null and the thread handle's field holds whatever the stack held, a
    // value that may name one of ours (the standard output, a process the
    // list keeps). Only real handles are closed.
    if (child.started && child.info.hProcess) {
        CloseHandle(child.info.hProcess);
        CloseHandle(child.info.hThread);
    }
    return child.started;
}

bool HostCommand(const std::string& command, DWORD milliseconds) {
    // Wine starts a program of the host by its path, but its handle cannot
    // be waited on: the command leaves a file behind once it is done.
    // Process ids of two prefixes may be the same: the clock tells runs apart.
    static int runs = 0;
    char marker[80];
    wsprintfA(marker, "/tmp/tolvane-host-%lu-%lu-%d", GetCurrentProcessId(), GetTickCount(),
              ++runs);
    std::string windowsMarker = HostFileName(marker);
    if (!StartHostCommand(command + " && : > " + marker)) {
        return false;
    }
    bool done = PumpUntil(
        [&] { return GetFileAttributesA(windowsMarker.c_str()) != INVALID_FILE_ATTRIBUTES; },
        milliseconds);
    DeleteFileA(windowsMarker.c_str());
    return done;
}

bool Xdotool(const std::string& arguments, DWORD milliseconds) {
    return HostCommand("xdotool " + arguments, milliseconds);
}

// What a host command wrote into a file, the file then removed.
static std::string HostCommandOutput(const std::string& command) {
    char path[64];
    wsprintfA(path, "/tmp/tolvane-output-%lu", GetCurrentProcessId());
    std::string windowsPath = HostFileName(path);
    HostCommand(command + " > " + path);
    std::string output = ReadFileBytes(windowsPath);
    DeleteFileA(windowsPath.c_str());
    return output;
}

POINT ScreenPoint(HWND window, int x, int y) {
    POINT point = {x, y};
    ClientToScreen(window, &point);
    return point;
}

std::string XdotoolClick(POINT point, int button, int count) {
    char text[96];
    wsprintfA(text, "mousemove %ld %ld click --repeat %d --delay 80 %d", point.x, point.y, count,
              button);
    return text;
}

std::string XFocusTitle() {
    std::string title = HostCommandOutput("xdotool getwindowfocus getwindowname");
    while (!title.empty() && (title.back() == '\n' || title.back() == '\r')) {
        title.pop_back();
    }
    return title;
}

std::vector<int> XStackIndexes(const std::vector<HWND>& windows) {
    std::vector<unsigned long> ids;
    for (HWND window : windows) {
        ids.push_back(static_cast<unsigned long>(
            reinterpret_cast<ULONG_PTR>(GetPropA(window, "__wine_x11_whole_window"))));
    }
    std::vector<int> indexes(windows.size(), -1);
    if (ids.empty() || ids[0] == 0) {
        return indexes;
    }
    char command[200];
    wsprintfA(
        command,
        "xwininfo -children -id $(xwininfo -tree -id %lu | awk '/Parent window id/ {print $4}')",
        ids[0]);
    std::string listing = HostCommandOutput(command);
    // Each child is a line of its own, indented, that starts with its id.
    int index = 0;
    for (size_t start = 0; start < listing.size();) {
        size_t end = listing.find('\n', start);
        std::string line = listing.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? listing.size() : end + 1;
        size_t at = line.find_first_not_of(' ');
        if (at == std::string::npos || at == 0 || line.compare(at, 2, "0x") != 0) {
            continue;
        }
        unsigned long id = strtoul(line.c_str() + at, nullptr, 16);
        for (size_t i = 0; i < ids.size(); i++) {
            if (ids[i] == id) {
                indexes[i] = index;
            }
        }
        index++;
    }
    return indexes;
}

std::string AddressText(unsigned long long address) {
    char text[24];
    snprintf(text, sizeof text, "%0*llx", sizeof(void*) == 8 ? 12 : 8, address);
    return text;
}
