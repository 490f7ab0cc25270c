#include "details/debugger.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/chosenprocess.h"
#include "sysinfo/platform.h"
#include "sysinfo/wow64.h"
#include "views/processlist.h"
#include "views/savelist.h"

#include <commdlg.h>
#include <string.h>

enum {
    IDS_CANNOT_START_DEBUGGER = 406,
    PROJECT_FILE_FLAGS = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST,
    // A base name and "=".
    PROJECT_KEY_SIZE = 262,
};

// `view` picks the 64-bit system's registry view (0: this program's own).
static int ReadRegistryDebugger(char* buffer, REGSAM view) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, AEDEBUG_KEY, 0, KEY_QUERY_VALUE | view, &key) !=
        ERROR_SUCCESS) {
        return 0;
    }
    // The value is outside data: taken by the size it reports, and left
    // alone when it is not text or does not fit.
    char data[DEBUGGER_TEMPLATE_SIZE];
    DWORD type = 0;
    DWORD size = sizeof data;
    LONG status =
        RegQueryValueExA(key, "Debugger", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return 0;
    }
    return CopyText(buffer, DEBUGGER_TEMPLATE_SIZE, data, static_cast<int>(size));
}

int ReadDebuggerTemplate(char* buffer) {
    int length = static_cast<int>(
        GetProfileStringA("AeDebug", "Debugger", "", buffer, DEBUGGER_TEMPLATE_SIZE));
    // On the NT family the setting lives in the registry; where the profile
    // call does not map to it, it is read there.
    if (length == 0 && ntFamily) {
        length = ReadRegistryDebugger(buffer, 0);
    }
    buffer[length] = 0;
    return length;
}

int ReadDebuggerTemplateFor(HANDLE process, char* buffer, int* onlyThirtyTwoBit) {
    *onlyThirtyTwoBit = 0;
#ifdef _WIN64
    // A process of the system's 32-bit layer takes the debugger of that
    // layer's view, the one the 32-bit program reads.
    BOOL wow64 = FALSE;
    if (process && ntApi.isWow64Process && ntApi.isWow64Process(process, &wow64) && wow64) {
        int length = ReadRegistryDebugger(buffer, KEY_WOW64_32KEY);
        buffer[length] = 0;
        return length;
    }
#endif
    if (!process || !IsSixtyFourBitProcess(process)) {
        return ReadDebuggerTemplate(buffer);
    }
    // A 64-bit process takes the debugger of the system's own view; the
    // setting this program sees is the 32-bit layer's.
    int length = ReadRegistryDebugger(buffer, KEY_WOW64_64KEY);
    buffer[length] = 0;
    if (length == 0) {
        *onlyThirtyTwoBit = ReadDebuggerTemplate(buffer) > 0;
        buffer[0] = 0;
    }
    return length;
}

static int IsIntegerConversion(const char* placeholder) {
    const char* p = placeholder + 1;
    if (*p == 'l') {
        p++;
    }
    if (!*p || !strchr("diuxX", *p)) {
        return 0;
    }
    // A second placeholder would read past the one argument given.
    return strchr(p + 1, '%') == nullptr;
}

int CutDebuggerTemplate(char* text) {
    // The formatter looks at single bytes: a '%' that follows a lead byte in
    // a malformed template is still a placeholder to it, so it is found the
    // same way here.
    char* placeholder = strchr(text, '%');
    if (!placeholder) {
        return 1;
    }
    // Bytes of 0x80 and above end the placeholder too.
    char* end = placeholder;
    while (static_cast<signed char>(*end) > ' ') {
        end++;
    }
    *end = 0;
    return IsIntegerConversion(placeholder);
}

void ExecutableBaseName(const char* path, char* buffer, int size) {
    const char* slash = FindLastByte(path, '\\');
    const char* name = slash ? slash + 1 : path;
    const char* dot = FindLastByte(name, '.');
    CopyText(buffer, size, name, dot ? static_cast<int>(dot - name) : 0x7FFFFFFF);
}

// "name=" for the executable's base name; its length.
static int ProjectKey(const char* executablePath, char* key) {
    ExecutableBaseName(executablePath, key, PROJECT_KEY_SIZE - 1);
    lstrcatA(key, "=");
    return lstrlenA(key);
}

static int StartsWithKey(const char* entry, const char* key, int keyLength) {
    char start[PROJECT_KEY_SIZE];
    return CopyText(start, sizeof start, entry, keyLength) == keyLength &&
           lstrcmpiA(start, key) == 0;
}

void RememberProject(const char* executablePath, const char* projectPath) {
    if (!projectPath[0]) {
        return;
    }
    char key[PROJECT_KEY_SIZE];
    int keyLength = ProjectKey(executablePath, key);
    // An entry that would not hold the whole path is not made: a cut path
    // would name another file.
    if (keyLength + lstrlenA(projectPath) >= static_cast<int>(sizeof recentProjects[0])) {
        return;
    }
    int found = RECENT_PROJECT_COUNT - 1;
    for (int i = 0; i < RECENT_PROJECT_COUNT - 1; i++) {
        if (StartsWithKey(recentProjects[i], key, keyLength)) {
            found = i;
            break;
        }
    }
    for (int i = found; i > 0; i--) {
        memcpy(recentProjects[i], recentProjects[i - 1], sizeof recentProjects[i]);
    }
    lstrcpyA(recentProjects[0], key);
    lstrcatA(recentProjects[0], projectPath);
    recentProjectsChanged = 1;
}

