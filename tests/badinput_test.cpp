// Bad input met through the real windows: a program whose folder and name
// hold double-byte characters ending in the bytes of '\' and '|', process
// names too long for a dialog's title, and processes that end while a
// window reads them.
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/apps.h"
#include "listfixture.h"
#include "res/resource.h"
#include "testutil.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

// "昞寍": two characters of code page 936 whose second bytes are 0x5C ('\')
// and 0x7C ('|').
const std::string tricky = "\x95\x5c\x8c\x7c";

// The first row holding the text in the column, or -1.
int ListRowWith(HWND list, int column, const std::string& text) {
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; row++) {
        if (lstrcmpiA(ListViewText(list, row, column).c_str(), text.c_str()) == 0) {
            return row;
        }
    }
    return -1;
}

int ListRows(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

// The tree item with this label, searched depth first, or null.
HTREEITEM TreeItemWith(HWND tree, HTREEITEM item, const std::string& label) {
    for (; item; item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                                 reinterpret_cast<LPARAM>(item)))) {
        char text[300] = "";
        TVITEMA read = {};
        read.mask = TVIF_TEXT;
        read.hItem = item;
        read.pszText = text;
        read.cchTextMax = sizeof text;
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&read));
        if (text == label) {
            return item;
        }
        HTREEITEM found =
            TreeItemWith(tree,
                         reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD,
                                                                  reinterpret_cast<LPARAM>(item))),
                         label);
        if (found) {
            return found;
        }
    }
    return nullptr;
}

std::string Caption(HWND window) {
    char text[700] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// Whether the text is whole code page 936 text: no character cut in two.
bool ValidGbk(const std::string& text) {
    return text.empty() || MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0) > 0;
}

// The longest start of the text, cut between characters, of at most `room` bytes.
std::string CutBetweenCharacters(const std::string& text, size_t room) {
    size_t end = 0;
    while (end < text.size()) {
        size_t next = end + (IsDBCSLeadByteEx(936, static_cast<BYTE>(text[end])) ? 2 : 1);
        if (next > room) {
            break;
        }
        end = next;
    }
    return text.substr(0, end);
}

// This process's module snapshots through the program's table, with 1500
// more modules after its real ones.
ToolhelpApi realToolhelp;
std::map<HANDLE, int> extraModulesGiven;

HANDLE WINAPI SnapshotWithExtraModules(DWORD flags, DWORD processId) {
    HANDLE snapshot = realToolhelp.createToolhelp32Snapshot(flags, processId);
    extraModulesGiven.erase(snapshot);
    if ((flags & TH32CS_SNAPMODULE) && processId == GetCurrentProcessId()) {
        extraModulesGiven[snapshot] = 0;
    }
    return snapshot;
}

BOOL WINAPI NextWithExtraModules(HANDLE snapshot, MODULEENTRY32* module) {
    if (realToolhelp.module32Next(snapshot, module)) {
        return TRUE;
    }
    auto given = extraModulesGiven.find(snapshot);
    if (given == extraModulesGiven.end() || given->second == 1500) {
        return FALSE;
    }
    int index = given->second++;
    wsprintfA(module->szModule, "x%d.dll", index);
    wsprintfA(module->szExePath, "C:\\x\\x%d.dll", index);
    module->modBaseAddr =
        reinterpret_cast<BYTE*>(static_cast<DWORD_PTR>(0x40000000 + index * 0x10000));
    module->modBaseSize = 0x10000;
    return TRUE;
}

