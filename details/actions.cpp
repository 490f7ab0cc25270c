#include "details/actions.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/chosenprocess.h"
#include "sysinfo/ntbackend.h"
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"
#include "sysinfo/suspend.h"
#include "views/processlist.h"

#include <string.h>

enum {
    TERMINATE_WAIT_MILLISECONDS = 5000,
    // A hung window must not hold the program up when it is asked to restore.
    RESTORE_TIMEOUT_MILLISECONDS = 2000,
    IDC_TERMINATE_NOTIFY = 4,
};

struct PriorityChoice {
    UINT stringId;
    DWORD priorityClass;
};

static const PriorityChoice fourPriorities[] = {
    {IDS_PRIORITY_IDLE, IDLE_PRIORITY_CLASS},
    {IDS_PRIORITY_NORMAL, NORMAL_PRIORITY_CLASS},
    {IDS_PRIORITY_HIGH, HIGH_PRIORITY_CLASS},
    {IDS_PRIORITY_REALTIME, REALTIME_PRIORITY_CLASS},
};

static const PriorityChoice sixPriorities[] = {
    {IDS_PRIORITY_IDLE, IDLE_PRIORITY_CLASS},
    {IDS_PRIORITY_BELOW_NORMAL, BELOW_NORMAL_PRIORITY_CLASS},
    {IDS_PRIORITY_NORMAL, NORMAL_PRIORITY_CLASS},
    {IDS_PRIORITY_ABOVE_NORMAL, ABOVE_NORMAL_PRIORITY_CLASS},
    {IDS_PRIORITY_HIGH, HIGH_PRIORITY_CLASS},
    {IDS_PRIORITY_REALTIME, REALTIME_PRIORITY_CLASS},
};

// The processor boxes of the affinity dialog, bit 0 first.
static const int processorBoxes[] = {
    IDC_AFFINITY_CPU1,     IDC_AFFINITY_CPU1 + 1, IDC_AFFINITY_CPU1 + 2,
    IDC_AFFINITY_CPU1 + 3, IDC_AFFINITY_CPU1 + 4, IDC_AFFINITY_CPU1 + 5,
    IDC_AFFINITY_CPU1 + 6, IDC_AFFINITY_CPU8,     0};

static const PriorityChoice* priorityChoices;
static int priorityChoiceCount;
static DWORD_PTR affinitySystemMask;
// The process's mask when the dialog opened: the processors the eight boxes
// cannot show keep what it had.
static DWORD_PTR affinityProcessMask;

// Priority texts are loaded on first use and kept for the run.
static const char* PriorityText(UINT stringId) {
    static char texts[6][260];
    static UINT loaded[6];
    int slot = static_cast<int>(stringId - IDS_PRIORITY_REALTIME);
    if (slot < 0 || slot >= 6) {
        return "";
    }
    if (loaded[slot] != stringId) {
        loaded[slot] = stringId;
        LoadStringA(appInstance, stringId, texts[slot], sizeof texts[slot]);
    }
    return texts[slot];
}

static int MatchesStyle(HWND window, DWORD excluded) {
    DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    return (style & WS_SYSMENU) && (style & WS_VISIBLE) && !(style & excluded);
}

// One pass over `first` and its siblings: a window of the process that
// fails the style test is skipped with its children; the children of other
// processes' windows are searched by the same rule.
static HWND SearchWindowPass(HWND first, DWORD key, int byThread, DWORD excluded) {
    for (HWND window = first; window; window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD processId = 0;
        DWORD threadId = GetWindowThreadProcessId(window, &processId);
        if ((byThread ? threadId : processId) == key) {
            if (MatchesStyle(window, excluded)) {
                return window;
            }
            continue;
        }
        HWND found = SearchWindowPass(GetWindow(window, GW_CHILD), key, byThread, excluded);
        if (found) {
            return found;
        }
    }
    return nullptr;
}

HWND FindProcessWindow(DWORD processId) {
    static const DWORD excludedStyles[] = {WS_POPUP | WS_MINIMIZE, WS_MINIMIZE, 0};
    // A 16-bit task's row carries the id of the thread that runs it.
    int byThread = FindNode(processId, KIND_WOW_TASK) != nullptr;
    HWND first = GetWindow(GetDesktopWindow(), GW_CHILD);
    for (DWORD excluded : excludedStyles) {
        HWND found = SearchWindowPass(first, processId, byThread, excluded);
        if (found) {
            return found;
        }
    }
    return nullptr;
}

