// The debugger launch on a real helper process. The configured debugger is
// the helper in its recording mode, which writes the command line it was
// started with; the test prefix's settings are put back afterwards.
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/uiops.h"
#include "details/debugger.h"
#include "listfixture.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "testutil.h"
#include "views/savelist.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

// The "Debugger" value of the system's AeDebug key, kept to be put back.
struct SavedValue {
    bool present = false;
    DWORD type = 0;
    std::string data;
};

// `view` picks the registry's 32-bit or 64-bit view; 0 is this program's.
SavedValue ReadAeDebug(REGSAM view = 0) {
    SavedValue saved;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, AEDEBUG_KEY, 0, KEY_QUERY_VALUE | view, &key) !=
        ERROR_SUCCESS) {
        return saved;
    }
    char data[1024];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, "Debugger", nullptr, &saved.type, reinterpret_cast<BYTE*>(data),
                         &size) == ERROR_SUCCESS) {
        saved.present = true;
        saved.data.assign(data, size);
    }
    RegCloseKey(key);
    return saved;
}

void WriteAeDebug(const SavedValue& value, REGSAM view = 0) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, AEDEBUG_KEY, 0, nullptr, 0, KEY_ALL_ACCESS | view,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (value.present) {
        RegSetValueExA(key, "Debugger", 0, value.type,
                       reinterpret_cast<const BYTE*>(value.data.data()),
                       static_cast<DWORD>(value.data.size()));
    } else {
        RegDeleteValueA(key, "Debugger");
    }
    RegCloseKey(key);
}

void SetRegistryTemplate(const std::string& text, REGSAM view = 0) {
    SavedValue value;
    value.present = true;
    value.type = REG_SZ;
    value.data = text + '\0';
    WriteAeDebug(value, view);
}

class DebuggerTest : public ListFixture {
  protected:
    void SetUp() override {
        savedAeDebug = ReadAeDebug();
        memcpy(savedProjects, recentProjects, sizeof savedProjects);
        memset(recentProjects, 0, sizeof recentProjects);
        recentProjectsChanged = 0;
        char folder[MAX_PATH];
        GetTempPathA(sizeof folder, folder);
        record = std::string(folder) + "tolvane-debugger.txt";
        DeleteFileA(record.c_str());
        recorder = "\"" + BinPath("tvhelper.exe") + "\" --record=" + record;
        CreateMainWindowFor(1, false);
        target = StartChild("\"" + BinPath("tvhelper.exe") + "\" --lifetime=60000");
        ASSERT_TRUE(target.started);
        ASSERT_TRUE(PumpUntil(
            [&] {
                SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);
                return SelectProcessById(target.info.dwProcessId) != 0;
            },
            5000));
        GetSelectedProcess(listWindow, targetPath, sizeof targetPath);
    }
    void TearDown() override {
        EndChild(target);
        WriteAeDebug(savedAeDebug);
        WriteProfileStringA("AeDebug", "Debugger", nullptr);
        memcpy(recentProjects, savedProjects, sizeof savedProjects);
        recentProjectsChanged = 0;
        DeleteFileA(record.c_str());
        ListFixture::TearDown();
    }
    // Runs the debug command; `action` drives the attach-debugger dialog.
    bool Debug(const std::function<void(HWND)>& action) {
        return WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_DEBUG, 0); }, action);
    }
    // Runs the debug command and answers the dialog with the project path.
    std::string DebugWithProject(const std::string& project) {
        DeleteFileA(record.c_str());
        EXPECT_TRUE(Debug([&](HWND dialog) {
            char shown[260];
            GetDlgItemTextA(dialog, IDC_PROJECT_PATH, shown, sizeof shown);
            proposed = shown;
            GetDlgItemTextA(dialog, IDC_MODULE_PATH, shown, sizeof shown);
            modulePath = shown;
            SetDlgItemTextA(dialog, IDC_PROJECT_PATH, project.c_str());
            SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        }));
        return Recorded();
    }
    // The command line the recording helper received, or "" when it was not started.
    std::string Recorded() {
        std::string text;
        PumpUntil(
            [&] {
                text = ReadFileBytes(record);
                return text != "<missing>" && !text.empty();
            },
            5000);
        return text == "<missing>" ? "" : text;
    }
    std::string Pid() {
        return std::to_string(target.info.dwProcessId);
    }

    SavedValue savedAeDebug;
    char savedProjects[RECENT_PROJECT_COUNT][260];
    std::string record, recorder;
    Child target = {};
    char targetPath[260] = "";
    std::string proposed, modulePath;
};

