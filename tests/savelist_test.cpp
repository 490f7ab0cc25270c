// Saving lists through the real Save As dialog: the main list's lines, the
// rows of a list box through the shared save file, the dialog's proposal and
// filters, and the splitting of the filter text.
#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "views/savelist.h"
#include "testutil.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

// The file-name box of the Save As dialog: a combo box (cmb13) in the
// Explorer-style dialog, an edit (edt1) in the old one.
HWND FileNameBox(HWND dialog) {
    HWND box = GetDlgItem(dialog, 0x47C);
    if (!box) {
        box = GetDlgItem(dialog, 0x480);
    }
    return box;
}

void PressButton(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Types a full path into the dialog and saves.
std::function<void(HWND)> SaveAs(const std::string& path) {
    return [path](HWND dialog) {
        HWND box = FileNameBox(dialog);
        ASSERT_NE(box, nullptr);
        SetWindowTextA(box, path.c_str());
        PressButton(dialog, IDOK);
    };
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class SaveListTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1);
        // The rows merged by hand must outlive the dialogs.
        SetRefreshTimer(0);
        char path[MAX_PATH];
        GetTempPathA(sizeof path, path);
        folder = std::string(path) + "tolvane-save\\";
        CreateDirectoryA(folder.c_str(), nullptr);
        RemoveFiles();
        chosenFilePath[0] = 0;
    }
    void TearDown() override {
        CloseSaveFile();
        RemoveFiles();
        ListFixture::TearDown();
    }
    void RemoveFiles() {
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA((folder + "*").c_str(), &data);
        if (search == INVALID_HANDLE_VALUE) {
            return;
        }
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileA((folder + data.cFileName).c_str());
            }
        } while (FindNextFileA(search, &data));
        FindClose(search);
    }
    static void Merge(const ProcessEntry& entry) {
        ASSERT_EQ(MergeEntry(listWindow, &entry), 1);
    }
    static void SaveCommand() {
        SendMessageA(mainWindow, WM_COMMAND, IDM_SAVE_LIST, 0);
    }
    // The accelerator, pressed with the focus in the list.
    static void PressF2() {
        HACCEL accelerators = LoadAcceleratorsA(appInstance, mainClassName);
        ASSERT_NE(accelerators, nullptr);
        MSG message;
        memset(&message, 0, sizeof message);
        message.hwnd = listWindow;
        message.message = WM_KEYDOWN;
        message.wParam = VK_F2;
        message.lParam = 0x003C0001;
        EXPECT_TRUE(TranslateMainAccelerator(accelerators, &message));
    }
    std::string folder;
};

TEST_F(SaveListTest, LinesFollowTheShownOrderWithSummariesAndEndInCrLf) {
    std::string described = BinPath("vdesc.dll");
    std::string product = BinPath("vprod.dll");
    Merge(MakeEntry(30, "beta.exe", 32, KIND_WIN32, 0, described.c_str()));
    Merge(MakeEntry(4000, "alpha.exe", 32, KIND_WIN32, 0, "C:\\no\\such\\alpha.exe"));
    Merge(MakeEntry(7, ToAnsi("甲.exe").c_str(), 32, KIND_WIN32, 0, product.c_str()));
    // Ids descending: neither the order of merging nor the order of names.
    ClickHeader(1);
    ClickHeader(1);
    ASSERT_EQ(RowIds(), (std::vector<DWORD>{4000, 30, 7}));

    std::string path = folder + "list.txt";
    ASSERT_TRUE(WithDialog(SaveCommand, SaveAs(path)));
    EXPECT_EQ(ReadFileBytes(path), "alpha.exe\t4000\tC:\\no\\such\\alpha.exe\talpha.exe\r\n"
                                   "beta.exe\t30\t" +
                                       described + "\tDesc 1.2.  (c) Me\r\n" + ToAnsi("甲.exe") +
                                       "\t7\t" + product + "\tOnly Prod \r\n");
    EXPECT_EQ(std::string(chosenFilePath), path);
}

