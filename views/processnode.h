// The main list's per-row record and its flags.
#ifndef TOLVANE_VIEWS_PROCESSNODE_H
#define TOLVANE_VIEWS_PROCESSNODE_H

#include "sysinfo/process_entry.h"

// A row's record: a whole copy of the entry the back-end handed over, whose
// links, flags and mark time belong to the list.
typedef ProcessEntry ProcessNode;

enum NodeFlags {
    NODE_SEEN = 0x1,
    NODE_FILTERED_OUT = 0x4,
    NODE_NEW = 0x8,
    NODE_GONE = 0x10,
    NODE_HAS_ROW = 0x20, // the node backs a row of the list view
    // The module filter took the row away; the node stays known so that the
    // next pass asks the process only what may change, and the row comes
    // back when the filter lets the process in again.
    NODE_HIDDEN = 0x40,
    // The process ended and another one took its id: the node keeps its
    // row until it has been shown gone, but lookups by id no longer find it.
    NODE_RETIRED = 0x80,
    // The filter box's text is in none of the process's name, path and id:
    // the node is kept without a row while the text stays.
    NODE_UNMATCHED = 0x100,
    NODE_EXPIRED = 0x1000,
};

// The nodes of every known process, newest first.
extern ProcessNode* processListHead;

#endif