TEST(DebuggerTemplate, IsCutAfterItsFirstPlaceholderAndFormattedOnlyForAnInteger) {
    struct Case {
        const char* text;
        const char* cut;
        int usable;
    } cases[] = {
        {"dbg -p %ld -e %ld -g", "dbg -p %ld", 1},
        {"dbg -p %d", "dbg -p %d", 1},
        {"dbg -p %lx,%u", "dbg -p %lx,%u", 0}, // two placeholders in one word
        {"dbg -p %s", "dbg -p %s", 0},
        {"dbg -p %", "dbg -p %", 0},
        {"dbg -p %n -e", "dbg -p %n", 0},
        {"dbg -p %lld", "dbg -p %lld", 0},
        {"dbg --attach", "dbg --attach", 1},
        // Bytes of 0x80 and above end the placeholder.
        {"dbg -p %X\xb5\xf7\xca\xd4", "dbg -p %X", 1},
        // A '%' right after a lead byte is no trail byte: the formatter sees it.
        {"dbg \xd0%s", "dbg \xd0%s", 0},
    };
    for (const Case& c : cases) {
        char text[DEBUGGER_TEMPLATE_SIZE];
        strcpy(text, c.text);
        EXPECT_EQ(CutDebuggerTemplate(text), c.usable) << c.text;
        EXPECT_STREQ(text, c.cut);
    }
}

TEST_F(DebuggerTest, StartsTheDebuggerWithTheProcessIdAndTheChosenProject) {
    SetRegistryTemplate(recorder + " -p %ld -e %ld -g");
    EXPECT_EQ(DebugWithProject(""), recorder + " -p " + Pid());
    EXPECT_EQ(proposed, "");
    EXPECT_EQ(modulePath, targetPath);
    EXPECT_EQ(recentProjectsChanged, 0);

    EXPECT_EQ(DebugWithProject("C:\\p\\x.dsw"), recorder + " -p " + Pid() + " C:\\p\\x.dsw");
    EXPECT_STREQ(recentProjects[0], "tvhelper=C:\\p\\x.dsw");
    EXPECT_EQ(recentProjectsChanged, 1);
    // The second time the project field proposes the first choice.
    DebugWithProject("C:\\p\\x.dsw");
    EXPECT_EQ(proposed, "C:\\p\\x.dsw");
    EXPECT_STREQ(recentProjects[1], "");
}

TEST_F(DebuggerTest, UnusableTemplatesAreReportedAsNotConfigured) {
    const std::string notConfigured = ToAnsi("无法定位系统调试器位置");
    for (std::string text :
         {std::string("dbg -p %s -e %ld"), std::string("dbg -p %ld%s"), std::string("")}) {
        SCOPED_TRACE(text);
        SetRegistryTemplate(text);
        bool dialogShown = false;
        std::string message = MessageOf([&] {
            dialogShown = WithDialogOfClass(
                "TOLVANE95DLG", [] { SendMessageA(mainWindow, WM_COMMAND, IDM_DEBUG, 0); },
                [](HWND dialog) { SendMessageA(dialog, WM_CLOSE, 0, 0); });
        });
        EXPECT_NE(message.find(notConfigured), std::string::npos);
        EXPECT_FALSE(dialogShown);
    }
    // A template without a placeholder is started as it stands.
    SetRegistryTemplate(recorder);
    EXPECT_EQ(DebugWithProject(""), recorder);
}

TEST_F(DebuggerTest, TheProfileSettingComesFirstThenTheRegistryOnTheNtFamily) {
    SetRegistryTemplate(recorder + " -registry %ld");
    ASSERT_TRUE(WriteProfileStringA("AeDebug", "Debugger", (recorder + " -profile %ld").c_str()));
    EXPECT_EQ(DebugWithProject(""), recorder + " -profile " + Pid());
    WriteProfileStringA("AeDebug", "Debugger", nullptr);
    EXPECT_EQ(DebugWithProject(""), recorder + " -registry " + Pid());

    // The 95 family has no such key: the profile alone counts.
    char text[DEBUGGER_TEMPLATE_SIZE];
    ntFamily = 0;
    EXPECT_EQ(ReadDebuggerTemplate(text), 0);
    ntFamily = 1;
    // A value that is not text is not taken for a template.
    SavedValue number;
    number.present = true;
    number.type = REG_DWORD;
    number.data = std::string("\x25\x6c\x64\x00", 4);
    WriteAeDebug(number);
    EXPECT_EQ(ReadDebuggerTemplate(text), 0);
}