class BadInputTest : public ListFixture {
  protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 936u);
        CreateMainWindowFor(1, false);
        // Filled when the first window of this program was made.
        savedToolhelp = toolhelpApi;
        // Passes run only when the test or a window asks for one.
        SetRefreshTimer(0);
    }
    void TearDown() override {
        for (Child& child : helpers) {
            EndChild(child);
        }
        ListFixture::TearDown();
        toolhelpApi = savedToolhelp;
        if (!program.empty()) {
            DeleteFileA(program.c_str());
            RemoveDirectoryA(folder.c_str());
        }
    }
    // Starts the program with the options and waits until its row is in
    // the main list, selected.
    DWORD Start(const std::string& path, const std::string& options) {
        helpers.reserve(8);
        helpers.push_back(StartChild("\"" + path + "\" " + options));
        Child& child = helpers.back();
        EXPECT_TRUE(child.started);
        DWORD id = child.info.dwProcessId;
        EXPECT_TRUE(PumpUntil(
            [&] {
                SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);
                return SelectProcessById(id) != 0;
            },
            5000));
        return id;
    }
    // The helper copied into a folder "tv昞寍" as "昞寍.exe", started with a
    // window titled "昞寍x昞寍".
    DWORD StartTrickyHelper() {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder = std::string(temp) + "tv" + tricky;
        program = folder + "\\" + tricky + ".exe";
        CreateDirectoryA(folder.c_str(), nullptr);
        EXPECT_TRUE(CopyFileA(BinPath("tvhelper.exe").c_str(), program.c_str(), FALSE));
        DWORD id = Start(program, "--window=visible --title=" + tricky + "x" + tricky);
        HWND window = FindProcessWindow(id, "TvHelperWindow", nullptr, 5000);
        EXPECT_TRUE(PumpUntil([&] { return window && IsWindowVisible(window); }, 5000));
        return id;
    }
    // Ends a helper and waits until it has gone.
    void End(DWORD id) {
        for (Child& child : helpers) {
            if (child.started && child.info.dwProcessId == id) {
                TerminateProcess(child.info.hProcess, 1);
                ASSERT_EQ(WaitForSingleObject(child.info.hProcess, 5000), WAIT_OBJECT_0);
            }
        }
    }
    // Opens a window by its command and runs `action` on it; false when it
    // did not open.
    static bool InWindow(UINT command, const std::function<void(HWND)>& action) {
        return WithDialog([&] { SendMessageA(mainWindow, WM_COMMAND, command, 0); },
                          [&](HWND dialog) {
                              action(dialog);
                              PostMessageA(dialog, WM_CLOSE, 0, 0);
                          });
    }
    std::vector<Child> helpers;
    std::string folder, program;
    ToolhelpApi savedToolhelp;
};

TEST_F(BadInputTest, DoubleByteNamesStayWholeInTheListTheTreeAndTheTitles) {
    DWORD id = StartTrickyHelper();
    int row = RowOf(id);
    ASSERT_GE(row, 0);
    EXPECT_EQ(CellText(row, 0), tricky + ".exe");
    EXPECT_EQ(lstrcmpiA(CellText(row, 3).c_str(), program.c_str()), 0) << CellText(row, 3);

    // The tree's label, and the process id read back from its end.
    SelectProcessById(GetCurrentProcessId());
    bool labelled = false;
    ASSERT_TRUE(InWindow(IDM_PROCESS_TREE, [&](HWND dialog) {
        HWND tree = GetDlgItem(dialog, IDC_TREE);
        HTREEITEM item = TreeItemWith(
            tree, reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)),
            tricky + ".exe (" + std::to_string(id) + ")");
        labelled = item != nullptr;
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    }));
    EXPECT_TRUE(labelled);
    EXPECT_EQ(GetSelectedProcess(listWindow, nullptr, 0), id);

    // Detail titles name it after the prefix.
    std::string threadsCaption, memoryCaption;
    ASSERT_TRUE(InWindow(IDM_THREADS, [&](HWND dialog) { threadsCaption = Caption(dialog); }));
    ASSERT_TRUE(InWindow(IDM_MEMORY, [&](HWND dialog) { memoryCaption = Caption(dialog); }));
    const std::string label = tricky + ".exe (" + std::to_string(id) + ")";
    EXPECT_EQ(threadsCaption, threadsTitlePrefix + label);
    EXPECT_EQ(memoryCaption, memoryTitlePrefix + label);

    // The applications window shows its window's title whole.
    int windows = 0;
    ASSERT_TRUE(InWindow(IDM_APPLICATIONS, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_APPLICATION_LIST);
        windows = ListRowWith(list, 0, tricky + "x" + tricky) >= 0;
    }));
    EXPECT_EQ(windows, 1);
}

