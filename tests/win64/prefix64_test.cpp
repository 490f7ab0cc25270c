// The 64-bit prefix itself: the test programs run there as 32-bit processes
// under the system's 32-bit layer (or, built for 64-bit, as 64-bit ones),
// and tvhelper64.exe is a 64-bit process.
#include "testutil.h"

#include <gtest/gtest.h>
#include <stdlib.h>

static bool IsWow64(HANDLE process) {
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, BOOL*);
    IsWow64ProcessFunction isWow64 =
        reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)(void)>(
            GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "IsWow64Process")));
    BOOL result = FALSE;
    return isWow64 && isWow64(process, &result) && result;
}

TEST(Prefix64, TestsRunInTheSixtyFourBitPrefixBesideA64BitHelper) {
    // A 32-bit program there runs in the system's 32-bit layer; a 64-bit
    // one runs only there.
    if (sizeof(void*) == 4) {
        ASSERT_TRUE(IsWow64(GetCurrentProcess()))
            << "the tests of 64-bit processes must run in the 64-bit prefix";
    }
    Child helper = StartChild("\"" + BinPath("tvhelper64.exe") + "\" --lifetime=60000");
    ASSERT_TRUE(helper.started);
    EXPECT_FALSE(IsWow64(helper.info.hProcess));
    EXPECT_EQ(WaitChild(helper, 200), -1) << "the helper lives until it is ended";
    EndChild(helper);
}

// The 64-bit test programs reserve the address space below 4 GB first:
// what they allocate afterwards lies above it, as on a Windows that places
// memory high, so that a pointer cut to 32 bits cannot hide.
TEST(Prefix64, SixtyFourBitTestsAllocateAboveFourGigabytes) {
    if (sizeof(void*) == 4) {
        GTEST_SKIP() << "a 32-bit program has no memory above 4 GB";
    }
    void* block = malloc(1 << 20);
    void* small = malloc(64);
    void* region = VirtualAlloc(nullptr, 1 << 16, MEM_COMMIT, PAGE_READWRITE);
    for (void* memory : {block, small, region}) {
        EXPECT_GT(reinterpret_cast<ULONG_PTR>(memory), 0xFFFFFFFFull) << memory;
    }
    free(block);
    free(small);
    VirtualFree(region, 0, MEM_RELEASE);
}
