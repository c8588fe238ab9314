// What the main window does the same on every toolkit: the route a command
// takes and its state along it, the application's own commands, and
// selecting a key by its path as the command line asks.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "framework/cmd_target.h"
#include "res/resource.h"

namespace qv {

class CDifferencesRun;
class CQuorvaneDoc;
class CView;
class IModalUI;

// A command goes first to the active pane (may be null), then the document,
// the frame, the application (may be null); true when one handled it.
bool RouteCommand(CQuorvaneDoc& doc, CView* activePane, CCmdTarget& frame, CCmdTarget* app, UINT id);
// The command's state along the same route: disabled when no target handles
// it, and for the commands that work on the sides' trees until an Open.
CCmdUI CommandState(CQuorvaneDoc& doc, CView* activePane, CCmdTarget& frame, CCmdTarget* app, UINT id);

// About, About Us and Print Setup, which belong to no window.
bool AppCommand(IModalUI& ui, UINT id);
bool AppCommandState(CCmdUI& cmdUI);

// The differences list's actions on the rows `selected` (indices into the
// run's rows): Copy to Slave (`copy`) or Delete from Slave, through the
// document. The rows acted on leave the run, unless the list ran again
// meanwhile (`run` is then another run, or null).
void ActOnDifferenceRows(CQuorvaneDoc& doc, const std::unique_ptr<CDifferencesRun>& run,
                         const std::vector<std::size_t>& selected, bool copy);
// Saves the run's report, or its patch (`patch`), where the user chooses.
void SaveDifferences(IModalUI& ui, const CDifferencesRun& run, bool patch);

// Selects the key at `path` ("HKEY_LOCAL_MACHINE\SOFTWARE", names in any
// case) in both trees where it is in memory; a live side's levels on the way
// are read as clicks would read them.
void SelectKeyInTrees(CQuorvaneDoc& doc, const std::string& path);

}  // namespace qv
