// The viewer's entry points on the request and the stamp: the page and the modal sheet.
#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

Platform::HPROPSHEETPAGE CRequest::get_PropPage() const {
  Support::ThrowHResult(Platform::E_NOTIMPL);
}
void CRequest::Display(Platform::HWND, const wchar_t*) const {
  Support::ThrowHResult(Platform::E_NOTIMPL);
}
void CRequest::Display(Platform::HWND, const unsigned short*) const {
  Support::ThrowHResult(Platform::E_NOTIMPL);
}
Platform::HPROPSHEETPAGE CStamp::get_PropPage() const {
  Support::ThrowHResult(Platform::E_NOTIMPL);
}
void CStamp::Display(Platform::HWND, const wchar_t*) const {
  Support::ThrowHResult(Platform::E_NOTIMPL);
}
void CStamp::Display(Platform::HWND, const unsigned short*) const {
  Support::ThrowHResult(Platform::E_NOTIMPL);
}

}  // namespace Velmora::PKI::TSP::Client
