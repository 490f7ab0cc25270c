// A small program that tests start as a child process. Options:
//   --platform            exit at once with a code describing the platform:
//                         bit 0 NT family, bit 1 NT 5 or later, bit 2 back-end loaded
//   --window=MODE         create a top-level window: visible, minimized, hidden, nosysmenu
//   --windows=N           create N such windows (default 1)
//   --title=TEXT          the window's caption (default "tvhelper")
//   --class=NAME          the windows' class name (default "TvHelperWindow")
//   --icon                give the windows a small icon of their own
//   --hang                stop answering messages once the windows are shown
//   --record=FILE         write the own command line into FILE and exit
//   --priority=CLASS      idle, below, normal, above, high, realtime
//   --load=DLL|DLL|...    load the libraries and keep them loaded
//   --lifetime=MS         end by itself after MS milliseconds
//   --threads=P,P,...     start one waiting thread per listed priority (-15..15)
//   --idlethreads=N       start N more waiting threads at normal priority
//   --loadmany=N          load up to N system DLLs and keep them loaded
//   --reserve=N           reserve N regions of 64 KB, committing a page in every other one
//   --map=KB              map a view of a page-file section of KB kilobytes
//   --loader=DLL          show a hidden window of class "TvHelperLoader" that
//                         loads DLL on a sent message LOADER_LOAD and unloads it
//                         on LOADER_UNLOAD; both answer 1 when they succeeded
//   --longname            make the own loader entry's module name 32,767 characters long
//   --tablepoll=MS        ask the system for its process table every MS milliseconds,
//                         as a refreshing process list must at least
//   --busy                keep one processor busy with a thread that never waits
//   --touch=MB            commit MB megabytes and write to every page of them
//   --spawn=D,D,...       start one copy of itself per listed depth, each of
//                         which starts one copy with depth D-1, down to 1
//   --count=NAME          count up in the first LONG of a shared memory
//                         section of that name, every 10 ms
// Without --platform it lives until its window is closed, it is ended, or
// the lifetime runs out. The build of the other width (tvhelper64.exe or
// tvhelper32.exe, TVHELPER_STANDALONE) has every option but --platform.
#ifndef TVHELPER_STANDALONE
#include "sysinfo/platform.h"
#endif

#include <windows.h>
#include <winternl.h>
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

static DWORD WINAPI WaitForever(void*) {
    Sleep(INFINITE);
    return 0;
}

static void StartThread(int priority) {
    HANDLE thread = CreateThread(nullptr, 0, WaitForever, nullptr, 0, nullptr);
    if (thread) {
        SetThreadPriority(thread, priority);
        CloseHandle(thread);
    }
}

static void StartDetachedThread(LPTHREAD_START_ROUTINE routine) {
    HANDLE thread = CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    }
}

static void StartThreads(const char* list) {
    for (const char* p = list; *p;) {
        StartThread(atoi(p));
        const char* comma = strchr(p, ',');
        if (!comma) {
            break;
        }
        p = comma + 1;
    }
}

static void LoadSystemLibraries(int count) {
    static const char* const names[] = {
        "comctl32.dll", "comdlg32.dll", "shell32.dll",  "ole32.dll",    "oleaut32.dll",
        "rpcrt4.dll",   "winmm.dll",    "wininet.dll",  "urlmon.dll",   "ws2_32.dll",
        "crypt32.dll",  "setupapi.dll", "version.dll",  "imm32.dll",    "msvcrt.dll",
        "shlwapi.dll",  "psapi.dll",    "dbghelp.dll",  "winspool.drv", "uxtheme.dll",
        "msacm32.dll",  "secur32.dll",  "iphlpapi.dll", "netapi32.dll", "wintrust.dll",
        "mpr.dll",      "avifil32.dll", "msvfw32.dll",  "usp10.dll",    "riched20.dll",
        "hid.dll",      "cabinet.dll",  "wldap32.dll",  "dnsapi.dll",   "userenv.dll",
    };
    for (int i = 0; i < count && i < static_cast<int>(sizeof names / sizeof names[0]); i++) {
        LoadLibraryA(names[i]);
    }
}

// Loads each library of a list separated by '|', which no file name holds.
static void LoadLibraries(char* list) {
    for (char* name = list; *name;) {
        char* bar = strchr(name, '|');
        if (bar) {
            *bar = 0;
        }
        LoadLibraryA(name);
        if (!bar) {
            break;
        }
        name = bar + 1;
    }
}

static void ReserveRegions(int count) {
    for (int i = 0; i < count; i++) {
        char* region =
            static_cast<char*>(VirtualAlloc(nullptr, 0x10000, MEM_RESERVE, PAGE_READWRITE));
        if (region && i % 2 == 0) {
            VirtualAlloc(region, 0x1000, MEM_COMMIT, PAGE_READWRITE);
        }
    }
}

static void MapSection(int kilobytes) {
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(kilobytes) * 1024, nullptr);
    if (section) {
        MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0);
    }
}