TEST_F(SaveListTest, F2SavesWithHexIdsAndWowTasksWithoutParentheses) {
    SendMessageA(mainWindow, WM_COMMAND, IDM_HEX_IDS, 0);
    ASSERT_EQ(hexProcessId, 1);
    Merge(MakeEntry(3054, "host.exe", 32, KIND_WIN32, 0, "C:\\no\\such\\host.exe"));
    Merge(MakeEntry(47, "  task.exe", 0, KIND_WOW_TASK, 3054, "C:\\no\\such\\task.exe"));
    int taskRow = RowOf(47, KIND_WOW_TASK);
    ASSERT_NE(taskRow, -1);
    EXPECT_EQ(CellText(taskRow, 1), "(2f)");

    // The accelerator, pressed with the focus in the list. A name without an
    // extension gets the default one.
    ASSERT_TRUE(WithDialog(PressF2, SaveAs(folder + "viakey")));

    std::string lines;
    for (DWORD id : RowIds()) {
        lines += id == 47 ? "  task.exe\t2f\tC:\\no\\such\\task.exe\t  task.exe\r\n"
                          : "host.exe\tbee\tC:\\no\\such\\host.exe\thost.exe\r\n";
    }
    EXPECT_EQ(ReadFileBytes(folder + "viakey.txt"), lines);
    EXPECT_FALSE(FileExists(folder + "viakey"));
}

TEST_F(SaveListTest, EmptyListGivesAnEmptyFile) {
    std::string path = folder + "empty.txt";
    ASSERT_TRUE(WithDialog(SaveCommand, SaveAs(path)));
    EXPECT_EQ(ReadFileBytes(path), "");
}

