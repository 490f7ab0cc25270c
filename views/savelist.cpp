#include "views/savelist.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "views/figures.h"
#include "views/processlist.h"
#include "views/version.h"

#include <commdlg.h>
#include <stdlib.h>
#include <stddef.h>
#include <string.h>

char chosenFilePath[260];
// The name chosen last in a Save As dialog. The shared buffer also holds
// what the debugger's dialog chose, a project file that a Save As must
// never propose: every Save As starts from this name of its own.
static char savedFileName[260];

static char filterText[FILTER_TEXT_SIZE];
static int filterLoaded = 0;
static char defaultExtension[260];

// The record without the fields that came later: 76 bytes in the 32-bit
// program, the size of the same fields in the 64-bit one.
enum {
    OPENFILENAME_PLAIN_SIZE = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR),
    LIST_BOX_ROW_SIZE = 1040,
};

// A list on its way to a file: the stream writes a temporary file in the
// chosen file's folder, which takes the chosen file's place only once all
// of it is written, so a failed save never leaves a cut-off list behind.
struct SaveTarget {
    FILE* file;
    HWND owner;
    char path[MAX_PATH];
    char temporaryPath[MAX_PATH];
};

static SaveTarget sharedSave;

// The system's code for the last failed stream operation.
static DWORD StreamError() {
    return _doserrno != 0 ? static_cast<DWORD>(_doserrno) : ERROR_WRITE_FAULT;
}

static FILE* BeginSave(SaveTarget* target, HWND owner, const char* path) {
    memset(target, 0, sizeof *target);
    target->owner = owner;
    CopyText(target->path, sizeof target->path, path);
    char folder[MAX_PATH];
    CopyText(folder, sizeof folder, path);
    char* slash = FindLastByte(folder, '\\');
    if (slash) {
        slash[1] = 0;
    } else {
        lstrcpyA(folder, ".");
    }
    if (!GetTempFileNameA(folder, "tv", 0, target->temporaryPath)) {
        ShowSystemError(owner, target->path, GetLastError());
        return nullptr;
    }
    _doserrno = 0;
    target->file = fopen(target->temporaryPath, "w");
    if (!target->file) {
        DWORD error = StreamError();
        DeleteFileA(target->temporaryPath);
        ShowSystemError(owner, target->path, error);
    }
    return target->file;
}

// Puts the temporary file in the chosen file's place. A read-only file or a
// folder of that name is never replaced, also where a rename would do so.
static DWORD ReplaceTarget(const SaveTarget* target) {
    DWORD attributes = GetFileAttributesA(target->path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
        return ERROR_ACCESS_DENIED;
    }
    if (!MoveFileExA(target->temporaryPath, target->path, MOVEFILE_REPLACE_EXISTING)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

static int FinishSave(SaveTarget* target) {
    FILE* file = target->file;
    if (!file) {
        return 0;
    }
    target->file = nullptr;
    int failed = ferror(file);
    if (fclose(file) != 0) {
        failed = 1;
    }
    DWORD error = failed ? StreamError() : ReplaceTarget(target);
    if (error != ERROR_SUCCESS) {
        DeleteFileA(target->temporaryPath);
        ShowSystemError(target->owner, target->path, error);
        return 0;
    }
    return 1;
}

void SplitFilterText(char* text) {
    for (char* p = text; *p;) {
        char* next = NextChar(p);
        if (*p == '|') {
            *p = 0;
        }
        p = next;
    }
}

void LoadFilterText(UINT stringId, char* buffer) {
    // Two spare zeros end the list however the text ends.
    memset(buffer, 0, FILTER_TEXT_SIZE);
    LoadStringA(appInstance, stringId, buffer, FILTER_TEXT_SIZE - 2);
    SplitFilterText(buffer);
}

char* ChooseSaveFileName(HWND owner) {
    if (!filterLoaded) {
        filterLoaded = 1;
        LoadFilterText(IDS_SAVE_FILTER, filterText);
        LoadStringA(appInstance, IDS_SAVE_EXTENSION, defaultExtension, sizeof defaultExtension);
    }
    OPENFILENAMEA dialog;
    memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = OPENFILENAME_PLAIN_SIZE;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filterText;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = chosenFilePath;
    dialog.nMaxFile = sizeof chosenFilePath;
    dialog.Flags =
        OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_EXTENSIONDIFFERENT | OFN_PATHMUSTEXIST;
    dialog.lpstrDefExt = defaultExtension;
    lstrcpynA(chosenFilePath, savedFileName, sizeof chosenFilePath);
    if (!GetSaveFileNameA(&dialog)) {
        return nullptr;
    }
    lstrcpynA(savedFileName, chosenFilePath, sizeof savedFileName);
    return chosenFilePath;
}

FILE* OpenSaveFile(HWND owner) {
    CloseSaveFile();
    if (ChooseSaveFileName(owner)) {
        BeginSave(&sharedSave, owner, chosenFilePath);
    }
    return sharedSave.file;
}

FILE* StartSaveFile(HWND owner, const char* path) {
    CloseSaveFile();
    return BeginSave(&sharedSave, owner, path);
}

FILE* CurrentSaveFile() {
    return sharedSave.file;
}

int CloseSaveFile() {
    return FinishSave(&sharedSave);
}

void SaveListBoxRows(HWND owner, HWND listBox) {
    if (!OpenSaveFile(owner)) {
        return;
    }
    int count = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; i++) {
        // A row longer than the buffer is left out rather than overrun it.
        if (SendMessageA(listBox, LB_GETTEXTLEN, i, 0) >= LIST_BOX_ROW_SIZE) {
            continue;
        }
        char row[LIST_BOX_ROW_SIZE];
        row[0] = 0;
        SendMessageA(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row));
        fprintf(sharedSave.file, "%s\n", row);
    }
    CloseSaveFile();
}

LRESULT SaveProcessList(HWND, WPARAM, WPARAM, LPARAM) {
    if (!listWindow || !ChooseSaveFileName(listWindow)) {
        return 0;
    }
    SaveTarget target;
    FILE* file = BeginSave(&target, listWindow, chosenFilePath);
    if (!file) {
        return 0;
    }
    // Processes still waiting for their slice get their rows first: the
    // file lists every process, in the order shown.
    CompleteProcessList(listWindow);
    int count = static_cast<int>(SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; row++) {
        ProcessNode* node = GetRowNode(row);
        if (!node) {
            continue;
        }
        char description[260];
        GetVersionSummary(node->path, node->name, description, sizeof description);
        fprintf(file, hexProcessId ? "%s\t%x\t%s\t%s" : "%s\t%u\t%s\t%s", node->name,
                static_cast<unsigned>(node->processId), node->path, description);
        // The figures of the columns shown follow, in the order of the columns.
        for (int column = 0; column < activeColumns.count; column++) {
            int kind = activeColumns.order[column];
            if (IsFigureCell(kind)) {
                char figure[64];
                FormatFigure(node, kind, figure);
                fprintf(file, "\t%s", figure);
            }
        }
        fprintf(file, "\n");
    }
    FinishSave(&target);
    return 0;
}
