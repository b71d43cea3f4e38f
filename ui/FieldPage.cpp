// The field list page: rows, filter box, details pane, save, and the modal sheet.
#include "ui/FieldPage.h"

#include <cwchar>
#include <cwctype>

#include "TSP/horodex/ViewerData.h"
#include "platform/text/convert.h"
#include "platform/ui/commdlg.h"
#include "platform/ui/viewer_module.h"
#include "support/error_messages.h"
#include "support/errors.h"
#include "support/oid_info.h"
#include "ui/Resources.h"

namespace Velmora::PKI::TSP::Client::Viewer {

using namespace Platform;

namespace {

std::wstring JoinLines(const std::wstring& text) {
  std::wstring shown;
  shown.reserve(text.size());
  for (wchar_t c : text) {
    if (c == L'\n') {
      shown += L", ";
    } else {
      shown += c;
    }
  }
  return shown;
}

std::wstring HexText(const CBlob& blob) {
  return NarrowToWide(blob.writeToHexString(1).c_str());
}

std::wstring Trim(const wchar_t* text) {
  std::wstring value = text;
  std::size_t begin = 0;
  while (begin < value.size() && std::iswspace(static_cast<wint_t>(value[begin]))) {
    ++begin;
  }
  std::size_t end = value.size();
  while (end > begin && std::iswspace(static_cast<wint_t>(value[end - 1]))) {
    --end;
  }
  return value.substr(begin, end - begin);
}

int SheetCallback(HWND sheet, UINT message, LPARAM) {
  if (message == static_cast<UINT>(PSCB_INITIALIZED)) {
    ShowWindow(GetDlgItem(sheet, IDOK), SW_HIDE);
    SetDlgItemTextW(sheet, IDCANCEL, L"OK");
  }
  return 0;
}

}  // namespace

CFieldPage::~CFieldPage() = default;

HRESULT CFieldPage::CurrentExceptionResult() noexcept {
  try {
    throw;
  } catch (const CAtlException& e) {
    return e.m_hr;
  } catch (...) {
    return E_FAIL;
  }
}

void CFieldPage::ReportFailure(HRESULT hr) const {
  if (SUCCEEDED(hr)) {
    return;
  }
  const std::wstring text = Support::GetErrorMessage(hr);
  MessageBoxW(m_hwnd, text.c_str(), LoadUiString(IDS_ERROR).c_str(), MB_OK | MB_ICONERROR);
}

PROPSHEETPAGEW CFieldPage::MakeDescription() {
  RegisterRowIcons();
  PROPSHEETPAGEW page;
  page.dwFlags = PSP_USECALLBACK | PSP_USEFUSIONCONTEXT;
  page.pResource = &FieldPageTemplate();
  page.pfnDlgProc = &CFieldPage::StartDialogProc;
  page.lParam = reinterpret_cast<LPARAM>(this);
  page.pfnCallback = &CFieldPage::PageCallback;
  return page;
}

UINT CFieldPage::PageCallback(HWND, UINT message, PROPSHEETPAGEW* page) {
  if (message == PSPCB_RELEASE && page != nullptr) {
    delete reinterpret_cast<CFieldPage*>(page->lParam);
    page->lParam = 0;
  }
  return 1;
}

INT_PTR CFieldPage::StartDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CFieldPage* page = nullptr;
  if (message == WM_INITDIALOG) {
    const auto* description = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
    page = reinterpret_cast<CFieldPage*>(description->lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
    page->m_hwnd = hwnd;
  } else {
    page = reinterpret_cast<CFieldPage*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (page == nullptr) {
    return 0;
  }
  try {
    LRESULT result = 0;
    if (page->ProcessWindowMessage(hwnd, message, wParam, lParam, result)) {
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      return message == WM_INITDIALOG ? result : 1;
    }
    return 0;
  } catch (...) {
    const HRESULT hr = CurrentExceptionResult();
    try {
      page->ReportFailure(hr);
    } catch (...) {  // NOLINT(bugprone-empty-catch): nothing more can be shown
    }
    return 0;
  }
}

bool CFieldPage::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam,
                                      LRESULT& result) {
  switch (message) {
    case WM_INITDIALOG:
      result = OnInitDialog() ? 1 : -1;
      return true;
    case WM_COMMAND:
      if (LOWORD(wParam) == static_cast<unsigned>(IDC_FILTER) && HIWORD(wParam) == CBN_SELCHANGE) {
        OnFilterChanged();
        return true;
      }
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == static_cast<unsigned>(IDC_SAVE)) {
        OnSave();
        return true;
      }
      if (HIWORD(wParam) == BN_CLICKED &&
          LOWORD(wParam) == static_cast<unsigned>(IDC_SHOW_CERTIFICATE)) {
        OnShowCertificate();
        return true;
      }
      return false;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header != nullptr && header->code == LVN_ITEMCHANGED &&
          header->idFrom == static_cast<UINT_PTR>(IDC_LIST)) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change->uNewState & LVIS_SELECTED) != 0) {
          OnItemSelected(*change);
        }
        result = 0;
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