int KillChosenProcess(ChosenProcess* chosen) {
    // The wait needs the right to wait: without it the wait fails at once.
    int ended = 0;
    HANDLE process = OpenChosenProcess(chosen, PROCESS_TERMINATE | SYNCHRONIZE, &ended);
    if (process) {
        BOOL done = TerminateProcess(process, 0xFFFFFFFF);
        if (!done) {
            ShowMessage(listWindow, IDS_CANNOT_TERMINATE, MB_ICONEXCLAMATION);
        } else {
            while (WaitForSingleObject(process, TERMINATE_WAIT_MILLISECONDS) == WAIT_TIMEOUT) {
                if (ShowMessage(listWindow, IDS_TERMINATE_NO_RESPONSE,
                                MB_ICONEXCLAMATION | MB_OKCANCEL) != IDOK) {
                    break;
                }
            }
        }
        CloseHandle(process);
        return done ? 1 : 0;
    }
    if (ended) {
        ReportChosenProcessEnded(listWindow, ended);
        return 0;
    }
    // A 16-bit task ends through the process that runs it.
    if (chosen->kind == KIND_WOW_TASK && TerminateWowTask(chosen->hostProcessId, chosen->task16)) {
        return 1;
    }
    ShowMessage(listWindow, IDS_ACCESS_DENIED, MB_ICONEXCLAMATION);
    return 0;
}

int KillProcess(DWORD processId) {
    ProcessEntry entry;
    memset(&entry, 0, sizeof entry);
    entry.processId = processId;
    // A 16-bit task's row tells which process runs it.
    const ProcessNode* task = FindNode(processId, KIND_WOW_TASK);
    ChosenProcess chosen;
    memset(&chosen, 0, sizeof chosen);
    ChooseProcess(&chosen, task ? task : &entry);
    int result = KillChosenProcess(&chosen);
    ReleaseChosenProcess(&chosen);
    return result;
}

void RequestProcessClose(DWORD processId) {
    HWND window = FindProcessWindow(processId);
    if (!window) {
        ShowMessage(listWindow, IDS_NO_WINDOW_TO_CLOSE, MB_ICONEXCLAMATION);
        return;
    }
    SetForegroundWindow(window);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

int ActivateProcessWindow(DWORD processId) {
    HWND window = FindProcessWindow(processId);
    if (!window) {
        ShowMessage(listWindow, IDS_NO_WINDOW_TO_ACTIVATE, MB_ICONEXCLAMATION);
        return 0;
    }
    DWORD_PTR ignored;
    if (GetWindowLongA(window, GWL_STYLE) & WS_MINIMIZE) {
        SendMessageTimeoutA(window, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_ABORTIFHUNG,
                            RESTORE_TIMEOUT_MILLISECONDS, &ignored);
    }
    SetForegroundWindow(window);
    // The window activates itself on its own thread and hands its focus
    // change to the X server when it next waits for messages. Once it has
    // answered two messages, it has waited in between: whatever comes
    // forward next really comes after it.
    for (int round = 0; round < 2; round++) {
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, RESTORE_TIMEOUT_MILLISECONDS,
                            &ignored);
    }
    return 1;
}

INT_PTR CALLBACK TerminateDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        ApplyDialogFont(dialog);
        // The name in capitals, then the id, as the list shows it.
        char name[DETAIL_TEXT_SIZE];
        lstrcpynA(name, detailText, sizeof name);
        CharUpperA(name);
        char text[DETAIL_TEXT_SIZE + 24];
        text[0] = '\'';
        int length =
            1 + FormatProcessLabel(text + 1, DETAIL_TEXT_SIZE + 16, name, chosenProcess.processId);
        lstrcpyA(text + length, "'?");
        SetDlgItemTextA(dialog, IDC_TERMINATE_NAME, text);
        // The focus sits on the button that Enter presses, so what the
        // user sees is what Enter does.
        SendMessageA(dialog, DM_SETDEFID, IDOK, 0);
        SetFocus(GetDlgItem(dialog, IDOK));
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
        case IDC_TERMINATE_NOTIFY:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

LRESULT TerminateSelectedProcess(HWND, WPARAM, WPARAM, LPARAM) {
    DWORD processId = ChooseSelectedProcess(detailText, -260);
    if (processId == 0) {
        return 0;
    }
    // The list goes on refreshing while the dialog is open: the answer
    // acts on the process chosen, never on one that took its id since.
    INT_PTR answer = DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_TERMINATE), mainWindow,
                                     TerminateDlgProc, 0);
    if (answer == IDOK) {
        KillChosenProcess(&chosenProcess);
    } else if (answer == IDC_TERMINATE_NOTIFY) {
        int state = ChosenProcessEnded(&chosenProcess);
        if (state) {
            ReportChosenProcessEnded(listWindow, state);
        } else {
            RequestProcessClose(processId);
        }
    } else {
        ReleaseChosenProcess(&chosenProcess);
        return 0;
    }
    ReleaseChosenProcess(&chosenProcess);
    RefreshProcessList();
    return 0;
}

