// Windows family detection and the entry-point tables of the two back-ends.
// The system functions the back-ends need are never imported: they are
// resolved by name at start-up, and a null slot means the function is absent.
#ifndef TOLVANE_SYSINFO_PLATFORM_H
#define TOLVANE_SYSINFO_PLATFORM_H

#include <windows.h>
#include <tlhelp32.h>
#include <psapi.h>

extern int ntFamily;   // 1 on the NT family, else 0
extern int nt5OrLater; // 1 on NT with a major version above 4

// Kernel Toolhelp functions (Windows 95 family), all required.
struct ToolhelpApi {
    HANDLE(WINAPI* createToolhelp32Snapshot)(DWORD flags, DWORD processId);
    BOOL(WINAPI* module32First)(HANDLE snapshot, MODULEENTRY32* entry);
    BOOL(WINAPI* module32Next)(HANDLE snapshot, MODULEENTRY32* entry);
    BOOL(WINAPI* process32First)(HANDLE snapshot, PROCESSENTRY32* entry);
    BOOL(WINAPI* process32Next)(HANDLE snapshot, PROCESSENTRY32* entry);
    BOOL(WINAPI* thread32First)(HANDLE snapshot, THREADENTRY32* entry);
    BOOL(WINAPI* thread32Next)(HANDLE snapshot, THREADENTRY32* entry);
    BOOL(WINAPI* heap32ListFirst)(HANDLE snapshot, HEAPLIST32* list);
    BOOL(WINAPI* heap32ListNext)(HANDLE snapshot, HEAPLIST32* list);
    BOOL(WINAPI* heap32First)(HEAPENTRY32* entry, DWORD processId, ULONG_PTR heapId);
    BOOL(WINAPI* heap32Next)(HEAPENTRY32* entry);
};

// Callbacks of the VDM debugging library.
typedef BOOL(WINAPI* WowProcessEnumProc)(DWORD processId, DWORD attributes, LPARAM userValue);
typedef BOOL(WINAPI* WowTaskEnumProc)(DWORD threadId, WORD module16, WORD task16, char* moduleName,
                                      char* fileName, LPARAM userValue);

// Process-status, native and VDM functions (NT family); the first six are required.
struct NtApi {
    BOOL(WINAPI* getModuleInformation)
    (HANDLE process, HMODULE module, MODULEINFO* info, DWORD size);
    DWORD(WINAPI* getModuleFileNameExA)(HANDLE process, HMODULE module, char* buffer, DWORD size);
    DWORD(WINAPI* getModuleFileNameExW)(HANDLE process, HMODULE module, WCHAR* buffer, DWORD size);
    DWORD(WINAPI* getModuleBaseNameA)(HANDLE process, HMODULE module, char* buffer, DWORD size);
    BOOL(WINAPI* enumProcessModules)(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed);
    BOOL(WINAPI* enumProcesses)(DWORD* ids, DWORD size, DWORD* returned);
    LONG(WINAPI* ntQueryInformationProcess)
    (HANDLE process, ULONG infoClass, void* buffer, ULONG size, ULONG* returned);
    BOOL(WINAPI* vdmTerminateTaskWow)(DWORD processId, WORD task16);
    INT(WINAPI* vdmEnumTaskWowEx)(DWORD processId, WowTaskEnumProc callback, LPARAM userValue);
    INT(WINAPI* vdmEnumProcessWow)(WowProcessEnumProc callback, LPARAM userValue);
    // Optional: the whole process table in one call (information class 5).
    LONG(WINAPI* ntQuerySystemInformation)
    (ULONG infoClass, void* buffer, ULONG size, ULONG* returned);
    // Optional: a 64-bit process seen from this 32-bit program. The first
    // tells a process of the system's own width from one of the 32-bit
    // layer; the two native calls of a 64-bit system's 32-bit layer reach a
    // 64-bit process's memory; the last names an image region's file.
    BOOL(WINAPI* isWow64Process)(HANDLE process, BOOL* wow64);
    LONG(WINAPI* ntWow64QueryInformationProcess64)
    (HANDLE process, ULONG infoClass, void* buffer, ULONG size, ULONG* returned);
    LONG(WINAPI* ntWow64ReadVirtualMemory64)
    (HANDLE process, ULONGLONG address, void* buffer, ULONGLONG size, ULONGLONG* read);
    DWORD(WINAPI* getMappedFileNameA)(HANDLE process, void* address, char* buffer, DWORD size);
    // Optional: what is known of a process whose module list cannot be read
    // (a 64-bit process seen from this 32-bit program), and the wide module
    // name, which fills a buffer of this program's own.
    BOOL(WINAPI* queryFullProcessImageNameA)
    (HANDLE process, DWORD flags, char* buffer, DWORD* size);
    DWORD(WINAPI* getProcessImageFileNameA)(HANDLE process, char* buffer, DWORD size);
    DWORD(WINAPI* queryDosDeviceA)(const char* deviceName, char* target, DWORD size);
    DWORD(WINAPI* getModuleBaseNameW)(HANDLE process, HMODULE module, WCHAR* buffer, DWORD size);
    // Optional (Windows XP and later): every thread of a process suspended
    // or resumed in one call.
    LONG(WINAPI* ntSuspendProcess)(HANDLE process);
    LONG(WINAPI* ntResumeProcess)(HANDLE process);
    // The opening of a process by its id, through which every check of the
    // process the user chose goes (both families; the system's own where
    // the slot is empty).
    HANDLE(WINAPI* openProcess)(DWORD access, BOOL inherit, DWORD processId);
};

extern ToolhelpApi toolhelpApi;
extern NtApi ntApi;

// Sets ntFamily and nt5OrLater from GetVersion; returns ntFamily.
int DetectPlatform();
// Loads the entry points of the family's back-end; nonzero on success.
int LoadBackEnd();
int LoadToolhelpEntryPoints();
int LoadNtEntryPoints();

// Resolves one export into a typed slot; the slot becomes null when the
// module or the name is missing.
template <typename T> inline void ResolveEntryPoint(HMODULE module, const char* name, T& slot) {
    FARPROC address = module ? GetProcAddress(module, name) : nullptr;
    slot = reinterpret_cast<T>(reinterpret_cast<void (*)(void)>(address));
}

#endif