bool CFieldPage::OnInitDialog() {
  m_filterBox = GetDlgItem(m_hwnd, IDC_FILTER);
  m_list = GetDlgItem(m_hwnd, IDC_LIST);
  m_details = GetDlgItem(m_hwnd, IDC_DETAILS);
  for (int entry = 0; entry < FilterEntryCount(); ++entry) {
    const unsigned id = entry == FilterCertificates ? IDS_FILTER_CERTIFICATES
                                                    : IDS_FILTER_ALL + static_cast<unsigned>(entry);
    ComboBox_AddString(m_filterBox, LoadUiString(id).c_str());
  }
  ComboBox_SetCurSel(m_filterBox, 0);
  if (ListView_SetExtendedListViewStyleEx(m_list, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT) !=
      0) {
    return false;
  }
  HIMAGELIST icons = ImageList_LoadImageW(IDB_ROW_ICONS, 16, 0, 0x808000, IMAGE_BITMAP, 0);
  if (icons == nullptr) {
    return false;
  }
  if (HIMAGELIST before = ListView_SetImageList(m_list, icons, LVSIL_SMALL)) {
    if (!ImageList_Destroy(before)) {
      return false;
    }
  }
  RECT client{};
  GetClientRect(m_list, &client);
  const int width = (client.right - client.left - GetSystemMetrics(SM_CXHSCROLL)) / 2;
  if (ListView_InsertColumn(m_list, 0, LoadUiString(IDS_COLUMN_VALUE).c_str(), LVCFMT_LEFT,
                            width) == -1 ||
      ListView_InsertColumn(m_list, 0, LoadUiString(IDS_COLUMN_FIELD).c_str(), LVCFMT_LEFT,
                            width) == -1) {
    return false;
  }
  m_plainFormat.cbSize = sizeof(CHARFORMATW);
  RichEdit_GetCharFormat(m_details, SCF_DEFAULT, &m_plainFormat);
  m_monoFormat = m_plainFormat;
  std::wcsncpy(m_monoFormat.szFaceName, L"Courier", LF_FACESIZE - 1);
  m_monoFormat.szFaceName[LF_FACESIZE - 1] = L'\0';
  m_filter = FilterAll;
  Refill();
  // The details pane opens on the first field rather than empty; a filter chosen later leaves
  // it empty until a row is chosen.
  if (m_rowCount > 0) {
    ListView_SelectItem(m_list, 0);
  }
  return true;
}

void CFieldPage::Refill() {
  m_rowCount = 0;
  m_rowTexts.clear();
  ListView_DeleteAllItems(m_list);
  try {
    AddRows();
  } catch (...) {
    ReportFailure(CurrentExceptionResult());
  }
}

void CFieldPage::OnFilterChanged() {
  m_filter = ComboBox_GetCurSel(m_filterBox);
  SetWindowTextW(m_details, L"");
  Refill();
}

void CFieldPage::ShowRowText(LPARAM itemData, bool formatFirst) {
  const std::size_t index = static_cast<std::size_t>(itemData) & 0xFFFF;
  if (index >= m_rowTexts.size()) {
    Support::ThrowHResult(E_INVALIDARG);
  }
  const CHARFORMATW& format = (itemData & kRowTagMono) != 0 ? m_monoFormat : m_plainFormat;
  if (formatFirst) {
    RichEdit_SetCharFormat(m_details, SCF_ALL, &format);
  }
  SetWindowTextW(m_details, m_rowTexts[index].c_str());
  if (!formatFirst) {
    RichEdit_SetCharFormat(m_details, SCF_ALL, &format);
  }
}

void CFieldPage::OnItemSelected(const NMLISTVIEW& change) {
  ShowRowText(change.lParam, false);
}

LPARAM CFieldPage::AddRowText(std::wstring full, bool mono) {
  m_rowTexts.push_back(std::move(full));
  const auto index = static_cast<LPARAM>((m_rowTexts.size() - 1) & 0xFFFF);
  return (mono ? kRowTagMono : 0) | index;
}

void CFieldPage::InsertRow(const std::wstring& name, const std::wstring& value, int icon,
                           LPARAM itemData) {
  const int at = ListView_InsertItem(m_list, m_rowCount, name.c_str(), icon, itemData);
  if (at < 0) {
    Support::ThrowLastError();
  }
  ListView_SetItemText(m_list, at, 1, value.c_str());
  ++m_rowCount;
}

void CFieldPage::AddTextRow(unsigned nameId, const std::wstring& value, bool mono) {
  const LPARAM tag = AddRowText(value, mono);
  InsertRow(LoadUiString(nameId), JoinLines(value), kIconProperty, tag);
}

