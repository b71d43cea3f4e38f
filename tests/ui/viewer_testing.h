// What the viewer's tests share: a dialog responder that records every box and answers save
// dialogs from a script, and readers of a page's rows.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/commdlg.h"
#include "platform/ui/controls.h"
#include "platform/ui/cryptuiapi.h"
#include "platform/ui/prsht.h"
#include "ui/FieldPage.h"

namespace Velmora::Testing::Viewer {

namespace P = Velmora::Platform;
using Velmora::PKI::TSP::Client::Viewer::CFieldPage;

struct Box {
  std::wstring text;
  std::wstring caption;
  P::UINT type;
};

struct SaveDialogSeen {
  std::vector<std::wstring> filters;
  P::DWORD filterIndex;
  std::wstring defaultExtension;
  P::DWORD flags;
  int ownerId;
};

// Records boxes, answers save dialogs in order (cancel when none is left), takes every sheet
// after handing its first page to `onSheet` unless `showSheets` is set (then the viewer module
// shows it and `onShown` gets the QDialog).
class Responder : public P::DialogResponder {
 public:
  Responder() : m_previous(P::SetDialogResponder(this)) {}
  ~Responder() override { P::SetDialogResponder(m_previous); }
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;

  bool OnMessageBox(P::HWND, std::wstring_view text, std::wstring_view caption, P::UINT type,
                    int* result) override {
    boxes.push_back(Box{std::wstring(text), std::wstring(caption), type});
    *result = P::IDOK;
    return true;
  }
  bool OnSaveDialog(const P::OPENFILENAMEW& dialog, P::SaveDialogAnswer* answer) override {
    saveDialogs.push_back(SaveDialogSeen{
        P::SplitFilterList(dialog.lpstrFilter), dialog.nFilterIndex, dialog.lpstrDefExt,
        dialog.Flags, P::IsWindow(dialog.hwndOwner) ? dialog.hwndOwner->id : -1});
    if (!saveAnswers.empty()) {
      *answer = saveAnswers.front();
      saveAnswers.pop_front();
    }
    return true;
  }
  bool OnPropertySheet(P::HWND sheet) override {
    sheetCaptions.push_back(sheet->text);
    if (showSheets) {
      return false;
    }
    if (onSheet) {
      P::HWND page = P::PropSheet_IndexToHwnd(sheet, 0);
      onSheet(sheet, *reinterpret_cast<CFieldPage*>(P::GetWindowLongPtrW(page, P::DWLP_USER)));
    }
    return true;
  }
  void OnSheetShown(P::HWND widget) override {
    if (onShown) {
      onShown(widget);
    }
  }
  bool OnCertificateDialog(const P::CRYPTUI_VIEWCERTIFICATE_STRUCTW& dialog,
                           std::wstring_view text) override {
    certificateDialogs.push_back(dialog);
    certificateTitles.emplace_back(dialog.szTitle != nullptr ? dialog.szTitle : L"(none)");
    certificateTexts.emplace_back(text);
    return !showSheets;
  }

  std::vector<Box> boxes;
  std::vector<SaveDialogSeen> saveDialogs;
  std::deque<P::SaveDialogAnswer> saveAnswers;
  std::vector<std::wstring> sheetCaptions;
  std::vector<P::CRYPTUI_VIEWCERTIFICATE_STRUCTW> certificateDialogs;
  std::vector<std::wstring> certificateTexts;
  std::vector<std::wstring> certificateTitles;  // "(none)" for a dialog without a title
  std::function<void(P::HWND sheet, CFieldPage& page)> onSheet;
  std::function<void(P::HWND widget)> onShown;
  bool showSheets = false;

 private:
  P::DialogResponder* m_previous;
};

struct Row {
  std::wstring name;
  std::wstring value;
  int icon;
  P::LPARAM tag;
};

inline std::vector<Row> RowsOf(const CFieldPage& page) {
  std::vector<Row> rows;
  for (const P::LVITEM_DATA& item : page.list()->items) {
    rows.push_back(Row{item.text[0], item.text[1], item.image, item.lParam});
  }
  return rows;
}

inline std::vector<std::wstring> NamesOf(const CFieldPage& page) {
  std::vector<std::wstring> names;
  for (const Row& row : RowsOf(page)) {
    names.push_back(row.name);
  }
  return names;
}

// The row named `name` (the first), or a row with an empty name.
inline Row RowNamed(const CFieldPage& page, const std::wstring& name) {
  for (const Row& row : RowsOf(page)) {
    if (row.name == name) {
      return row;
    }
  }
  return Row{};
}

inline int IndexOf(const CFieldPage& page, const std::wstring& name) {
  const std::vector<Row> rows = RowsOf(page);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].name == name) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

inline std::wstring FaceOf(const CFieldPage& page) {
  return page.details()->textFormat.szFaceName;
}

}  // namespace Velmora::Testing::Viewer
