// Version resources of crafted and real files: the one-line summary, and the
// version window opened from the main list with its values, language and
// file times.
#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "views/version.h"
#include "testutil.h"

#include <stdio.h>
#include <string.h>
#include <map>
#include <string>

namespace {

const char* const regeditPath = "C:\\windows\\regedit.exe";

std::string Summary(const char* path, const char* fallbackName = "fallback.exe") {
    char text[260];
    memset(text, 'Z', sizeof text);
    GetVersionSummary(path, fallbackName, text, sizeof text);
    text[sizeof text - 1] = 0;
    return text;
}

std::string Summary(const std::string& path) {
    return Summary(path.c_str());
}

std::string Language(WORD languageId) {
    char name[260];
    name[0] = 0;
    VerLanguageNameA(languageId, name, sizeof name);
    return name;
}

std::string TempFolder() {
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    std::string folder = std::string(path) + "tolvane-version\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void WriteTextFile(const std::string& path, const char* text) {
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs(text, file);
    fclose(file);
}

TEST(VersionSummaryTest, DescriptionThenProductVersionAndCopyright) {
    // The product and original names are not used once a description is there.
    EXPECT_EQ(Summary(BinPath("vdesc.dll")), "Desc 1.2.  (c) Me");
}

TEST(VersionSummaryTest, ChainFallsBackFromDescriptionToProductToOriginalName) {
    // The product name ends the chain: the original name after it is not read.
    EXPECT_EQ(Summary(BinPath("vprod.dll")), "Only Prod ");
    // The copyright after the chain is read whatever the chain produced.
    EXPECT_EQ(Summary(BinPath("vorig.dll")), "vorig.dll C");
}

TEST(VersionSummaryTest, EmptyDescriptionCountsAsMissing) {
    EXPECT_EQ(Summary(BinPath("vempty.dll")), "Fallback Prod ");
}

TEST(VersionSummaryTest, DescriptionOf260CharactersIsLeftOut) {
    EXPECT_EQ(Summary(BinPath("vlong.dll")), "Long Prod 3.1.  ");
}

TEST(VersionSummaryTest, OncePieceDoesNotFitNothingLaterIsAppended) {
    const std::string description(200, 'D');
    const std::string version55(55, 'V');
    char text[300];
    struct Case {
        const char* file;
        std::string expected;
    } cases[] = {
        // 201 + 59 bytes leave no room for the terminating zero; the one-byte
        // copyright after the version would fit on its own, but is not appended.
        {"vover.dll", description + " "},
        // 201 + 58 bytes and the zero fill the buffer exactly.
        {"vfit.dll", description + " " + version55 + ".  "},
    };
    for (const Case& c : cases) {
        memset(text, 'Z', sizeof text);
        GetVersionSummary(BinPath(c.file).c_str(), "fallback.exe", text, 260);
        ASSERT_NE(memchr(text, 0, 260), nullptr) << c.file;
        EXPECT_EQ(std::string(text), c.expected) << c.file;
        // Nothing written past the 260 bytes the caller owns.
        EXPECT_EQ(std::string(text + 260, 40), std::string(40, 'Z')) << c.file;
    }
}

TEST(VersionSummaryTest, OnlyTheFirstListedTranslationIsRead) {
    EXPECT_EQ(Summary(BinPath("vtwo.dll")), ToAnsi("第一版 "));
}

TEST(VersionSummaryTest, FilesWithoutVersionFallBackToTheName) {
    std::string plain = TempFolder() + "plain.txt";
    WriteTextFile(plain, "no version here\n");
    EXPECT_EQ(Summary(plain.c_str(), "plain.exe"), "plain.exe");
    EXPECT_EQ(Summary("C:\\no\\such\\file.exe", ToAnsi("进程.exe").c_str()), ToAnsi("进程.exe"));
    EXPECT_EQ(Summary(nullptr, "nopath.exe"), "nopath.exe");
    EXPECT_EQ(Summary("C:\\no\\such\\file.exe", nullptr), "");
    // A file of this prefix that carries no version resource.
    EXPECT_EQ(Summary("C:\\windows\\system32\\notepad.exe", "notepad.exe"), "notepad.exe");
    DeleteFileA(plain.c_str());
}

TEST(VersionSummaryTest, SystemFileOfThePrefixHasASummary) {
    std::string summary = Summary(regeditPath, "regedit.exe");
    EXPECT_NE(summary, "");
    EXPECT_NE(summary, "regedit.exe");
}

// The edits of the version window, by control id.
typedef std::map<int, std::string> DialogTexts;

const int versionEdits[] = {IDC_VER_FILE_VERSION,    IDC_VER_COMPANY,      IDC_VER_INTERNAL_NAME,
                            IDC_VER_PRODUCT_VERSION, IDC_VER_PRODUCT_NAME, IDC_VER_DESCRIPTION,
                            IDC_VER_ORIGINAL_NAME,   IDC_VER_LANGUAGE,     IDC_VER_CREATED,
                            IDC_VER_MODIFIED};

class VersionWindowTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1);
        // The rows merged by hand must outlive the dialogs.
        SetRefreshTimer(0);
    }
    void TearDown() override {
        ListFixture::TearDown();
        if (!copiedFile.empty()) {
            DeleteFileA(copiedFile.c_str());
        }
    }
    static void AddSelectedRow(DWORD processId, const std::string& path) {
        ProcessEntry entry = MakeEntry(processId, "shown.exe", 32, KIND_WIN32, 0, path.c_str());
        ASSERT_EQ(MergeEntry(listWindow, &entry), 1);
        ASSERT_EQ(SelectProcessById(processId), 1);
    }
    static void OpenByCommand() {
        SendMessageA(mainWindow, WM_COMMAND, IDM_VERSION, 0);
    }
    static void OpenByDoubleClick() {
        SendMessageA(mainWindow, MSG_LIST_EVENT, static_cast<WPARAM>(NM_DBLCLK), IDC_LIST_MAIN);
    }
    // Opens the window, reads every edit and closes it with its button.
    // Returns whether a window opened.
    bool ReadWindow(void (*open)(), DialogTexts* texts) {
        return WithDialog(open, [&](HWND dialog) {
            char caption[64];
            GetWindowTextA(dialog, caption, sizeof caption);
            dialogCaption = caption;
            for (int id : versionEdits) {
                char text[600];
                text[0] = 0;
                GetDlgItemTextA(dialog, id, text, sizeof text);
                (*texts)[id] = text;
            }
            SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        });
    }
    std::string dialogCaption;
    std::string copiedFile;
};

