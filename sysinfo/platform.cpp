#include "sysinfo/platform.h"
#include "sysinfo/perfdata.h"

int ntFamily = 0;
int nt5OrLater = 0;
ToolhelpApi toolhelpApi;
NtApi ntApi;

int DetectPlatform() {
    DWORD version = GetVersion();
    if ((version & 0x80000000) == 0) {
        ntFamily = 1;
        if ((version & 0xFF) > 4) {
            nt5OrLater = 1;
        }
    }
    return ntFamily;
}

int LoadToolhelpEntryPoints() {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    ToolhelpApi& api = toolhelpApi;
    ResolveEntryPoint(kernel, "CreateToolhelp32Snapshot", api.createToolhelp32Snapshot);
    ResolveEntryPoint(kernel, "Module32First", api.module32First);
    ResolveEntryPoint(kernel, "Module32Next", api.module32Next);
    ResolveEntryPoint(kernel, "Process32First", api.process32First);
    ResolveEntryPoint(kernel, "Process32Next", api.process32Next);
    ResolveEntryPoint(kernel, "Thread32First", api.thread32First);
    ResolveEntryPoint(kernel, "Thread32Next", api.thread32Next);
    ResolveEntryPoint(kernel, "Heap32ListFirst", api.heap32ListFirst);
    ResolveEntryPoint(kernel, "Heap32ListNext", api.heap32ListNext);
    ResolveEntryPoint(kernel, "Heap32First", api.heap32First);
    ResolveEntryPoint(kernel, "Heap32Next", api.heap32Next);
    return api.createToolhelp32Snapshot && api.module32First && api.module32Next &&
           api.process32First && api.process32Next && api.thread32First && api.thread32Next &&
           api.heap32ListFirst && api.heap32ListNext && api.heap32First && api.heap32Next;
}

#ifdef _WIN64
enum { LIST_MODULES_ALL_FLAG = 3 };
static BOOL(WINAPI* enumProcessModulesEx)(HANDLE process, HMODULE* modules, DWORD size,
                                          DWORD* needed, DWORD filter);

static BOOL WINAPI EnumModulesOfBothWidths(HANDLE process, HMODULE* modules, DWORD size,
                                           DWORD* needed) {
    return enumProcessModulesEx(process, modules, size, needed, LIST_MODULES_ALL_FLAG);
}
#endif

int LoadNtEntryPoints() {
    HMODULE psapi = GetModuleHandleA("PSAPI.DLL");
    if (!psapi) {
        psapi = LoadLibraryA("PSAPI.DLL");
    }
    if (!psapi) {
        return 0;
    }
    NtApi& api = ntApi;
    ResolveEntryPoint(psapi, "GetModuleInformation", api.getModuleInformation);
    ResolveEntryPoint(psapi, "GetModuleFileNameExA", api.getModuleFileNameExA);
    ResolveEntryPoint(psapi, "GetModuleFileNameExW", api.getModuleFileNameExW);
    ResolveEntryPoint(psapi, "GetModuleBaseNameA", api.getModuleBaseNameA);
    ResolveEntryPoint(psapi, "EnumProcessModules", api.enumProcessModules);
    ResolveEntryPoint(psapi, "EnumProcesses", api.enumProcesses);
    ResolveEntryPoint(psapi, "GetMappedFileNameA", api.getMappedFileNameA);
    ResolveEntryPoint(psapi, "GetModuleBaseNameW", api.getModuleBaseNameW);
    ResolveEntryPoint(psapi, "GetProcessImageFileNameA", api.getProcessImageFileNameA);
#ifdef _WIN64
    // The 64-bit program lists the modules of both widths, so that a process
    // of the system's 32-bit layer shows the modules it loaded itself.
    ResolveEntryPoint(psapi, "EnumProcessModulesEx", enumProcessModulesEx);
    if (enumProcessModulesEx) {
        api.enumProcessModules = EnumModulesOfBothWidths;
    }
#endif
    int complete = api.getModuleInformation && api.getModuleFileNameExA &&
                   api.getModuleFileNameExW && api.getModuleBaseNameA && api.enumProcessModules &&
                   api.enumProcesses;

    // The native calls are only looked up when NTDLL is already there; it always
    // is on NT, and loading it elsewhere would be pointless.
    HMODULE ntdll = GetModuleHandleA("NTDLL.DLL");
    if (ntdll) {
        ResolveEntryPoint(ntdll, "NtQueryInformationProcess", api.ntQueryInformationProcess);
        ResolveEntryPoint(ntdll, "NtQuerySystemInformation", api.ntQuerySystemInformation);
        ResolveEntryPoint(ntdll, "NtWow64QueryInformationProcess64",
                          api.ntWow64QueryInformationProcess64);
        ResolveEntryPoint(ntdll, "NtWow64ReadVirtualMemory64", api.ntWow64ReadVirtualMemory64);
        ResolveEntryPoint(ntdll, "NtSuspendProcess", api.ntSuspendProcess);
        ResolveEntryPoint(ntdll, "NtResumeProcess", api.ntResumeProcess);
    }
    HMODULE vdmdbg = LoadLibraryA("VDMDBG.DLL");
    if (vdmdbg) {
        ResolveEntryPoint(vdmdbg, "VDMTerminateTaskWOW", api.vdmTerminateTaskWow);
        ResolveEntryPoint(vdmdbg, "VDMEnumTaskWOWEx", api.vdmEnumTaskWowEx);
        ResolveEntryPoint(vdmdbg, "VDMEnumProcessWOW", api.vdmEnumProcessWow);
    }
    // Where kernel32 has Toolhelp (not on NT 4) the module lists and the
    // thread list's fallback use it; OpenThread came with Windows 2000.
    LoadToolhelpEntryPoints();
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    ResolveEntryPoint(kernel, "OpenThread", perfDataApi.openThread);
    // Windows XP SP2 and later.
    ResolveEntryPoint(kernel, "IsWow64Process", api.isWow64Process);
    // Vista and later name any process's image, also one of another word size.
    ResolveEntryPoint(kernel, "QueryFullProcessImageNameA", api.queryFullProcessImageNameA);
    ResolveEntryPoint(kernel, "QueryDosDeviceA", api.queryDosDeviceA);
    return complete;
}

int LoadBackEnd() {
    if (!ntApi.openProcess) {
        ntApi.openProcess = OpenProcess;
    }
    return ntFamily == 1 ? LoadNtEntryPoints() : LoadToolhelpEntryPoints();
}