enum { LOADER_LOAD = WM_APP + 1, LOADER_UNLOAD = WM_APP + 2 };
static char loaderLibrary[1024];
static HMODULE loaderModule;

static LRESULT CALLBACK LoaderWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == LOADER_LOAD && !loaderModule) {
        loaderModule = LoadLibraryA(loaderLibrary);
        return loaderModule != nullptr;
    }
    if (message == LOADER_UNLOAD && loaderModule) {
        BOOL freed = FreeLibrary(loaderModule);
        loaderModule = nullptr;
        return freed;
    }
    if (message == LOADER_LOAD || message == LOADER_UNLOAD) {
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static void CreateLoaderWindow(HINSTANCE instance) {
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = LoaderWndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "TvHelperLoader";
    RegisterClassA(&windowClass);
    CreateWindowExA(0, "TvHelperLoader", "loader", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                    instance, nullptr);
}

// The head of the loader's records, in the layouts of both word sizes.
struct LoaderEntry {
    LIST_ENTRY inLoadOrder;
    LIST_ENTRY inMemoryOrder;
    LIST_ENTRY inInitializationOrder;
    void* dllBase;
    void* entryPoint;
    ULONG sizeOfImage;
    UNICODE_STRING fullDllName;
    UNICODE_STRING baseDllName;
};
struct LoaderData {
    ULONG length;
    BOOLEAN initialized;
    void* ssHandle;
    LIST_ENTRY inLoadOrder;
};
struct OwnPeb {
    BYTE flags[4];
    void* mutant;
    void* imageBase;
    LoaderData* loader;
};

// Points the executable's loader entry at a name of 32,767 characters, as a
// hostile process may: whoever reads it must cut it to the buffer.
static void LengthenOwnModuleName() {
    typedef LONG(WINAPI * QueryProcess)(HANDLE, ULONG, void*, ULONG, ULONG*);
    QueryProcess query = reinterpret_cast<QueryProcess>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic;
    if (!query || query(GetCurrentProcess(), 0, &basic, sizeof basic, nullptr) < 0) {
        return;
    }
    const OwnPeb* peb = reinterpret_cast<const OwnPeb*>(basic.PebBaseAddress);
    LoaderEntry* first = reinterpret_cast<LoaderEntry*>(peb->loader->inLoadOrder.Flink);
    const USHORT length = 0xFFFE;
    WCHAR* name = static_cast<WCHAR*>(VirtualAlloc(nullptr, length, MEM_COMMIT, PAGE_READWRITE));
    if (!name) {
        return;
    }
    for (USHORT i = 0; i < length / sizeof(WCHAR); i++) {
        name[i] = static_cast<WCHAR>('a' + i % 26);
    }
    first->baseDllName.Buffer = name;
    first->baseDllName.Length = length;
    first->baseDllName.MaximumLength = length;
}

// One read of the system's process table, in a buffer that keeps the size
// that sufficed last time.
static void CALLBACK PollProcessTable(HWND, UINT, UINT_PTR, DWORD) {
    typedef LONG(WINAPI * QuerySystem)(ULONG, void*, ULONG, ULONG*);
    static QuerySystem query = reinterpret_cast<QuerySystem>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    static ULONG size = 0x10000;
    static void* table = nullptr;
    for (int attempt = 0; query && attempt < 8; attempt++) {
        if (!table && !(table = malloc(size))) {
            return;
        }
        ULONG needed = 0;
        if (query(5, table, size, &needed) >= 0) {
            return;
        }
        free(table);
        table = nullptr;
        size = needed > size ? needed + needed / 4 : size * 2;
    }
}

static DWORD WINAPI Spin(void*) {
    volatile unsigned long long turns = 0;
    for (;;) {
        turns = turns + 1;
    }
    return 0;
}

// Committed and written page by page: the pages are in the working set and
// count as the process's private bytes.
static void TouchMegabytes(int megabytes) {
    SIZE_T size = static_cast<SIZE_T>(megabytes) * 1024 * 1024;
    char* memory = static_cast<char*>(VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    for (SIZE_T offset = 0; memory && offset < size; offset += 4096) {
        memory[offset] = 1;
    }
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

// Writes the command line this program was started with, as a debugger
// started by Tolvane would receive it.
static int RecordCommandLine(const char* file) {
    HANDLE output =
        CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        return 1;
    }
    const char* line = GetCommandLineA();
    DWORD written = 0;
    WriteFile(output, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    CloseHandle(output);
    return 0;
}

// One child per listed depth: a copy of this program that goes on one
// level less deep, so that the processes stand three deep for "3".
static void SpawnChildren(const char* depths) {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self - 1);
    self[length] = 0;
    for (const char* p = depths; p; p = strchr(p, ',') ? strchr(p, ',') + 1 : nullptr) {
        int level = atoi(p);
        char command[MAX_PATH + 40];
        wsprintfA(command, level > 1 ? "\"%s\" --spawn=%d" : "\"%s\"", self, level - 1);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        if (level > 0 && CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &info)) {
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
    }
}

// A counter other processes can read: a LONG of shared memory, one up
// every 10 ms while the process runs.
static volatile LONG* counter;

static DWORD WINAPI CountUp(void*) {
    for (;;) {
        InterlockedIncrement(counter);
        Sleep(10);
    }
}

static void StartCounting(const char* name) {
    HANDLE section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name);
    counter = section ? static_cast<volatile LONG*>(
                            MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, sizeof(LONG)))
                      : nullptr;
    if (counter) {
        StartDetachedThread(CountUp);
    }
}

