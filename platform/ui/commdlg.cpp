// The save dialog.
#include <cwchar>

#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/ui/commdlg.h"
#include "platform/ui/viewer_module.h"

namespace Velmora::Platform {

std::vector<std::wstring> SplitFilterList(const wchar_t* filter) {
  std::vector<std::wstring> parts;
  if (filter == nullptr) {
    return parts;
  }
  // Pairs up to the empty text that ends the list; a lone display text without pattern is kept.
  for (const wchar_t* at = filter; *at != L'\0'; at += std::wcslen(at) + 1) {
    parts.emplace_back(at);
  }
  return parts;
}

BOOL GetSaveFileNameW(OPENFILENAMEW* dialog) {
  if (dialog == nullptr || dialog->lpstrFile == nullptr || dialog->nMaxFile == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (DialogResponder* responder = GetDialogResponder()) {
    SaveDialogAnswer answer;
    if (responder->OnSaveDialog(*dialog, &answer)) {
      if (!answer.accepted) {
        SetLastError(ERROR_SUCCESS);
        return FALSE;
      }
      if (answer.fileName.size() + 1 > dialog->nMaxFile) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
      }
      std::wmemcpy(dialog->lpstrFile, answer.fileName.c_str(), answer.fileName.size() + 1);
      dialog->nFilterIndex = answer.filterIndex;
      return TRUE;
    }
  }
  const ViewerModule* module = LoadViewerModule();
  if (module == nullptr) {
    return FALSE;
  }
  return module->getSaveFileName(dialog);
}

}  // namespace Velmora::Platform
