#include "views/savelist.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "res/resource.h"
#include "views/processlist.h"
#include "views/version.h"

#include <commdlg.h>
#include <string.h>

char chosenFilePath[260];

static char filterText[262];
static int filterLoaded = 0;
static char defaultExtension[260];
static FILE* saveFile = nullptr;

enum { OPENFILENAME_PLAIN_SIZE = 76, LIST_BOX_ROW_SIZE = 1040 };

void SplitFilterText(char* text) {
    for (char* p = text; *p;) {
        char* next = NextChar(p);
        if (*p == '|') {
            *p = 0;
        }
        p = next;
    }
}

char* ChooseSaveFileName(HWND owner) {
    if (!filterLoaded) {
        filterLoaded = 1;
        // Two spare zeros end the list however the text ends.
        memset(filterText, 0, sizeof filterText);
        LoadStringA(appInstance, IDS_SAVE_FILTER, filterText, 260);
        SplitFilterText(filterText);
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
    return GetSaveFileNameA(&dialog) ? chosenFilePath : nullptr;
}

FILE* OpenSaveFile(HWND owner) {
    CloseSaveFile();
    if (ChooseSaveFileName(owner)) {
        saveFile = fopen(chosenFilePath, "w");
    }
    return saveFile;
}

FILE* CurrentSaveFile() {
    return saveFile;
}

void CloseSaveFile() {
    if (saveFile) {
        fclose(saveFile);
        saveFile = nullptr;
    }
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
        fprintf(saveFile, "%s\n", row);
    }
    CloseSaveFile();
}

LRESULT SaveProcessList(HWND, WPARAM, WPARAM, LPARAM) {
    if (!listWindow || !ChooseSaveFileName(listWindow)) {
        return 0;
    }
    FILE* file = fopen(chosenFilePath, "w");
    if (!file) {
        return 0;
    }
    int count = static_cast<int>(SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; row++) {
        ProcessNode* node = GetRowNode(row);
        if (!node) {
            continue;
        }
        char description[260];
        GetVersionSummary(node->path, node->name, description, sizeof description);
        fprintf(file, hexProcessId ? "%s\t%x\t%s\t%s\n" : "%s\t%u\t%s\t%s\n", node->name,
                static_cast<unsigned>(node->processId), node->path, description);
    }
    fclose(file);
    return 0;
}
