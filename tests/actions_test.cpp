// Actions on real helper processes through the real main window: terminate,
// polite close, end a process tree, suspend and resume, switch to, priority,
// affinity, copy path, open the file's folder.
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/uiops.h"
#include "details/actions.h"
#include "listfixture.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"
#include "sysinfo/startinfo.h"
#include "sysinfo/suspend.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace {

class ActionsTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1, false);
    }
    void TearDown() override {
        EndChild(helper);
        ListFixture::TearDown();
    }
    // Starts a helper and selects its row in the main list.
    void StartSelected(const std::string& options) {
        helper = StartChild("\"" + BinPath("tvhelper.exe") + "\" " + options);
        ASSERT_TRUE(helper.started);
        // The helper takes its options (its priority class) before its
        // message loop: a test must not act on it earlier.
        WaitForInputIdle(helper.info.hProcess, 10000);
        if (options.find("--window") != std::string::npos) {
            window = FindProcessWindow(helper.info.dwProcessId, "TvHelperWindow", nullptr, 5000);
        }
        ASSERT_TRUE(PumpUntil(
            [&] {
                SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);
                return SelectProcessById(helper.info.dwProcessId) != 0;
            },
            5000));
    }
    void Command(UINT id) {
        SendMessageA(mainWindow, WM_COMMAND, id, 0);
    }
    // Selects the row alone, as a click does.
    void SelectRow(int row) {
        ASSERT_GE(row, 0);
        LVITEMA item = {};
        item.stateMask = LVIS_SELECTED;
        SendMessageA(listWindow, LVM_SETITEMSTATE, -1, reinterpret_cast<LPARAM>(&item));
        item.state = LVIS_SELECTED;
        SendMessageA(listWindow, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
        SendMessageA(mainWindow, MSG_LIST_EVENT, static_cast<WPARAM>(NM_CLICK), IDC_LIST_MAIN);
    }
    Child helper = {};
    HWND window = nullptr;
};

