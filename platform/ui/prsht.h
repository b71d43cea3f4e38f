// Property pages and the modal property sheet (CreatePropertySheetPageW, PropertySheetW).
//
// A page is made from a dialog template, a dialog procedure and a parameter (the page object,
// `lParam`); the page callback is told when the page is released and is where the page object is
// deleted. PropertySheetW makes the sheet's window (buttons 1 "OK", 2 "Отмена", the tabs), makes
// each page's windows from its template, sends each page WM_INITDIALOG with its PROPSHEETPAGEW as
// lParam, runs the sheet callback with PSCB_INITIALIZED, and then hands the sheet to the dialog
// responder or to the viewer module, which shows it modally. When the sheet closes, every page is
// released.
#pragma once

#include "platform/ui/controls.h"

namespace Velmora::Platform {

inline constexpr DWORD PSP_USETITLE = 0x00000008;
inline constexpr DWORD PSP_USECALLBACK = 0x00000080;
inline constexpr DWORD PSP_USEFUSIONCONTEXT = 0x00004000;
inline constexpr UINT PSPCB_RELEASE = 1;
inline constexpr UINT PSPCB_CREATE = 2;

struct PROPSHEETPAGEW;
using LPFNPSPCALLBACKW = UINT (*)(HWND, UINT, PROPSHEETPAGEW*);

struct PROPSHEETPAGEW {
  DWORD dwSize = sizeof(PROPSHEETPAGEW);
  DWORD dwFlags = 0;
  const DLGTEMPLATE* pResource = nullptr;
  const wchar_t* pszTitle = nullptr;
  DLGPROC pfnDlgProc = nullptr;
  LPARAM lParam = 0;
  LPFNPSPCALLBACKW pfnCallback = nullptr;
};

// Makes a page from `page` (copied). Null with the last error set when `page` lacks a template or
// a dialog procedure (ERROR_INVALID_PARAMETER). Otherwise the page belongs to the caller until it
// is handed to PropertySheetW (or destroyed with DestroyPropertySheetPage).
HPROPSHEETPAGE CreatePropertySheetPageW(const PROPSHEETPAGEW* page);
// Releases a page that was never shown: its callback gets PSPCB_RELEASE.
BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page) noexcept;

inline constexpr DWORD PSH_NOAPPLYNOW = 0x00000080;
inline constexpr DWORD PSH_USECALLBACK = 0x00000100;
inline constexpr DWORD PSH_NOCONTEXTHELP = 0x02000000;
inline constexpr int PSCB_INITIALIZED = 1;
using PFNPROPSHEETCALLBACK = int (*)(HWND, UINT, LPARAM);

struct PROPSHEETHEADERW {
  DWORD dwSize = sizeof(PROPSHEETHEADERW);
  DWORD dwFlags = 0;
  HWND hwndParent = nullptr;
  const wchar_t* pszCaption = nullptr;
  UINT nPages = 0;
  UINT nStartPage = 0;
  HPROPSHEETPAGE* phpage = nullptr;
  PFNPROPSHEETCALLBACK pfnCallback = nullptr;
};

// Shows the sheet modally and returns when it is closed: 1 when it was closed, -1 with the last
// error set when it could not be shown (ERROR_INVALID_PARAMETER for a header without pages,
// ERROR_MOD_NOT_FOUND when no responder took it and the viewer module cannot be loaded). Every
// page of the header is released before the call returns, whatever the outcome.
INT_PTR PropertySheetW(const PROPSHEETHEADERW* header);

// The page window at `index` of a sheet; null when there is none.
HWND PropSheet_IndexToHwnd(HWND sheet, int index) noexcept;
// Closes the sheet as its cancel button (id 2) would; the viewer module ends its modal loop.
void PropSheet_Close(HWND sheet) noexcept;
// Whether the sheet has been asked to close.
bool PropSheet_IsClosing(HWND sheet) noexcept;

// The parts of the sheet that the viewer module needs to run it (the module is a view).
namespace SheetInternals {
// Sets the pixel sizes of the sheet's windows for dialog base units (average character width,
// character height) and sends the pages WM_INITDIALOG and the callback PSCB_INITIALIZED once.
void Initialize(HWND sheet, int baseUnitX, int baseUnitY);
}  // namespace SheetInternals

}  // namespace Velmora::Platform
