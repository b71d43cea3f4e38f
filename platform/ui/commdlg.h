// The save dialog (GetSaveFileNameW).
#pragma once

#include <string>
#include <vector>

#include "platform/ui/winuser.h"

namespace Velmora::Platform {

inline constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
inline constexpr DWORD OFN_HIDEREADONLY = 0x00000004;

struct OPENFILENAMEW {
  DWORD lStructSize = sizeof(OPENFILENAMEW);
  HWND hwndOwner = nullptr;
  // Pairs of display text and pattern ("*.tsq"), each ended by NUL, the list by an empty text.
  const wchar_t* lpstrFilter = nullptr;
  DWORD nFilterIndex = 1;                // 1-based, in and out
  wchar_t* lpstrFile = nullptr;          // in: the start name; out: the chosen name
  DWORD nMaxFile = 0;                    // characters in lpstrFile, terminator included
  const wchar_t* lpstrDefExt = nullptr;  // without its dot
  DWORD Flags = 0;
};

// Shows the save dialog. TRUE with the chosen name in lpstrFile and the chosen filter in
// nFilterIndex; FALSE when cancelled (last error 0) or failed (last error set: ERROR_MOD_NOT_FOUND
// without the viewer module, ERROR_INSUFFICIENT_BUFFER for a name that does not fit nMaxFile,
// ERROR_INVALID_PARAMETER for a structure without a file buffer).
BOOL GetSaveFileNameW(OPENFILENAMEW* dialog);

// The display texts and patterns of a filter list, in order.
std::vector<std::wstring> SplitFilterList(const wchar_t* filter);

}  // namespace Velmora::Platform
