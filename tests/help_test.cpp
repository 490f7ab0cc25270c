// The About box, and the help command of a copy of the program under
// another name, whose request the test receives as the help system would.
#include "app/help.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "listfixture.h"
#include "res/resource.h"
#include "testutil.h"
#include "tolvane_version.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

class HelpTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1);
    }
};

BOOL CALLBACK CollectStaticTexts(HWND window, LPARAM texts) {
    char text[260];
    GetWindowTextA(window, text, sizeof text);
    *reinterpret_cast<std::string*>(texts) += std::string(text) + "\n";
    return TRUE;
}

TEST_F(HelpTest, AboutShowsTheProductLineAndEndsWithTheKeyPressed) {
    std::string texts;
    ASSERT_TRUE(WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_ABOUT, 0); },
                           [&](HWND dialog) {
                               EnumChildWindows(dialog, CollectStaticTexts,
                                                reinterpret_cast<LPARAM>(&texts));
                               SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                           }));
    EXPECT_NE(texts.find(ToAnsi("Tolvane v" TOLVANE_VERSION_TEXT TOLVANE_EDITION_TEXT "\n")),
              std::string::npos)
        << texts;

    // Enter ends the box with 1, Escape with 2, the close box with 0.
    for (UINT message : {WM_COMMAND, WM_CLOSE}) {
        for (WPARAM id : {IDOK, IDCANCEL}) {
            INT_PTR result = -1;
            WithDialog(
                [&] {
                    result = DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUT), mainWindow,
                                             AboutDlgProc, 0);
                },
                [&](HWND dialog) { PostMessageA(dialog, message, id, 0); });
            EXPECT_EQ(result, message == WM_CLOSE ? 0 : static_cast<INT_PTR>(id));
        }
    }
}

// Receives what the help call hands to the help viewer's window.
std::string helpRequest;
UINT helpCommand;

LRESULT CALLBACK HelpViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        // The viewer's request: size, command, data, reserved, then the
        // offset of the file name within the block.
        const BYTE* block = static_cast<const BYTE*>(data->lpData);
        WORD command = *reinterpret_cast<const WORD*>(block + 2);
        WORD nameOffset = *reinterpret_cast<const WORD*>(block + 12);
        if (nameOffset && nameOffset < data->cbData) {
            helpRequest.assign(reinterpret_cast<const char*>(block + nameOffset));
            helpCommand = command;
        }
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

