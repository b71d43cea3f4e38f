// Property pages and the modal sheet.
#include <memory>
#include <vector>

#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/text/language.h"
#include "platform/ui/prsht.h"
#include "platform/ui/viewer_module.h"

namespace Velmora::Platform {

struct _PSP {
  PROPSHEETPAGEW description;
  bool released = false;

  void Release() noexcept {
    if (!released && (description.dwFlags & PSP_USECALLBACK) != 0 &&
        description.pfnCallback != nullptr) {
      released = true;
      description.pfnCallback(nullptr, PSPCB_RELEASE, &description);
    }
    released = true;
  }
};

namespace {

// Dialog base units of "MS Shell Dlg" 8 points at 96 dots per inch, for sheets laid out without
// a window system.
constexpr int kDefaultBaseUnitX = 6;
constexpr int kDefaultBaseUnitY = 13;

// Owns a sheet's windows and releases its pages, whatever way PropertySheetW leaves.
class SheetOwner {
 public:
  explicit SheetOwner(HWND sheet) : m_sheet(sheet) {}
  SheetOwner(const SheetOwner&) = delete;
  SheetOwner& operator=(const SheetOwner&) = delete;
  ~SheetOwner() { DestroyWindowData(m_sheet); }

 private:
  HWND m_sheet;
};

class PageReleaser {
 public:
  PageReleaser(HPROPSHEETPAGE* pages, UINT count) : m_pages(pages, pages + count) {}
  PageReleaser(const PageReleaser&) = delete;
  PageReleaser& operator=(const PageReleaser&) = delete;
  ~PageReleaser() {
    for (HPROPSHEETPAGE page : m_pages) {
      DestroyPropertySheetPage(page);
    }
  }

