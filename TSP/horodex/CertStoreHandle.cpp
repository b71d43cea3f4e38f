#include "TSP/horodex/CertStoreHandle.h"

#include <new>

#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

using Platform::HRESULT;

namespace {

// The HRESULT of the platform's last error, or E_FAIL when it recorded none.
HRESULT PlatformFailure() noexcept {
  const HRESULT hr = Support::HResultFromLastError();
  return hr != 0 ? hr : Platform::E_FAIL;
}

}  // namespace

CertStoreHandle::Shared::~Shared() {
  Platform::CertCloseStore(store, 0);
  // The members are released after the collection that uses them.
  members.clear();
}

HRESULT CertStoreHandle::Take(Platform::HCERTSTORE store) noexcept {
  try {
    m_shared = std::make_shared<Shared>(store);
    return Platform::S_OK;
  } catch (const std::bad_alloc&) {
    Platform::CertCloseStore(store, 0);
    return Platform::E_OUTOFMEMORY;
  }
}

HRESULT CertStoreHandle::Open(Platform::LPCSTR provider, Platform::DWORD encodingType,
                              Platform::HCRYPTPROV_LEGACY cryptProv, Platform::DWORD flags,
                              const void* parameter) noexcept {
  if (get() != nullptr) {
    return Platform::E_FAIL;
  }
  Platform::SetLastError(0);
  Platform::HCERTSTORE store =
      Platform::CertOpenStore(provider, encodingType, cryptProv, flags, parameter);
  if (store == nullptr) {
    return PlatformFailure();
  }
  return Take(store);
}

HRESULT CertStoreHandle::OpenMemory() noexcept {
  return Open(Platform::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
}

HRESULT CertStoreHandle::Attach(Platform::HCERTSTORE store) noexcept {
  if (get() != nullptr) {
    return Platform::E_FAIL;
  }
  Platform::SetLastError(0);
  Platform::HCERTSTORE own = Platform::CertDuplicateStore(store);
  if (own == nullptr) {
    return PlatformFailure();
  }
  return Take(own);
}

HRESULT CertStoreHandle::AddMember(const CertStoreHandle& member) noexcept {
  if (!m_shared) {
    return Platform::E_FAIL;
  }
  try {
    m_shared->members.push_back(member);
    return Platform::S_OK;
  } catch (const std::bad_alloc&) {
    return Platform::E_OUTOFMEMORY;
  }
}

}  // namespace Velmora::PKI::TSP::Client