TEST_F(BadInputTest, DoubleByteNamesStayWholeInTheModuleWindowsAndTheFilterCaption) {
    DWORD id = StartTrickyHelper();
    std::string moduleName;
    ASSERT_TRUE(InWindow(IDM_MODULES, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_MODULE_LIST);
        int row = ListRowWith(list, 4, program);
        moduleName = row >= 0 ? ListViewText(list, row, 0) : "";
    }));
    EXPECT_EQ(moduleName, tricky + ".exe");

    std::string usageName, usageCount;
    std::vector<DWORD> filtered;
    std::string caption;
    ASSERT_TRUE(InWindow(IDM_MODULE_USAGE, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_USAGE_LIST);
        int row = ListRowWith(list, 4, program);
        ASSERT_GE(row, 0);
        usageName = ListViewText(list, row, 0);
        usageCount = ListViewText(list, row, 3);
        // Arrowed onto from its neighbour, as a user would.
        int from = row > 0 ? row - 1 : row + 1;
        LVITEMA state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, from, reinterpret_cast<LPARAM>(&state));
        PressKey(list, row > from ? VK_DOWN : VK_UP, false);
        PumpUntil([&] { return RowIds() == std::vector<DWORD>{id}; }, 5000);
        filtered = RowIds();
        caption = Caption(mainWindow);
    }));
    EXPECT_EQ(usageName, tricky + ".exe");
    EXPECT_EQ(usageCount, "1");
    EXPECT_EQ(filtered, std::vector<DWORD>{id});
    // "Tolvane -- <path>:<base>"
    EXPECT_EQ(caption.find(std::string(mainTitle) + " -- "), 0u) << caption;
    // The row's path may differ from the started one in case only.
    std::string upperProgram = program;
    CharUpperA(&caption[0]);
    CharUpperA(&upperProgram[0]);
    EXPECT_NE(caption.find(upperProgram + ":"), std::string::npos) << caption;
    SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);
}

TEST_F(BadInputTest, MoreThan1024ModulesReachTheModulesAndUsageWindows) {
    realToolhelp = toolhelpApi;
    toolhelpApi.createToolhelp32Snapshot = SnapshotWithExtraModules;
    toolhelpApi.module32Next = NextWithExtraModules;
    ASSERT_EQ(SelectProcessById(GetCurrentProcessId()), 1);
    int moduleRows = 0, lastModule = -1, usageRow = -1;
    std::string usageCount;
    ASSERT_TRUE(InWindow(IDM_MODULES, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_MODULE_LIST);
        moduleRows = ListRows(list);
        lastModule = ListRowWith(list, 4, "C:\\x\\x1499.dll");
    }));
    ASSERT_TRUE(InWindow(IDM_MODULE_USAGE, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_USAGE_LIST);
        usageRow = ListRowWith(list, 4, "C:\\x\\x1499.dll");
        usageCount = usageRow >= 0 ? ListViewText(list, usageRow, 3) : "";
    }));
    EXPECT_GT(moduleRows, 1500);
    EXPECT_GE(lastModule, 0);
    EXPECT_GE(usageRow, 0);
    EXPECT_EQ(usageCount, "1");
}

