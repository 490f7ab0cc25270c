#include "app/autorun.h"
#include "app/mainwnd.h"
#include "app/uiops.h"
#include "res/resource.h"

#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int GetSpecialFolderPath(int folderId, char* buffer) {
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &items))) {
        return 0;
    }
    SHGetPathFromIDListA(items, buffer);
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator))) {
        allocator->Free(items);
        allocator->Release();
    }
    return 1;
}

void BuildShortcutPaths(ShortcutPaths* paths) {
    paths->targetPath[0] = 0;
    paths->linkPath[0] = 0;
    GetModuleFileNameA(nullptr, paths->targetPath, sizeof paths->targetPath);
    paths->targetPath[sizeof paths->targetPath - 1] = 0;
    if (!GetSpecialFolderPath(CSIDL_STARTUP, paths->linkPath)) {
        paths->linkPath[0] = 0;
        return;
    }
    if (strlen(paths->linkPath) + strlen("\\Tolvane.lnk") < sizeof paths->linkPath) {
        strcat(paths->linkPath, "\\Tolvane.lnk");
    } else {
        paths->linkPath[0] = 0;
    }
}

int ShortcutExists(const ShortcutPaths* paths) {
    if (paths->linkPath[0] == 0) {
        return 0;
    }
    int descriptor = _open(paths->linkPath, _O_RDONLY);
    if (descriptor == -1) {
        return 0;
    }
    _close(descriptor);
    return 1;
}

int RemoveShortcut(const ShortcutPaths* paths) {
    return remove(paths->linkPath) == 0 ? 1 : 0;
}

int CreateShortcut(const char* target, const char* link, const char* description, int showCommand) {
    int result = 0;
    CoInitialize(nullptr);
    IShellLinkA* shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&shellLink)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(
                shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
            SUCCEEDED(shellLink->SetPath(target)) &&
            SUCCEEDED(shellLink->SetDescription(description)) &&
            SUCCEEDED(shellLink->SetShowCmd(showCommand))) {
            WCHAR widePath[260];
            widePath[0] = 0;
            MultiByteToWideChar(CP_ACP, 0, link, -1, widePath, 260);
            file->Save(widePath, TRUE);
            result = 1;
        }
        if (file) {
            file->Release();
        }
        shellLink->Release();
    }
    CoUninitialize();
    return result;
}

int AutorunShortcutExists() {
    ShortcutPaths paths;
    BuildShortcutPaths(&paths);
    return ShortcutExists(&paths);
}

int SetAutorun(int wanted) {
    ShortcutPaths paths;
    BuildShortcutPaths(&paths);
    int existed = ShortcutExists(&paths);
    if (paths.linkPath[0] != 0) {
        if (wanted && !existed) {
            char* description = LoadText(IDS_SHORTCUT_DESCRIPTION);
            CreateShortcut(paths.targetPath, paths.linkPath, description ? description : "",
                           SW_SHOWNORMAL);
            free(description);
        } else if (!wanted && existed) {
            RemoveShortcut(&paths);
        }
    }
    return existed ? 0 : 1;
}

LRESULT OnAutorunCommand(HWND, WPARAM, WPARAM, LPARAM) {
    SetAutorun(ToggleMenuCheck(IDM_AUTORUN));
    // The check tells whether the shortcut is there: one that could not be
    // written or removed leaves the check as it was.
    CheckMenuItem(GetMenu(mainWindow), IDM_AUTORUN,
                  MF_BYCOMMAND | (AutorunShortcutExists() ? MF_CHECKED : MF_UNCHECKED));
    return 0;
}