TEST_F(SaveListTest, DialogProposesTheLastNameListsTheFiltersAndCancelWritesNothing) {
    Merge(MakeEntry(5, "a.exe"));
    ASSERT_TRUE(WithDialog(SaveCommand, SaveAs(folder + "proposed.txt")));
    DeleteFileA((folder + "proposed.txt").c_str());
    // What another file dialog left in the shared buffer is not proposed.
    strcpy(chosenFilePath, "C:\\p\\x.dsw");
    std::string proposal;
    std::vector<std::string> filters;
    std::string typed = folder + "cancelled.txt";
    ASSERT_TRUE(WithDialog(SaveCommand, [&](HWND dialog) {
        proposal = WindowText(FileNameBox(dialog));
        // The file-type box (cmb1) lists the names of the filter pairs.
        HWND types = GetDlgItem(dialog, 0x470);
        int count = static_cast<int>(SendMessageA(types, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; i++) {
            char text[MAX_PATH];
            text[0] = 0;
            SendMessageA(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            filters.push_back(text);
        }
        SetWindowTextA(FileNameBox(dialog), typed.c_str());
        PressButton(dialog, IDCANCEL);
    }));
    EXPECT_EQ(lstrcmpiA(proposal.c_str(), (folder + "proposed.txt").c_str()) == 0 ||
                  proposal == "proposed.txt",
              true)
        << proposal;
    EXPECT_EQ(filters,
              (std::vector<std::string>{ToAnsi("文本文档 (*.txt)"), ToAnsi("所有文件 (*.*)")}));
    EXPECT_FALSE(FileExists(typed));
    EXPECT_FALSE(FileExists(folder + "proposed.txt"));
}

TEST_F(SaveListTest, ListBoxRowsGoThroughTheSharedFileWhichIsClosedAfterwards) {
    HWND listBox = CreateWindowA("LISTBOX", "", WS_CHILD | WS_VISIBLE | LBS_HASSTRINGS, 0, 0, 200,
                                 100, mainWindow, nullptr, appInstance, nullptr);
    ASSERT_NE(listBox, nullptr);
    std::string rows[] = {"first\tcolumn", ToAnsi("第二行"), std::string(2000, 'L'), "last"};
    for (const std::string& row : rows) {
        SendMessageA(listBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    }
    std::string path = folder + "rows.txt";
    ASSERT_TRUE(WithDialog([&] { SaveListBoxRows(mainWindow, listBox); }, SaveAs(path)));
    // A row too long for the row buffer is left out.
    EXPECT_EQ(ReadFileBytes(path), "first\tcolumn\r\n" + ToAnsi("第二行") + "\r\nlast\r\n");
    EXPECT_EQ(CurrentSaveFile(), nullptr);

    // Cancelled: nothing is written and no file stays open.
    std::string cancelled = folder + "never.txt";
    ASSERT_TRUE(WithDialog([&] { SaveListBoxRows(mainWindow, listBox); },
                           [&](HWND dialog) {
                               SetWindowTextA(FileNameBox(dialog), cancelled.c_str());
                               PressButton(dialog, IDCANCEL);
                           }));
    EXPECT_FALSE(FileExists(cancelled));
    EXPECT_EQ(CurrentSaveFile(), nullptr);
    DestroyWindow(listBox);
}

TEST_F(SaveListTest, OpeningTheSaveFileAgainClosesTheOneOpenBefore) {
    std::string path = folder + "shared.txt";
    FILE* opened = nullptr;
    ASSERT_TRUE(WithDialog([&] { opened = OpenSaveFile(mainWindow); }, SaveAs(path)));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(CurrentSaveFile(), opened);
    fputs("one\n", opened);

    FILE* again = opened;
    ASSERT_TRUE(WithDialog([&] { again = OpenSaveFile(mainWindow); },
                           [](HWND dialog) { PressButton(dialog, IDCANCEL); }));
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(CurrentSaveFile(), nullptr);
    EXPECT_EQ(ReadFileBytes(path), "one\r\n");
}

// A message box's caption and texts, then its OK button.
struct ShownBox {
    std::string caption;
    std::string texts;
};

BOOL CALLBACK CollectTexts(HWND child, LPARAM parameter) {
    *reinterpret_cast<std::string*>(parameter) += WindowText(child) + "\n";
    return TRUE;
}

std::function<void(HWND)> ReadAndClose(ShownBox* box) {
    return [box](HWND dialog) {
        box->caption = WindowText(dialog);
        EnumChildWindows(dialog, CollectTexts, reinterpret_cast<LPARAM>(&box->texts));
        PressButton(dialog, IDOK);
    };
}

// The names of the files in a folder.
std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (data.cFileName[0] != '.') {
            names.push_back(data.cFileName);
        }
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return names;
}

// The system's text for an error, as the program shows it.
std::string SystemText(DWORD error) {
    char text[512];
    text[0] = 0;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
    return text;
}

TEST_F(SaveListTest, ReadOnlyTargetKeepsItsTextAndTheSystemSaysWhy) {
    Merge(MakeEntry(5, "a.exe"));
    std::string path = folder + "readonly.txt";
    std::string old(3900, 'o');
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fputs(old.c_str(), file);
    fclose(file);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));

    // F2, the file chosen, the overwrite confirmed: then the message.
    ShownBox box;
    size_t shown =
        WithDialogs(PressF2, {SaveAs(path), [](HWND prompt) { PressButton(prompt, IDYES); },
                              ReadAndClose(&box)});
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_EQ(shown, 3u) << "no message";
    EXPECT_EQ(box.caption, mainClassName);
    EXPECT_NE(box.texts.find(path), std::string::npos) << box.texts;
    EXPECT_NE(box.texts.find(SystemText(ERROR_ACCESS_DENIED)), std::string::npos) << box.texts;
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"readonly.txt"});
}

TEST_F(SaveListTest, FolderInPlaceOfTheChosenFileStaysAndTheSystemSaysWhy) {
    Merge(MakeEntry(5, "a.exe"));
    std::string path = folder + "became-folder.txt";
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fclose(file);
    // While the user confirms the overwrite, the file becomes a folder.
    ShownBox box;
    size_t shown = WithDialogs(PressF2, {SaveAs(path),
                                         [&](HWND prompt) {
                                             DeleteFileA(path.c_str());
                                             CreateDirectoryA(path.c_str(), nullptr);
                                             PressButton(prompt, IDYES);
                                         },
                                         ReadAndClose(&box)});
    DWORD attributes = GetFileAttributesA(path.c_str());
    RemoveDirectoryA(path.c_str());
    ASSERT_EQ(shown, 3u) << "no message";
    EXPECT_NE(box.texts.find(path), std::string::npos) << box.texts;
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{});
}