static void CreateWindows(HINSTANCE instance, const char* mode, const char* title,
                          const char* className, int count, int withIcon) {
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = HelperWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    DWORD style = WS_OVERLAPPEDWINDOW;
    if (strcmp(mode, "nosysmenu") == 0) {
        style = WS_OVERLAPPED | WS_CAPTION;
    }
    HICON icon =
        withIcon
            ? static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(2), IMAGE_ICON, 16, 16, 0))
            : nullptr;
    for (int i = 0; i < count; i++) {
        HWND window = CreateWindowExA(0, className, title, style, 10 + 20 * i, 10, 200, 120,
                                      nullptr, nullptr, instance, nullptr);
        if (icon) {
            SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        }
        if (strcmp(mode, "minimized") == 0) {
            ShowWindow(window, SW_SHOWMINNOACTIVE);
        } else if (strcmp(mode, "hidden") != 0) {
            ShowWindow(window, SW_SHOWNOACTIVATE);
        }
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    char value[1024];
    if (OptionValue(commandLine, "--record=", value, sizeof value)) {
        return RecordCommandLine(value);
    }
#ifndef TVHELPER_STANDALONE
    if (strstr(commandLine, "--platform")) {
        int code = DetectPlatform() ? 1 : 0;
        code |= nt5OrLater ? 2 : 0;
        code |= LoadBackEnd() ? 4 : 0;
        return code;
    }
#endif
    if (strstr(commandLine, "--longname")) {
        LengthenOwnModuleName();
    }
    if (OptionValue(commandLine, "--priority=", value, sizeof value)) {
        SetPriorityClass(GetCurrentProcess(), PriorityClassByName(value));
    }
    if (OptionValue(commandLine, "--load=", value, sizeof value)) {
        LoadLibraries(value);
    }
    if (OptionValue(commandLine, "--threads=", value, sizeof value)) {
        StartThreads(value);
    }
    if (OptionValue(commandLine, "--idlethreads=", value, sizeof value)) {
        for (int i = atoi(value); i > 0; i--) {
            StartThread(THREAD_PRIORITY_NORMAL);
        }
    }
    if (OptionValue(commandLine, "--loadmany=", value, sizeof value)) {
        LoadSystemLibraries(atoi(value));
    }
    if (OptionValue(commandLine, "--reserve=", value, sizeof value)) {
        ReserveRegions(atoi(value));
    }
    if (strstr(commandLine, "--busy")) {
        StartDetachedThread(Spin);
    }
    if (OptionValue(commandLine, "--spawn=", value, sizeof value)) {
        SpawnChildren(value);
    }
    if (OptionValue(commandLine, "--count=", value, sizeof value)) {
        StartCounting(value);
    }
    if (OptionValue(commandLine, "--touch=", value, sizeof value)) {
        TouchMegabytes(atoi(value));
    }
    if (OptionValue(commandLine, "--map=", value, sizeof value)) {
        MapSection(atoi(value));
    }
    if (OptionValue(commandLine, "--loader=", loaderLibrary, sizeof loaderLibrary)) {
        CreateLoaderWindow(instance);
    }
    char title[260] = "tvhelper";
    OptionValue(commandLine, "--title=", title, sizeof title);
    if (OptionValue(commandLine, "--window=", value, sizeof value)) {
        char count[16] = "1";
        OptionValue(commandLine, "--windows=", count, sizeof count);
        char className[64] = "TvHelperWindow";
        OptionValue(commandLine, "--class=", className, sizeof className);
        CreateWindows(instance, value, title, className, atoi(count),
                      strstr(commandLine, "--icon") != nullptr);
        if (strstr(commandLine, "--hang")) {
            // The windows stay on the screen, and no message is answered.
            Sleep(INFINITE);
        }
    }
    if (OptionValue(commandLine, "--lifetime=", value, sizeof value)) {
        SetTimer(nullptr, 0, static_cast<UINT>(atoi(value)), nullptr);
    }
    if (OptionValue(commandLine, "--tablepoll=", value, sizeof value)) {
        SetTimer(nullptr, 0, static_cast<UINT>(atoi(value)), PollProcessTable);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        // The lifetime's timer is the one without a procedure.
        if (message.message == WM_TIMER && message.hwnd == nullptr && message.lParam == 0) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
