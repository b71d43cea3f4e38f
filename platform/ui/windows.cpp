// The windows of the viewer as data, and the control operations the pages call on them.
#include <algorithm>
#include <cwchar>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/ui/controls.h"
#include "platform/ui/viewer_module.h"

namespace Velmora::Platform {

namespace {

struct Registry {
  std::mutex lock;
  std::unordered_set<HWND> live;
  std::unordered_map<HWND, void*> widgets;
  std::unordered_map<int, IMAGELIST_DATA> bitmaps;
};
Registry& TheRegistry() {
  static Registry* registry = new Registry;  // lives as long as the process
  return *registry;
}

HWND Live(HWND hwnd, WindowKind kind) noexcept {
  if (!IsWindow(hwnd) || hwnd->kind != kind) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return hwnd;
}

void Touch(HWND hwnd) noexcept {
  ++hwnd->version;
}

}  // namespace

HWND CreateWindowData(WindowKind kind, HWND parent) {
  auto window = std::make_unique<HWND__>();
  window->kind = kind;
  window->parent = parent;
  HWND hwnd = window.get();
  {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    registry.live.insert(hwnd);
  }
  if (parent != nullptr) {
    parent->children.push_back(std::move(window));
    Touch(parent);
    return hwnd;
  }
  return window.release();
}

void DestroyWindowData(HWND hwnd) noexcept {
  if (!IsWindow(hwnd)) {
    return;
  }
  for (auto& child : hwnd->children) {
    DestroyWindowData(child.release());
  }
  // A list view owns its image list, as the platform's does without LVS_SHAREIMAGELISTS.
  ImageList_Destroy(hwnd->smallImages);
  {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    registry.live.erase(hwnd);
    registry.widgets.erase(hwnd);
  }
  delete hwnd;
}

bool IsWindow(HWND hwnd) noexcept {
  if (hwnd == nullptr) {
    return false;
  }
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  return registry.live.count(hwnd) != 0;
}

void* OwnerWidget(HWND owner) noexcept {
  if (owner == nullptr) {
    return nullptr;
  }
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  if (registry.live.count(owner) == 0) {
    return owner;  // an application's own widget
  }
  // The nearest window up the tree that a view shows.
  for (HWND window = owner; window != nullptr; window = window->parent) {
    auto found = registry.widgets.find(window);
    if (found != registry.widgets.end()) {
      return found->second;
    }
  }
  return nullptr;
}

void RegisterWidget(HWND hwnd, void* widget) noexcept {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  if (registry.live.count(hwnd) == 0) {
    return;
  }
  if (widget == nullptr) {
    registry.widgets.erase(hwnd);
  } else {
    registry.widgets[hwnd] = widget;
  }
}

HWND GetDlgItem(HWND dialog, int id) noexcept {
  if (!IsWindow(dialog)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  for (auto& child : dialog->children) {
    if (child->id == id && child->kind != WindowKind::Page) {
      return child.get();
    }
  }
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

HWND GetParent(HWND hwnd) noexcept {
  return IsWindow(hwnd) ? hwnd->parent : nullptr;
}

BOOL SetWindowTextW(HWND hwnd, const wchar_t* text) {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  hwnd->text = text != nullptr ? text : L"";
  Touch(hwnd);
  return TRUE;
}

BOOL SetDlgItemTextW(HWND dialog, int id, const wchar_t* text) {
  HWND item = GetDlgItem(dialog, id);
  return item != nullptr ? SetWindowTextW(item, text) : FALSE;
}

BOOL ShowWindow(HWND hwnd, int command) noexcept {
  if (!IsWindow(hwnd)) {
    return FALSE;
  }
  const bool was = hwnd->visible;
  hwnd->visible = command != SW_HIDE;
  Touch(hwnd);
  return was ? TRUE : FALSE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) noexcept {
  if (!IsWindow(hwnd)) {
    return FALSE;
  }
  const bool wasDisabled = !hwnd->enabled;
  hwnd->enabled = enable != FALSE;
  Touch(hwnd);
  return wasDisabled ? TRUE : FALSE;
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) noexcept {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG_PTR* slot = index == DWLP_USER ? &hwnd->userData : &hwnd->messageResult;
  if (index != DWLP_USER && index != DWLP_MSGRESULT) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  const LONG_PTR before = *slot;
  *slot = value;
  return before;
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) noexcept {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (index == DWLP_USER) {
    return hwnd->userData;
  }
  if (index == DWLP_MSGRESULT) {
    return hwnd->messageResult;
  }
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) noexcept {
  if (!IsWindow(hwnd) || rect == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  *rect = RECT{0, 0, hwnd->clientWidth, hwnd->clientHeight};
  return TRUE;
}

int GetSystemMetrics(int index) noexcept {
  // Without a window system the metrics are the platform's defaults at 96 dots per inch.
  if (GetDialogResponder() == nullptr) {
    if (const ViewerModule* module = LoadViewerModule()) {
      return module->systemMetrics(index);
    }
  }
  return index == SM_CXHSCROLL ? 17 : 0;
}

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsWindow(hwnd) || hwnd->dialogProc == nullptr) {
    return 0;
  }
  return hwnd->dialogProc(hwnd, message, wParam, lParam);
}

int ComboBox_AddString(HWND combo, const wchar_t* text) {
  if (Live(combo, WindowKind::ComboBox) == nullptr || text == nullptr) {
    return -1;
  }
  combo->comboItems.emplace_back(text);
  Touch(combo);
  return static_cast<int>(combo->comboItems.size() - 1);
}

int ComboBox_SetCurSel(HWND combo, int index) noexcept {
  if (Live(combo, WindowKind::ComboBox) == nullptr) {
    return -1;
  }
  Touch(combo);
  if (index < 0 || static_cast<std::size_t>(index) >= combo->comboItems.size()) {
    combo->comboSelection = -1;
    return -1;
  }
  combo->comboSelection = index;
  return index;
}

int ComboBox_GetCurSel(HWND combo) noexcept {
  return Live(combo, WindowKind::ComboBox) != nullptr ? combo->comboSelection : -1;
}

DWORD ListView_SetExtendedListViewStyleEx(HWND list, DWORD mask, DWORD style) noexcept {
  if (Live(list, WindowKind::ListView) == nullptr) {
    return 0;
  }
  const DWORD before = list->extendedStyle;
  const DWORD used = mask == 0 ? 0xFFFFFFFFu : mask;
  list->extendedStyle = (before & ~used) | (style & used);
  Touch(list);
  return before;
}

HIMAGELIST ListView_SetImageList(HWND list, HIMAGELIST images, int kind) noexcept {
  if (Live(list, WindowKind::ListView) == nullptr || kind != LVSIL_SMALL) {
    return nullptr;
  }
  HIMAGELIST before = list->smallImages;
  list->smallImages = images;
  Touch(list);
  return before;
}

int ListView_InsertColumn(HWND list, int index, const wchar_t* text, int fmt, int width) {
  if (Live(list, WindowKind::ListView) == nullptr || index < 0) {
    return -1;
  }
  const std::size_t at =
      std::min<std::size_t>(static_cast<std::size_t>(index), list->columns.size());
  if (list->columns.size() >= 2) {
    return -1;  // the viewer's lists have two columns
  }
  list->columns.insert(list->columns.begin() + static_cast<std::ptrdiff_t>(at),
                       LVCOLUMN_DATA{text != nullptr ? text : L"", width, fmt});
  Touch(list);
  return static_cast<int>(at);
}

BOOL ListView_DeleteAllItems(HWND list) noexcept {
  if (Live(list, WindowKind::ListView) == nullptr) {
    return FALSE;
  }
  list->items.clear();
  Touch(list);
  return TRUE;
}

int ListView_InsertItem(HWND list, int index, const wchar_t* text, int image, LPARAM lParam) {
  if (Live(list, WindowKind::ListView) == nullptr || index < 0) {
    return -1;
  }
  const std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(index), list->items.size());
  LVITEM_DATA item;
  item.text[0] = text != nullptr ? text : L"";
  item.image = image;
  item.lParam = lParam;
  list->items.insert(list->items.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
  Touch(list);
  return static_cast<int>(at);
}

BOOL ListView_SetItemText(HWND list, int item, int subItem, const wchar_t* text) {
  if (Live(list, WindowKind::ListView) == nullptr || item < 0 ||
      static_cast<std::size_t>(item) >= list->items.size() || subItem < 0 || subItem > 1) {
    return FALSE;
  }
  list->items[static_cast<std::size_t>(item)].text[subItem] = text != nullptr ? text : L"";
  Touch(list);
  return TRUE;
}

int ListView_GetItemCount(HWND list) noexcept {
  return Live(list, WindowKind::ListView) != nullptr ? static_cast<int>(list->items.size()) : 0;
}

int ListView_FindItemByParam(HWND list, int start, LPARAM lParam) noexcept {
  if (Live(list, WindowKind::ListView) == nullptr) {
    return -1;
  }
  for (std::size_t i = start < 0 ? 0 : static_cast<std::size_t>(start) + 1; i < list->items.size();
       ++i) {
    if (list->items[i].lParam == lParam) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

BOOL ListView_GetItem(HWND list, int item, int* image, LPARAM* lParam, UINT* state) noexcept {
  if (Live(list, WindowKind::ListView) == nullptr || item < 0 ||
      static_cast<std::size_t>(item) >= list->items.size()) {
    return FALSE;
  }
  const LVITEM_DATA& data = list->items[static_cast<std::size_t>(item)];
  if (image != nullptr) {
    *image = data.image;
  }
  if (lParam != nullptr) {
    *lParam = data.lParam;
  }
  if (state != nullptr) {
    *state = data.state;
  }
  return TRUE;
}

void RegisterBitmapResource(int resourceId, int cx, int count) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  registry.bitmaps[resourceId] = IMAGELIST_DATA{resourceId, cx, count};
}

HIMAGELIST ImageList_LoadImageW(int resourceId, int cx, int, DWORD, UINT type, UINT) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  auto found = registry.bitmaps.find(resourceId);
  if (found == registry.bitmaps.end() || type != IMAGE_BITMAP || cx != found->second.cx) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return new IMAGELIST_DATA(found->second);
}

BOOL ImageList_Destroy(HIMAGELIST images) noexcept {
  if (images == nullptr) {
    return FALSE;
  }
  delete images;
  return TRUE;
}

BOOL RichEdit_GetCharFormat(HWND edit, DWORD which, CHARFORMATW* format) noexcept {
  if (Live(edit, WindowKind::RichEdit) == nullptr || format == nullptr) {
    return FALSE;
  }
  *format = which == SCF_DEFAULT ? edit->defaultFormat : edit->textFormat;
  return TRUE;
}

BOOL RichEdit_SetCharFormat(HWND edit, DWORD which, const CHARFORMATW* format) noexcept {
  if (Live(edit, WindowKind::RichEdit) == nullptr || format == nullptr) {
    return FALSE;
  }
  if (which == SCF_DEFAULT) {
    edit->defaultFormat = *format;
  } else {
    edit->textFormat = *format;
  }
  Touch(edit);
  return TRUE;
}

BOOL UserChooseComboItem(HWND combo, int index) {
  if (Live(combo, WindowKind::ComboBox) == nullptr || ComboBox_SetCurSel(combo, index) < 0) {
    return FALSE;
  }
  SendMessageW(combo->parent, WM_COMMAND,
               MAKEWPARAM(static_cast<unsigned>(combo->id), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  return TRUE;
}

BOOL ListView_SelectItem(HWND list, int index) {
  return UserSelectListItem(list, index);
}

BOOL UserSelectListItem(HWND list, int index) {
  if (Live(list, WindowKind::ListView) == nullptr || index < 0 ||
      static_cast<std::size_t>(index) >= list->items.size()) {
    return FALSE;
  }
  auto notify = [list](int item, UINT oldState, UINT newState) {
    NMLISTVIEW change{};
    change.hdr = NMHDR{list, static_cast<UINT_PTR>(list->id), LVN_ITEMCHANGED};
    change.iItem = item;
    change.uOldState = oldState;
    change.uNewState = newState;
    change.uChanged = LVIF_STATE;
    change.lParam = list->items[static_cast<std::size_t>(item)].lParam;
    SendMessageW(list->parent, WM_NOTIFY, static_cast<WPARAM>(list->id),
                 reinterpret_cast<LPARAM>(&change));
  };
  for (std::size_t i = 0; i < list->items.size(); ++i) {
    if (static_cast<int>(i) != index && (list->items[i].state & LVIS_SELECTED) != 0) {
      const UINT old = list->items[i].state;
      list->items[i].state = 0;
      Touch(list);
      notify(static_cast<int>(i), old, 0);
      if (!IsWindow(list) || static_cast<std::size_t>(index) >= list->items.size()) {
        return FALSE;  // the page emptied the list on the way
      }
    }
  }
  const UINT old = list->items[static_cast<std::size_t>(index)].state;
  list->items[static_cast<std::size_t>(index)].state = LVIS_SELECTED | LVIS_FOCUSED;
  Touch(list);
  notify(index, old, LVIS_SELECTED | LVIS_FOCUSED);
  return TRUE;
}

BOOL UserClickButton(HWND button) {
  if (Live(button, WindowKind::Button) == nullptr || !button->visible || !button->enabled) {
    return FALSE;
  }
  SendMessageW(button->parent, WM_COMMAND,
               MAKEWPARAM(static_cast<unsigned>(button->id), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
  return TRUE;
}

}  // namespace Velmora::Platform