TEST_F(DebuggerTest, AeDebugValuesAreTakenByTheirSizeAndNotWhenTheyDoNotFit) {
    // Text without its terminating zero: the size stored is all there is.
    SavedValue unterminated;
    unterminated.present = true;
    unterminated.type = REG_SZ;
    unterminated.data = recorder + " -p %ld";
    WriteAeDebug(unterminated);
    EXPECT_EQ(DebugWithProject(""), recorder + " -p " + Pid());

    // Longer than a template may be, or not text at all: not configured,
    // and no dialog.
    const std::string notConfigured = ToAnsi("无法定位系统调试器位置");
    SavedValue binary;
    binary.present = true;
    binary.type = REG_BINARY;
    binary.data = recorder + " -p %ld";
    for (const SavedValue& value :
         {SavedValue{true, REG_SZ, recorder + " -p %ld " + std::string(300, 'x') + '\0'}, binary}) {
        SCOPED_TRACE(value.type);
        WriteAeDebug(value);
        bool dialogShown = false;
        std::string message = MessageOf([&] {
            dialogShown = WithDialogOfClass(
                "TOLVANE95DLG", [] { SendMessageA(mainWindow, WM_COMMAND, IDM_DEBUG, 0); },
                [](HWND dialog) { SendMessageA(dialog, WM_CLOSE, 0, 0); });
        });
        EXPECT_NE(message.find(notConfigured), std::string::npos);
        EXPECT_FALSE(dialogShown);
    }
}

// Escape (the dialog's cancel) and the close box close the dialog alike,
// and nothing starts.
TEST_F(DebuggerTest, EscapeAndTheCloseBoxCloseTheDialogAndStartNothing) {
    SetRegistryTemplate(recorder + " -p %ld");
    for (UINT message : {static_cast<UINT>(WM_COMMAND), static_cast<UINT>(WM_CLOSE)}) {
        bool closed = false;
        ASSERT_TRUE(Debug([&](HWND dialog) {
            SetDlgItemTextA(dialog, IDC_PROJECT_PATH, "C:\\p\\x.dsw");
            SendMessageA(dialog, message, message == WM_COMMAND ? IDCANCEL : 0, 0);
            PumpMessages(50);
            closed = !IsWindowVisible(dialog);
            if (!closed) {
                SendMessageA(dialog, WM_CLOSE, 0, 0);
            }
        }));
        EXPECT_TRUE(closed) << message;
        PumpMessages(300);
        EXPECT_EQ(ReadFileBytes(record), "<missing>");
        EXPECT_STREQ(recentProjects[0], "");
    }
}