LRESULT OnSwitchToProcess(HWND, WPARAM wParam, WPARAM, LPARAM) {
    DWORD processId = GetSelectedProcess(listWindow, detailText, -260);
    if (processId == 0) {
        return 0;
    }
    ActivateProcessWindow(processId);
    if (LOWORD(wParam) == IDM_BRING_TO_FRONT) {
        BringMainWindowForward();
    }
    return 0;
}

// Puts the title prefix and the selected process's name into the detail
// text buffer; the selected process id, or 0.
static DWORD PrepareDetailTitle(UINT prefixId) {
    char prefix[260];
    int length = LoadStringA(appInstance, prefixId, prefix, sizeof prefix);
    prefix[length > 0 ? length : 0] = 0;
    selectedProcessId = BuildDetailTitle(prefix);
    return selectedProcessId;
}

// Runs a dialog that changes the selected process; the list shows the
// change when the dialog ends with OK.
static void RunChangeDialog(UINT prefixId, int templateId, DLGPROC procedure) {
    if (PrepareDetailTitle(prefixId) == 0) {
        return;
    }
    INT_PTR answer =
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(templateId), mainWindow, procedure, 0);
    ReleaseChosenProcess(&chosenProcess);
    if (answer == 1) {
        RefreshProcessList();
    }
}

// Opens the chosen process for a change dialog; null after telling the
// user why (it ended, or access was refused).
static HANDLE OpenForChange(HWND dialog, DWORD access) {
    int ended = 0;
    HANDLE process = OpenChosenProcess(&chosenProcess, access, &ended);
    if (!process) {
        if (ended) {
            ReportChosenProcessEnded(dialog, ended);
        } else {
            ShowMessage(dialog, IDS_ACCESS_DENIED, MB_ICONEXCLAMATION);
        }
    }
    return process;
}

LRESULT OpenPriorityDialog(HWND, WPARAM, WPARAM, LPARAM) {
    RunChangeDialog(IDS_PRIORITY_PREFIX, IDD_PRIORITY, PriorityDlgProc);
    return 0;
}

static int InitPriorityDialog(HWND dialog) {
    ApplyDialogFont(dialog);
    if (nt5OrLater) {
        priorityChoices = sixPriorities;
        priorityChoiceCount = 6;
    } else {
        priorityChoices = fourPriorities;
        priorityChoiceCount = 4;
    }
    SetWindowTextA(dialog, detailText);
    int ended = 0;
    HANDLE process = OpenChosenProcess(&chosenProcess, PROCESS_QUERY_INFORMATION, &ended);
    if (!process) {
        if (ended) {
            ReportChosenProcessEnded(dialog, ended);
        }
        return 0;
    }
    DWORD priorityClass = GetPriorityClass(process);
    CloseHandle(process);
    if (priorityClass == 0) {
        ShowMessage(dialog, IDS_CANNOT_READ_PRIORITY, MB_ICONEXCLAMATION);
        return 0;
    }
    HWND combo = GetDlgItem(dialog, IDC_PRIORITY_COMBO);
    for (int row = 0; row < priorityChoiceCount; row++) {
        SendMessageA(combo, CB_INSERTSTRING, row,
                     reinterpret_cast<LPARAM>(PriorityText(priorityChoices[row].stringId)));
        if (priorityChoices[row].priorityClass == priorityClass) {
            SendMessageA(combo, CB_SETCURSEL, row, 0);
        }
    }
    return 1;
}

static void ApplyPriorityChoice(HWND dialog) {
    HANDLE process = OpenForChange(dialog, PROCESS_SET_INFORMATION);
    if (!process) {
        return;
    }
    int row = static_cast<int>(SendDlgItemMessageA(dialog, IDC_PRIORITY_COMBO, CB_GETCURSEL, 0, 0));
    if (row >= 0 && row < priorityChoiceCount &&
        !SetPriorityClass(process, priorityChoices[row].priorityClass)) {
        ShowMessage(dialog, IDS_CANNOT_SET_PRIORITY, MB_ICONEXCLAMATION);
    }
    CloseHandle(process);
}

