// Windows family detection, the back-end entry points, privileges and the
// processor count, on this Wine and on a copy that Wine presents as Windows 98.
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace {

std::string TempFolder() {
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    return path;
}

TEST(Platform, ThisWineIsTheNtFamilyWithEveryNtEntryPoint) {
    ntFamily = nt5OrLater = 0;
    EXPECT_EQ(DetectPlatform(), 1);
    EXPECT_EQ(ntFamily, 1);
    EXPECT_EQ(nt5OrLater, 1);

    ASSERT_NE(LoadBackEnd(), 0);
    EXPECT_NE(ntApi.getModuleInformation, nullptr);
    EXPECT_NE(ntApi.getModuleFileNameExA, nullptr);
    EXPECT_NE(ntApi.getModuleFileNameExW, nullptr);
    EXPECT_NE(ntApi.getModuleBaseNameA, nullptr);
    EXPECT_NE(ntApi.enumProcessModules, nullptr);
    EXPECT_NE(ntApi.enumProcesses, nullptr);
    EXPECT_NE(ntApi.ntQueryInformationProcess, nullptr);
    // The resolved functions are the real ones.
    DWORD ids[1024];
    DWORD returned = 0;
    ASSERT_TRUE(ntApi.enumProcesses(ids, sizeof ids, &returned));
    EXPECT_GT(returned, 0u);
    EXPECT_EQ(returned % 4, 0u);

    // Every Toolhelp name exists here too.
    EXPECT_EQ(LoadToolhelpEntryPoints(), 1);
    EXPECT_NE(toolhelpApi.heap32Next, nullptr);
}

TEST(Platform, ChildProcessesReportTheirFamily) {
    // The helper as it is: NT family, NT 5 or later, back-end loaded.
    Child nt = StartChild("\"" + BinPath("tvhelper.exe") + "\" --platform");
    ASSERT_TRUE(nt.started);
    EXPECT_EQ(WaitChild(nt, 20000), 1 | 2 | 4);
    EndChild(nt);

    // A copy that Wine presents as Windows 98: the 95 family, both flags
    // clear, and the Toolhelp entry points load.
    std::string copy = TempFolder() + "tvhelper98.exe";
    ASSERT_TRUE(CopyFileA(BinPath("tvhelper.exe").c_str(), copy.c_str(), FALSE));
    SetWineAppVersion("tvhelper98.exe", "win98");
    Child family95 = StartChild("\"" + copy + "\" --platform");
    ASSERT_TRUE(family95.started);
    EXPECT_EQ(WaitChild(family95, 20000), 4);
    EndChild(family95);
    DeleteFileA(copy.c_str());
}

struct MessageBoxSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMessageBox(HWND window, LPARAM parameter) {
    MessageBoxSearch* search = reinterpret_cast<MessageBoxSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[32];
    GetClassNameA(window, className, sizeof className);
    if (owner == search->processId && strcmp(className, "#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectTexts(HWND child, LPARAM parameter) {
    char text[260];
    GetWindowTextA(child, text, sizeof text);
    *reinterpret_cast<std::string*>(parameter) += std::string(text) + "\n";
    return TRUE;
}

TEST(Platform, StartUpRefusesAnIncompleteProcessStatusLibrary) {
    // A copy of the program beside a process-status library that lacks one
    // required name, which Wine loads instead of its own for that copy.
    std::string folder = TempFolder() + "tolvane_nopsapi\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string exe = folder + "tolvane_nopsapi.exe";
    ASSERT_TRUE(CopyFileA(BinPath(PROGRAM_FILE).c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(BinPath("fakepsapi.dll").c_str(), (folder + "psapi.dll").c_str(), FALSE));
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                              "Software\\Wine\\AppDefaults\\tolvane_nopsapi.exe\\DllOverrides", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "psapi", 0, REG_SZ, reinterpret_cast<const BYTE*>("native"), 7);
    RegCloseKey(key);
    // Multiple instances on, so a running copy elsewhere cannot intervene.
    SetSettingsText("AllowMultiplyInstances", "1");

    Child child = StartChild("\"" + exe + "\"");
    ASSERT_TRUE(child.started);
    MessageBoxSearch search = {child.info.dwProcessId, nullptr};
    PumpUntil(
        [&] {
            // Found once it is shown: its texts are set by then.
            search.found = nullptr;
            EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr && IsWindowVisible(search.found);
        },
        20000);
    ASSERT_NE(search.found, nullptr) << "no message box";
    char caption[64];
    GetWindowTextA(search.found, caption, sizeof caption);
    EXPECT_STREQ(caption, "Tolvane");
    std::string texts;
    EnumChildWindows(search.found, CollectTexts, reinterpret_cast<LPARAM>(&texts));
    EXPECT_NE(texts.find(ToAnsi("Tolvane 需要 PSAPI.DLL")), std::string::npos) << texts;
    // No main window was created.
    EXPECT_EQ(FindProcessWindow(child.info.dwProcessId, "Tolvane", nullptr, 0), nullptr);

    PostMessageA(search.found, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitChild(child, 10000), 0);
    EndChild(child);
    DeleteSettingsKey();
}

TEST(Privileges, EnablePrivilegeAcceptsKnownNamesOnly) {
    EXPECT_NE(EnablePrivilege(GetCurrentProcess(), "SeDebugPrivilege", SE_PRIVILEGE_ENABLED), 0);
    EXPECT_EQ(EnablePrivilege(GetCurrentProcess(), "SeNoSuchPrivilege", SE_PRIVILEGE_ENABLED), 0);
}

int affinityQueries;
DWORD_PTR fakeSystemMask;
BOOL WINAPI FakeGetAffinity(HANDLE, DWORD_PTR* processMask, DWORD_PTR* systemMask) {
    affinityQueries++;
    *processMask = 0x3;
    *systemMask = fakeSystemMask;
    return TRUE;
}
int affinityChanges;
BOOL WINAPI FakeSetAffinity(HANDLE, DWORD_PTR) {
    affinityChanges++;
    return TRUE;
}

class AffinityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = affinityApi;
        savedCount = processorCount;
        savedMask = systemAffinityMask;
        affinityQueries = affinityChanges = 0;
    }
    void TearDown() override {
        affinityApi = saved;
        processorCount = savedCount;
        systemAffinityMask = savedMask;
    }
    AffinityApi saved;
    DWORD savedCount;
    DWORD_PTR savedMask;
};

TEST_F(AffinityTest, CountsTheBitsOfTheRealSystemMaskOnce) {
    processorCount = 0;
    affinityApi = AffinityApi{};
    DWORD count = CountProcessors();
    DWORD_PTR processMask, systemMask;
    GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask);
    EXPECT_EQ(systemAffinityMask, systemMask);
    EXPECT_GE(count, 1u);
    EXPECT_EQ(count, static_cast<DWORD>(__builtin_popcountll(systemMask)));

    // A second call resolves and asks nothing again.
    affinityApi.getProcessAffinityMask = FakeGetAffinity;
    EXPECT_EQ(CountProcessors(), count);
    EXPECT_EQ(affinityQueries, 0);
}

