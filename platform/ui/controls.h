// The windows of a dialog page and its controls, held as data, with the operations that the
// page's logic calls on them under the platform's names (user32, the common controls and the rich
// edit control). The viewer module renders these windows; tests read them directly.
//
// A page's windows are made from its dialog template (DLGTEMPLATE below) when the sheet that shows
// it is made, and live until that sheet closes. Every operation takes the window it works on; an
// HWND that is not a live window of the expected kind makes it fail the way the platform does (0,
// -1 or FALSE with ERROR_INVALID_WINDOW_HANDLE as the last error). Every change raises the
// window's `version`, so that a view knows what to draw again. Windows belong to the thread that
// shows the sheet; nothing here is for use from two threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/winuser.h"

namespace Velmora::Platform {

inline constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr DWORD ERROR_INVALID_INDEX = 1413;
inline constexpr DWORD ERROR_CONTROL_ID_NOT_FOUND = 1421;
inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

using LONG_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

// Window messages a page receives.
inline constexpr UINT WM_NOTIFY = 0x004E;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr int DWLP_MSGRESULT = 0;
inline constexpr int DWLP_USER = 16;  // the page object bound to its window

constexpr WPARAM MAKEWPARAM(unsigned low, unsigned high) {
  return static_cast<WPARAM>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}
constexpr unsigned LOWORD(WPARAM value) {
  return static_cast<unsigned>(value & 0xFFFFu);
}
constexpr unsigned HIWORD(WPARAM value) {
  return static_cast<unsigned>((value >> 16) & 0xFFFFu);
}

// Notification codes carried by WM_COMMAND and WM_NOTIFY.
inline constexpr unsigned BN_CLICKED = 0;
inline constexpr unsigned CBN_SELCHANGE = 1;
inline constexpr UINT LVN_ITEMCHANGED = 0u - 101u;
inline constexpr UINT LVIS_FOCUSED = 0x1;
inline constexpr UINT LVIS_SELECTED = 0x2;
inline constexpr UINT LVIF_TEXT = 0x1;
inline constexpr UINT LVIF_IMAGE = 0x2;
inline constexpr UINT LVIF_PARAM = 0x4;
inline constexpr UINT LVIF_STATE = 0x8;

struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};
struct NMLISTVIEW {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  LPARAM lParam;
};

// Window kinds (the classes of template 209's controls, the page and the sheet).
enum class WindowKind { Sheet, Page, Static, ComboBox, ListView, RichEdit, Button };

// Dialog template: a page's layout in dialog units (4 horizontal units are the font's average
// character width, 8 vertical units its height).
struct DLGITEMTEMPLATE {
  WindowKind kind;
  int id;  // -1: none
  const wchar_t* text;
  short x, y, cx, cy;
  DWORD style;  // WS_VISIBLE and the control's own style bits
};
struct DLGTEMPLATE {
  const wchar_t* caption;
  const wchar_t* fontFace;
  int pointSize;
  short cx, cy;
  std::vector<DLGITEMTEMPLATE> items;
};
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_DISABLED = 0x08000000;
inline constexpr DWORD WS_VSCROLL = 0x00200000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD ES_MULTILINE = 0x0004;
inline constexpr DWORD ES_AUTOVSCROLL = 0x0040;
inline constexpr DWORD ES_READONLY = 0x0800;
inline constexpr DWORD CBS_DROPDOWNLIST = 0x0003;
inline constexpr DWORD CBS_NOINTEGRALHEIGHT = 0x0400;
inline constexpr DWORD LVS_REPORT = 0x0001;
inline constexpr DWORD LVS_SINGLESEL = 0x0004;
inline constexpr DWORD LVS_SHOWSELALWAYS = 0x0008;
inline constexpr DWORD LVS_NOLABELWRAP = 0x0080;
inline constexpr DWORD LVS_NOSORTHEADER = 0x8000;