// The messages the priority and affinity dialogs share: a dialog whose
// process cannot be read closes at once; OK applies the choice and ends with
// 1, Cancel with 2, the close box with 0.
static INT_PTR ChangeDialogMessage(HWND dialog, UINT message, WPARAM wParam, int (*init)(HWND),
                                   void (*apply)(HWND)) {
    switch (message) {
    case WM_INITDIALOG:
        if (!init(dialog)) {
            EndDialog(dialog, 0);
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            apply(dialog);
            EndDialog(dialog, 1);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 2);
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK PriorityDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    return ChangeDialogMessage(dialog, message, wParam, InitPriorityDialog, ApplyPriorityChoice);
}

LRESULT OpenAffinityDialog(HWND, WPARAM, WPARAM, LPARAM) {
    RunChangeDialog(IDS_AFFINITY_PREFIX, IDD_AFFINITY, AffinityDlgProc);
    return 0;
}

// A processor box and its number above it, the window before it in the
// template, are enabled and disabled together: a box alone barely shows it.
static void EnableProcessorBox(HWND dialog, int index, BOOL enabled) {
    HWND box = GetDlgItem(dialog, processorBoxes[index]);
    EnableWindow(box, enabled);
    HWND caption = GetWindow(box, GW_HWNDPREV);
    char className[16];
    if (caption && GetClassNameA(caption, className, sizeof className) &&
        lstrcmpiA(className, "Static") == 0) {
        EnableWindow(caption, enabled);
    }
}

static int InitAffinityDialog(HWND dialog) {
    ApplyDialogFont(dialog);
    SetWindowTextA(dialog, detailText);
    int ended = 0;
    HANDLE process = OpenChosenProcess(&chosenProcess, PROCESS_QUERY_INFORMATION, &ended);
    if (!process) {
        if (ended) {
            ReportChosenProcessEnded(dialog, ended);
        }
        return 0;
    }
    DWORD_PTR processMask = QueryProcessAffinity(process, &affinitySystemMask);
    affinityProcessMask = processMask;
    CloseHandle(process);
    for (int i = 0; processorBoxes[i] != 0; i++) {
        DWORD_PTR bit = static_cast<DWORD_PTR>(1) << i;
        EnableProcessorBox(dialog, i, (affinitySystemMask & bit) != 0);
        CheckDlgButton(dialog, processorBoxes[i],
                       (processMask & bit) ? BST_CHECKED : BST_UNCHECKED);
    }
    CheckDlgButton(dialog, IDC_AFFINITY_ALL, BST_UNCHECKED);
    return 1;
}

static void OnAllProcessorsClicked(HWND dialog) {
    int all = IsDlgButtonChecked(dialog, IDC_AFFINITY_ALL) == BST_CHECKED;
    for (int i = 0; processorBoxes[i] != 0; i++) {
        int present = (affinitySystemMask & (1u << i)) != 0;
        if (all) {
            EnableProcessorBox(dialog, i, FALSE);
            CheckDlgButton(dialog, processorBoxes[i], present ? BST_CHECKED : BST_UNCHECKED);
        } else {
            EnableProcessorBox(dialog, i, present);
        }
    }
}

static void ApplyAffinityChoice(HWND dialog) {
    HANDLE process = OpenForChange(dialog, PROCESS_SET_INFORMATION);
    if (!process) {
        return;
    }
    DWORD_PTR shown = 0;
    DWORD_PTR chosen = 0;
    for (int i = 0; processorBoxes[i] != 0; i++) {
        DWORD_PTR bit = static_cast<DWORD_PTR>(1) << i;
        shown |= bit;
        if (IsDlgButtonChecked(dialog, processorBoxes[i]) == BST_CHECKED) {
            chosen |= bit;
        }
    }
    DWORD_PTR mask = chosen | (affinityProcessMask & ~shown);
    if (mask == 0) {
        ShowMessage(dialog, IDS_EMPTY_AFFINITY, MB_ICONEXCLAMATION);
    } else if (!SetProcessAffinity(process, mask)) {
        ShowMessage(dialog, IDS_CANNOT_SET_AFFINITY, MB_ICONEXCLAMATION);
    } else {
        // The list shows the new mask at its next refresh.
        ForgetKeptAffinity(selectedProcessId);
    }
    CloseHandle(process);
}

INT_PTR CALLBACK AffinityDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_AFFINITY_ALL) {
        OnAllProcessorsClicked(dialog);
        return TRUE;
    }
    return ChangeDialogMessage(dialog, message, wParam, InitAffinityDialog, ApplyAffinityChoice);
}

// Processes whose suspension would stop the desktop: the system's own and
// the shell's, by name, besides those that own the desktop's windows.
static const char* const desktopProcessNames[] = {
    "system",    "smss.exe", "csrss.exe", "wininit.exe", "winlogon.exe", "services.exe",
    "lsass.exe", "lsm.exe",  "dwm.exe",   "svchost.exe", "explorer.exe", nullptr};

