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
#include <vector>

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

// One node of a wide version block as a file stores it: length, value
// length (characters for text, bytes otherwise), type, key, value, children.
struct VersionNode {
    std::wstring key;
    std::string value; // the value's bytes as stored
    WORD valueLength;
    WORD type;
    std::vector<VersionNode> children;
    int declaredLength; // the node's length field; -1: its real length
};

VersionNode Text(const wchar_t* key, const std::wstring& text, WORD declaredCharacters) {
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    return {key, bytes, declaredCharacters, 1, {}, -1};
}

void AlignBytes(std::string& bytes) {
    bytes.resize((bytes.size() + 3) & ~3u, '\0');
}

void PutWordAt(std::string& bytes, size_t at, size_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

std::string Serialize(const VersionNode& node) {
    std::string bytes(6, '\0');
    bytes.append(reinterpret_cast<const char*>(node.key.c_str()), (node.key.size() + 1) * 2);
    AlignBytes(bytes);
    bytes += node.value;
    for (const VersionNode& child : node.children) {
        AlignBytes(bytes);
        bytes += Serialize(child);
    }
    PutWordAt(bytes, 0, node.declaredLength >= 0 ? node.declaredLength : bytes.size());
    PutWordAt(bytes, 2, node.valueLength);
    PutWordAt(bytes, 4, node.type);
    return bytes;
}

// A version block with these strings in English (US), Unicode.
VersionNode VersionRoot(std::vector<VersionNode> strings) {
    VersionNode table = {L"040904b0", "", 0, 1, std::move(strings), -1};
    VersionNode stringInfo = {L"StringFileInfo", "", 0, 1, {table}, -1};
    VersionNode translation = {L"Translation", std::string("\x09\x04\xb0\x04", 4), 4, 0, {}, -1};
    VersionNode varInfo = {L"VarFileInfo", "", 0, 1, {translation}, -1};
    return {L"VS_VERSION_INFO", "", 0, 0, {stringInfo, varInfo}, -1};
}

// A copy of a fixture library whose only resource is this version resource.
std::string CraftedLibrary(const char* name, const std::string& resource) {
    std::string path = TempFolder() + name;
    EXPECT_TRUE(CopyFileA(BinPath("vdesc.dll").c_str(), path.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceA(path.c_str(), TRUE);
    EXPECT_NE(update, nullptr);
    EXPECT_TRUE(UpdateResourceA(update, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                const_cast<char*>(resource.data()),
                                static_cast<DWORD>(resource.size())));
    EXPECT_TRUE(EndUpdateResourceA(update, FALSE));
    return path;
}

// The block followed by as many bytes of 'A' again: the system's ANSI copy
// of a value, placed after the block, then lies on those bytes, so a value
// read past its length shows them.
std::string WithFiller(const std::string& block) {
    return block + std::string(block.size() + 64, 'A');
}

// Values whose stored length is not their text's: without a terminator,
// with a zero and more after the text, and of length 0.
std::string OddValuesLibrary() {
    return CraftedLibrary("oddvalues.dll",
                          WithFiller(Serialize(VersionRoot({
                              Text(L"CompanyName", L"Co", 2),
                              Text(L"FileDescription", L"Desc", 4),
                              Text(L"ProductName", std::wstring(L"Prod\0XYZ", 8), 8),
                              Text(L"InternalName", L"Hidden", 0),
                              Text(L"ProductVersion", std::wstring(L"1.2\0", 4), 4),
                              Text(L"LegalCopyright", std::wstring(L"(c)\0junk", 8), 8),
                          }))));
}

TEST(VersionSummaryTest, ValuesEndAtTheirLengthOrAtAZeroInside) {
    std::string odd = OddValuesLibrary();
    EXPECT_EQ(Summary(odd), "Desc 1.2.  (c)");
    // A description of length 0 is missing: the chain goes on to a product
    // name stored without a terminator.
    std::string chain = CraftedLibrary("emptychain.dll", WithFiller(Serialize(VersionRoot({
                                                             Text(L"FileDescription", L"Hidden", 0),
                                                             Text(L"ProductName", L"Only", 4),
                                                         }))));
    EXPECT_EQ(Summary(chain), "Only ");
    DeleteFileA(odd.c_str());
    DeleteFileA(chain.c_str());
}

TEST(VersionSummaryTest, BlockLargerThanItsResourceHasNoVersionInformation) {
    const std::wstring desc(L"Desc", 5); // with its terminator
    std::string block = Serialize(VersionRoot({Text(L"FileDescription", desc, 5)}));
    std::string normal = CraftedLibrary("fits.dll", block);
    EXPECT_EQ(Summary(normal), "Desc ");
    struct Case {
        const char* file;
        size_t rootLength;
    } cases[] = {{"ffff.dll", 0xFFFF}, {"fourtimes.dll", block.size() * 4}};
    for (const Case& c : cases) {
        std::string lying = block;
        PutWordAt(lying, 0, c.rootLength);
        std::string path = CraftedLibrary(c.file, lying);
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(Summary(path), "fallback.exe") << c.file;
        }
        DeleteFileA(path.c_str());
    }
    // A string table that claims more than the block holds.
    VersionNode root = VersionRoot({Text(L"FileDescription", desc, 5)});
    root.children[0].children[0].declaredLength = 0xFFF0;
    std::string inner = CraftedLibrary("inner.dll", Serialize(root));
    EXPECT_EQ(Summary(inner), "fallback.exe");
    DeleteFileA(inner.c_str());
    DeleteFileA(normal.c_str());
}

// A node of the 16-bit layout: length, value length, a key of bytes, the
// value, the children.
std::string AnsiNode(const char* key, const std::string& value,
                     const std::vector<std::string>& children, int declaredLength = -1) {
    std::string bytes(4, '\0');
    bytes.append(key, strlen(key) + 1);
    AlignBytes(bytes);
    bytes += value;
    for (const std::string& child : children) {
        AlignBytes(bytes);
        bytes += child;
    }
    PutWordAt(bytes, 0, declaredLength >= 0 ? declaredLength : bytes.size());
    PutWordAt(bytes, 2, value.size());
    return bytes;
}

std::string AnsiBlock(int tableLength) {
    std::string description = AnsiNode("FileDescription", std::string("Old\0", 4), {});
    std::string table = AnsiNode("040904E4", "", {description}, tableLength);
    std::string translation = AnsiNode("Translation", std::string("\x09\x04\xe4\x04", 4), {});
    return AnsiNode(
        "VS_VERSION_INFO", "",
        {AnsiNode("StringFileInfo", "", {table}), AnsiNode("VarFileInfo", "", {translation})});
}

TEST(VersionSummaryTest, BlockOfThe16BitLayoutIsReadOnlyWhenItsNodesFit) {
    std::string fitting = CraftedLibrary("ansi.dll", AnsiBlock(-1));
    EXPECT_EQ(Summary(fitting), "Old ");
    // A string table that claims more than the block holds: the system
    // would look for its keys past the block's end.
    std::string lying = CraftedLibrary("ansilying.dll", AnsiBlock(0xFFF0));
    EXPECT_EQ(Summary(lying), "fallback.exe");
    DeleteFileA(fitting.c_str());
    DeleteFileA(lying.c_str());
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

TEST_F(VersionWindowTest, ValuesShowTheirTextAndNothingAfterIt) {
    copiedFile = OddValuesLibrary();
    AddSelectedRow(328, copiedFile);
    DialogTexts texts;
    ASSERT_TRUE(ReadWindow(OpenByCommand, &texts));
    EXPECT_EQ(texts[IDC_VER_COMPANY], "Co");
    EXPECT_EQ(texts[IDC_VER_DESCRIPTION], "Desc");
    EXPECT_EQ(texts[IDC_VER_PRODUCT_NAME], "Prod");
    EXPECT_EQ(texts[IDC_VER_INTERNAL_NAME], "");
    EXPECT_EQ(texts[IDC_VER_PRODUCT_VERSION], "1.2");
    // The status bar shows the summary of the selected row.
    char status[300];
    GetWindowTextA(statusWindow, status, sizeof status);
    EXPECT_EQ(std::string(status), "Desc 1.2.  (c)");
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
