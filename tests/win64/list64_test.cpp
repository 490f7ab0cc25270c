// The main list, the tree, the actions and the threads window in the 64-bit
// prefix, where this 32-bit program cannot read the module list of any
// 64-bit process.
#include "app/mainwnd.h"
#include "app/uiops.h"
#include "details/tree.h"
#include "listfixture.h"
#include "res/resource.h"
#include "sysinfo/privileges.h"
#include "sysinfo/backend.h"
#include "testutil.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <functional>
#include <map>
#include <string>

namespace {

// What Wine's debugger lists: process id and executable name.
std::map<DWORD, std::string> DebuggerProcesses() {
    std::string file = BinDir() + "\\list64-processes.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    char line[] = "winedbg --command \"info process\"";
    PROCESS_INFORMATION info;
    if (CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &info)) {
        WaitForSingleObject(info.hProcess, 30000);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    CloseHandle(output);
    std::map<DWORD, std::string> processes;
    std::string text = ReadFileBytes(file);
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        std::string row = text.substr(at, end == std::string::npos ? end : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        unsigned id = 0;
        size_t open = row.find('\''), close = row.rfind('\'');
        if (sscanf(row.c_str(), " %x", &id) == 1 && open != close) {
            processes[id] = row.substr(open + 1, close - open - 1);
        }
    }
    DeleteFileA(file.c_str());
    return processes;
}

std::string TreeLabels(HWND tree, HTREEITEM item) {
    std::string text;
    for (; item; item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                                 reinterpret_cast<LPARAM>(item)))) {
        char label[300] = "";
        TVITEMA read = {};
        read.mask = TVIF_TEXT;
        read.hItem = item;
        read.pszText = label;
        read.cchTextMax = sizeof label;
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&read));
        text += std::string(label) + "\n";
        text += TreeLabels(
            tree, reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD,
                                                           reinterpret_cast<LPARAM>(item))));
    }
    return text;
}

class List64Test : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1, false);
        SetRefreshTimer(0);
    }
    void TearDown() override {
        EndChild(helper);
        ListFixture::TearDown();
    }
    void StartHelper64(const std::string& options) {
        helper = StartChild("\"" + BinPath("tvhelper64.exe") + "\" " + options);
        ASSERT_TRUE(helper.started);
        // The helper takes its options (its priority class) before its
        // message loop: a test must not act on it earlier.
        WaitForInputIdle(helper.info.hProcess, 10000);
        ASSERT_TRUE(PumpUntil(
            [&] {
                RefreshPass(listWindow);
                return SelectProcessById(helper.info.dwProcessId) != 0;
            },
            10000));
    }
    static void Command(UINT id) {
        SendMessageA(mainWindow, WM_COMMAND, id, 0);
    }
    // Opens the dialog of a menu command, sets or reads it and presses a button.
    static bool Answer(UINT id, UINT button, const std::function<void(HWND)>& set) {
        return WithDialog([&] { Command(id); },
                          [&](HWND dialog) {
                              set(dialog);
                              PostMessageA(dialog, WM_COMMAND, button, 0);
                          });
    }
    Child helper = {};
};

TEST_F(List64Test, EveryProcessTheDebuggerListsHasItsRowAndTreeItem) {
    ASSERT_NO_FATAL_FAILURE(StartHelper64("--window=visible"));
    RefreshPass(listWindow);
    std::map<DWORD, std::string> listed = DebuggerProcesses();
    RefreshPass(listWindow);
    ASSERT_GT(listed.size(), 5u) << "the system's 64-bit processes";
    ASSERT_TRUE(listed.count(helper.info.dwProcessId));
    std::string tree;
    ASSERT_TRUE(Answer(IDM_PROCESS_TREE, IDCANCEL, [&](HWND dialog) {
        HWND view = GetDlgItem(dialog, IDC_TREE);
        tree = TreeLabels(
            view, reinterpret_cast<HTREEITEM>(SendMessageA(view, TVM_GETNEXTITEM, TVGN_ROOT, 0)));
    }));
    for (const auto& process : listed) {
        if (process.second == "winedbg.exe") {
            continue; // ended with its listing
        }
        int row = RowOf(process.first);
        ASSERT_GE(row, 0) << process.second;
        EXPECT_EQ(Lower(CellText(row, 0)), Lower(process.second));
        std::string path = CellText(row, 3);
        EXPECT_EQ(Lower(path.substr(path.rfind('\\') + 1)), Lower(process.second)) << path;
        EXPECT_EQ(path.substr(1, 2), ":\\") << path;
        EXPECT_NE(tree.find(CellText(row, 0) + " (" + std::to_string(process.first) + ")"),
                  std::string::npos)
            << process.second;
    }
    int row = RowOf(helper.info.dwProcessId);
    EXPECT_EQ(Lower(CellText(row, 3)), Lower(BinPath("tvhelper64.exe")));
    EXPECT_EQ(FindNode(helper.info.dwProcessId, KIND_WIN32)->parentProcessId,
              GetCurrentProcessId());
}