static DWORD WindowProcess(HWND window) {
    DWORD processId = 0;
    if (window) {
        GetWindowThreadProcessId(window, &processId);
    }
    return processId;
}

static int StopsDesktop(const ProcessNode* node) {
    // The idle process, and the system's (4, or 8 on older systems).
    if (node->processId <= 8 || node->processId == WindowProcess(GetDesktopWindow()) ||
        node->processId == WindowProcess(FindWindowA("Progman", nullptr)) ||
        node->processId == WindowProcess(FindWindowA("Shell_TrayWnd", nullptr))) {
        return 1;
    }
    for (int i = 0; desktopProcessNames[i]; i++) {
        if (lstrcmpiA(node->name, desktopProcessNames[i]) == 0) {
            return 1;
        }
    }
    return 0;
}

// Suspending this program or the desktop is asked first; 1 to go on.
static int ConfirmSuspension(const ProcessNode* node) {
    char format[260];
    char text[sizeof format + 80];
    if (node->processId == GetCurrentProcessId()) {
        LoadStringA(appInstance, IDS_SUSPEND_SELF, text, sizeof text);
    } else if (StopsDesktop(node)) {
        char name[64];
        CopyText(name, sizeof name, node->name);
        LoadStringA(appInstance, IDS_SUSPEND_DESKTOP, format, sizeof format);
        wsprintfA(text, format, name);
    } else {
        return 1;
    }
    return MessageBoxA(mainWindow, text, mainClassName,
                       MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2) == IDOK;
}

// Says that the action on the chosen process failed, and why.
static void ReportActionFailure(UINT formatId, DWORD error) {
    char format[260];
    char subject[sizeof format + DETAIL_TEXT_SIZE];
    LoadStringA(appInstance, formatId, format, sizeof format);
    wsprintfA(subject, format, detailText);
    ShowSystemError(listWindow, subject, error);
}

LRESULT SuspendSelectedProcess(HWND, WPARAM wParam, WPARAM, LPARAM) {
    int resume = LOWORD(wParam) == IDM_RESUME;
    ProcessNode* node = GetSelectedNode(listWindow);
    if (!node || node->kind != KIND_WIN32) {
        return 0;
    }
    // The process is chosen before any question: the list refreshes under it.
    ChooseSelectedProcess(detailText, -260);
    if (!resume && !ConfirmSuspension(node)) {
        ReleaseChosenProcess(&chosenProcess);
        return 0;
    }
    int state = CHOSEN_RUNNING;
    HANDLE process = OpenChosenProcess(&chosenProcess, PROCESS_SUSPEND_RESUME, &state);
    UINT failureId = resume ? IDS_CANNOT_RESUME : IDS_CANNOT_SUSPEND;
    if (!process && state != CHOSEN_RUNNING) {
        ReportChosenProcessEnded(listWindow, state);
    } else if (!process) {
        ReportActionFailure(failureId, ERROR_ACCESS_DENIED);
    } else if (!SuspendProcessThreads(process, chosenProcess.processId, resume)) {
        ReportActionFailure(failureId, GetLastError());
    } else {
        NoteSuspendedHere(chosenProcess.processId, chosenProcess.createTime, !resume);
        node = FindNode(chosenProcess.processId, KIND_WIN32);
        if (node && !IsOtherProcessTime(node->createTime, chosenProcess.createTime)) {
            ShowNodeState(node);
        }
    }
    if (process) {
        CloseHandle(process);
    }
    ReleaseChosenProcess(&chosenProcess);
    return 0;
}

LRESULT OpenSelectedLocation(HWND, WPARAM, WPARAM, LPARAM) {
    char path[MAX_PATH + 1];
    memset(path, 0, sizeof path);
    if (!GetSelectedProcess(listWindow, path, MAX_PATH) || !path[0]) {
        return 0;
    }
    // The file browser opens the folder with the file selected.
    char command[MAX_PATH + 40];
    wsprintfA(command, "explorer.exe /select,\"%s\"", path);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        lstrcpynA(detailText, path, DETAIL_TEXT_SIZE);
        ReportActionFailure(IDS_CANNOT_OPEN_LOCATION, GetLastError());
        return 0;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
}

LRESULT CopySelectedPath(HWND window, WPARAM, WPARAM, LPARAM) {
    char path[261];
    memset(path, 0, sizeof path);
    GetSelectedProcess(listWindow, path, 260);
    CopyTextToClipboard(window, path);
    return 0;
}
