#include "views/nodetable.h"

#include <stdlib.h>
#include <string.h>

// Nodes by (process id, kind): open addressing with linear probing, at most
// half full. The table is built from the node list whenever it must grow; a
// removal moves later entries back so that no probe stops at a hole.
static ProcessNode** nodeTable = nullptr;
static DWORD nodeTableSize = 0; // a power of two
static DWORD nodeTableCount = 0;

static DWORD NodeHome(DWORD processId, DWORD kind) {
    DWORD mixed = (processId ^ (kind << 28)) * 2654435761u;
    return (mixed ^ (mixed >> 15)) & (nodeTableSize - 1);
}

// Forgets every entry; also right when the node list was emptied by hand.
void ResetNodeTable() {
    if (nodeTable) {
        memset(nodeTable, 0, nodeTableSize * sizeof nodeTable[0]);
    }
    nodeTableCount = 0;
}

static void PlaceNode(ProcessNode* node) {
    DWORD slot = NodeHome(node->processId, node->kind);
    while (nodeTable[slot]) {
        slot = (slot + 1) & (nodeTableSize - 1);
    }
    nodeTable[slot] = node;
    nodeTableCount++;
}

// Builds a table of the given size from the node list; without memory the
// lookups walk the list until a later build succeeds.
static void RebuildNodeTable(DWORD size) {
    free(nodeTable);
    nodeTable = static_cast<ProcessNode**>(calloc(size, sizeof nodeTable[0]));
    nodeTableSize = nodeTable ? size : 0;
    nodeTableCount = 0;
    if (nodeTable) {
        for (ProcessNode* node = processListHead; node; node = node->next) {
            if (!(node->flags & NODE_RETIRED)) {
                PlaceNode(node);
            }
        }
    }
}

// Called once the node is linked at the head.
void AddToNodeTable(ProcessNode* node) {
    if (nodeTable && (nodeTableCount + 1) * 2 <= nodeTableSize) {
        PlaceNode(node);
        return;
    }
    DWORD size = nodeTableSize ? nodeTableSize * 2 : 1024;
    while ((nodeTableCount + 1) * 2 > size) {
        size *= 2;
    }
    RebuildNodeTable(size);
}

void RemoveFromNodeTable(ProcessNode* node) {
    if (!nodeTable) {
        return;
    }
    DWORD mask = nodeTableSize - 1;
    DWORD hole = NodeHome(node->processId, node->kind);
    while (nodeTable[hole] != node) {
        if (!nodeTable[hole]) {
            return;
        }
        hole = (hole + 1) & mask;
    }
    nodeTable[hole] = nullptr;
    nodeTableCount--;
    // Move back every later entry of the run whose probe passed the hole.
    for (DWORD slot = (hole + 1) & mask; nodeTable[slot]; slot = (slot + 1) & mask) {
        DWORD home = NodeHome(nodeTable[slot]->processId, nodeTable[slot]->kind);
        bool reachable =
            hole <= slot ? (home > hole && home <= slot) : (home > hole || home <= slot);
        if (!reachable) {
            nodeTable[hole] = nodeTable[slot];
            nodeTable[slot] = nullptr;
            hole = slot;
        }
    }
}

ProcessNode* FindNode(DWORD processId, DWORD kind) {
    if (!processListHead) {
        ResetNodeTable();
        return nullptr;
    }
    if (!nodeTable) {
        for (ProcessNode* node = processListHead; node; node = node->next) {
            if (node->processId == processId && node->kind == kind &&
                !(node->flags & NODE_RETIRED)) {
                return node;
            }
        }
        return nullptr;
    }
    for (DWORD slot = NodeHome(processId, kind); nodeTable[slot];
         slot = (slot + 1) & (nodeTableSize - 1)) {
        if (nodeTable[slot]->processId == processId && nodeTable[slot]->kind == kind) {
            return nodeTable[slot];
        }
    }
    return nullptr;
}
