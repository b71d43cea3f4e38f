// get_PropPage and Display of CRequest and CStamp: the values the viewer's pages are made from,
// handed to the functions the viewer layer installed.
#include "TSP/horodex/ViewerData.h"

#include <atomic>
#include <string>

#include "TSP/horodex/Base64.h"
#include "TSP/horodex/TSPRequest_Impl.h"
#include "TSP/horodex/TSPStamp_Impl.h"
#include "platform/text/convert.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

using Platform::HPROPSHEETPAGE;
using Platform::HWND;

namespace {

constinit std::atomic<const ViewerPages*> installedPages{nullptr};

const ViewerPages& InstalledPages() {
  const ViewerPages* pages = installedPages.load(std::memory_order_acquire);
  if (pages == nullptr) {
    Support::ThrowWin32Error(Platform::ERROR_MOD_NOT_FOUND);
  }
  return *pages;
}

// The wide form of a UTF-16 caption; null stays null (the default caption).
template <typename Show>
void WithWideCaption(const unsigned short* caption, Show show) {
  if (caption == nullptr) {
    show(static_cast<const wchar_t*>(nullptr));
    return;
  }
  const std::wstring wide = Platform::Utf16ToWide(Platform::Utf16ViewOf(caption));
  show(wide.c_str());
}

}  // namespace

void InstallViewerPages(const ViewerPages& pages) noexcept {
  installedPages.store(&pages, std::memory_order_release);
}

CBlob Base64TextOf(const CBlob& der) {
  return Base64Encode(der);
}

HPROPSHEETPAGE CRequest::get_PropPage() const {
  if (m_impl->encodedRequest.empty()) {
    m_impl->MakeRequest();
  }
  const RequestViewData request{m_impl->encodedRequest};
  return InstalledPages().requestPage(request);
}

void CRequest::Display(HWND parent, const wchar_t* caption) const {
  const HPROPSHEETPAGE page = get_PropPage();
  InstalledPages().showSheet(parent, caption, ViewedMessage::Request, page);
}

void CRequest::Display(HWND parent, const unsigned short* caption) const {
  WithWideCaption(caption, [&](const wchar_t* wide) { Display(parent, wide); });
}

HPROPSHEETPAGE CStamp::get_PropPage() const {
  if (m_impl->encodedToken.empty()) {
    Support::ThrowWin32Error(Platform::ERROR_INVALID_STATE);
  }
  const StampViewData stamp{m_impl->encodedToken};
  return InstalledPages().stampPage(stamp);
}

void CStamp::Display(HWND parent, const wchar_t* caption) const {
  const HPROPSHEETPAGE page = get_PropPage();
  InstalledPages().showSheet(parent, caption, ViewedMessage::Stamp, page);
}

void CStamp::Display(HWND parent, const unsigned short* caption) const {
  WithWideCaption(caption, [&](const wchar_t* wide) { Display(parent, wide); });
}

}  // namespace Velmora::PKI::TSP::Client