TEST_F(BadInputTest, NamesTooLongForATitleAreCutBetweenCharacters) {
    // 259 bytes, the most a name holds: double-byte characters after one
    // single byte, or from the first byte on, so that some character
    // straddles the end of every title's room.
    std::string doubles;
    for (int i = 0; i < 64; i++) {
        doubles += tricky;
    }
    const std::string names[] = {"a" + doubles + "bc", doubles + "abc"};
    const std::string modulesPrefix = ToAnsi("模块 -- ");
    struct Window {
        UINT command;
        const char* prefix;
    } windows[] = {
        {IDM_THREADS, threadsTitlePrefix},          {IDM_MEMORY, memoryTitlePrefix},
        {IDM_STARTUP_INFO, startupInfoTitlePrefix}, {IDM_PRIORITY, priorityTitlePrefix},
        {IDM_AFFINITY, affinityTitlePrefix},        {IDM_MODULES, modulesPrefix.c_str()}};
    for (const std::string& name : names) {
        ASSERT_EQ(name.size(), 259u);
        // This process under the long name: every window can read it.
        SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);
        ProcessNode* node = FindNode(GetCurrentProcessId(), KIND_WIN32);
        ASSERT_NE(node, nullptr);
        // A name is read once, when the process is met: the node takes the
        // long one in its place.
        lstrcpyA(node->name, name.c_str());
        ASSERT_EQ(SelectProcessById(GetCurrentProcessId()), 1);
        // The id as the list shows it: decimal, then hexadecimal.
        hexProcessId = &name == &names[1];
        char id[16];
        wsprintfA(id, hexProcessId ? " (%x)" : " (%u)", GetCurrentProcessId());
        for (const Window& window : windows) {
            SCOPED_TRACE(window.command);
            std::string caption;
            ASSERT_TRUE(InWindow(window.command, [&](HWND dialog) { caption = Caption(dialog); }));
            // The name gives way to the id.
            std::string prefix = window.prefix;
            EXPECT_EQ(caption,
                      prefix + CutBetweenCharacters(name, 257 - prefix.size() - strlen(id)) + id);
            EXPECT_TRUE(ValidGbk(caption));
        }
        // The terminate question holds the whole name, in capitals, and the id.
        std::string question;
        ASSERT_TRUE(InWindow(IDM_TERMINATE, [&](HWND dialog) {
            char text[400] = "";
            GetDlgItemTextA(dialog, IDC_TERMINATE_NAME, text, sizeof text);
            question = text;
        }));
        std::string upper = name;
        CharUpperA(&upper[0]);
        EXPECT_EQ(question, "'" + upper + id + "'?");
    }
    hexProcessId = 0;
}

// The modules window keeps the rows of a process that ended under it and
// says so in its title; the start-up window of an ended process is empty.
TEST_F(BadInputTest, AProcessThatEndsUnderTheModulesWindowKeepsItsRowsAndTheStartUpWindowIsEmpty) {
    DWORD id = Start(BinPath("tvhelper.exe"), "--lifetime=60000");
    int before = -1, afterF5 = -1, afterTimer = -1;
    std::string caption;
    ASSERT_TRUE(InWindow(IDM_MODULES, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_MODULE_LIST);
        before = ListRows(list);
        End(id);
        PressKey(list, VK_F5, false);
        afterF5 = ListRows(list);
        SendMessageA(dialog, WM_TIMER, REFRESH_TIMER_ID, 0);
        afterTimer = ListRows(list);
        caption = Caption(dialog);
    }));
    EXPECT_GT(before, 0);
    EXPECT_EQ(afterF5, before);
    EXPECT_EQ(afterTimer, before);
    EXPECT_NE(caption.find(ToAnsi("[进程已结束]")), std::string::npos) << caption;

    // Its row is still in the main list: the start-up information window
    // opens with nothing to show.
    ASSERT_EQ(SelectProcessById(id), 1);
    std::string commandLine = "?", directory = "?";
    int environment = -1;
    ASSERT_TRUE(InWindow(IDM_STARTUP_INFO, [&](HWND dialog) {
        char text[300] = "";
        GetDlgItemTextA(dialog, IDC_STARTUP_COMMAND_LINE, text, sizeof text);
        commandLine = text;
        GetDlgItemTextA(dialog, IDC_STARTUP_DIRECTORY, text, sizeof text);
        directory = text;
        environment = static_cast<int>(
            SendDlgItemMessageA(dialog, IDC_STARTUP_ENVIRONMENT, LB_GETCOUNT, 0, 0));
    }));
    EXPECT_EQ(commandLine, "");
    EXPECT_EQ(directory, "");
    EXPECT_EQ(environment, 0);
}

