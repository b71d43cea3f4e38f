// The process-wide dialog responder and MessageBoxW.
#include <atomic>

#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/text/language.h"
#include "platform/ui/viewer_module.h"
#include "platform/ui/winuser.h"

namespace Velmora::Platform {

namespace {
std::atomic<DialogResponder*> g_responder{nullptr};
}  // namespace

bool DialogResponder::OnMessageBox(HWND, std::wstring_view, std::wstring_view, UINT, int*) {
  return false;
}
bool DialogResponder::OnSaveDialog(const OPENFILENAMEW&, SaveDialogAnswer*) {
  return false;
}
bool DialogResponder::OnPropertySheet(HWND) {
  return false;
}
void DialogResponder::OnSheetShown(HWND) {}
bool DialogResponder::OnCertificateDialog(const CRYPTUI_VIEWCERTIFICATE_STRUCTW&,
                                          std::wstring_view) {
  return false;
}

DialogResponder* SetDialogResponder(DialogResponder* responder) noexcept {
  return g_responder.exchange(responder);
}
DialogResponder* GetDialogResponder() noexcept {
  return g_responder.load();
}

int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  if (text == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const wchar_t* shownCaption = caption != nullptr ? caption : InUserLanguage(L"Ошибка", L"Error");
  if (DialogResponder* responder = GetDialogResponder()) {
    int result = IDOK;
    if (responder->OnMessageBox(owner, text, shownCaption, type, &result)) {
      return result;
    }
  }
  const ViewerModule* module = LoadViewerModule();
  if (module == nullptr) {
    return 0;
  }
  return module->messageBox(owner, text, shownCaption, type);
}

}  // namespace Velmora::Platform
