// The main list's nodes by (process id, kind), so that a pass finds a known
// process without walking the node list.
#ifndef TOLVANE_VIEWS_NODETABLE_H
#define TOLVANE_VIEWS_NODETABLE_H

#include "views/processnode.h"

ProcessNode* FindNode(DWORD processId, DWORD kind);
// Called once the node is linked at the head of the node list.
void AddToNodeTable(ProcessNode* node);
void RemoveFromNodeTable(ProcessNode* node);
// Forgets every entry; also right when the node list was emptied by hand.
void ResetNodeTable();

#endif