void CFieldPage::AddTextRow(unsigned nameId, unsigned valueId, bool mono) {
  AddTextRow(nameId, LoadUiString(valueId), mono);
}

void CFieldPage::AddResourceTextRow(unsigned nameId, unsigned valueId) {
  AddTextRow(nameId, valueId, false);
}

void CFieldPage::AddHexRow(unsigned nameId, const CBlob& blob) {
  AddTextRow(nameId, HexText(blob), true);
}

void CFieldPage::AddExtensionRows(const ASN1::CExtensions* extensions, bool criticalOnly) {
  if (extensions == nullptr) {
    return;
  }
  for (const ASN1::CExtension& extension : *extensions) {
    if (criticalOnly && !extension.get_critical()) {
      continue;
    }
    const std::wstring name = OidDisplayName(extension.get_extnID());
    std::wstring value = HexText(extension.get_extnValue());
    const LPARAM tag = AddRowText(value, true);
    InsertRow(name, value, extension.get_critical() ? kIconCriticalExtension : kIconExtension, tag);
  }
}

std::wstring CFieldPage::OidDisplayName(const char* oid) {
  if (oid == nullptr) {
    return {};
  }
  const CRYPT_OID_INFO* info = Support::FindOIDInfo(CRYPT_OID_INFO_OID_KEY, oid, 0);
  if (info != nullptr && info->pwszName != nullptr) {
    return info->pwszName;
  }
  return NarrowToWide(oid);
}

void CFieldPage::SaveToFile(unsigned filterTemplateId, const wchar_t* extension,
                            const CBlob& blob) {
  std::wstring filter;
  for (wchar_t c : LoadUiString(filterTemplateId)) {
    if (c == L'%') {
      filter += extension;
    } else {
      filter += c == L'\n' ? L'\0' : c;
    }
  }
  HWND button = GetDlgItem(m_hwnd, IDC_SAVE);
  wchar_t file[260] = {};
  OPENFILENAMEW dialog;
  dialog.hwndOwner = button;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file;
  dialog.nMaxFile = 260;
  dialog.lpstrDefExt = extension + 1;
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
  if (!GetSaveFileNameW(&dialog)) {
    return;
  }
  HRESULT hr = S_OK;
  try {
    const std::string path = WideToNarrow(Trim(file));
    if (dialog.nFilterIndex == 1) {
      blob.writeToFile(path.c_str());
    } else {
      Base64TextOf(blob).writeToFile(path.c_str());
    }
  } catch (...) {
    hr = CurrentExceptionResult();
  }
  if (FAILED(hr)) {
    const std::wstring text = Support::GetErrorMessage(hr);
    MessageBoxW(button, text.c_str(), LoadUiString(IDS_ERROR).c_str(), MB_OK | MB_ICONERROR);
    return;
  }
  MessageBoxW(button, LoadUiString(IDS_FILE_SAVED).c_str(), LoadUiString(IDS_PRODUCT).c_str(),
              MB_OK | MB_ICONINFORMATION);
}

void ShowPropertySheet(HWND parent, const wchar_t* caption, unsigned defaultCaptionId,
                       std::span<HPROPSHEETPAGE> pages) {
  std::wstring shownCaption;
  try {
    shownCaption = caption != nullptr ? caption : LoadUiString(defaultCaptionId);
  } catch (...) {
    for (HPROPSHEETPAGE page : pages) {
      DestroyPropertySheetPage(page);
    }
    throw;
  }
  PROPSHEETHEADERW header;
  header.dwFlags = PSH_NOAPPLYNOW | PSH_USECALLBACK | PSH_NOCONTEXTHELP;
  header.hwndParent = parent;
  header.pszCaption = shownCaption.c_str();
  header.nPages = static_cast<UINT>(pages.size());
  header.nStartPage = 0;
  header.phpage = pages.data();
  header.pfnCallback = &SheetCallback;
  if (PropertySheetW(&header) == -1) {
    Support::ThrowLastError();
  }
}

void ShowPropertySheet(HWND parent, const wchar_t* caption, unsigned defaultCaptionId,
                       HPROPSHEETPAGE page) {
  ShowPropertySheet(parent, caption, defaultCaptionId, std::span<HPROPSHEETPAGE>(&page, 1));
}

void EnsureViewerModule() {
  if (LoadViewerModule() == nullptr) {
    Support::ThrowLastError();
  }
}

HPROPSHEETPAGE CreatePageHandle(std::unique_ptr<CFieldPage> page) {
  const PROPSHEETPAGEW description = page->MakeDescription();
  HPROPSHEETPAGE handle = CreatePropertySheetPageW(&description);
  if (handle == nullptr) {
    // Refused: the page object stays ours and is deleted here; no error code is still a failure.
    Support::ThrowLastError();
  }
  page.release();  // the platform owns it now: the page callback deletes it
  return handle;
}

}  // namespace Velmora::PKI::TSP::Client::Viewer