TEST_F(VersionWindowTest, CommandShowsEveryValueOfTheSelectedRowsFile) {
    std::string path = BinPath("vdesc.dll");
    AddSelectedRow(321, path);
    DialogTexts texts;
    ASSERT_TRUE(ReadWindow(OpenByCommand, &texts));
    EXPECT_EQ(dialogCaption, ToAnsi("版本"));
    EXPECT_EQ(selectedProcessId, 321u);
    EXPECT_EQ(std::string(detailText), path);
    EXPECT_EQ(texts[IDC_VER_FILE_VERSION], "1.2.3.4");
    EXPECT_EQ(texts[IDC_VER_COMPANY], ToAnsi("测试公司"));
    EXPECT_EQ(texts[IDC_VER_INTERNAL_NAME], "vdesc");
    EXPECT_EQ(texts[IDC_VER_PRODUCT_VERSION], "1.2");
    EXPECT_EQ(texts[IDC_VER_PRODUCT_NAME], "Prod");
    EXPECT_EQ(texts[IDC_VER_DESCRIPTION], "Desc");
    EXPECT_EQ(texts[IDC_VER_ORIGINAL_NAME], "vdesc.dll");
    EXPECT_EQ(texts[IDC_VER_LANGUAGE], Language(0x0409));
    EXPECT_NE(texts[IDC_VER_CREATED], "");
    EXPECT_NE(texts[IDC_VER_MODIFIED], "");
}

TEST_F(VersionWindowTest, FirstListedTranslationGivesValuesAndLanguage) {
    ASSERT_NE(Language(0x0804), Language(0x0409));
    AddSelectedRow(322, BinPath("vtwo.dll"));
    DialogTexts texts;
    ASSERT_TRUE(ReadWindow(OpenByCommand, &texts));
    EXPECT_EQ(texts[IDC_VER_DESCRIPTION], ToAnsi("第一版"));
    EXPECT_EQ(texts[IDC_VER_COMPANY], ToAnsi("甲公司"));
    EXPECT_EQ(texts[IDC_VER_FILE_VERSION], "1.0");
    // Only the second translation has an internal name.
    EXPECT_EQ(texts[IDC_VER_INTERNAL_NAME], "");
    EXPECT_EQ(texts[IDC_VER_LANGUAGE], Language(0x0804));
}

