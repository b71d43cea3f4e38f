#include "horodex/winhttp2.h"

namespace Velmora::PKI {

CHttpSession::~CHttpSession() {
  reset();
}

CHttpSession& CHttpSession::operator=(const CHttpSession& other) noexcept {
  if (this != &other) {
    reset();
  }
  return *this;
}

void CHttpSession::reset(Platform::HINTERNET handle) noexcept {
  if (m_handle != nullptr) {
    Platform::WinHttpCloseHandle(m_handle);
  }
  m_handle = handle;
}

}  // namespace Velmora::PKI