// An image list: `count` icons of `cx` pixels, made from bitmap resource `resourceId`. The viewer
// module draws the pictures; only their number and meaning are kept here.
struct IMAGELIST_DATA {
  int resourceId;
  int cx;
  int count;
};
using HIMAGELIST = IMAGELIST_DATA*;

struct LVCOLUMN_DATA {
  std::wstring text;
  int width;  // pixels
  int fmt;
};
struct LVITEM_DATA {
  std::wstring text[2];
  int image = 0;
  LPARAM lParam = 0;
  UINT state = 0;
};

// Character format of the rich edit control, as far as the viewer uses it.
inline constexpr DWORD CFM_FACE = 0x20000000;
inline constexpr DWORD CFM_SIZE = 0x80000000;
inline constexpr DWORD SCF_DEFAULT = 0x0000;
inline constexpr DWORD SCF_ALL = 0x0004;
inline constexpr int LF_FACESIZE = 32;
struct CHARFORMATW {
  UINT cbSize;
  DWORD dwMask;
  DWORD dwEffects;
  LONG yHeight;  // twips
  wchar_t szFaceName[LF_FACESIZE];
};

// A window. Views read it; the page changes it only through the functions below.
struct HWND__ {
  WindowKind kind = WindowKind::Page;
  int id = -1;
  std::wstring text;
  bool visible = true;
  bool enabled = true;
  DWORD style = 0;
  RECT dialogRect{};    // in dialog units, within the parent
  int clientWidth = 0;  // pixels
  int clientHeight = 0;
  HWND__* parent = nullptr;
  std::vector<std::unique_ptr<HWND__>> children;
  unsigned version = 0;
  LONG_PTR userData = 0;       // DWLP_USER
  LONG_PTR messageResult = 0;  // DWLP_MSGRESULT
  DLGPROC dialogProc = nullptr;
  const DLGTEMPLATE* dialogTemplate = nullptr;
  // combo box
  std::vector<std::wstring> comboItems;
  int comboSelection = -1;
  // list view
  DWORD extendedStyle = 0;
  HIMAGELIST smallImages = nullptr;
  std::vector<LVCOLUMN_DATA> columns;
  std::vector<LVITEM_DATA> items;
  // rich edit: the default format, and the one of the whole text
  CHARFORMATW defaultFormat{};
  CHARFORMATW textFormat{};
  // page: its description; sheet: its state
  HPROPSHEETPAGE sheetPage = nullptr;
  bool closing = false;
  bool initialized = false;
  int (*sheetCallback)(HWND, UINT, LPARAM) = nullptr;
};

// Makes a window of `kind` (registered as live); `parent` takes ownership when given.
HWND CreateWindowData(WindowKind kind, HWND parent);
// Destroys a window made by CreateWindowData with its children (and unregisters them).
void DestroyWindowData(HWND hwnd) noexcept;

// Is `hwnd` one of the live windows of this layer (not an application's own widget)?
bool IsWindow(HWND hwnd) noexcept;

HWND GetDlgItem(HWND dialog, int id) noexcept;
HWND GetParent(HWND hwnd) noexcept;
BOOL SetWindowTextW(HWND hwnd, const wchar_t* text);
BOOL SetDlgItemTextW(HWND dialog, int id, const wchar_t* text);
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;
// Returns whether the window was visible before.
BOOL ShowWindow(HWND hwnd, int command) noexcept;
// Returns whether the window was disabled before.
BOOL EnableWindow(HWND hwnd, BOOL enable) noexcept;
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) noexcept;
LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) noexcept;
BOOL GetClientRect(HWND hwnd, RECT* rect) noexcept;
inline constexpr int SM_CXHSCROLL = 21;
int GetSystemMetrics(int index) noexcept;
// Sends `message` to the dialog procedure of a page window and returns what it answered.
LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Combo box (CB_ADDSTRING, CB_SETCURSEL, CB_GETCURSEL). AddString answers the new index or -1;
// SetCurSel the index, or -1 for an index out of range (the selection is then cleared).
int ComboBox_AddString(HWND combo, const wchar_t* text);
int ComboBox_SetCurSel(HWND combo, int index) noexcept;
int ComboBox_GetCurSel(HWND combo) noexcept;

