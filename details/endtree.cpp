#include "details/endtree.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/tree.h"
#include "res/resource.h"
#include "sysinfo/chosenprocess.h"
#include "views/processlist.h"

#include <stdlib.h>
#include <string.h>

enum { MEMBER_LABEL_SIZE = 80, NOT_ENDED_TEXT_SIZE = 2048 };

// A process of the tree as it was when the user was asked: its identity is
// kept, so that an id given to a new process meanwhile is never reached.
struct TreeMember {
    const ProcessNode* node; // valid only while the tree is collected
    ChosenProcess chosen;
    char label[MEMBER_LABEL_SIZE];
};

static TreeMember* members = nullptr;
static int memberCount = 0;
static int memberCapacity = 0;

static int AddMember(const ProcessNode* node) {
    if (memberCount == memberCapacity) {
        int capacity = memberCapacity ? memberCapacity * 2 : 64;
        void* grown = realloc(members, capacity * sizeof(TreeMember));
        if (!grown) {
            return 0;
        }
        members = static_cast<TreeMember*>(grown);
        memberCapacity = capacity;
    }
    TreeMember* member = &members[memberCount++];
    member->node = node;
    memset(&member->chosen, 0, sizeof member->chosen);
    ChooseProcess(&member->chosen, node);
    FormatProcessLabel(member->label, sizeof member->label, node->name, node->processId);
    return 1;
}

static int IsMember(const ProcessNode* node) {
    for (int i = 0; i < memberCount; i++) {
        if (members[i].node == node) {
            return 1;
        }
    }
    return 0;
}

// The root, then its children, their children and so on: the order of
// depth. A parent id that leads in a circle adds nobody twice.
static void CollectTree(const ProcessNode* root) {
    memberCount = 0;
    if (!AddMember(root)) {
        return;
    }
    for (int i = 0; i < memberCount; i++) {
        for (ProcessNode* node = processListHead; node; node = node->next) {
            if (!(node->flags & NODE_GONE) && node->kind == KIND_WIN32 &&
                IsChildProcess(node, members[i].node) && !IsMember(node) && !AddMember(node)) {
                return;
            }
        }
    }
}

static void ReleaseMembers() {
    for (int i = 0; i < memberCount; i++) {
        ReleaseChosenProcess(&members[i].chosen);
    }
    memberCount = 0;
}

// Ends the member's process unless it has ended already; 0 when it runs on.
static int EndMember(TreeMember* member) {
    int state = CHOSEN_RUNNING;
    HANDLE process = OpenChosenProcess(&member->chosen, PROCESS_TERMINATE, &state);
    if (!process) {
        return state == CHOSEN_ENDED;
    }
    int ended = TerminateProcess(process, 0xFFFFFFFF) || ProcessHandleEnded(process);
    CloseHandle(process);
    return ended;
}

LRESULT EndSelectedProcessTree(HWND, WPARAM, WPARAM, LPARAM) {
    ProcessNode* root = GetSelectedNode(listWindow);
    if (!root || root->kind != KIND_WIN32) {
        return 0;
    }
    CollectTree(root);
    if (memberCount == 0) {
        return 0;
    }
    char format[260];
    char question[sizeof format + MEMBER_LABEL_SIZE + 16];
    LoadStringA(appInstance, IDS_END_TREE_CONFIRM, format, sizeof format);
    wsprintfA(question, format, members[0].label, memberCount - 1);
    // The list goes on refreshing under the question: the members are
    // those of this moment, each known by its id and creation time.
    if (MessageBoxA(mainWindow, question, mainClassName, MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
        ReleaseMembers();
        return 0;
    }
    char notEnded[NOT_ENDED_TEXT_SIZE];
    int length = LoadStringA(appInstance, IDS_NOT_ENDED, notEnded, 200);
    int failures = 0, cut = 0;
    for (int i = memberCount - 1; i >= 0; i--) {
        if (EndMember(&members[i])) {
            continue;
        }
        // Names while they fit, then one line that says there are more.
        if (length + MEMBER_LABEL_SIZE + 8 < NOT_ENDED_TEXT_SIZE) {
            length += wsprintfA(notEnded + length, "\n%s", members[i].label);
        } else if (!cut) {
            cut = 1;
            length += wsprintfA(notEnded + length, "\n...");
        }
        failures++;
    }
    ReleaseMembers();
    RefreshProcessList();
    if (failures) {
        MessageBoxA(mainWindow, notEnded, mainClassName, MB_OK | MB_ICONEXCLAMATION);
    }
    return 0;
}
