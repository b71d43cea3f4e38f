// The window-system operations of the viewer, under the platform's names: message boxes, the
// dialog windows of a property page and its controls, and the automation boundary that tests and
// scripted callers use instead of a person.
//
// The windows here are data: a page made from a dialog template is a tree of HWND__ objects that
// hold each control's text, state and items (platform/ui/controls.h). The page's own logic reads
// and writes that data through the functions below; the viewer module libhorodex-ui.so.1 (Qt 6
// Widgets, loaded with dlopen at first use) renders it and turns a person's clicks into the
// page's window messages. With a responder installed (SetDialogResponder) nothing is shown at
// all: every box, save dialog, sheet and certificate dialog goes to the responder, so pages can
// be driven without a display.
//
// An HWND that is not one of these windows (an application's parent window) is taken as a
// pointer to the application's QWidget and only ever handed to the viewer module as an owner.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/types.h"

namespace Velmora::Platform {

using UINT = unsigned int;
using INT_PTR = std::intptr_t;
using LPARAM = std::intptr_t;
using WPARAM = std::uintptr_t;
using LRESULT = std::intptr_t;

// MessageBoxW types and answers.
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// MessageBoxW: shows `text` with `caption` (null: "Ошибка") and the icon of `type`, owned by
// `owner` (may be null), and waits until it is closed. Returns IDOK, or what the responder
// answered. Returns 0 with the last error set when no box can be shown: ERROR_MOD_NOT_FOUND
// (126) when the viewer module is missing, ERROR_INVALID_PARAMETER for a null `text`.
int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

struct OPENFILENAMEW;                    // platform/ui/commdlg.h
struct CRYPTUI_VIEWCERTIFICATE_STRUCTW;  // platform/ui/cryptuiapi.h

// What a responder answers for a save dialog: `accepted` false is a cancel; otherwise the file
// name (as typed: the page trims it) and the 1-based filter index chosen.
struct SaveDialogAnswer {
  bool accepted = false;
  std::wstring fileName;
  DWORD filterIndex = 1;
};

// DialogResponder: the test and automation boundary. While one is installed, every dialog that
// would wait for a person is first offered to it, on the thread that shows the dialog:
//   OnMessageBox       each MessageBoxW; answer true (with the button in *result) to take it,
//                      false to let it be shown.
//   OnSaveDialog       each GetSaveFileNameW (the filled structure); answer true to take it,
//                      with the answer in *answer.
//   OnPropertySheet    each PropertySheetW, after its pages have been started (their window
//                      messages for initialization sent) and the sheet's callback has run. The
//                      sheet is `sheet`: its buttons and pages are read and driven through
//                      platform/ui/prsht.h and controls.h. Answer true to take the sheet: it is
//                      closed when the call returns. Answer false to have it shown; the viewer
//                      module then calls OnSheetShown with the visible sheet (the QDialog, as an
//                      HWND) once it is on screen, and the responder may drive it with Qt Test
//                      and close it.
//   OnCertificateDialog each CryptUIDlgViewCertificateW, with the text the dialog would show;
//                      answer true to take it.
// Defaults take nothing. Install with SetDialogResponder; the responder must outlive its
// installation. One responder for the process; installing returns the previous one.
class DialogResponder {
 public:
  virtual ~DialogResponder() = default;
  virtual bool OnMessageBox(HWND owner, std::wstring_view text, std::wstring_view caption,
                            UINT type, int* result);
  virtual bool OnSaveDialog(const OPENFILENAMEW& dialog, SaveDialogAnswer* answer);
  virtual bool OnPropertySheet(HWND sheet);
  virtual void OnSheetShown(HWND sheetWidget);
  virtual bool OnCertificateDialog(const CRYPTUI_VIEWCERTIFICATE_STRUCTW& dialog,
                                   std::wstring_view shownText);
};

DialogResponder* SetDialogResponder(DialogResponder* responder) noexcept;
DialogResponder* GetDialogResponder() noexcept;

}  // namespace Velmora::Platform
