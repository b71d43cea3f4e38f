// CFieldPage: the page that shows one message as rows of fields ("Поле", "Значение"), with the
// filter box, the details pane and the save to a file. CRequestPage and CStampPage give it their
// rows. The page's logic works on the windows of platform/ui (controls held as data), so it runs
// the same with the viewer module showing it and with a dialog responder driving it.
//
// Life: get_PropPage makes the page object and hands it to the platform with the page
// description (MakeDescription); when the platform makes the page's window it sends
// WM_INITDIALOG with the description, whose parameter is the page object, and the start dialog
// procedure binds the object to the window (DWLP_USER). The window is known from that message on,
// so no process-wide list of pages waiting for their windows is needed. When the platform releases
// the page, the page callback deletes the object.
//
// Every window message reaches the page through one guard: a failure that escapes a handler (a
// selection whose row tag names no text, a save whose encoding fails) is shown as the error box
// with caption "Ошибка" and never leaves the page.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "codec/asnkit/extensions.h"
#include "codec/corekit/blob.h"
#include "platform/ui/prsht.h"

namespace Velmora::PKI::TSP::Client::Viewer {

// Filter entries, in the filter box's order.
enum FilterEntry : int {
  FilterAll = 0,
  FilterProperties = 1,
  FilterExtensions = 2,
  FilterCriticalExtensions = 3,
  FilterCertificates = 4,
};

// rowTag: bits 0 to 15 index rowTexts; bit 31 asks for the monospaced format.
inline constexpr Platform::LPARAM kRowTagMono = static_cast<Platform::LPARAM>(0x80000000u);

class CFieldPage {
 public:
  CFieldPage(const CFieldPage&) = delete;
  CFieldPage& operator=(const CFieldPage&) = delete;
  virtual ~CFieldPage();

  // The platform page description: template 209, the start dialog procedure, the page callback
  // that deletes the object, this object as the parameter.
  Platform::PROPSHEETPAGEW MakeDescription();

  // What tests and views read.
  const std::vector<std::wstring>& rowTexts() const noexcept { return m_rowTexts; }
  int rowCount() const noexcept { return m_rowCount; }
  int filter() const noexcept { return m_filter; }
  Platform::HWND window() const noexcept { return m_hwnd; }
  Platform::HWND list() const noexcept { return m_list; }
  Platform::HWND filterBox() const noexcept { return m_filterBox; }
  Platform::HWND details() const noexcept { return m_details; }
  const Platform::CHARFORMATW& plainFormat() const noexcept { return m_plainFormat; }
  const Platform::CHARFORMATW& monoFormat() const noexcept { return m_monoFormat; }

  // The text shown for a dotted OID: its display name in the OID registry, else the OID itself.
  static std::wstring OidDisplayName(const char* oid);

 protected:
  CFieldPage() = default;

  // The page's window messages; answers whether the message was handled, with its result.
  virtual bool ProcessWindowMessage(Platform::HWND hwnd, Platform::UINT message,
                                    Platform::WPARAM wParam, Platform::LPARAM lParam,
                                    Platform::LRESULT& result);

  // What each page provides.
  virtual int FilterEntryCount() const = 0;
  virtual void AddRows() = 0;  // the row groups for the current filter
  virtual void OnSave() = 0;   // button 111
  virtual void OnShowCertificate() {}
  virtual void OnFilterChanged();
  virtual void OnItemSelected(const Platform::NMLISTVIEW& change);

  // Rows. Each appends at rowCount and then increases it.
  void AddTextRow(unsigned nameId, const std::wstring& value, bool mono);
  void AddTextRow(unsigned nameId, unsigned valueId, bool mono);
  void AddResourceTextRow(unsigned nameId, unsigned valueId);
  void AddHexRow(unsigned nameId, const CBlob& blob);
  void AddExtensionRows(const ASN1::CExtensions* extensions, bool criticalOnly);
  // Appends `full` to rowTexts and answers its row tag (with bit 31 when `mono`).
  Platform::LPARAM AddRowText(std::wstring full, bool mono);
  // Inserts a list row at rowCount with its two texts, icon and item data; rowCount grows.
  void InsertRow(const std::wstring& name, const std::wstring& value, int icon,
                 Platform::LPARAM itemData);

  // The refill frame: rowCount 0, rowTexts emptied, list emptied, then AddRows under the guard.
  void Refill();
  // Shows `rowTexts[i]` of `itemData` in the details pane, text first or format first.
  void ShowRowText(Platform::LPARAM itemData, bool formatFirst);
  void SaveToFile(unsigned filterTemplateId, const wchar_t* extension, const CBlob& blob);
  // The error box of the page (caption "Ошибка") for a negative HRESULT; nothing otherwise.
  void ReportFailure(Platform::HRESULT hr) const;
  // The HRESULT of the exception in flight (E_FAIL for anything but CAtlException).
  static Platform::HRESULT CurrentExceptionResult() noexcept;

  Platform::HWND m_hwnd = nullptr;
  Platform::HWND m_list = nullptr;
  Platform::HWND m_filterBox = nullptr;
  Platform::HWND m_details = nullptr;
  int m_filter = FilterAll;

 private:
  static Platform::INT_PTR StartDialogProc(Platform::HWND hwnd, Platform::UINT message,
                                           Platform::WPARAM wParam, Platform::LPARAM lParam);
  static Platform::UINT PageCallback(Platform::HWND hwnd, Platform::UINT message,
                                     Platform::PROPSHEETPAGEW* page);
  // Page start; false when a step fails (the list then stays empty).
  bool OnInitDialog();

  std::vector<std::wstring> m_rowTexts;
  int m_rowCount = 0;
  Platform::CHARFORMATW m_plainFormat{};
  Platform::CHARFORMATW m_monoFormat{};
};

// Shows page handles in the modal sheet, one tab each, the first in front: caption `caption`,
// else string `defaultCaptionId`; one button, "OK". The sheet takes every page, shown or not.
// Throws the last error when the sheet cannot be shown (ERROR_INVALID_PARAMETER for no pages).
void ShowPropertySheet(Platform::HWND parent, const wchar_t* caption, unsigned defaultCaptionId,
                       std::span<Platform::HPROPSHEETPAGE> pages);
void ShowPropertySheet(Platform::HWND parent, const wchar_t* caption, unsigned defaultCaptionId,
                       Platform::HPROPSHEETPAGE page);

// The common steps of get_PropPage: the viewer module must load (else ERROR_MOD_NOT_FOUND is
// thrown), then the page made by `make` is handed to the platform. `make` may throw; the page is
// deleted when the platform refuses it.
template <typename Make>
Platform::HPROPSHEETPAGE MakePropertyPage(Make make);

void EnsureViewerModule();
Platform::HPROPSHEETPAGE CreatePageHandle(std::unique_ptr<CFieldPage> page);

template <typename Make>
Platform::HPROPSHEETPAGE MakePropertyPage(Make make) {
  EnsureViewerModule();
  return CreatePageHandle(make());
}

}  // namespace Velmora::PKI::TSP::Client::Viewer
