#include "sysinfo/toolhelp.h"
#include "sysinfo/platform.h"

int EnumerateProcessesToolhelp(HWND) {
    return 0;
}

int ListThreadsToolhelp(HWND, DWORD) {
    return 0;
}

int ListModulesToolhelp(HWND, DWORD, ModuleVisitor, DWORD) {
    return 0;
}

void ListHeapsToolhelp(HWND, DWORD) {}

void ListHeapBlocksToolhelp(HWND, DWORD, DWORD) {}

int FindProcessModule(DWORD, DWORD, MODULEENTRY32*, DWORD) {
    return 0;
}

int ReadNeModuleName(const char*, char*, WORD) {
    return 0;
}
