#include "app/settings.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "views/processlist.h"

#include <commctrl.h>
#include <stdlib.h>
#include <string.h>

int windowWidth = 500;
int windowHeight = 300;
int useSysTray = 1;
int startMinimized = 0;
int colorize = 0;
int allowMultipleInstances = 0;
int hexProcessId = 0;
int resourceColumns = 0;
int mainRefreshSeconds = 2;
int threadsRefreshSeconds = 0;
int modulesRefreshSeconds = 0;
int memoryRefreshSeconds = 0;
char recentProjects[RECENT_PROJECT_COUNT][260];
int recentProjectsChanged = 0;

enum {
    VALUE_BUFFER_SIZE = 520,
    // Stored sizes beyond these are not a window anyone made: they give the default.
    MAX_WINDOW_SIZE = 16384,
    MIN_COLUMN_WIDTH = 10,
    MAX_COLUMN_WIDTH = 4096,
    // More widths than any column table has are not looked at.
    MAX_STORED_WIDTHS = 16,
};

static const char* const flagValueNames[] = {"UseSysTray", "StartMinimized", "Colorize",
                                             "AllowMultiplyInstances", "HexProcessId"};
static int* const flagSettings[] = {&useSysTray, &startMinimized, &colorize,
                                    &allowMultipleInstances, &hexProcessId};

// Reads one value as text whatever its stored type, which goes to `type`
// when asked for. The data read always ends with a zero inside the buffer,
// also when it was stored without one; the buffer holds capacity + 1 bytes.
// Returns the number of bytes read, or -1 when the value cannot be read.
static int ReadTextValue(HKEY key, const char* name, char* buffer, DWORD capacity,
                         DWORD* type = nullptr) {
    DWORD size = capacity;
    if (RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        buffer[0] = 0;
        return -1;
    }
    if (size > capacity) {
        size = capacity;
    }
    buffer[size] = 0;
    return static_cast<int>(size);
}

// A stored window dimension: nothing sensible (zero, negative, huge) gives
// the default; a window smaller than the main window allows opens at that
// smallest size.
static int SensibleWindowSize(long stored, int fallback, int minimum) {
    if (stored <= 0 || stored > MAX_WINDOW_SIZE) {
        return fallback;
    }
    return stored < minimum ? minimum : static_cast<int>(stored);
}

// "WindowSize": the first character is skipped, then one or two numbers.
static void ParseWindowSize(const char* text) {
    if (text[0] == 0) {
        return;
    }
    char* end;
    windowWidth = SensibleWindowSize(strtol(text + 1, &end, 10), 500, MIN_WINDOW_WIDTH);
    if (*end != 0) {
        windowHeight = SensibleWindowSize(strtol(end + 1, &end, 10), 300, MIN_WINDOW_HEIGHT);
    }
}

int ClampRefreshSeconds(long seconds) {
    return seconds > MAX_REFRESH_SECONDS ? MAX_REFRESH_SECONDS : static_cast<int>(seconds);
}

// One stored period: a number that is not negative, cut to the longest
// timer; anything else keeps the period it would replace.
static void TakeRefreshSeconds(long stored, int* period) {
    if (stored >= 0) {
        *period = ClampRefreshSeconds(stored);
    }
}

// "RefreshTimes": up to five numbers; the first is only used when the text
// holds fewer than five, as the main period of an older layout.
static void ParseRefreshTimes(const char* text) {
    if (text[0] == 0) {
        return;
    }
    long numbers[5];
    int count = 0;
    char* end;
    numbers[count++] = strtol(text + 1, &end, 10);
    while (count < 5 && *end != 0) {
        numbers[count++] = strtol(end + 1, &end, 10);
    }
    if (count >= 2) {
        TakeRefreshSeconds(numbers[1], &threadsRefreshSeconds);
    }
    if (count >= 3) {
        TakeRefreshSeconds(numbers[2], &modulesRefreshSeconds);
    }
    if (count >= 4) {
        TakeRefreshSeconds(numbers[3], &memoryRefreshSeconds);
    }
    if (count == 5) {
        TakeRefreshSeconds(numbers[4], &mainRefreshSeconds);
    } else if (numbers[0] != 0) {
        TakeRefreshSeconds(numbers[0], &mainRefreshSeconds);
    }
}

