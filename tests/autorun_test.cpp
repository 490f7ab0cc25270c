// The autorun option: the shortcut in the Startup folder of the test prefix.
#include "app/autorun.h"
#include "app/mainwnd.h"
#include "app/uiops.h"
#include "listfixture.h"
#include "res/resource.h"
#include "testutil.h"

#include <objbase.h>
#include <shlobj.h>

namespace {

struct Shortcut {
    std::string target;
    std::string description;
    int showCommand;
};

Shortcut ReadShortcut(const char* link) {
    Shortcut result = {"", "", -1};
    CoInitialize(nullptr);
    IShellLinkA* shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&shellLink)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(
                shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            WCHAR widePath[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, link, -1, widePath, MAX_PATH);
            if (SUCCEEDED(file->Load(widePath, STGM_READ))) {
                char text[MAX_PATH] = "";
                shellLink->GetPath(text, sizeof text, nullptr, 0);
                result.target = text;
                shellLink->GetDescription(text, sizeof text);
                result.description = text;
                shellLink->GetShowCmd(&result.showCommand);
            }
            file->Release();
        }
        shellLink->Release();
    }
    CoUninitialize();
    return result;
}

class AutorunTest : public ListFixture {
  protected:
    void SetUp() override {
        BuildShortcutPaths(&paths);
        ASSERT_NE(paths.linkPath[0], 0) << "no Startup folder";
        DeleteFileA(paths.linkPath);
    }
    void TearDown() override {
        DeleteFileA(paths.linkPath);
        ListFixture::TearDown();
    }
    ShortcutPaths paths;
};

TEST_F(AutorunTest, ShortcutIsCreatedOnceAndRemoved) {
    EXPECT_EQ(AutorunShortcutExists(), 0);
    EXPECT_EQ(std::string(paths.linkPath).substr(strlen(paths.linkPath) - 12), "\\Tolvane.lnk");

    EXPECT_EQ(SetAutorun(1), 1);
    ASSERT_EQ(AutorunShortcutExists(), 1);
    Shortcut created = ReadShortcut(paths.linkPath);
    EXPECT_EQ(lstrcmpiA(created.target.c_str(), paths.targetPath), 0) << created.target;
    EXPECT_EQ(created.description, "Tolvane");
    EXPECT_EQ(created.showCommand, SW_SHOWNORMAL);

    // An existing shortcut is never rewritten.
    EXPECT_EQ(SetAutorun(1), 0);
    EXPECT_EQ(SetAutorun(0), 0);
    EXPECT_EQ(AutorunShortcutExists(), 0);
    EXPECT_EQ(SetAutorun(0), 1);
}

TEST_F(AutorunTest, TheMenuItemShowsAndTogglesTheShortcut) {
    // A shortcut some other tool placed there counts as the program's.
    HANDLE file = CreateFileA(paths.linkPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    CreateMainWindowFor(1);
    EXPECT_FALSE(Grayed(IDM_AUTORUN));
    EXPECT_TRUE(GetMenuState(GetMenu(mainWindow), IDM_AUTORUN, MF_BYCOMMAND) & MF_CHECKED);

    SendMessageA(mainWindow, WM_COMMAND, IDM_AUTORUN, 0);
    EXPECT_FALSE(GetMenuState(GetMenu(mainWindow), IDM_AUTORUN, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(AutorunShortcutExists(), 0);

    SendMessageA(mainWindow, WM_COMMAND, IDM_AUTORUN, 0);
    EXPECT_TRUE(GetMenuState(GetMenu(mainWindow), IDM_AUTORUN, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(ReadShortcut(paths.linkPath).description, "Tolvane");
}

} // namespace