TEST_F(DebuggerTest, ADebuggerThatCannotStartIsReportedAfterTheProjectIsRemembered) {
    SetRegistryTemplate("C:\\no\\such\\debugger.exe -p %ld");
    std::string message = MessageOf([&] {
        Debug([](HWND dialog) {
            SetDlgItemTextA(dialog, IDC_PROJECT_PATH, "C:\\p\\y.dsw");
            SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
    });
    EXPECT_NE(message.find(ToAnsi("无法启动调试器")), std::string::npos);
    EXPECT_STREQ(recentProjects[0], "tvhelper=C:\\p\\y.dsw");
}

TEST_F(DebuggerTest, BrowsePutsTheChosenFileIntoTheProjectField) {
    SetRegistryTemplate(recorder + " -p %ld");
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string project = std::string(folder) + "tolvane-project.dsw";
    FILE* file = fopen(project.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fclose(file);
    bool browsed = false;
    std::string field, firstFilter;
    ASSERT_TRUE(Debug([&](HWND dialog) {
        browsed = WithDialogOfClass(
            "#32770", [&] { SendMessageA(dialog, WM_COMMAND, IDC_BROWSE, 0); },
            [&](HWND open) {
                char text[260] = "";
                SendDlgItemMessageA(open, 0x470, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
                firstFilter = text;
                SaveAsIn(open, project);
            });
        char text[260];
        GetDlgItemTextA(dialog, IDC_PROJECT_PATH, text, sizeof text);
        field = text;
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    EXPECT_TRUE(browsed);
    EXPECT_EQ(firstFilter, ToAnsi("方案工作空间 (*.mdp;*.dsw)"));
    EXPECT_EQ(lstrcmpiA(field.c_str(), project.c_str()), 0) << field;
    DeleteFileA(project.c_str());
}

// The arguments the recording debugger was started with, as its C runtime
// splits them.
std::vector<std::string> Arguments(const std::string& commandLine) {
    std::vector<std::string> arguments;
    int count = 0;
    std::wstring wide(commandLine.begin(), commandLine.end());
    LPWSTR* list = CommandLineToArgvW(wide.c_str(), &count);
    for (int i = 0; list && i < count; i++) {
        std::wstring argument = list[i];
        arguments.emplace_back(argument.begin(), argument.end());
    }
    LocalFree(list);
    return arguments;
}

// A 32-bit process takes the debugger of the registry's 32-bit view, seen
// from either program.
TEST_F(DebuggerTest, AThirtyTwoBitProcessTakesTheDebuggerOfTheThirtyTwoBitView) {
    const char* route = getenv("TOLVANE_32BIT_ROUTE");
    if (sizeof(void*) == 8 && (!route || strcmp(route, "none") == 0)) {
        GTEST_SKIP() << "no 32-bit process can run here";
    }
    SavedValue saved64 = ReadAeDebug(KEY_WOW64_64KEY), saved32 = ReadAeDebug(KEY_WOW64_32KEY);
    SetRegistryTemplate("sixtyfour -p %ld", KEY_WOW64_64KEY);
    SetRegistryTemplate("thirtytwo -p %ld", KEY_WOW64_32KEY);
    Child child =
        StartChild("\"" + BinPath(sizeof(void*) == 8 ? "tvhelper32.exe" : "tvhelper.exe") +
                   "\" --lifetime=30000");
    char buffer[DEBUGGER_TEMPLATE_SIZE] = "";
    int only = 0;
    ReadDebuggerTemplateFor(child.info.hProcess, buffer, &only);
    EXPECT_TRUE(child.started);
    EXPECT_STREQ(buffer, "thirtytwo -p %ld");
    EXPECT_EQ(only, 0);
    EndChild(child);
    WriteAeDebug(saved64, KEY_WOW64_64KEY);
    WriteAeDebug(saved32, KEY_WOW64_32KEY);
}

TEST_F(DebuggerTest, AProjectPathWithBlanksReachesTheDebuggerAsOneArgument) {
    SetRegistryTemplate(recorder + " -p %ld");
    struct Case {
        const char* project;
        const char* tail;     // the command line's end
        const char* argument; // the debugger's last argument
    } cases[] = {
        {"C:\\p\\x.dsw", " C:\\p\\x.dsw", "C:\\p\\x.dsw"},
        {"C:\\work\\my proj.dsw", " \"C:\\work\\my proj.dsw\"", "C:\\work\\my proj.dsw"},
        {"C:\\a\tb.dsw", " \"C:\\a\tb.dsw\"", "C:\\a\tb.dsw"},
        // Quoted by the user already: left as typed.
        {"\"C:\\my proj.dsw\"", " \"C:\\my proj.dsw\"", "C:\\my proj.dsw"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.project);
        std::string recorded = DebugWithProject(test.project);
        EXPECT_EQ(recorded, recorder + " -p " + Pid() + test.tail);
        std::vector<std::string> arguments = Arguments(recorded);
        ASSERT_EQ(arguments.size(), 5u);
        EXPECT_EQ(arguments[4], test.argument);
    }
    // The remembered project is the path itself.
    EXPECT_STREQ(recentProjects[0], "tvhelper=\"C:\\my proj.dsw\"");
    EXPECT_STREQ(recentProjects[1], "");
}

// A project chosen in the debugger's dialog shares the file-name buffer with
// the Save As dialog; the next Save As must not offer it for replacing.
TEST_F(DebuggerTest, SaveAsAfterTheDebuggerNeverProposesTheChosenProject) {
    SetRegistryTemplate(recorder + " -p %ld");
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string project = std::string(folder) + "my proj.dsw";
    FILE* file = fopen(project.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs("project", file);
    fclose(file);
    ASSERT_TRUE(Debug([&](HWND dialog) {
        ASSERT_TRUE(WithDialogOfClass(
            "#32770", [&] { SendMessageA(dialog, WM_COMMAND, IDC_BROWSE, 0); },
            [&](HWND open) { SaveAsIn(open, project); }));
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    }));
    EXPECT_EQ(Recorded(), recorder + " -p " + Pid() + " \"" + project + "\"");

    // F2 in the main list, then Enter as the user would press it.
    std::string proposed = "<no dialog>";
    EXPECT_TRUE(WithDialogOfClass(
        "#32770", [] { SendMessageA(mainWindow, WM_COMMAND, IDM_SAVE_LIST, 0); },
        [&](HWND save) {
            HWND box = GetDlgItem(save, 0x47C) ? GetDlgItem(save, 0x47C) : GetDlgItem(save, 0x480);
            char text[MAX_PATH] = "";
            GetWindowTextA(box, text, sizeof text);
            proposed = text;
            SendMessageA(save, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(save, IDOK)));
            PumpMessages(200);
            if (IsWindow(save)) {
                SendMessageA(save, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(save, IDCANCEL)));
            }
        }));
    EXPECT_EQ(proposed, "");
    EXPECT_EQ(ReadFileBytes(project), "project");
    DeleteFileA(project.c_str());
}

TEST_F(DebuggerTest, RecentProjectsKeepOneEntryPerBaseNameAndDropTheOldest) {
    const char* programs[] = {"C:\\a\\one.exe",  "C:\\b\\two.exe",  "C:\\c\\three.exe",
                              "C:\\d\\four.exe", "C:\\e\\five.exe", "C:\\f\\six.exe"};
    for (int i = 0; i < 6; i++) {
        RememberProject(programs[i], ("C:\\p\\" + std::to_string(i) + ".dsw").c_str());
    }
    EXPECT_STREQ(LookUpProject("C:\\a\\one.exe"), "");
    EXPECT_STREQ(recentProjects[0], "six=C:\\p\\5.dsw");
    EXPECT_STREQ(recentProjects[4], "two=C:\\p\\1.dsw");
    // An executable already listed moves to the top, without a second entry;
    // names compare without case, and the folder does not count.
    RememberProject("D:\\other\\FOUR.EXE", "C:\\p\\new.dsw");
    EXPECT_STREQ(recentProjects[0], "FOUR=C:\\p\\new.dsw");
    EXPECT_STREQ(recentProjects[1], "six=C:\\p\\5.dsw");
    EXPECT_STREQ(recentProjects[2], "five=C:\\p\\4.dsw");
    EXPECT_STREQ(recentProjects[3], "three=C:\\p\\2.dsw");
    EXPECT_STREQ(recentProjects[4], "two=C:\\p\\1.dsw");
    EXPECT_STREQ(LookUpProject("C:\\x\\four.exe"), "C:\\p\\new.dsw");
    // The base name ends at the last dot; a name without one is whole.
    RememberProject("C:\\x\\tool.new.exe", "C:\\p\\t.dsw");
    EXPECT_STREQ(recentProjects[0], "tool.new=C:\\p\\t.dsw");
    EXPECT_STREQ(LookUpProject("C:\\x\\tool"), "");
    RememberProject("C:\\x\\tool", "C:\\p\\plain.dsw");
    EXPECT_STREQ(LookUpProject("C:\\x\\tool"), "C:\\p\\plain.dsw");
    EXPECT_STREQ(LookUpProject("C:\\x\\tool.new.exe"), "C:\\p\\t.dsw");
    // An empty project changes nothing; one that would not fit whole is not kept.
    RememberProject("C:\\x\\tool", "");
    RememberProject("C:\\x\\tool", std::string(255, 'p').c_str());
    EXPECT_STREQ(recentProjects[0], "tool=C:\\p\\plain.dsw");
    // Double-byte names compare by character.
    RememberProject(ToAnsi("C:\\x\\调试.exe").c_str(), "C:\\p\\d.dsw");
    EXPECT_STREQ(LookUpProject(ToAnsi("C:\\y\\调试.EXE").c_str()), "C:\\p\\d.dsw");
    EXPECT_STREQ(LookUpProject(ToAnsi("C:\\y\\调.exe").c_str()), "");
    // Characters whose second byte is that of '\\' or '|' ("昞寍") stay in the name.
    RememberProject("C:\\x\\\x95\x5c\x8c\x7c.exe", "C:\\p\\b.dsw");
    EXPECT_STREQ(recentProjects[0], "\x95\x5c\x8c\x7c=C:\\p\\b.dsw");
}

} // namespace