// Reads the numbers of "ColomnSize", at most `capacity`; returns how many.
static int ReadColumnWidths(const char* text, int dataSize, long* widths, int capacity) {
    const char* start = text + 1;
    int read = 0;
    while (start - text < dataSize && read < capacity) {
        char* end;
        widths[read++] = strtol(start, &end, 10);
        if (*end == 0) {
            break;
        }
        start = end + 1;
    }
    return read;
}

// "ColomnSize": the widths of the columns shown when it was written. Each
// goes to its column of the table now active (surplus widths are ignored,
// missing ones leave defaults); a value of only zeros changes nothing.
static void ApplyColumnWidths(const char* text, int dataSize) {
    long widths[MAX_STORED_WIDTHS];
    int count = ReadColumnWidths(text, dataSize, widths, MAX_STORED_WIDTHS);
    unsigned sum = 0;
    for (int i = 0; i < count; i++) {
        if (StoredWidthColumn(count, i) >= 0) {
            sum += static_cast<WORD>(widths[i]);
        }
    }
    for (int i = 0; sum != 0 && i < count; i++) {
        int column = StoredWidthColumn(count, i);
        // A column too narrow to see or too wide to scroll keeps its default.
        if (column >= 0 && widths[i] >= MIN_COLUMN_WIDTH && widths[i] <= MAX_COLUMN_WIDTH) {
            SetColumnWidth(column, static_cast<WORD>(widths[i]));
        }
    }
}

LONG LoadSettings() {
    ActivateColumnSet();
    memset(recentProjects, 0, sizeof recentProjects);
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_ALL_ACCESS, &key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    char text[VALUE_BUFFER_SIZE + 1];
    DWORD type = REG_NONE;
    // Whatever the stored type, the data is read as text; the numbers it
    // gives are checked for sense.
    if (ReadTextValue(key, "WindowSize", text, VALUE_BUFFER_SIZE) >= 0) {
        ParseWindowSize(text);
    }
    for (int i = 0; i < 5; i++) {
        int size = ReadTextValue(key, flagValueNames[i], text, VALUE_BUFFER_SIZE, &type);
        if (size < 0) {
            continue;
        }
        // A flag stored as a number is read by its value.
        if (type == REG_DWORD && size >= 4) {
            DWORD value;
            memcpy(&value, text, sizeof value);
            *flagSettings[i] = value != 0 ? 1 : 0;
        } else {
            *flagSettings[i] = text[0] == '0' ? 0 : 1;
        }
    }
    if (ReadTextValue(key, "RefreshTimes", text, VALUE_BUFFER_SIZE) >= 0) {
        ParseRefreshTimes(text);
    }
    // Only "1" switches the resource columns on; they decide which columns
    // the stored widths belong to.
    resourceColumns = ReadTextValue(key, "ResourceColumns", text, VALUE_BUFFER_SIZE) >= 0 &&
                      strcmp(text, "1") == 0;
    ActivateColumnSet();
    int size = ReadTextValue(key, "ColomnSize", text, VALUE_BUFFER_SIZE);
    if (size >= 0) {
        ApplyColumnWidths(text, size);
    }
    for (int i = 0; i < RECENT_PROJECT_COUNT; i++) {
        char name[32];
        wsprintfA(name, "%s%d", "File_", i);
        char entry[261];
        ReadTextValue(key, name, entry, 260);
        // The entry holds at most 259 characters and its terminating zero.
        CopyText(recentProjects[i], 260, entry);
    }
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

static void WriteTextValue(HKEY key, const char* name, const char* text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(strlen(text) + 1));
}

// Opens the key for writing; the first save creates it.
static LONG CreateSettingsKey(HKEY* key) {
    return RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, key, nullptr);
}