struct ViewerSearch {
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchViewer(HWND window, LPARAM value) {
    ViewerSearch* search = reinterpret_cast<ViewerSearch*>(value);
    char caption[260] = "";
    GetWindowTextA(window, caption, sizeof caption);
    if (IsWindowVisible(window) && strstr(caption, search->caption)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible window whose caption holds the text, within the time.
HWND ViewerWindow(const char* caption, DWORD milliseconds) {
    ViewerSearch search = {caption, nullptr};
    PumpUntil(
        [&] {
            EnumWindows(MatchViewer, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        milliseconds);
    return search.found;
}

// Web pages (".html", of the class "htmlfile") open in Notepad, whose
// window names the file, while the object lives; the prefix's own values
// come back afterwards (an empty one, as of a key it lacked, is removed).
struct PagesInNotepad {
    const char* keys[2] = {".html", "htmlfile\\shell\\open\\command"};
    std::string old[2];
    PagesInNotepad() {
        const char* values[2] = {"htmlfile", "notepad.exe \"%1\""};
        for (int i : {0, 1}) {
            char text[512] = "";
            LONG size = sizeof text;
            RegQueryValueA(HKEY_CLASSES_ROOT, keys[i], text, &size);
            old[i] = text;
            RegSetValueA(HKEY_CLASSES_ROOT, keys[i], REG_SZ, values[i], 0);
        }
    }
    ~PagesInNotepad() {
        for (int i : {0, 1}) {
            if (old[i].empty()) {
                RegDeleteKeyA(HKEY_CLASSES_ROOT, keys[i]);
            } else {
                RegSetValueA(HKEY_CLASSES_ROOT, keys[i], REG_SZ, old[i].c_str(), 0);
            }
        }
    }
};

// The help file named after the program where the system can show it (the
// 95 family and NT before version 6, as Wine reports for one program name);
// otherwise the help page beside the program, opened as web pages are; with
// neither, a message names the page while the list goes on refreshing.
TEST_F(HelpTest, HelpShowsTheHelpFileWhereTheSystemCanOrThePageBesideTheProgram) {
    WNDCLASSA viewerClass = {};
    viewerClass.lpfnWndProc = HelpViewerProc;
    viewerClass.hInstance = GetModuleHandleA(nullptr);
    viewerClass.lpszClassName = "MS_WINHELP";
    RegisterClassA(&viewerClass);
    HWND viewer = CreateWindowExA(0, "MS_WINHELP", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  viewerClass.hInstance, nullptr);
    ASSERT_NE(viewer, nullptr);

    char temporary[MAX_PATH];
    GetTempPathA(sizeof temporary, temporary);
    std::string folder = std::string(temporary) + "tolvane-help\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string copy = folder + "tool.new.exe";
    ASSERT_TRUE(CopyFileA(BinPath(PROGRAM_FILE).c_str(), copy.c_str(), FALSE));
    SetSettingsText("AllowMultiplyInstances", "1");
    SetSettingsText("UseSysTray", "0");
    SetSettingsText("RefreshTimes", " 1 1 1 1 1");
    PagesInNotepad pagesInNotepad;
    enum Shown { HELP_FILE, PAGE, MESSAGE };
    struct Case {
        const char* version;            // the Windows version Wine reports
        std::vector<const char*> files; // beside the program
        Shown shown;
    } cases[] = {
        {sizeof(void*) == 8 ? "winxp64" : "winxp",
         {"tool.new.hlp", "tolvane-help.html"},
         HELP_FILE},
        {"win7", {"tool.new.hlp", "tolvane-help.html"}, PAGE},
        {"win7", {"tolvane-help.html"}, PAGE},
        {"win7", {"tool.new.hlp"}, MESSAGE},
        {"win7", {}, MESSAGE},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.version) + ", " + std::to_string(test.files.size()) +
                     " files");
        SetWineAppVersion("tool.new.exe", test.version);
        for (const char* file : test.files) {
            FILE* written = fopen((folder + file).c_str(), "w");
            ASSERT_NE(written, nullptr);
            fputs("Tolvane\n", written);
            fclose(written);
        }
        helpRequest.clear();
        Child program = StartChild("\"" + copy + "\"");
        ASSERT_TRUE(program.started);
        HWND programWindow = FindProcessWindow(program.info.dwProcessId, "Tolvane", nullptr, 10000);
        ASSERT_NE(programWindow, nullptr);
        PostMessageA(programWindow, WM_COMMAND, IDM_HELP, 0);
        if (test.shown == HELP_FILE) {
            EXPECT_TRUE(PumpUntil([] { return !helpRequest.empty(); }, 10000));
            EXPECT_EQ(lstrcmpiA(helpRequest.c_str(), (folder + "tool.new.hlp").c_str()), 0)
                << helpRequest;
            EXPECT_EQ(helpCommand, static_cast<UINT>(HELP_CONTENTS));
        } else if (test.shown == PAGE) {
            HWND shown = ViewerWindow("tolvane-help", 10000);
            EXPECT_NE(shown, nullptr);
            DWORD viewerProcess = 0;
            GetWindowThreadProcessId(shown, &viewerProcess);
            HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, viewerProcess);
            PostMessageA(shown, WM_CLOSE, 0, 0);
            if (process) {
                WaitForSingleObject(process, 5000);
                CloseHandle(process);
            }
        } else {
            HWND box = FindProcessWindow(program.info.dwProcessId, "#32770", nullptr, 10000);
            ASSERT_NE(box, nullptr);
            // The box may be found before its texts are in place.
            EXPECT_TRUE(PumpUntil(
                [&] {
                    return DialogTexts(box).find(folder + "tolvane-help.html") != std::string::npos;
                },
                5000))
                << DialogTexts(box);
            // The list goes on refreshing under the message: a process that
            // starts gets its row.
            HWND list = FindWindowExA(programWindow, nullptr, "SysListView32", nullptr);
            int rows = RemoteRowCount(list);
            Child helper = StartChild("\"" + BinPath("tvhelper.exe") + "\" --lifetime=20000");
            EXPECT_TRUE(PumpUntil([&] { return RemoteRowCount(list) > rows; }, 10000));
            EndChild(helper);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        PumpMessages(200);
        EXPECT_EQ(helpRequest.empty(), test.shown != HELP_FILE) << helpRequest;
        PostMessageA(programWindow, WM_COMMAND, IDM_EXIT, 0);
        WaitChild(program, 5000);
        EndChild(program);
        for (const char* file : test.files) {
            DeleteFileA((folder + file).c_str());
        }
    }
    SetWineAppVersion("tool.new.exe", "win7");
    DestroyWindow(viewer);
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
}

} // namespace
