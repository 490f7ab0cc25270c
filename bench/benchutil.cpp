#include "benchutil.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"
#include "views/processlist.h"

#include <commctrl.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>

static double ticksPerMillisecond;
static const DWORD helperStartTimeout = 180000;

void StartClock() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticksPerMillisecond = static_cast<double>(frequency.QuadPart) / 1000.0;
}

double NowMilliseconds() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMillisecond;
}

double Series::Mean() const {
    double sum = 0;
    for (double value : values) {
        sum += value;
    }
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

double Series::Min() const {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

std::string MeanAndMin(const Series& series, int decimals) {
    char text[64];
    snprintf(text, sizeof text, "%.*f/%.*f", decimals, series.Mean(), decimals, series.Min());
    return text;
}

const char* Verdict(bool passed) {
    return passed ? "PASS" : "FAIL";
}

void Pump() {
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (listWindow) {
            UpdateWindow(listWindow);
        }
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT) == WAIT_TIMEOUT) {
            return;
        }
    }
}

void PumpFor(DWORD milliseconds) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        Pump();
        Sleep(10);
    }
    Pump();
}

std::vector<DWORD> ListProcessIds() {
    std::vector<DWORD> ids(4096);
    DWORD returned = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &returned)) {
        returned = 0;
    }
    ids.resize(returned / sizeof(DWORD));
    return ids;
}

std::string BesideBenchmark(const char* fileName) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    path[length < sizeof path ? length : sizeof path - 1] = 0;
    char* slash = strrchr(path, '\\');
    if (slash) {
        slash[1] = 0;
    }
    return std::string(path) + fileName;
}

std::string HelperPath() {
    return BesideBenchmark("tvhelper.exe");
}

int SnapshotWalk(DWORD processId) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    MODULEENTRY32 module;
    module.dwSize = sizeof module;
    int count = 0;
    for (BOOL more = Module32First(snapshot, &module); more;
         more = Module32Next(snapshot, &module)) {
        count++;
    }
    CloseHandle(snapshot);
    return count;
}

bool Helpers::Start(const std::string& path, int count,
                    const std::function<std::string(int)>& arguments) {
    for (int i = 0; i < count; i++) {
        std::string commandLine = "\"" + path + "\"";
        if (arguments) {
            commandLine += " " + arguments(i);
        }
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back(0);
        STARTUPINFOA startup;
        memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info)) {
            printf("could not start %s (error %lu)\n", path.c_str(), GetLastError());
            return false;
        }
        processes.push_back(info);
    }
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<DWORD> ids = ListProcessIds();
        std::sort(ids.begin(), ids.end());
        bool all = true;
        for (const PROCESS_INFORMATION& info : processes) {
            if (!std::binary_search(ids.begin(), ids.end(), info.dwProcessId)) {
                all = false;
                break;
            }
        }
        if (all) {
            break;
        }
        if (GetTickCount() - start > helperStartTimeout) {
            printf("the helpers did not all appear\n");
            return false;
        }
        PumpFor(50);
    }
    for (const PROCESS_INFORMATION& info : processes) {
        DWORD left = helperStartTimeout - std::min(helperStartTimeout, GetTickCount() - start);
        WaitForInputIdle(info.hProcess, left);
    }
    return true;
}

void Helpers::EndAll() {
    for (const PROCESS_INFORMATION& info : processes) {
        TerminateProcess(info.hProcess, 0);
    }
    for (const PROCESS_INFORMATION& info : processes) {
        WaitForSingleObject(info.hProcess, 10000);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    processes.clear();
}

bool SetUpMainWindow() {
    appInstance = GetModuleHandleA(nullptr);
    LoadStringA(appInstance, IDS_CLASS_NAME, mainClassName, sizeof mainClassName);
    LoadStringA(appInstance, IDS_TITLE, mainTitle, sizeof mainTitle);
    DetectPlatform();
    if (!LoadBackEnd()) {
        printf("the process-status back-end did not load\n");
        return false;
    }
    CountProcessors();
    ActivateColumnSet();
    useSysTray = 0;
    colorize = 1; // custom draw runs only with colouring and a refresh period
    mainRefreshSeconds = 2;
    windowWidth = 800; // tall enough to show some 50 rows
    windowHeight = 1000;
    if (!RegisterMainWindowClass(appInstance) || !CreateMainWindow(appInstance) || !listWindow) {
        printf("the main window was not created\n");
        return false;
    }
    ShowWindow(mainWindow, SW_SHOW);
    UpdateWindow(mainWindow);
    Pump();
    return true;
}