LONG SaveMultipleInstancesSetting() {
    HKEY key;
    LONG status = CreateSettingsKey(&key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    WriteTextValue(key, "AllowMultiplyInstances", allowMultipleInstances ? "1" : "0");
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

LONG SaveSettings() {
    HKEY key;
    LONG status = CreateSettingsKey(&key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    char text[VALUE_BUFFER_SIZE];
    wsprintfA(text, " %d %d", windowWidth, windowHeight);
    WriteTextValue(key, "WindowSize", text);

    int length = 0;
    text[0] = 0;
    for (int i = 0; i < activeColumns.count; i++) {
        // Without a list (it was never created) the table's widths are kept.
        int width = listWindow
                        ? static_cast<int>(SendMessageA(listWindow, LVM_GETCOLUMNWIDTH, i, 0))
                        : GetColumnWidth(i);
        length += wsprintfA(text + length, " %d", width);
    }
    WriteTextValue(key, "ColomnSize", text);

    for (int i = 0; i < 5; i++) {
        WriteTextValue(key, flagValueNames[i], *flagSettings[i] ? "1" : "0");
    }
    WriteTextValue(key, "ResourceColumns", resourceColumns ? "1" : "0");
    wsprintfA(text, " %d %d %d %d %d", 0, threadsRefreshSeconds, modulesRefreshSeconds,
              memoryRefreshSeconds, mainRefreshSeconds);
    WriteTextValue(key, "RefreshTimes", text);

    if (recentProjectsChanged) {
        for (int i = 0; i < RECENT_PROJECT_COUNT; i++) {
            char name[32];
            wsprintfA(name, "%s%d", "File_", i);
            WriteTextValue(key, name, recentProjects[i]);
        }
    }
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

// The values the dialog's OK button took; applied by the command handler.
static int pendingMainSeconds;
static int pendingThreadsSeconds;
static int pendingModulesSeconds;
static int pendingMemorySeconds;

// The period typed into an edit. The edits take digits only, but a paste
// can bring anything: a text that is not a number of digits keeps the
// period it would replace, and a number too large for a timer is cut.
static int ReadEditNumber(HWND dialog, int id, int previous) {
    char text[261];
    text[0] = 0;
    GetDlgItemTextA(dialog, id, text, 260);
    if (text[0] == 0) {
        return previous;
    }
    long seconds = 0;
    for (const char* digit = text; *digit != 0; digit++) {
        if (*digit < '0' || *digit > '9') {
            return previous;
        }
        if (seconds <= MAX_REFRESH_SECONDS) {
            seconds = seconds * 10 + (*digit - '0');
        }
    }
    return ClampRefreshSeconds(seconds);
}

static void SetEditNumber(HWND dialog, int id, int value) {
    char text[32];
    wsprintfA(text, "%d", value);
    SetDlgItemTextA(dialog, id, text);
}

INT_PTR CALLBACK RefreshTimesDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        SetEditNumber(dialog, IDC_REFRESH_MAIN, mainRefreshSeconds);
        SetEditNumber(dialog, IDC_REFRESH_THREADS, threadsRefreshSeconds);
        SetEditNumber(dialog, IDC_REFRESH_MODULES, modulesRefreshSeconds);
        SetEditNumber(dialog, IDC_REFRESH_MEMORY, memoryRefreshSeconds);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            pendingMainSeconds = ReadEditNumber(dialog, IDC_REFRESH_MAIN, mainRefreshSeconds);
            pendingThreadsSeconds =
                ReadEditNumber(dialog, IDC_REFRESH_THREADS, threadsRefreshSeconds);
            pendingModulesSeconds =
                ReadEditNumber(dialog, IDC_REFRESH_MODULES, modulesRefreshSeconds);
            pendingMemorySeconds = ReadEditNumber(dialog, IDC_REFRESH_MEMORY, memoryRefreshSeconds);
            EndDialog(dialog, IDOK);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

LRESULT OnRefreshTimesCommand(HWND, WPARAM, WPARAM, LPARAM) {
    if (DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_REFRESH_TIMES), mainWindow,
                        RefreshTimesDialog, 0) != IDOK) {
        return 0;
    }
    // Switching the main refresh off while colouring: rebuild the list without highlights.
    if (colorize && mainRefreshSeconds != 0 && pendingMainSeconds == 0) {
        ReloadProcessList();
    }
    mainRefreshSeconds = pendingMainSeconds;
    threadsRefreshSeconds = pendingThreadsSeconds;
    modulesRefreshSeconds = pendingModulesSeconds;
    memoryRefreshSeconds = pendingMemorySeconds;
    SetRefreshTimer(1);
    return 0;
}