// List view (LVM_*).
inline constexpr DWORD LVS_EX_FULLROWSELECT = 0x20;
inline constexpr int LVSIL_SMALL = 1;
inline constexpr int LVCFMT_LEFT = 0;
// Sets the extended styles under `mask` and answers the styles before.
DWORD ListView_SetExtendedListViewStyleEx(HWND list, DWORD mask, DWORD style) noexcept;
// Sets the image list of `kind` and answers the one before (the caller owns both).
HIMAGELIST ListView_SetImageList(HWND list, HIMAGELIST images, int kind) noexcept;
// Inserts a column before position `index`; answers its index, or -1.
int ListView_InsertColumn(HWND list, int index, const wchar_t* text, int fmt, int width);
BOOL ListView_DeleteAllItems(HWND list) noexcept;
// Inserts an item at `index` (clamped to the count) with its first-column text, icon and item
// data; answers its index, or -1.
int ListView_InsertItem(HWND list, int index, const wchar_t* text, int image, LPARAM lParam);
BOOL ListView_SetItemText(HWND list, int item, int subItem, const wchar_t* text);
int ListView_GetItemCount(HWND list) noexcept;
// The first item from `start` + 1 (from 0 when `start` is -1) whose item data is `lParam`; -1.
int ListView_FindItemByParam(HWND list, int start, LPARAM lParam) noexcept;
// Reads an item: its icon, item data and state. FALSE for an item out of range.
BOOL ListView_GetItem(HWND list, int item, int* image, LPARAM* lParam, UINT* state) noexcept;
// Selects item `index` alone, as ListView_SetItemState with LVIS_SELECTED does: the parent hears
// LVN_ITEMCHANGED for the item that loses the selection, then for the new one.
BOOL ListView_SelectItem(HWND list, int index);

// Image lists.
inline constexpr UINT IMAGE_BITMAP = 0;
// Loads the image list of bitmap `resourceId` (a strip of icons `cx` pixels wide); null with
// ERROR_RESOURCE_NAME_NOT_FOUND (1814) when no bitmap of that id is registered.
HIMAGELIST ImageList_LoadImageW(int resourceId, int cx, int grow, DWORD maskColour, UINT type,
                                UINT flags);
BOOL ImageList_Destroy(HIMAGELIST images) noexcept;
// Registers bitmap `resourceId` as a strip of `count` icons of `cx` pixels (the resource modules
// call this for what they hold).
void RegisterBitmapResource(int resourceId, int cx, int count);

// Rich edit (WM_SETTEXT, EM_GETCHARFORMAT, EM_SETCHARFORMAT).
BOOL RichEdit_GetCharFormat(HWND edit, DWORD which, CHARFORMATW* format) noexcept;
BOOL RichEdit_SetCharFormat(HWND edit, DWORD which, const CHARFORMATW* format) noexcept;

// What a person does, as the viewer module and tests report it: each changes the control and
// sends the page the window message the platform would send.
//   choosing entry `index` of a combo box:     WM_COMMAND (id, CBN_SELCHANGE)
//   selecting item `index` of a list view:     WM_NOTIFY LVN_ITEMCHANGED for the item that
//                                              loses the selection, then for the new one
//   clicking a button:                         WM_COMMAND (id, BN_CLICKED)
// They answer FALSE when the window is not a live control of that kind or the index is out of
// range; what the page does with the message is its own affair.
BOOL UserChooseComboItem(HWND combo, int index);
BOOL UserSelectListItem(HWND list, int index);
BOOL UserClickButton(HWND button);

}  // namespace Velmora::Platform