 private:
  std::vector<HPROPSHEETPAGE> m_pages;
};

HWND MakeButton(HWND sheet, int id, const wchar_t* text) {
  HWND button = CreateWindowData(WindowKind::Button, sheet);
  button->id = id;
  button->text = text;
  button->style = WS_VISIBLE;
  return button;
}

void MakePageWindows(HWND sheet, HPROPSHEETPAGE page) {
  const DLGTEMPLATE& layout = *page->description.pResource;
  HWND window = CreateWindowData(WindowKind::Page, sheet);
  window->sheetPage = page;
  window->dialogTemplate = &layout;
  window->dialogProc = page->description.pfnDlgProc;
  window->text = (page->description.dwFlags & PSP_USETITLE) != 0 && page->description.pszTitle
                     ? page->description.pszTitle
                     : layout.caption;
  window->dialogRect = RECT{0, 0, layout.cx, layout.cy};
  for (const DLGITEMTEMPLATE& item : layout.items) {
    HWND control = CreateWindowData(item.kind, window);
    control->id = item.id;
    control->text = item.text != nullptr ? item.text : L"";
    control->style = item.style;
    control->visible = (item.style & WS_VISIBLE) != 0;
    control->enabled = (item.style & WS_DISABLED) == 0;
    control->dialogRect = RECT{item.x, item.y, item.x + item.cx, item.y + item.cy};
    if (item.kind == WindowKind::RichEdit) {
      CHARFORMATW format{};
      format.cbSize = sizeof(format);
      format.dwMask = CFM_FACE | CFM_SIZE;
      format.yHeight = layout.pointSize * 20;
      std::wcsncpy(format.szFaceName, layout.fontFace, LF_FACESIZE - 1);
      control->defaultFormat = format;
      control->textFormat = format;
    }
  }
}

}  // namespace

HPROPSHEETPAGE CreatePropertySheetPageW(const PROPSHEETPAGEW* page) {
  if (page == nullptr || page->pResource == nullptr || page->pfnDlgProc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto made = std::make_unique<_PSP>();
  made->description = *page;
  if ((page->dwFlags & PSP_USECALLBACK) != 0 && page->pfnCallback != nullptr &&
      page->pfnCallback(nullptr, PSPCB_CREATE, &made->description) == 0) {
    SetLastError(ERROR_CANCELLED);
    return nullptr;
  }
  return made.release();
}

BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page) noexcept {
  if (page == nullptr) {
    return FALSE;
  }
  page->Release();
  delete page;
  return TRUE;
}

namespace SheetInternals {

void Initialize(HWND sheet, int baseUnitX, int baseUnitY) {
  if (!IsWindow(sheet) || sheet->kind != WindowKind::Sheet || sheet->initialized) {
    return;
  }
  sheet->initialized = true;
  for (auto& child : sheet->children) {
    HWND window = child.get();
    if (window->kind != WindowKind::Page) {
      continue;
    }
    window->clientWidth = window->dialogRect.right * baseUnitX / 4;
    window->clientHeight = window->dialogRect.bottom * baseUnitY / 8;
    for (auto& control : window->children) {
      const RECT& r = control->dialogRect;
      // The client area lies inside a border of one pixel on each side.
      const int border = (control->style & WS_BORDER) != 0 ? 2 : 0;
      control->clientWidth = (r.right - r.left) * baseUnitX / 4 - border;
      control->clientHeight = (r.bottom - r.top) * baseUnitY / 8 - border;
    }
    SendMessageW(window, WM_INITDIALOG, 0,
                 reinterpret_cast<LPARAM>(&window->sheetPage->description));
  }
  if (sheet->sheetCallback != nullptr) {
    sheet->sheetCallback(sheet, PSCB_INITIALIZED, 0);
  }
}

}  // namespace SheetInternals

INT_PTR PropertySheetW(const PROPSHEETHEADERW* header) {
  if (header == nullptr || header->nPages == 0 || header->phpage == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  PageReleaser releaser(header->phpage, header->nPages);
  for (UINT i = 0; i < header->nPages; ++i) {
    if (header->phpage[i] == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return -1;
    }
  }
  DialogResponder* responder = GetDialogResponder();
  const ViewerModule* module = nullptr;
  if (responder == nullptr) {
    module = LoadViewerModule();
    if (module == nullptr) {
      return -1;
    }
  }
  HWND sheet = CreateWindowData(WindowKind::Sheet, nullptr);
  SheetOwner owner(sheet);
  sheet->text = header->pszCaption != nullptr ? header->pszCaption : L"";
  sheet->parent = nullptr;
  sheet->userData = reinterpret_cast<LONG_PTR>(header->hwndParent);
  if ((header->dwFlags & PSH_USECALLBACK) != 0) {
    sheet->sheetCallback = header->pfnCallback;
  }
  MakeButton(sheet, IDOK, L"OK");
  MakeButton(sheet, IDCANCEL, InUserLanguage(L"Отмена", L"Cancel"));
  for (UINT i = 0; i < header->nPages; ++i) {
    MakePageWindows(sheet, header->phpage[i]);
  }
  if (responder != nullptr) {
    SheetInternals::Initialize(sheet, kDefaultBaseUnitX, kDefaultBaseUnitY);
    if (responder->OnPropertySheet(sheet)) {
      return 1;
    }
    module = LoadViewerModule();
    if (module == nullptr) {
      return -1;
    }
  }
  return module->runSheet(sheet, responder);
}

HWND PropSheet_IndexToHwnd(HWND sheet, int index) noexcept {
  if (!IsWindow(sheet) || sheet->kind != WindowKind::Sheet) {
    return nullptr;
  }
  int at = 0;
  for (auto& child : sheet->children) {
    if (child->kind == WindowKind::Page && at++ == index) {
      return child.get();
    }
  }
  return nullptr;
}

void PropSheet_Close(HWND sheet) noexcept {
  if (IsWindow(sheet) && sheet->kind == WindowKind::Sheet) {
    sheet->closing = true;
    ++sheet->version;
  }
}

bool PropSheet_IsClosing(HWND sheet) noexcept {
  return IsWindow(sheet) && sheet->closing;
}

}  // namespace Velmora::Platform