const char* LookUpProject(const char* executablePath) {
    char key[PROJECT_KEY_SIZE];
    int keyLength = ProjectKey(executablePath, key);
    for (int i = 0; i < RECENT_PROJECT_COUNT; i++) {
        if (StartsWithKey(recentProjects[i], key, keyLength)) {
            // What follows the key; a base name may hold a "=" itself.
            return recentProjects[i] + keyLength;
        }
    }
    return "";
}

void BrowseProjectFile(HWND dialog) {
    static char filter[FILTER_TEXT_SIZE];
    static int filterLoaded;
    if (!filterLoaded) {
        LoadFilterText(IDS_PROJECT_FILTER, filter);
        filterLoaded = 1;
    }
    OPENFILENAMEA dialogData;
    memset(&dialogData, 0, sizeof dialogData);
    dialogData.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialogData.hwndOwner = dialog;
    dialogData.lpstrFilter = filter;
    dialogData.nFilterIndex = 1;
    dialogData.lpstrFile = chosenFilePath;
    dialogData.nMaxFile = sizeof chosenFilePath;
    dialogData.Flags = PROJECT_FILE_FLAGS;
    if (GetOpenFileNameA(&dialogData)) {
        SetDlgItemTextA(dialog, IDC_PROJECT_PATH, chosenFilePath);
    }
}

INT_PTR CALLBACK AttachDebuggerDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        SetDlgItemTextA(dialog, IDC_PROJECT_PATH, LookUpProject(detailText));
        SetDlgItemTextA(dialog, IDC_MODULE_PATH, detailText);
        return TRUE;
    case WM_COMMAND:
        // Escape cancels, as the close box does.
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
        } else if (LOWORD(wParam) == IDOK) {
            GetDlgItemTextA(dialog, IDC_PROJECT_PATH, chosenFilePath, sizeof chosenFilePath);
            // A text cut to the buffer ends between two characters.
            CopyText(chosenFilePath, sizeof chosenFilePath, chosenFilePath);
            EndDialog(dialog, IDOK);
        } else if (LOWORD(wParam) == IDC_BROWSE) {
            BrowseProjectFile(dialog);
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

void AppendProjectArgument(char* command, const char* project) {
    // A path with a blank would reach the debugger as two arguments; one
    // the user quoted already stays as it is.
    int quoted = project[0] != '"' && (FindByte(project, ' ') || FindByte(project, '\t'));
    lstrcatA(command, quoted ? " \"" : " ");
    lstrcatA(command, project);
    if (quoted) {
        lstrcatA(command, "\"");
    }
}

// Starts the debugger with a copy of `held` in its own handle table: the
// debugger attaches by the id, which cannot go to another process while any
// handle to the chosen one is open.
static void StartDebugger(char* command, HANDLE held) {
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                       nullptr, &startup, &started)) {
        HANDLE copy = nullptr;
        DuplicateHandle(GetCurrentProcess(), held, started.hProcess, &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        ResumeThread(started.hThread);
        // The debugger runs on its own.
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    } else {
        ShowMessage(listWindow, IDS_CANNOT_START_DEBUGGER, MB_ICONEXCLAMATION);
    }
}

// The debugger's command template for the chosen process, or 0 after
// telling the user why there is none.
static int ChosenDebuggerTemplate(char* commandTemplate) {
    int ended = 0;
    HANDLE process = OpenChosenProcess(&chosenProcess, PROCESS_QUERY_INFORMATION, &ended);
    if (ended) {
        ReportChosenProcessEnded(listWindow, ended);
        return 0;
    }
    int onlyThirtyTwoBit = 0;
    int length = ReadDebuggerTemplateFor(process, commandTemplate, &onlyThirtyTwoBit);
    if (process) {
        CloseHandle(process);
    }
    if (onlyThirtyTwoBit) {
        ShowMessage(listWindow, IDS_DEBUGGER_NOT_64, MB_ICONEXCLAMATION);
        return 0;
    }
    // The template comes from outside the program: one whose placeholder
    // would take the process id for anything but a number is not used.
    if (length == 0 || !CutDebuggerTemplate(commandTemplate)) {
        ShowMessage(listWindow, IDS_NO_DEBUGGER, MB_ICONEXCLAMATION);
        return 0;
    }
    return 1;
}

static void DebugChosenProcess(DWORD processId) {
    char commandTemplate[DEBUGGER_TEMPLATE_SIZE];
    if (!ChosenDebuggerTemplate(commandTemplate)) {
        return;
    }
    if (DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ATTACH_DEBUGGER), mainWindow,
                        AttachDebuggerDlgProc, 0) != IDOK) {
        return;
    }
    // The list went on refreshing under the dialog: a debugger is started
    // only for the process chosen, never for one that took its id since,
    // and while this program holds the process.
    int state = CHOSEN_RUNNING;
    HANDLE held = HoldChosenProcess(&chosenProcess, &state);
    if (!held) {
        if (state) {
            ReportChosenProcessEnded(listWindow, state);
        } else {
            ShowMessage(listWindow, IDS_ACCESS_DENIED, MB_ICONEXCLAMATION);
        }
        return;
    }
    char command[DEBUG_COMMAND_SIZE];
    wsprintfA(command, commandTemplate, processId);
    if (chosenFilePath[0]) {
        AppendProjectArgument(command, chosenFilePath);
        RememberProject(detailText, chosenFilePath);
    }
    StartDebugger(command, held);
    CloseHandle(held);
}

LRESULT DebugSelectedProcess(HWND, WPARAM, WPARAM, LPARAM) {
    chosenFilePath[0] = 0;
    DWORD processId = ChooseSelectedProcess(detailText, 260);
    if (processId != 0) {
        DebugChosenProcess(processId);
    }
    ReleaseChosenProcess(&chosenProcess);
    return 0;
}
