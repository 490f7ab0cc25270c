// The main list's resource columns: the processor share, processor time,
// working set, private bytes and handle count of each process, taken from
// the native process table that every pass reads; their texts, their order,
// the cells a pass redraws, and the columns shown or taken away when the
// option changes.
#ifndef TOLVANE_VIEWS_FIGURES_H
#define TOLVANE_VIEWS_FIGURES_H

#include <windows.h>
#include <commctrl.h>

#include "views/processnode.h"

// Takes the entry's figures into the node and works out its processor
// share since the last pass. Returns a mask of the figure cells whose text
// changed (bit 1 << cell kind); 0 when the entry carries no figures.
int MergeFigures(ProcessNode* node, const ProcessEntry* entry);
// A node met for the first time: its processor share is not known yet.
void StartFigures(ProcessNode* node);
// The text of a figure cell; empty when the figure is not known.
void FormatFigure(const ProcessNode* node, int kind, char* text);
// Compares two nodes by a figure, as the cells show it; unknown figures
// are lowest.
int CompareFigures(const ProcessNode* a, const ProcessNode* b, int kind);
// Draws again the cells in `changedMask` of the node's row, when the row is
// in view; nothing is erased.
void RedrawFigureCells(HWND list, int row, int changedMask);
// The process with the largest processor share (null when none has one).
const ProcessNode* BusiestProcess();
// Right-aligns the figure columns of the list and widens the memory
// figures' columns for the longest figure this machine can show.
void FormatFigureColumns(HWND list);
// The option was switched: the list gets the column set that goes with it,
// keeping the widths, the sort and the view, and is read anew.
void ApplyResourceColumns(HWND list);

#endif