TEST_F(AffinityTest, FourProcessorSystem) {
    processorCount = 0;
    fakeSystemMask = 0x0F;
    affinityApi.getProcessAffinityMask = FakeGetAffinity;
    affinityApi.setProcessAffinityMask = FakeSetAffinity;
    EXPECT_EQ(CountProcessors(), 4u);
    EXPECT_EQ(systemAffinityMask, 0x0Fu);

    DWORD_PTR systemMask = 0;
    EXPECT_EQ(QueryProcessAffinity(GetCurrentProcess(), &systemMask), 0x3u);
    EXPECT_EQ(systemMask, 0x0Fu);
    EXPECT_TRUE(SetProcessAffinity(GetCurrentProcess(), 0x1));
    EXPECT_EQ(affinityChanges, 1);
}

TEST_F(AffinityTest, OneProcessorSystemNeverAsks) {
    processorCount = 0;
    fakeSystemMask = 0x1;
    affinityApi.getProcessAffinityMask = FakeGetAffinity;
    affinityApi.setProcessAffinityMask = FakeSetAffinity;
    EXPECT_EQ(CountProcessors(), 1u);
    affinityQueries = 0;

    DWORD_PTR systemMask = 0;
    EXPECT_EQ(QueryProcessAffinity(GetCurrentProcess(), &systemMask), 1u);
    EXPECT_EQ(QueryProcessAffinity(GetCurrentProcess(), nullptr), 1u);
    EXPECT_EQ(systemMask, 1u);
    EXPECT_TRUE(SetProcessAffinity(GetCurrentProcess(), 0x2));
    EXPECT_EQ(affinityQueries, 0);
    EXPECT_EQ(affinityChanges, 0);
}

} // namespace