TEST_F(VersionWindowTest, FileTimesInTheUsersShortDateAndTimeWithoutSeconds) {
    copiedFile = TempFolder() + "timed.dll";
    ASSERT_TRUE(CopyFileA(BinPath("vdesc.dll").c_str(), copiedFile.c_str(), FALSE));
    // Known write and access times, the seconds and the dates all different.
    SYSTEMTIME written = {2011, 12, 0, 13, 14, 15, 16, 0};
    SYSTEMTIME accessed = {1999, 2, 0, 3, 4, 5, 6, 0};
    FILETIME localWritten, localAccessed, writeTime, accessTime;
    SystemTimeToFileTime(&written, &localWritten);
    LocalFileTimeToFileTime(&localWritten, &writeTime);
    SystemTimeToFileTime(&accessed, &localAccessed);
    LocalFileTimeToFileTime(&localAccessed, &accessTime);
    HANDLE file = CreateFileA(copiedFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetFileTime(file, nullptr, &accessTime, &writeTime));
    FILETIME creationTime;
    ASSERT_TRUE(GetFileTime(file, &creationTime, nullptr, nullptr));
    CloseHandle(file);

    auto expectedText = [](const FILETIME& time) {
        FILETIME local;
        SYSTEMTIME system;
        FileTimeToLocalFileTime(&time, &local);
        FileTimeToSystemTime(&local, &system);
        char date[64], clock[64];
        GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &system, nullptr, date, sizeof date);
        GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &system, nullptr, clock, sizeof clock);
        return std::string(date) + " " + clock;
    };
    std::string modified = expectedText(writeTime);
    ASSERT_EQ(modified.find("16"), std::string::npos) << modified;

    AddSelectedRow(323, copiedFile);
    DialogTexts texts;
    ASSERT_TRUE(ReadWindow(OpenByDoubleClick, &texts));
    EXPECT_EQ(texts[IDC_VER_MODIFIED], modified);
    // This file system may keep no separate creation time; whatever the file
    // reports is shown, and never the access time.
    EXPECT_EQ(texts[IDC_VER_CREATED], expectedText(creationTime));
    EXPECT_NE(texts[IDC_VER_CREATED], expectedText(accessTime));
}

TEST_F(VersionWindowTest, FileThatCannotBeOpenedLeavesEveryEditEmpty) {
    AddSelectedRow(324, "C:\\no\\such\\program.exe");
    DialogTexts texts;
    ASSERT_TRUE(ReadWindow(OpenByCommand, &texts));
    for (int id : versionEdits) {
        EXPECT_EQ(texts[id], "") << id;
    }
}

TEST_F(VersionWindowTest, DoubleClickOpensForTheSelectedRowAndNothingOpensWithoutOne) {
    ProcessEntry entry =
        MakeEntry(325, "unselected.exe", 32, KIND_WIN32, 0, BinPath("vdesc.dll").c_str());
    ASSERT_EQ(MergeEntry(listWindow, &entry), 1);
    DialogTexts texts;
    EXPECT_FALSE(ReadWindow(OpenByCommand, &texts));
    EXPECT_FALSE(ReadWindow(OpenByDoubleClick, &texts));

    AddSelectedRow(326, BinPath("vprod.dll"));
    ASSERT_TRUE(ReadWindow(OpenByDoubleClick, &texts));
    EXPECT_EQ(texts[IDC_VER_PRODUCT_NAME], "Only Prod");
    EXPECT_EQ(texts[IDC_VER_DESCRIPTION], "");
    EXPECT_EQ(selectedProcessId, 326u);
}

TEST_F(VersionWindowTest, SystemFileOfThePrefixShowsItsFileVersion) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(regeditPath, &handle);
    ASSERT_NE(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(regeditPath, handle, size, &block[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\", reinterpret_cast<void**>(&fixed), &length));
    char version[64];
    sprintf(version, "%u.%u.%u.%u", static_cast<unsigned>(HIWORD(fixed->dwFileVersionMS)),
            static_cast<unsigned>(LOWORD(fixed->dwFileVersionMS)),
            static_cast<unsigned>(HIWORD(fixed->dwFileVersionLS)),
            static_cast<unsigned>(LOWORD(fixed->dwFileVersionLS)));

    AddSelectedRow(327, regeditPath);
    DialogTexts texts;
    ASSERT_TRUE(ReadWindow(OpenByCommand, &texts));
    EXPECT_EQ(texts[IDC_VER_FILE_VERSION], version);
    EXPECT_NE(texts[IDC_VER_LANGUAGE], "");
    EXPECT_NE(texts[IDC_VER_MODIFIED], "");
}

} // namespace
