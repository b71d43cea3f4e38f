// The viewer module libhorodex-ui.so.1: the Qt 6 Widgets view of this layer's dialogs. The library
// never links Qt; it loads the module with dlopen at the first dialog that must be shown, from the
// library's own directory first and then the normal search path, and reaches it through the one
// table of functions that the module exports as HorodexViewerModule. The module does not link the
// library: what it needs of this layer comes in the host's table that the library hands it, so it
// works with whichever copy of the layer loaded it and the library exports none of it.
#pragma once

#include "platform/ui/commdlg.h"
#include "platform/ui/controls.h"

namespace Velmora::Platform {

inline constexpr unsigned kViewerModuleVersion = 2;
inline constexpr const char* kViewerModuleName = "libhorodex-ui.so.1";

// Every function runs on the caller's thread; the module makes a QApplication for the call when
// the process has none. A failure answers the failure value with the last error set.
struct ViewerModule {
  unsigned version;
  // MessageBoxW: the button pressed, 0 on failure.
  int (*messageBox)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
  // GetSaveFileNameW.
  BOOL (*getSaveFileName)(OPENFILENAMEW* dialog);
  // Runs a sheet made by PropertySheetW until it is closed: lays it out, calls
  // SheetInternals::Initialize with the font's base units, shows it, reports it to the responder
  // (OnSheetShown), waits. 1, or -1 on failure.
  INT_PTR (*runSheet)(HWND sheet, DialogResponder* responder);
  // The certificate dialog: a title and the text of its fields. TRUE, or FALSE on failure.
  BOOL (*showCertificate)(HWND owner, const wchar_t* title, const wchar_t* text);
  // GetSystemMetrics.
  int (*systemMetrics)(int index);
};

// The layer's functions that the module calls, each as declared in this layer's headers.
struct ViewerHost {
  void (*setLastError)(DWORD code) noexcept;
  bool (*isWindow)(HWND hwnd) noexcept;
  void* (*ownerWidget)(HWND owner) noexcept;
  void (*registerWidget)(HWND hwnd, void* widget) noexcept;
  DialogResponder* (*getDialogResponder)() noexcept;
  std::vector<std::wstring> (*splitFilterList)(const wchar_t* filter);
  void (*initializeSheet)(HWND sheet, int baseUnitX, int baseUnitY);
  bool (*sheetIsClosing)(HWND sheet) noexcept;
  BOOL (*userChooseComboItem)(HWND combo, int index);
  BOOL (*userSelectListItem)(HWND list, int index);
  BOOL (*userClickButton)(HWND button);
};

// The module's table; null with ERROR_MOD_NOT_FOUND (or ERROR_PROC_NOT_FOUND for a module without
// the table, ERROR_BAD_FORMAT for one of another version) as the last error. The module is loaded
// once and stays loaded; a failure is tried again at the next call.
const ViewerModule* LoadViewerModule() noexcept;

// Owner windows as the module sees them: an application's widget, or the widget that the module
// shows for one of this layer's windows (registered while it is shown), or null.
void* OwnerWidget(HWND owner) noexcept;
void RegisterWidget(HWND hwnd, void* widget) noexcept;

}  // namespace Velmora::Platform

// The module's entry: its table, for the host's functions (which stay valid while the process
// runs).
extern "C" const Velmora::Platform::ViewerModule* HorodexViewerModule(
    const Velmora::Platform::ViewerHost* host);