TEST_F(SaveListTest, SharedSaveFileReplacesItsTargetOnlyWhenClosedAndReportsAMissingFolder) {
    std::string path = folder + "shared-target.txt";
    FILE* old = fopen(path.c_str(), "w");
    ASSERT_NE(old, nullptr);
    fputs("before\n", old);
    fclose(old);
    FILE* file = StartSaveFile(mainWindow, path.c_str());
    ASSERT_NE(file, nullptr);
    fputs("after\n", file);
    fflush(file);
    // Until it is closed the target keeps its old text.
    EXPECT_EQ(ReadFileBytes(path), "before\r\n");
    EXPECT_EQ(CloseSaveFile(), 1);
    EXPECT_EQ(ReadFileBytes(path), "after\r\n");
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"shared-target.txt"});

    std::string missing = folder + "no-such-folder\\list.txt";
    ShownBox box;
    FILE* none = nullptr;
    ASSERT_TRUE(
        WithDialog([&] { none = StartSaveFile(mainWindow, missing.c_str()); }, ReadAndClose(&box)));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(CurrentSaveFile(), nullptr);
    EXPECT_NE(box.texts.find(missing), std::string::npos) << box.texts;
    EXPECT_EQ(CloseSaveFile(), 0);
}

// A volume that fills up part-way through a save: the test entry
// savelist_limited_test runs this test in a process that may not write
// files past 64 KiB, and names that limit in TOLVANE_FILE_LIMIT. Elsewhere
// the test is skipped.
TEST_F(SaveListTest, WriteThatFailsPartWayLeavesTheOldFileAndTheSystemSaysWhy) {
    char limit[32];
    if (!GetEnvironmentVariableA("TOLVANE_FILE_LIMIT", limit, sizeof limit)) {
        GTEST_SKIP() << "needs the file size limit of savelist_limited_test";
    }
    DWORD limitBytes = strtoul(limit, nullptr, 10);
    std::string path = folder + "full.txt";
    // The limit is in force: the old list takes more than half of it, the
    // new one would take more than all of it.
    std::string probe = folder + "probe.bin";
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string big(limitBytes + 4096, 'p');
    DWORD written = 0;
    BOOL wrote = WriteFile(file, big.data(), static_cast<DWORD>(big.size()), &written, nullptr);
    CloseHandle(file);
    DeleteFileA(probe.c_str());
    ASSERT_FALSE(wrote && written == big.size()) << "the file size limit is not in force";

    std::string old;
    while (old.size() < limitBytes / 2 + 100) {
        old += "old.exe\t1\tC:\\old\\old.exe\told.exe\r\n";
    }
    FILE* oldFile = fopen(path.c_str(), "wb");
    ASSERT_NE(oldFile, nullptr);
    fwrite(old.data(), 1, old.size(), oldFile);
    fclose(oldFile);
    const std::string longPath = "C:\\no\\such\\" + std::string(230, 'p') + ".exe";
    for (DWORD id = 1; id * 260 < limitBytes * 2; id++) {
        Merge(MakeEntry(id, "many.exe", 32, KIND_WIN32, 0, longPath.c_str()));
    }

    ShownBox box;
    size_t shown =
        WithDialogs(PressF2, {SaveAs(path), [](HWND prompt) { PressButton(prompt, IDYES); },
                              ReadAndClose(&box)});
    ASSERT_EQ(shown, 3u) << "no message";
    EXPECT_NE(box.texts.find(path), std::string::npos) << box.texts;
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"full.txt"});
}

