// Opening a request, stamp or signature file in the viewer, for horodex-view and `horodex view`:
// the kind is told from the file's extension (".tsq" a request, ".tsr" a stamp, ".p7s" and
// ".p7m" a CMS signature), else by reading the file: one that imports as a request is one, a CMS
// SignedData of other content than a time stamp's TSTInfo is a signature, anything else a stamp.
// A request or stamp goes to the shell entry point for its kind
// (include/horodex/ShellEntryPoints.h) with no owner window, which shows the sheet or the error
// box. A signature is shown as one sheet with a stamp page for each signature time stamp of each
// signer, in the message's order, titled with the file's name; a file that does not read as a
// signature gets the entry points' error box (caption "Velmora TSP Client", the text of its code),
// and a signature without time stamps a box saying so, in the user's language.
//
// Automation: when the environment variable HORODEX_VIEW_AUTOMATION is set to a non-empty value,
// nothing waits for a person and nothing is put on screen: the program's dialog responder
// (platform/ui/winuser.h) answers every message box with OK and closes the sheet as soon as its
// pages are ready, and writes each to standard output:
//   message box: CAPTION: TEXT
//   sheet: CAPTION: N rows, P pages   the sheet's caption, the number of rows in the list of its
//                                     first page, and its number of pages
// Tests and scripts use it to check what a user would be shown.
#pragma once

#include <ostream>
#include <string>

namespace Horodex {

// Exit codes of horodex-view (and of `horodex view`).
inline constexpr int kViewShown = 0;     // the sheet was shown and closed
inline constexpr int kViewUsage = 1;     // bad command line
inline constexpr int kViewReported = 2;  // the file could not be shown; a message box said why
// A fault inside the program or library (sysexits' EX_SOFTWARE), the same for every tool.
inline constexpr int kExitInternalError = 70;

// Shows the file at `path`; `out` receives the automation lines.
int ViewFile(const std::string& path, std::ostream& out);

// For a tool's main, inside its last catch handler: writes "TOOL: internal error 0xCODE: TEXT"
// (the code of the exception being handled, as the library's guards map it) to `err` and returns
// kExitInternalError.
int ReportInternalError(const char* tool, std::ostream& err) noexcept;

}  // namespace Horodex
