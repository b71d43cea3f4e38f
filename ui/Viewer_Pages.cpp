// get_PropPage and Display of CRequest and CStamp. They are members of the exported classes but
// live here, in the viewer's layer, because they make the viewer's pages: the layer of the
// request and the stamp (TSP/horodex) knows nothing of pages, and dependencies point down only.
#include "TSP/horodex/TSPRequest_Impl.h"
#include "TSP/horodex/TSPStamp_Impl.h"
#include "platform/text/convert.h"
#include "support/errors.h"
#include "ui/RequestPage.h"
#include "ui/Resources.h"
#include "ui/StampPage.h"

namespace Velmora::PKI::TSP::Client {

using Platform::HPROPSHEETPAGE;
using Platform::HWND;

HPROPSHEETPAGE CRequest::get_PropPage() const {
  if (m_impl->encodedRequest.empty()) {
    m_impl->MakeRequest();
  }
  const CBlob encoding = m_impl->encodedRequest;
  return Viewer::MakePropertyPage(
      [&encoding] { return std::make_unique<Viewer::CRequestPage>(encoding); });
}

void CRequest::Display(HWND parent, const wchar_t* caption) const {
  Viewer::ShowPropertySheet(parent, caption, Viewer::IDS_REQUEST_CAPTION, get_PropPage());
}

void CRequest::Display(HWND parent, const unsigned short* caption) const {
  if (caption == nullptr) {
    Display(parent, static_cast<const wchar_t*>(nullptr));
    return;
  }
  const std::wstring wide = Platform::Utf16ToWide(Platform::Utf16ViewOf(caption));
  Display(parent, wide.c_str());
}

HPROPSHEETPAGE CStamp::get_PropPage() const {
  if (m_impl->encodedToken.empty()) {
    Support::ThrowWin32Error(Platform::ERROR_INVALID_STATE);
  }
  const CBlob token = m_impl->encodedToken;
  return Viewer::MakePropertyPage([&token] { return std::make_unique<Viewer::CStampPage>(token); });
}

void CStamp::Display(HWND parent, const wchar_t* caption) const {
  Viewer::ShowPropertySheet(parent, caption, Viewer::IDS_STAMP_CAPTION, get_PropPage());
}

void CStamp::Display(HWND parent, const unsigned short* caption) const {
  if (caption == nullptr) {
    Display(parent, static_cast<const wchar_t*>(nullptr));
    return;
  }
  const std::wstring wide = Platform::Utf16ToWide(Platform::Utf16ViewOf(caption));
  Display(parent, wide.c_str());
}

}  // namespace Velmora::PKI::TSP::Client