// Whether every lead byte of code page 936 in the text is followed by a
// byte that can end a double-byte character.
bool IsWholeGbk(const std::string& text) {
    for (size_t i = 0; i < text.size(); i++) {
        if (!IsDBCSLeadByteEx(936, static_cast<BYTE>(text[i]))) {
            continue;
        }
        BYTE trail = i + 1 < text.size() ? static_cast<BYTE>(text[i + 1]) : 0;
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF) {
            return false;
        }
        i++;
    }
    return true;
}

// The longest start of `text` of at most `bytes` bytes that ends between
// two characters.
std::string WholeCharacters(const std::string& text, size_t bytes) {
    size_t end = 0;
    while (end < text.size()) {
        size_t next = end + (IsDBCSLeadByteEx(936, static_cast<BYTE>(text[end])) ? 2 : 1);
        if (next > bytes) {
            break;
        }
        end = next;
    }
    return text.substr(0, end);
}

TEST_F(SaveListTest, PathLongerThanTheBufferIsCutBetweenCharactersAndSavesAsValidGbk) {
    // Two folders of Chinese names: past 259 bytes in code page 936, well
    // under the system's limit in characters. The 259th and 260th bytes form
    // one character, which does not fit the path buffer.
    std::string wide60;
    for (int i = 0; i < 60; i++) {
        wide60 += ToAnsi("长");
    }
    std::string first = folder + wide60;
    std::string exe = first + "\\" + wide60 + "\\" + ToAnsi("助手.exe");
    if (WholeCharacters(exe, 258).size() != 258) {
        first = folder + "x" + wide60;
        exe = first + "\\" + wide60 + "\\" + ToAnsi("助手.exe");
    }
    ASSERT_EQ(WholeCharacters(exe, 258).size(), 258u);
    ASSERT_GT(exe.size(), 262u);
    ASSERT_LT(MultiByteToWideChar(CP_ACP, 0, exe.c_str(), -1, nullptr, 0), MAX_PATH);
    std::string second = exe.substr(0, exe.rfind('\\'));
    ASSERT_TRUE(CreateDirectoryA(first.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(second.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(BinPath("tvhelper.exe").c_str(), exe.c_str(), FALSE));
    Child helper = StartChild("\"" + exe + "\" --lifetime=60000");
    ASSERT_TRUE(helper.started);
    WaitForInputIdle(helper.info.hProcess, 10000);

    ntApi = savedNtApi;
    RefreshPass(listWindow);
    CompleteProcessList(listWindow);
    int row = RowOf(helper.info.dwProcessId);
    std::string cell = row == -1 ? "<no row>" : CellText(row, 3);
    std::string path = folder + "long.txt";
    bool saved = WithDialog(PressF2, SaveAs(path));
    EndChild(helper);
    DeleteFileA(exe.c_str());
    RemoveDirectoryA(second.c_str());
    RemoveDirectoryA(first.c_str());

    EXPECT_EQ(cell, WholeCharacters(exe, 259));
    ASSERT_TRUE(saved);
    std::string bytes = ReadFileBytes(path);
    EXPECT_NE(bytes.find("\t" + WholeCharacters(exe, 259) + "\t"), std::string::npos);
    EXPECT_TRUE(IsWholeGbk(bytes));
}

TEST(SplitFilterTextTest, SeparatorsBecomeZerosAndDoubleByteCharactersStayWhole) {
    // 0x81 0x7C is one GBK character whose second byte is '|'.
    ASSERT_TRUE(IsDBCSLeadByte(0x81));
    char text[] = "A\x81\x7C|*.x|\x81\x7C\x81\x7C|";
    SplitFilterText(text);
    const char expected[] = "A\x81\x7C\0*.x\0\x81\x7C\x81\x7C\0";
    EXPECT_EQ(std::string(text, sizeof text), std::string(expected, sizeof expected));

    // A lead byte cut off by the end of the text: the scan stops at the end.
    char cut[] = {'x', '|', '\x81', 0, '|', 0};
    SplitFilterText(cut);
    const char cutExpected[] = {'x', 0, '\x81', 0, '|', 0};
    EXPECT_EQ(std::string(cut, sizeof cut), std::string(cutExpected, sizeof cutExpected));
}

} // namespace
