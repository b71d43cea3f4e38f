// CertStoreHandle: a shared handle to a certificate store.
//
// Copies of a handle refer to the same store; the store is closed (CertCloseStore without flags)
// when the last copy lets go of it. The count is changed atomically, so copies may live on
// different threads. A handle can also keep handles of the stores that were added to it as
// members of a collection, so that the members live as long as the collection does.
//
// The operations report failure as an HRESULT and leave the handle as it was.
#pragma once

#include <memory>
#include <vector>

#include "platform/base/types.h"
#include "platform/capi/wincrypt.h"

namespace Velmora::PKI::TSP::Client {

class CertStoreHandle {
 public:
  // A handle that holds no store.
  CertStoreHandle() noexcept = default;

  // Opens a store with CertOpenStore and the arguments given. A handle that already holds one
  // gives E_FAIL; a failure of the platform gives its HRESULT (E_FAIL when it reports none); an
  // allocation failure E_OUTOFMEMORY.
  [[nodiscard]] Platform::HRESULT Open(Platform::LPCSTR provider, Platform::DWORD encodingType,
                                       Platform::HCRYPTPROV_LEGACY cryptProv, Platform::DWORD flags,
                                       const void* parameter) noexcept;
  // A new, empty in-memory store (CERT_STORE_PROV_MEMORY, no encoding, provider or flags).
  [[nodiscard]] Platform::HRESULT OpenMemory() noexcept;
  // Takes a caller's store with a reference of its own (CertDuplicateStore). A handle that
  // already holds one gives E_FAIL.
  [[nodiscard]] Platform::HRESULT Attach(Platform::HCERTSTORE store) noexcept;
  // Keeps `member` (a store added to this collection) alive as long as this handle's store.
  [[nodiscard]] Platform::HRESULT AddMember(const CertStoreHandle& member) noexcept;

  // The store, or null; owned by the handle (not duplicated).
  Platform::HCERTSTORE get() const noexcept { return m_shared ? m_shared->store : nullptr; }
  explicit operator bool() const noexcept { return get() != nullptr; }
  // Lets go of the store (closing it if this was the last handle).
  void reset() noexcept { m_shared.reset(); }

 private:
  struct Shared {
    explicit Shared(Platform::HCERTSTORE s) noexcept : store(s) {}
    ~Shared();
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    Platform::HCERTSTORE store;
    std::vector<CertStoreHandle> members;
  };

  [[nodiscard]] Platform::HRESULT Take(Platform::HCERTSTORE store) noexcept;

  std::shared_ptr<Shared> m_shared;
};

}  // namespace Velmora::PKI::TSP::Client