TEST_F(List64Test, TerminatePriorityAffinityAndCopyPathWorkOnA64BitRow) {
    CountProcessors(); // as start-up does
    ASSERT_NO_FATAL_FAILURE(StartHelper64("--window=visible --priority=normal"));
    int row = RowOf(helper.info.dwProcessId);
    EXPECT_EQ(CellText(row, 2), ToAnsi("普通"));
    // Priority: high, row 4 of six.
    ASSERT_TRUE(Answer(IDM_PRIORITY, IDOK, [](HWND dialog) {
        SendDlgItemMessageA(dialog, IDC_PRIORITY_COMBO, CB_SETCURSEL, 4, 0);
    }));
    EXPECT_EQ(GetPriorityClass(helper.info.hProcess), static_cast<DWORD>(HIGH_PRIORITY_CLASS));
    EXPECT_EQ(CellText(RowOf(helper.info.dwProcessId), 2), ToAnsi("高"));

    // Affinity: the first processor only, where there is more than one.
    ASSERT_TRUE(Answer(IDM_AFFINITY, IDOK, [](HWND dialog) {
        for (int box = IDC_AFFINITY_CPU1; box < IDC_AFFINITY_CPU1 + 8; box++) {
            CheckDlgButton(dialog, box, box == IDC_AFFINITY_CPU1 ? BST_CHECKED : BST_UNCHECKED);
        }
    }));
    DWORD_PTR processMask = 0, systemMask = 0;
    ASSERT_TRUE(GetProcessAffinityMask(helper.info.hProcess, &processMask, &systemMask));
    EXPECT_EQ(processMask, systemMask > 1 ? 1u : systemMask);

    // Copy path: the 64-bit executable's drive path.
    Command(IDM_COPY_PATH);
    ASSERT_TRUE(OpenClipboard(mainWindow));
    HANDLE data = GetClipboardData(CF_TEXT);
    std::string copied = data ? static_cast<const char*>(GlobalLock(data)) : "";
    if (data) {
        GlobalUnlock(data);
    }
    CloseClipboard();
    EXPECT_EQ(Lower(copied), Lower(BinPath("tvhelper64.exe")));

    // Terminate: the process ends and its row goes gone.
    ASSERT_TRUE(Answer(IDM_TERMINATE, IDOK, [](HWND) {}));
    EXPECT_EQ(WaitForSingleObject(helper.info.hProcess, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(FindNode(helper.info.dwProcessId, KIND_WIN32)->flags & NODE_GONE);
}

TEST_F(List64Test, ThreadsOfA64BitHelperAndNotepadHaveRows) {
    ASSERT_NO_FATAL_FAILURE(StartHelper64("--threads=2,-2 --idlethreads=3"));
    // The 64-bit notepad: "sysnative" leads a 32-bit program past the
    // system folder's redirection to the 32-bit copies; a 64-bit program
    // meets no redirection.
    Child notepad = StartChild(sizeof(void*) == 8 ? "C:\\windows\\system32\\notepad.exe"
                                                  : "C:\\windows\\sysnative\\notepad.exe");
    ASSERT_TRUE(notepad.started);
    WaitForInputIdle(notepad.info.hProcess, 10000);
    HWND listBox = CreateWindowExA(0, "LISTBOX", "", LBS_SORT, 0, 0, 300, 300, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    const struct {
        DWORD processId;
        int atLeast;
    } cases[] = {{helper.info.dwProcessId, 6}, {notepad.info.dwProcessId, 1}};
    for (const auto& c : cases) {
        int count = 0;
        EXPECT_TRUE(PumpUntil(
            [&] {
                SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
                ListThreads(listBox, c.processId);
                count = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));
                return count >= c.atLeast;
            },
            10000))
            << count;
        char row[300] = "";
        SendMessageA(listBox, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(row));
        EXPECT_NE(strchr(row, '\t'), nullptr) << row;
    }
    DestroyWindow(listBox);
    EndChild(notepad);
}

} // namespace
