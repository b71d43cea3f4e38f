// Opening a request or stamp file in the viewer, for horodex-view and `horodex view`: the kind is
// told from the file's extension (".tsq" a request, ".tsr" a stamp), else by reading the file and
// trying it as a request first; the file then goes to the shell entry point for its kind
// (include/horodex/ShellEntryPoints.h) with no owner window, which shows the sheet or the error
// box.
//
// Automation: when the environment variable HORODEX_VIEW_AUTOMATION is set to a non-empty value,
// nothing waits for a person and nothing is put on screen: the program's dialog responder
// (platform/ui/winuser.h) answers every message box with OK and closes the sheet as soon as its
// page is ready, and writes each to standard output:
//   message box: CAPTION: TEXT
//   sheet: CAPTION: N rows        the sheet's caption and the number of rows in its page's list
// Tests and scripts use it to check what a user would be shown.
#pragma once

#include <ostream>
#include <string>

namespace Horodex {

// Exit codes of horodex-view (and of `horodex view`).
inline constexpr int kViewShown = 0;     // the sheet was shown and closed
inline constexpr int kViewUsage = 1;     // bad command line
inline constexpr int kViewReported = 2;  // the file could not be shown; an error box said why
// A fault inside the program or library (sysexits' EX_SOFTWARE), the same for every tool.
inline constexpr int kExitInternalError = 70;

// Shows the file at `path`; `out` receives the automation lines.
int ViewFile(const std::string& path, std::ostream& out);

// For a tool's main, inside its last catch handler: writes "TOOL: internal error 0xCODE: TEXT"
// (the code of the exception being handled, as the library's guards map it) to `err` and returns
// kExitInternalError.
int ReportInternalError(const char* tool, std::ostream& err) noexcept;

}  // namespace Horodex