TEST_F(BadInputTest, AProcessThatEndsUnderTheUsageTreeAndApplicationsWindowsGoesOnF5) {
    DWORD id = Start(BinPath("tvhelper.exe"), "--window=visible --title=tv-ending");
    std::string label = "tvhelper.exe (" + std::to_string(id) + ")";

    int usageBefore = -1, usageAfter = -1;
    ASSERT_TRUE(InWindow(IDM_MODULE_USAGE, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_USAGE_LIST);
        usageBefore = ListRowWith(list, 4, BinPath("tvhelper.exe"));
        End(id);
        PressKey(list, VK_F5, false);
        usageAfter = ListRowWith(list, 4, BinPath("tvhelper.exe"));
    }));
    EXPECT_GE(usageBefore, 0);
    EXPECT_EQ(usageAfter, -1);

    id = Start(BinPath("tvhelper.exe"), "--window=visible --title=tv-ending");
    label = "tvhelper.exe (" + std::to_string(id) + ")";
    // The tree's F5 runs a pass: the node is marked gone, and stays in the
    // tree as its row stays in the list, until the highlight has run out.
    bool treeBefore = false, treeAfter = false;
    DWORD flagsAfter = 0;
    ASSERT_TRUE(InWindow(IDM_PROCESS_TREE, [&](HWND dialog) {
        HWND tree = GetDlgItem(dialog, IDC_TREE);
        auto listed = [&] {
            return TreeItemWith(tree,
                                reinterpret_cast<HTREEITEM>(
                                    SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)),
                                label) != nullptr;
        };
        treeBefore = listed();
        End(id);
        SendMessageA(tree, WM_KEYDOWN, VK_F5, 0);
        treeAfter = listed();
        flagsAfter = FindNode(id, KIND_WIN32) ? FindNode(id, KIND_WIN32)->flags : 0;
    }));
    EXPECT_TRUE(treeBefore);
    EXPECT_TRUE(treeAfter);
    EXPECT_TRUE(flagsAfter & NODE_GONE);

    // The applications window: a double click on the row of a window that
    // has gone with its process finds no window to bring forward.
    id = Start(BinPath("tvhelper.exe"), "--window=visible --title=tv-ending");
    ASSERT_NE(FindProcessWindow(id, "TvHelperWindow", "tv-ending", 5000), nullptr);
    int appsBefore = -1, appsAfter = -1;
    std::string message;
    ASSERT_TRUE(InWindow(IDM_APPLICATIONS, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_APPLICATION_LIST);
        appsBefore = ListRowWith(list, 0, "tv-ending");
        End(id);
        LVITEMA state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, appsBefore, reinterpret_cast<LPARAM>(&state));
        message = MessageOf([&] {
            NMHDR header = {list, IDC_APPLICATION_LIST, static_cast<UINT>(NM_DBLCLK)};
            SendMessageA(dialog, WM_NOTIFY, IDC_APPLICATION_LIST,
                         reinterpret_cast<LPARAM>(&header));
            PumpMessages(100);
        });
        PressKey(list, VK_F5, false);
        appsAfter = ListRowWith(list, 0, "tv-ending");
    }));
    EXPECT_GE(appsBefore, 0);
    EXPECT_NE(message.find(ToAnsi("能被激活的窗口")), std::string::npos) << message;
    EXPECT_EQ(appsAfter, -1);
}

} // namespace