TEST_F(ActionsTest, EnterInTheTerminateDialogPressesTheFocusedButtonAndEndsTheProcess) {
    StartSelected("--window=visible");
    std::string name;
    bool focusOnTerminate = false;
    ASSERT_TRUE(WithDialog([&] { Command(IDM_TERMINATE); },
                           [&](HWND dialog) {
                               char text[300];
                               GetDlgItemTextA(dialog, IDC_TERMINATE_NAME, text, sizeof text);
                               name = text;
                               focusOnTerminate = GetFocus() == GetDlgItem(dialog, IDOK);
                               SetForegroundWindow(dialog);
                               PressKey(VK_RETURN);
                           }));
    EXPECT_EQ(name, "'TVHELPER.EXE (" + std::to_string(helper.info.dwProcessId) + ")'?");
    EXPECT_TRUE(focusOnTerminate);
    ASSERT_EQ(WaitForSingleObject(helper.info.hProcess, 5000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(helper.info.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0xFFFFFFFFu);
    // The list refreshed: the row is gone or marked as ended.
    int row = RowOf(helper.info.dwProcessId);
    EXPECT_TRUE(row == -1 || (GetRowNode(row)->flags & NODE_GONE));
}

TEST_F(ActionsTest, TerminateWaitsUntilTheProcessHasEnded) {
    StartSelected("");
    // The wait succeeds: the process has ended when the call returns, and no
    // question was asked.
    EXPECT_EQ(MessageOf([&] { EXPECT_EQ(KillProcess(helper.info.dwProcessId), 1); }), "");
    EXPECT_EQ(WaitForSingleObject(helper.info.hProcess, 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(ActionsTest, NotifyClosesTheProcessWindowPolitely) {
    StartSelected("--window=visible");
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WithDialog([&] { Command(IDM_TERMINATE); },
                           [](HWND dialog) { PostMessageA(dialog, WM_COMMAND, 4, 0); }));
    // The helper's window got the close and the helper ended normally.
    EXPECT_EQ(WaitChild(helper, 5000), 0);
}

TEST_F(ActionsTest, SwitchToRestoresAMinimisedWindowAndHiddenOnesAreReported) {
    StartSelected("--window=minimized");
    ASSERT_NE(window, nullptr);
    // The helper minimises its window just after creating it.
    ASSERT_TRUE(PumpUntil([&] { return IsIconic(window) != 0; }, 5000));
    EXPECT_EQ(MessageOf([&] { Command(IDM_SWITCH_TO); }), "");
    EXPECT_TRUE(PumpUntil([&] { return !IsIconic(window); }, 3000));
    EXPECT_TRUE(PumpUntil([&] { return GetForegroundWindow() == window; }, 3000));
    // Bring to front restores the window but keeps Tolvane in front.
    Command(IDM_BRING_TO_FRONT);
    EXPECT_EQ(GetForegroundWindow(), mainWindow);
    EndChild(helper);

    StartSelected("--window=hidden");
    std::string text = MessageOf([&] { Command(IDM_SWITCH_TO); });
    EXPECT_NE(text.find(ToAnsi("此进程中不包含任何能被激活的窗口.")), std::string::npos);
}

TEST_F(ActionsTest, FindProcessWindowPrefersPlainWindowsThenPopupsThenMinimised) {
    ShowWindow(mainWindow, SW_HIDE);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    auto make = [&](DWORD style) {
        return CreateWindowExA(0, "STATIC", "w", style | WS_SYSMENU | WS_VISIBLE, 10, 10, 100, 50,
                               nullptr, nullptr, instance, nullptr);
    };
    HWND minimised = make(WS_OVERLAPPED | WS_MINIMIZE);
    HWND popup = make(WS_POPUP);
    HWND plain = make(WS_OVERLAPPED);
    HWND noMenu = CreateWindowExA(0, "STATIC", "n", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 50, 50,
                                  nullptr, nullptr, instance, nullptr);
    EXPECT_EQ(FindProcessWindow(GetCurrentProcessId()), plain);
    DestroyWindow(plain);
    EXPECT_EQ(FindProcessWindow(GetCurrentProcessId()), popup);
    DestroyWindow(popup);
    EXPECT_EQ(FindProcessWindow(GetCurrentProcessId()), minimised);
    DestroyWindow(minimised);
    // A window without a system menu is never chosen.
    EXPECT_EQ(FindProcessWindow(GetCurrentProcessId()), nullptr);
    DestroyWindow(noMenu);
}

TEST_F(ActionsTest, PriorityIsSetAndReadBack) {
    StartSelected("--priority=normal");
    int count = 0, current = -1;
    std::string title;
    ASSERT_TRUE(WithDialog([&] { Command(IDM_PRIORITY); },
                           [&](HWND dialog) {
                               char text[300];
                               GetWindowTextA(dialog, text, sizeof text);
                               title = text;
                               HWND combo = GetDlgItem(dialog, IDC_PRIORITY_COMBO);
                               count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
                               current = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
                               // Row 4 of six: high.
                               SendMessageA(combo, CB_SETCURSEL, 4, 0);
                               PostMessageA(dialog, WM_COMMAND, IDOK, 0);
                           }));
    EXPECT_EQ(title, ToAnsi("优先级 -- ") + WithSelectedId("tvhelper.exe"));
    EXPECT_EQ(count, 6);
    EXPECT_EQ(current, 2); // normal
    EXPECT_EQ(GetPriorityClass(helper.info.hProcess), static_cast<DWORD>(HIGH_PRIORITY_CLASS));
}

TEST_F(ActionsTest, AffinityBoxesAllAndTheEmptyMask) {
    CountProcessors(); // as start-up does
    ASSERT_GE(processorCount, 2u);
    StartSelected("");
    bool thirdEnabled = true;
    ASSERT_TRUE(WithDialog([&] { Command(IDM_AFFINITY); },
                           [&](HWND dialog) {
                               HWND third = GetDlgItem(dialog, IDC_AFFINITY_CPU1 + 2);
                               // The box and the number above it.
                               thirdEnabled = IsWindowEnabled(third) ||
                                              IsWindowEnabled(GetWindow(third, GW_HWNDPREV));
                               CheckDlgButton(dialog, IDC_AFFINITY_CPU1 + 1, BST_UNCHECKED);
                               PostMessageA(dialog, WM_COMMAND, IDOK, 0);
                           }));
    EXPECT_FALSE(thirdEnabled);
    DWORD_PTR mask = 0, system = 0;
    GetProcessAffinityMask(helper.info.hProcess, &mask, &system);
    EXPECT_EQ(mask, 1u);

    bool secondDisabledAndChecked = false;
    ASSERT_TRUE(WithDialog([&] { Command(IDM_AFFINITY); },
                           [&](HWND dialog) {
                               SendDlgItemMessageA(dialog, IDC_AFFINITY_ALL, BM_CLICK, 0, 0);
                               HWND second = GetDlgItem(dialog, IDC_AFFINITY_CPU1 + 1);
                               secondDisabledAndChecked =
                                   !IsWindowEnabled(second) &&
                                   IsDlgButtonChecked(dialog, IDC_AFFINITY_CPU1 + 1);
                               PostMessageA(dialog, WM_COMMAND, IDOK, 0);
                           }));
    EXPECT_TRUE(secondDisabledAndChecked);
    GetProcessAffinityMask(helper.info.hProcess, &mask, &system);
    EXPECT_EQ(mask, system & 0xFF);

    std::string text;
    ASSERT_TRUE(WithDialog([&] { Command(IDM_AFFINITY); },
                           [&](HWND dialog) {
                               CheckDlgButton(dialog, IDC_AFFINITY_CPU1, BST_UNCHECKED);
                               CheckDlgButton(dialog, IDC_AFFINITY_CPU1 + 1, BST_UNCHECKED);
                               text = MessageOf([&] { SendMessageA(dialog, WM_COMMAND, IDOK, 0); });
                           }));
    EXPECT_NE(text.find(ToAnsi("亲和掩码不能为空!")), std::string::npos);
    GetProcessAffinityMask(helper.info.hProcess, &mask, &system);
    EXPECT_EQ(mask, system & 0xFF);
}

// The selected process's path goes onto the clipboard, and Ctrl+L starts
// the file browser with that file selected.
TEST_F(ActionsTest, CopyPathAndOpenFileLocationTakeTheFullPath) {
    StartSelected("");
    Command(IDM_COPY_PATH);
    ASSERT_TRUE(OpenClipboard(mainWindow));
    HANDLE data = GetClipboardData(CF_TEXT);
    std::string text = data ? static_cast<const char*>(GlobalLock(data)) : "";
    if (data) {
        GlobalUnlock(data);
    }
    CloseClipboard();
    EXPECT_EQ(lstrcmpiA(text.c_str(), BinPath("tvhelper.exe").c_str()), 0) << text;

    PressKey(listWindow, 'L', true);
    DWORD browser = 0;
    ASSERT_TRUE(PumpUntil(
        [&] {
            Command(IDM_REFRESH);
            CompleteProcessList(listWindow);
            for (ProcessNode* node = processListHead; node; node = node->next) {
                browser = node->parentProcessId == GetCurrentProcessId() &&
                                  lstrcmpiA(node->name, "explorer.exe") == 0
                              ? node->processId
                              : browser;
            }
            return browser != 0;
        },
        10000));
    StartupControls controls;
    controls.Read(ReadStartupInfo, browser);
    EXPECT_EQ(Lower(WindowText(controls.commandLine)),
              Lower("explorer.exe /select,\"" + text + "\""));
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, browser);
    TerminateProcess(process, 0);
    CloseHandle(process);
}

TEST_F(ActionsTest, A16BitTaskIsEndedThroughItsNtvdm) {
    // A thread id cannot be opened as a process: the task's own route is
    // taken, with the process that runs it and its task handle.
    PlayWowTasks();
    DWORD ntvdm = GetCurrentProcessId(), threadId = GetCurrentThreadId();
    fakeNtvdms = {ntvdm};
    fakeTasks = {{ntvdm, threadId, 0x2b, "TASK", "C:\\WINDOWS\\TASK.EXE"}};
    ProcessEntry task = MakeEntry(threadId, "  task.exe", 0, KIND_WOW_TASK, ntvdm);
    task.task16 = 0x2b;
    MergeEntry(listWindow, &task);
    EXPECT_EQ(MessageOf([&] { EXPECT_EQ(KillProcess(threadId), 1); }), "");
    EXPECT_EQ(terminatedNtvdm, ntvdm);
    EXPECT_EQ(terminatedTask, 0x2b);

    terminateResult = FALSE;
    std::string text = MessageOf([&] { EXPECT_EQ(KillProcess(threadId), 0); });
    EXPECT_NE(text.find(ToAnsi("禁止访问.")), std::string::npos);

    // A task its process lists no more has ended: nothing is asked to end.
    fakeTasks.clear();
    terminateCalls = 0;
    text = MessageOf([&] { EXPECT_EQ(KillProcess(threadId), 0); });
    EXPECT_NE(text.find(ToAnsi("所选进程已经结束")), std::string::npos) << text;
    EXPECT_EQ(terminateCalls, 0);
}

// The process the opening refuses; 0 for every process.
static DWORD refusedProcess = 0;

HANDLE WINAPI RefuseOpening(DWORD access, BOOL inherit, DWORD processId) {
    if (refusedProcess == 0 || processId == refusedProcess) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return OpenProcess(access, inherit, processId);
}

// The chosen process cannot be opened at all (a service, another user's
// program): the process table tells whether its id still names it. Polite
// close acts when the table lists the id with the row's time; with another
// time, or without a table, it does nothing and says why.
TEST_F(ActionsTest, AProcessThatCannotBeOpenedIsToldApartByTheProcessTable) {
    const struct {
        const char* what;
        bool table;
        ULONGLONG shift;
        const char* told; // empty: the action acts
    } cases[] = {
        {"the table lists the chosen time", true, 0, ""},
        {"the table lists another time", true, 1, "所选进程已经结束"},
        {"no table", false, 0, "无法确认所选进程是否仍在运行"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(StartSelected("--window=visible"));
        GetSelectedNode(listWindow)->createTime += c.shift;
        ntApi.openProcess = RefuseOpening;
        ntApi.ntQuerySystemInformation = c.table ? savedNtApi.ntQuerySystemInformation : nullptr;
        std::string told;
        WithDialogs([&] { Command(IDM_TERMINATE); },
                    {[](HWND dialog) { PostMessageA(dialog, WM_COMMAND, 4, 0); }, // notify
                     [&](HWND box) {
                         told = DialogTexts(box);
                         PostMessageA(box, WM_COMMAND, IDOK, 0);
                     }});
        ntApi.openProcess = savedNtApi.openProcess;
        ntApi.ntQuerySystemInformation = savedNtApi.ntQuerySystemInformation;
        const bool acts = !*c.told;
        EXPECT_EQ(told.empty(), acts) << told;
        EXPECT_NE(told.find(ToAnsi(c.told)), std::string::npos) << told;
        EXPECT_EQ(WaitForSingleObject(helper.info.hProcess, acts ? 5000 : 500) == WAIT_OBJECT_0,
                  acts);
        EndChild(helper);
    }
}

// The chosen process ends while its action's dialog or its detail window is
// open, and a new helper takes its id. Nothing reaches the new helper: it
// runs on, with its priority class and affinity, no debugger is started,
// and the user is told (a message, or the window's title).
TEST_F(ActionsTest, NothingReachesAProcessThatTookTheChosenIdWhileTheDialogWasOpen) {
    CountProcessors();
    std::string record = BinDir() + "\\tolvane-reuse-debugger.txt";
    std::string recorder = "\"" + BinPath("tvhelper.exe") + "\" --record=" + record + " -p %ld";
    WriteProfileStringA("AeDebug", "Debugger", recorder.c_str());
    // The button that answers the dialog; 0 for a detail window.
    // A 16-bit task (crafted: this Wine runs none) is chosen by the row of
    // a task whose thread id is the helper's id, run by this process; the
    // task ends with the helper.
    const struct Case {
        const char* what;
        UINT command;
        int button;
        bool task;
    } cases[] = {{"terminate", IDM_TERMINATE, IDOK, false},
                 {"polite close", IDM_TERMINATE, 4, false},
                 {"priority", IDM_PRIORITY, IDOK, false},
                 {"affinity", IDM_AFFINITY, IDOK, false},
                 {"debugger", IDM_DEBUG, IDOK, false},
                 {"threads", IDM_THREADS, 0, false},
                 {"modules", IDM_MODULES, 0, false},
                 {"memory", IDM_MEMORY, 0, false},
                 {"16-bit task: terminate", IDM_TERMINATE, IDOK, true},
                 {"16-bit task: polite close", IDM_TERMINATE, 4, true}};
    const std::string endedText = ToAnsi("所选进程已经结束");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA(record.c_str());
        ASSERT_NO_FATAL_FAILURE(StartSelected("--window=visible"));
        DWORD oldId = helper.info.dwProcessId;
        if (c.task) {
            PlayWowTasks();
            DWORD ntvdm = GetCurrentProcessId();
            fakeNtvdms = {ntvdm};
            fakeTasks = {{ntvdm, oldId, 0x2b, "TASK", "C:\\WINDOWS\\TASK.EXE"}};
            Command(IDM_REFRESH);
            ASSERT_NO_FATAL_FAILURE(SelectRow(RowOf(oldId, KIND_WOW_TASK)));
        }
        Child newcomer = {};
        std::string told, title;
        auto takeOverTheId = [&](HWND dialog) {
            fakeTasks.clear();
            EndChild(helper);
            newcomer =
                StartChildOnFreedId(oldId, "\"" + BinPath("tvhelper.exe") + "\" --window=visible",
                                    [] { RefreshPass(listWindow); });
            if (newcomer.started) {
                WaitForInputIdle(newcomer.info.hProcess, 10000);
            }
            if (!c.button) {
                SendMessageA(dialog, WM_TIMER, REFRESH_TIMER_ID, 0);
                title = WindowText(dialog);
            }
            // Another class, another processor set (no such control: nothing).
            SendDlgItemMessageA(dialog, IDC_PRIORITY_COMBO, CB_SETCURSEL, 0, 0);
            CheckDlgButton(dialog, IDC_AFFINITY_CPU1, BST_UNCHECKED);
            PostMessageA(dialog, WM_COMMAND, c.button ? c.button : IDCANCEL, 0);
        };
        auto readMessage = [&](HWND box) {
            told = DialogTexts(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        };
        WithDialogs([&] { Command(c.command); }, {takeOverTheId, readMessage});
        ASSERT_TRUE(newcomer.started);
        ASSERT_EQ(newcomer.info.dwProcessId, oldId) << "the id did not come round";
        if (!c.button) {
            EXPECT_NE(title.find(ToAnsi("[进程已结束]")), std::string::npos) << title;
        } else {
            EXPECT_NE(told.find(endedText), std::string::npos) << told;
        }
        PumpMessages(300);
        EXPECT_EQ(WaitForSingleObject(newcomer.info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_EQ(GetPriorityClass(newcomer.info.hProcess),
                  static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
        DWORD_PTR mask = 0, system = 0;
        GetProcessAffinityMask(newcomer.info.hProcess, &mask, &system);
        EXPECT_EQ(mask, system);
        EXPECT_EQ(ReadFileBytes(record), "<missing>");
        EXPECT_EQ(terminateCalls, 0);
        EndChild(newcomer);
        ntApi.vdmEnumProcessWow = savedNtApi.vdmEnumProcessWow;
        ntApi.vdmEnumTaskWowEx = savedNtApi.vdmEnumTaskWowEx;
        ntApi.vdmTerminateTaskWow = savedNtApi.vdmTerminateTaskWow;
    }
    WriteProfileStringA("AeDebug", "Debugger", nullptr);
}

// The ids of the readable processes whose parent is `parent`.
static std::vector<DWORD> ChildrenOf(DWORD parent) {
    std::vector<DWORD> children;
    for (ProcessNode* node = processListHead; node; node = node->next) {
        if (node->parentProcessId == parent && !(node->flags & (NODE_GONE | ENTRY_NO_ACCESS))) {
            children.push_back(node->processId);
        }
    }
    return children;
}

static ULONGLONG ExitTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    return GetProcessTimes(process, &created, &exited, &kernel, &user) ? FileTimeValue(exited) : 0;
}

// A helper three deep (top, middle, bottom) with two more children (side,
// which may be ended, and kept, which may not), ended as a tree by
// Shift+Delete. Under the question the side child ends and a new helper
// takes its id: the new one runs on. The others end, the deepest first,
// but for the kept one, which the message afterwards names.
TEST_F(ActionsTest, AProcessTreeEndsDeepestFirstAndNeverReachesAnIdTakenUnderTheQuestion) {
    ASSERT_NO_FATAL_FAILURE(StartSelected("--spawn=2,1,1"));
    DWORD top = helper.info.dwProcessId;
    DWORD middle = 0, side = 0, kept = 0, bottom = 0;
    ASSERT_TRUE(PumpUntil(
        [&] {
            Command(IDM_REFRESH);
            CompleteProcessList(listWindow);
            std::vector<DWORD> children = ChildrenOf(top);
            side = kept = 0;
            for (DWORD child : children) {
                std::vector<DWORD> below = ChildrenOf(child);
                if (!below.empty()) {
                    middle = child;
                    bottom = below[0];
                } else {
                    (side ? kept : side) = child;
                }
            }
            return children.size() == 3 && middle && side && kept && bottom;
        },
        10000));
    ASSERT_NO_FATAL_FAILURE(SelectRow(RowOf(top)));
    EXPECT_FALSE(Grayed(IDM_END_TREE));
    const DWORD access = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE;
    HANDLE middleHandle = OpenProcess(access, FALSE, middle);
    HANDLE bottomHandle = OpenProcess(access, FALSE, bottom);
    HANDLE keptHandle = OpenProcess(access, FALSE, kept);
    refusedProcess = kept;
    ntApi.openProcess = RefuseOpening;
    Child newcomer = {};
    std::string question, told;
    auto answer = [&](HWND box) {
        question = DialogTexts(box);
        HANDLE sideHandle = OpenProcess(PROCESS_TERMINATE, FALSE, side);
        TerminateProcess(sideHandle, 0);
        CloseHandle(sideHandle);
        newcomer = StartChildOnFreedId(side, "\"" + BinPath("tvhelper.exe") + "\"",
                                       [] { RefreshPass(listWindow); });
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    };
    auto readMessage = [&](HWND box) {
        told = DialogTexts(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    };
    EXPECT_EQ(
        WithDialogs([&] { PressKey(listWindow, VK_DELETE, false, true); }, {answer, readMessage}),
        2u);
    auto label = [](DWORD id) { return "tvhelper.exe (" + std::to_string(id) + ")"; };
    EXPECT_NE(question.find(label(top)), std::string::npos) << question;
    EXPECT_NE(question.find(ToAnsi("及其下的 4 个进程")), std::string::npos) << question;
    EXPECT_NE(told.find(label(kept)), std::string::npos) << told;
    EXPECT_EQ(told.find(label(side)), std::string::npos) << told;
    ASSERT_TRUE(newcomer.started);
    ASSERT_EQ(newcomer.info.dwProcessId, side) << "the id did not come round";
    EXPECT_EQ(WaitForSingleObject(helper.info.hProcess, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(middleHandle, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(bottomHandle, 5000), WAIT_OBJECT_0);
    PumpMessages(300);
    EXPECT_EQ(WaitForSingleObject(newcomer.info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(keptHandle, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_LE(ExitTime(bottomHandle), ExitTime(middleHandle));
    EXPECT_LE(ExitTime(middleHandle), ExitTime(helper.info.hProcess));
    for (HANDLE handle : {middleHandle, bottomHandle, keptHandle}) {
        TerminateProcess(handle, 0);
        CloseHandle(handle);
    }
    EndChild(newcomer);
    refusedProcess = 0;
}

// The native table as the system gives it, with every thread of one process
// marked as waiting suspended and every other thread as running: a table
// that tells the threads' states.
static DWORD tableSuspendedId = 0;
static NtApi realNtApi;

static LONG WINAPI TableWithThreadStates(ULONG infoClass, void* buffer, ULONG size,
                                         ULONG* returned) {
    LONG status = realNtApi.ntQuerySystemInformation(infoClass, buffer, size, returned);
    const bool wide = sizeof(void*) == 8;
    const ULONG idAt = wide ? 0x50 : 0x44, threadsAt = wide ? 0x100 : 0xB8;
    const ULONG threadSize = wide ? 0x50 : 0x40, stateAt = wide ? 0x44 : 0x34;
    for (BYTE* record = static_cast<BYTE*>(buffer); status >= 0 && infoClass == 5;) {
        ULONG next = *reinterpret_cast<ULONG*>(record);
        ULONG threads = *reinterpret_cast<ULONG*>(record + 4);
        DWORD id = static_cast<DWORD>(*reinterpret_cast<ULONG_PTR*>(record + idAt));
        for (ULONG i = 0; i < threads; i++) {
            ULONG* state = reinterpret_cast<ULONG*>(record + threadsAt + i * threadSize + stateAt);
            state[0] = id == tableSuspendedId ? 5 : 2; // waiting, or running
            state[1] = id == tableSuspendedId ? 5 : 0; // suspended
        }
        if (!next) {
            break;
        }
        record += next;
    }
    return status;
}

// Ctrl+P suspends a helper that counts: it stops counting, its row and the
// status bar say so within one period, and only resume is offered; Ctrl+R
// lets it count on. A table that tells the threads' states is believed;
// the desktop's own process is suspended only after a warning.
TEST_F(ActionsTest, SuspendStopsAProcessUntilItIsResumedAndTheRowShowsIt) {
    std::string name = "TolvaneCount" + std::to_string(GetCurrentProcessId());
    ASSERT_NO_FATAL_FAILURE(StartSelected("--count=" + name));
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    volatile LONG* count = static_cast<volatile LONG*>(
        section ? MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(LONG)) : nullptr);
    ASSERT_NE(count, nullptr);
    const std::string suspendedText = ToAnsi("已挂起");
    auto counting = [&] {
        LONG before = *count;
        PumpMessages(300);
        return *count != before;
    };
    auto shownSuspended = [&] {
        ProcessNode* node = GetSelectedNode(listWindow);
        return node && IsProcessSuspended(node) &&
               WindowText(statusWindow).rfind(suspendedText, 0) == 0 && Grayed(IDM_SUSPEND) &&
               !Grayed(IDM_RESUME);
    };
    ASSERT_TRUE(counting());
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        PressKey(listWindow, 'P', true);
        Command(IDM_REFRESH);
        EXPECT_TRUE(shownSuspended()) << WindowText(statusWindow);
        EXPECT_FALSE(counting());
        PressKey(listWindow, 'R', true);
        Command(IDM_REFRESH);
        EXPECT_FALSE(shownSuspended());
        EXPECT_TRUE(counting());
    }

    realNtApi = ntApi;
    ntApi.ntQuerySystemInformation = TableWithThreadStates;
    tableSuspendedId = helper.info.dwProcessId;
    Command(IDM_REFRESH);
    EXPECT_TRUE(shownSuspended());
    tableSuspendedId = 0;
    Command(IDM_REFRESH);
    EXPECT_FALSE(shownSuspended());
    EXPECT_TRUE(Grayed(IDM_RESUME));
    ntApi.ntQuerySystemInformation = realNtApi.ntQuerySystemInformation;

    DWORD desktop = 0;
    GetWindowThreadProcessId(GetDesktopWindow(), &desktop);
    if (desktop != GetCurrentProcessId() && SelectProcessById(desktop)) {
        std::string warning = MessageOf([&] { PressKey(listWindow, 'P', true); }, IDCANCEL);
        EXPECT_NE(warning.find(ToAnsi("可能使整个桌面停止响应")), std::string::npos) << warning;
        Command(IDM_REFRESH);
        EXPECT_FALSE(shownSuspended());
    }
    UnmapViewOfFile(const_cast<LONG*>(count));
    CloseHandle(section);
}

} // namespace
