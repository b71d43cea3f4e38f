// Certificate stores in memory and collections of stores.
//
// A store counts two things. Its open handles (CertOpenStore, CertDuplicateStore, one each): the
// last CertCloseStore releases its certificates and, for a collection, its members. Its memory:
// one share for all the open handles together and one for each context that lies in it, so that
// a context the caller still holds stays whole after the store was closed.
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "platform/capi/capi_util.h"
#include "platform/capi/cert_internal.h"
#include "platform/capi/cert_system_store.h"
#include "platform/capi/revocation_crl.h"

namespace Velmora::Platform {

using Capi::CertContextImpl;
using Capi::Fail;
using Capi::FailWin32;
using Capi::Guard;
using Capi::ImplOf;

namespace Capi {

struct CrlContextImpl : CRL_CONTEXT {
  CrlContextImpl(std::shared_ptr<const CrlData> crl, StoreImpl* in) : data(std::move(crl)) {
    dwCertEncodingType = X509_ASN_ENCODING;
    pbCrlEncoded = const_cast<BYTE*>(data->der().data());
    cbCrlEncoded = static_cast<DWORD>(data->der().size());
    pCrlInfo = nullptr;
    hCertStore = in;
    store = in;
  }
  std::atomic<long> refs{1};
  std::shared_ptr<const CrlData> data;
  StoreImpl* store;  // holds a memory reference of the store
};

struct StoreImpl {
  enum class Kind { Memory, Collection };
  struct Member {
    StoreImpl* store;  // holds an open handle of the member
    DWORD flags;
    DWORD priority;
  };

  explicit StoreImpl(Kind k) noexcept : kind(k) {}

  const Kind kind;
  std::atomic<long> handles{1};
  std::atomic<long> memory{1};
  std::mutex mutex;
  std::vector<CertContextImpl*> certificates;  // each holds one reference
  std::vector<CrlContextImpl*> crls;           // likewise
  std::vector<Member> members;
};

void ReleaseStoreMemory(StoreImpl* store) noexcept {
  if (store->memory.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete store;
  }
}

namespace {

CrlContextImpl* CrlImplOf(PCCRL_CONTEXT context) noexcept {
  return static_cast<CrlContextImpl*>(const_cast<CRL_CONTEXT*>(context));
}

StoreImpl* StoreOf(HCERTSTORE handle) noexcept {
  return static_cast<StoreImpl*>(handle);
}

bool IsProvider(LPCSTR provider, LPCSTR number, const char* name) noexcept {
  if (provider == number) {
    return true;
  }
  // Numbered providers are below 0x10000; anything above is a name.
  return reinterpret_cast<std::uintptr_t>(provider) > 0xFFFF && strcasecmp(provider, name) == 0;
}

// Calls `visit(context)` for the certificates (or the CRLs, as `list` says) of `store` in
// enumeration order, each under the lock of the memory store that holds it, until it returns true
// (then so does Walk). A store met twice in a collection (added twice, or through two nested
// collections) is walked once, so that every context is met at one place only.
template <typename Visit, typename Context = CertContextImpl>
bool Walk(StoreImpl* store, Visit& visit, std::vector<const StoreImpl*>& visited,
          std::vector<Context*> StoreImpl::*list = &StoreImpl::certificates) {
  if (std::find(visited.begin(), visited.end(), store) != visited.end()) {
    return false;
  }
  visited.push_back(store);
  if (store->kind == StoreImpl::Kind::Memory) {
    std::lock_guard lock(store->mutex);
    for (Context* context : store->*list) {
      if (visit(context)) {
        return true;
      }
    }
    return false;
  }
  std::vector<StoreImpl::Member> members;
  {
    std::lock_guard lock(store->mutex);
    members = store->members;
  }
  for (const StoreImpl::Member& member : members) {
    if (Walk(member.store, visit, visited, list)) {
      return true;
    }
  }
  return false;
}

// The next certificate after `previous` (null: the first) that `matches`, with a reference of its
// own; null when there is none. `previous` is not freed here.
template <typename Matches>
CertContextImpl* NextMatch(StoreImpl* store, PCCERT_CONTEXT previous, Matches&& matches) {
  bool passed = previous == nullptr;
  CertContextImpl* found = nullptr;
  auto visit = [&](CertContextImpl* context) {
    if (!passed) {
      passed = context == previous;
      return false;
    }
    if (!matches(*context)) {
      return false;
    }
    context->refs.fetch_add(1, std::memory_order_relaxed);
    found = context;
    return true;
  };
  std::vector<const StoreImpl*> visited;
  Walk(store, visit, visited);
  return found;
}

// Whether `store` is `target` or holds it, directly or through nested collections.
bool Contains(StoreImpl* store, const StoreImpl* target) {
  if (store == target) {
    return true;
  }
  if (store->kind != StoreImpl::Kind::Collection) {
    return false;
  }
  std::vector<StoreImpl::Member> members;
  {
    std::lock_guard lock(store->mutex);
    members = store->members;
  }
  return std::any_of(members.begin(), members.end(),
                     [&](const StoreImpl::Member& m) { return Contains(m.store, target); });
}

// The memory store that an add to `store` goes to: itself, or the first member of a collection
// that allows adds (searched depth first); null when there is none.
StoreImpl* AddTarget(StoreImpl* store, int depth = 0) {
  if (store->kind == StoreImpl::Kind::Memory) {
    return store;
  }
  if (depth > 64) {
    return nullptr;
  }
  std::vector<StoreImpl::Member> members;
  {
    std::lock_guard lock(store->mutex);
    members = store->members;
  }
  for (const StoreImpl::Member& member : members) {
    if ((member.flags & CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG) != 0) {
      return AddTarget(member.store, depth + 1);
    }
  }
  return nullptr;
}

bool SameEncoding(const CertContextImpl& a, const CertContextImpl& b) noexcept {
  return a.data == b.data || (a.cbCertEncoded == b.cbCertEncoded &&
                              std::memcmp(a.pbCertEncoded, b.pbCertEncoded, a.cbCertEncoded) == 0);
}

bool SameBytes(const std::vector<BYTE>& value, const CRYPT_DATA_BLOB& blob) noexcept {
  return value.size() == blob.cbData &&
         (blob.cbData == 0 || std::memcmp(value.data(), blob.pbData, blob.cbData) == 0);
}

bool SameName(const CERT_NAME_BLOB& a, const CERT_NAME_BLOB& b) noexcept {
  return CertCompareCertificateName(X509_ASN_ENCODING, &a, &b) != FALSE;
}

// The find type's test of one certificate.
bool Matches(const CertContextImpl& c, DWORD findType, const void* para) {
  const CERT_INFO& info = *c.pCertInfo;
  switch (findType) {
    case CERT_FIND_ANY:
      return true;
    case CERT_FIND_SHA1_HASH:
      return SameBytes(Sha1HashOf(c), *static_cast<const CRYPT_HASH_BLOB*>(para));
    case CERT_FIND_ISSUER_NAME:
      return SameName(info.Issuer, *static_cast<const CERT_NAME_BLOB*>(para));
    case CERT_FIND_SUBJECT_NAME:
      return SameName(info.Subject, *static_cast<const CERT_NAME_BLOB*>(para));
    case CERT_FIND_SUBJECT_CERT:
      return CertCompareCertificate(X509_ASN_ENCODING, &info,
                                    static_cast<const CERT_INFO*>(para)) != FALSE;
    case CERT_FIND_EXISTING:
      return CertCompareCertificate(X509_ASN_ENCODING, &info,
                                    static_cast<PCCERT_CONTEXT>(para)->pCertInfo) != FALSE;
    case CERT_FIND_KEY_IDENTIFIER:
      return SameBytes(KeyIdentifierOf(c), *static_cast<const CRYPT_HASH_BLOB*>(para));
    case CERT_FIND_CERT_ID: {
      const auto& id = *static_cast<const CERT_ID*>(para);
      switch (id.dwIdChoice) {
        case CERT_ID_ISSUER_SERIAL_NUMBER:
          return SameName(info.Issuer, id.IssuerSerialNumber.Issuer) &&
                 SameIntegerBlob(info.SerialNumber, id.IssuerSerialNumber.SerialNumber);
        case CERT_ID_KEY_IDENTIFIER:
          return SameBytes(KeyIdentifierOf(c), id.KeyId);
        case CERT_ID_SHA1_HASH:
          return SameBytes(Sha1HashOf(c), id.HashId);
        default:
          return false;
      }
    }
    default:
      return false;
  }
}

bool KnownFindType(DWORD findType) noexcept {
  switch (findType) {
    case CERT_FIND_ANY:
    case CERT_FIND_SHA1_HASH:
    case CERT_FIND_ISSUER_NAME:
    case CERT_FIND_SUBJECT_NAME:
    case CERT_FIND_SUBJECT_CERT:
    case CERT_FIND_EXISTING:
    case CERT_FIND_KEY_IDENTIFIER:
    case CERT_FIND_CERT_ID:
      return true;
    default:
      return false;
  }
}

// Properties of `from` that `to` lacks are given to it.
void InheritProperties(CertContextImpl& to, const CertContextImpl& from) {
  std::map<DWORD, PropertyValue> inherited;
  {
    std::lock_guard lock(from.propertyMutex);
    inherited = from.properties;
  }
  std::lock_guard lock(to.propertyMutex);
  for (auto& [id, value] : inherited) {
    to.properties.emplace(id, std::move(value));
  }
}

}  // namespace
}  // namespace Capi

using Capi::StoreImpl;

HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD, HCRYPTPROV_LEGACY, DWORD dwFlags,
                         const void* pvPara) {
  if (lpszStoreProvider == nullptr) {
    return Fail<HCERTSTORE>(E_INVALIDARG, nullptr);
  }
  if (lpszStoreProvider == CERT_STORE_PROV_SYSTEM_W) {
    return Capi::OpenSystemStore(dwFlags, pvPara);
  }
  StoreImpl::Kind kind;
  if (Capi::IsProvider(lpszStoreProvider, CERT_STORE_PROV_MEMORY, sz_CERT_STORE_PROV_MEMORY)) {
    kind = StoreImpl::Kind::Memory;
  } else if (Capi::IsProvider(lpszStoreProvider, CERT_STORE_PROV_COLLECTION,
                              sz_CERT_STORE_PROV_COLLECTION)) {
    kind = StoreImpl::Kind::Collection;
  } else {
    return FailWin32<HCERTSTORE>(ERROR_CALL_NOT_IMPLEMENTED, nullptr);
  }
  return Guard<HCERTSTORE>(nullptr, [&]() -> HCERTSTORE { return new StoreImpl(kind); });
}

HCERTSTORE CertDuplicateStore(HCERTSTORE hCertStore) {
  if (hCertStore != nullptr) {
    Capi::StoreOf(hCertStore)->handles.fetch_add(1, std::memory_order_relaxed);
  }
  return hCertStore;
}

BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
  if (hCertStore == nullptr) {
    return TRUE;
  }
  StoreImpl* store = Capi::StoreOf(hCertStore);
  if (store->handles.fetch_sub(1, std::memory_order_acq_rel) != 1) {
    return TRUE;
  }
  std::vector<CertContextImpl*> certificates;
  std::vector<Capi::CrlContextImpl*> crls;
  std::vector<StoreImpl::Member> members;
  {
    std::lock_guard lock(store->mutex);
    certificates.swap(store->certificates);
    crls.swap(store->crls);
    members.swap(store->members);
  }
  for (CertContextImpl* context : certificates) {
    CertFreeCertificateContext(context);
  }
  for (Capi::CrlContextImpl* context : crls) {
    CertFreeCRLContext(context);
  }
  for (const StoreImpl::Member& member : members) {
    CertCloseStore(member.store, 0);
  }
  const bool pending = store->memory.load(std::memory_order_acquire) > 1;
  Capi::ReleaseStoreMemory(store);
  if ((dwFlags & CERT_CLOSE_STORE_CHECK_FLAG) != 0 && pending) {
    return Fail(CRYPT_E_PENDING_CLOSE, FALSE);
  }
  return TRUE;
}

BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext) {
  if (ppStoreContext != nullptr) {
    *ppStoreContext = nullptr;
  }
  if (hCertStore == nullptr || pCertContext == nullptr || dwAddDisposition < CERT_STORE_ADD_NEW ||
      dwAddDisposition > CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES) {
    return Fail(E_INVALIDARG, FALSE);
  }
  return Guard(FALSE, [&]() -> BOOL {
    StoreImpl* store = Capi::AddTarget(Capi::StoreOf(hCertStore));
    if (store == nullptr) {
      return Fail(E_ACCESSDENIED, FALSE);
    }
    const CertContextImpl& source = *ImplOf(pCertContext);
    std::unique_lock lock(store->mutex);
    store->certificates.reserve(store->certificates.size() + 1);
    auto existing = store->certificates.end();
    if (dwAddDisposition != CERT_STORE_ADD_ALWAYS) {
      existing =
          std::find_if(store->certificates.begin(), store->certificates.end(),
                       [&](const CertContextImpl* c) { return Capi::SameEncoding(*c, source); });
    }
    if (existing != store->certificates.end() && dwAddDisposition == CERT_STORE_ADD_NEW) {
      return Fail(CRYPT_E_EXISTS, FALSE);
    }
    CertContextImpl* result = nullptr;
    CertContextImpl* replaced = nullptr;
    if (existing != store->certificates.end() && dwAddDisposition == CERT_STORE_ADD_USE_EXISTING) {
      result = *existing;
      if (result != &source) {
        Capi::InheritProperties(*result, source);
      }
    } else {
      // The copy holds a memory share of the store from its birth; until it is in the list, a
      // failure must give that share back along with the copy.
      store->memory.fetch_add(1, std::memory_order_relaxed);
      CertContextImpl* copy = nullptr;
      try {
        copy = Capi::CopyContextInto(source, store);
        if (existing != store->certificates.end() &&
            dwAddDisposition == CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES) {
          Capi::InheritProperties(*copy, **existing);
        }
      } catch (...) {
        delete copy;
        store->memory.fetch_sub(1, std::memory_order_relaxed);
        throw;
      }
      if (existing != store->certificates.end()) {
        replaced = *existing;
        *existing = copy;
      } else {
        store->certificates.push_back(copy);  // capacity reserved above: cannot throw
      }
      result = copy;
    }
    if (ppStoreContext != nullptr) {
      result->refs.fetch_add(1, std::memory_order_relaxed);
      *ppStoreContext = result;
    }
    lock.unlock();
    CertFreeCertificateContext(replaced);
    return TRUE;
  });
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext) {
  return CertFindCertificateInStore(hCertStore, 0, 0, CERT_FIND_ANY, nullptr, pPrevCertContext);
}

PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD, DWORD, DWORD dwFindType,
                                          const void* pvFindPara, PCCERT_CONTEXT pPrevCertContext) {
  // The previous context is the caller's to give up, whatever the outcome.
  struct FreePrevious {
    PCCERT_CONTEXT context;
    ~FreePrevious() { CertFreeCertificateContext(context); }
  } freePrevious{pPrevCertContext};
  if (hCertStore == nullptr || !Capi::KnownFindType(dwFindType) ||
      (dwFindType != CERT_FIND_ANY && pvFindPara == nullptr)) {
    return Fail<PCCERT_CONTEXT>(E_INVALIDARG, nullptr);
  }
  return Guard<PCCERT_CONTEXT>(nullptr, [&]() -> PCCERT_CONTEXT {
    CertContextImpl* found = Capi::NextMatch(
        Capi::StoreOf(hCertStore), pPrevCertContext,
        [&](const CertContextImpl& c) { return Capi::Matches(c, dwFindType, pvFindPara); });
    if (found == nullptr) {
      return Fail<PCCERT_CONTEXT>(CRYPT_E_NOT_FOUND, nullptr);
    }
    return found;
  });
}

BOOL CertAddStoreToCollection(HCERTSTORE hCollectionStore, HCERTSTORE hSiblingStore,
                              DWORD dwUpdateFlags, DWORD dwPriority) {
  if (hCollectionStore == nullptr || hSiblingStore == nullptr) {
    return Fail(E_INVALIDARG, FALSE);
  }
  StoreImpl* collection = Capi::StoreOf(hCollectionStore);
  StoreImpl* sibling = Capi::StoreOf(hSiblingStore);
  if (collection->kind != StoreImpl::Kind::Collection) {
    return Fail(E_INVALIDARG, FALSE);
  }
  return Guard(FALSE, [&]() -> BOOL {
    // A collection that held itself would be walked without end and never freed.
    if (Capi::Contains(sibling, collection)) {
      return Fail(E_INVALIDARG, FALSE);
    }
    std::lock_guard lock(collection->mutex);
    auto at = std::find_if(collection->members.begin(), collection->members.end(),
                           [&](const StoreImpl::Member& m) { return m.priority < dwPriority; });
    collection->members.insert(at, StoreImpl::Member{sibling, dwUpdateFlags, dwPriority});
    CertDuplicateStore(sibling);
    return TRUE;
  });
}

// ---------------------------------------------------------------------------------------------
// CRLs

BOOL CertAddEncodedCRLToStore(HCERTSTORE hCertStore, DWORD, const BYTE* pbCrlEncoded,
                              DWORD cbCrlEncoded, DWORD dwAddDisposition,
                              PCCRL_CONTEXT* ppCrlContext) {
  if (ppCrlContext != nullptr) {
    *ppCrlContext = nullptr;
  }
  if (hCertStore == nullptr || pbCrlEncoded == nullptr || dwAddDisposition < CERT_STORE_ADD_NEW ||
      dwAddDisposition > CERT_STORE_ADD_ALWAYS) {
    return Fail(E_INVALIDARG, FALSE);
  }
  return Guard(FALSE, [&]() -> BOOL {
    StoreImpl* store = Capi::AddTarget(Capi::StoreOf(hCertStore));
    if (store == nullptr) {
      return Fail(E_ACCESSDENIED, FALSE);
    }
    std::shared_ptr<const Capi::CrlData> crl =
        Capi::CrlData::Decode(std::span<const BYTE>(pbCrlEncoded, cbCrlEncoded));
    std::unique_lock lock(store->mutex);
    store->crls.reserve(store->crls.size() + 1);
    auto existing = store->crls.end();
    if (dwAddDisposition != CERT_STORE_ADD_ALWAYS) {
      existing =
          std::find_if(store->crls.begin(), store->crls.end(),
                       [&](const Capi::CrlContextImpl* c) { return c->data->der() == crl->der(); });
    }
    if (existing != store->crls.end() && dwAddDisposition == CERT_STORE_ADD_NEW) {
      return Fail(CRYPT_E_EXISTS, FALSE);
    }
    Capi::CrlContextImpl* result = nullptr;
    Capi::CrlContextImpl* replaced = nullptr;
    if (existing != store->crls.end() && dwAddDisposition == CERT_STORE_ADD_USE_EXISTING) {
      result = *existing;
    } else {
      result = new Capi::CrlContextImpl(std::move(crl), store);
      store->memory.fetch_add(1, std::memory_order_relaxed);
      if (existing != store->crls.end()) {
        replaced = *existing;
        *existing = result;
      } else {
        store->crls.push_back(result);  // capacity reserved above: cannot throw
      }
    }
    if (ppCrlContext != nullptr) {
      result->refs.fetch_add(1, std::memory_order_relaxed);
      *ppCrlContext = result;
    }
    lock.unlock();
    CertFreeCRLContext(replaced);
    return TRUE;
  });
}

PCCRL_CONTEXT CertEnumCRLsInStore(HCERTSTORE hCertStore, PCCRL_CONTEXT pPrevCrlContext) {
  struct FreePrevious {
    PCCRL_CONTEXT context;
    ~FreePrevious() { CertFreeCRLContext(context); }
  } freePrevious{pPrevCrlContext};
  if (hCertStore == nullptr) {
    return Fail<PCCRL_CONTEXT>(E_INVALIDARG, nullptr);
  }
  return Guard<PCCRL_CONTEXT>(nullptr, [&]() -> PCCRL_CONTEXT {
    bool passed = pPrevCrlContext == nullptr;
    Capi::CrlContextImpl* found = nullptr;
    auto visit = [&](Capi::CrlContextImpl* context) {
      if (!passed) {
        passed = context == pPrevCrlContext;
        return false;
      }
      context->refs.fetch_add(1, std::memory_order_relaxed);
      found = context;
      return true;
    };
    std::vector<const StoreImpl*> visited;
    Capi::Walk(Capi::StoreOf(hCertStore), visit, visited, &StoreImpl::crls);
    if (found == nullptr) {
      return Fail<PCCRL_CONTEXT>(CRYPT_E_NOT_FOUND, nullptr);
    }
    return found;
  });
}

PCCRL_CONTEXT CertDuplicateCRLContext(PCCRL_CONTEXT pCrlContext) {
  if (pCrlContext != nullptr) {
    Capi::CrlImplOf(pCrlContext)->refs.fetch_add(1, std::memory_order_relaxed);
  }
  return pCrlContext;
}

BOOL CertFreeCRLContext(PCCRL_CONTEXT pCrlContext) {
  if (pCrlContext == nullptr) {
    return TRUE;
  }
  Capi::CrlContextImpl* context = Capi::CrlImplOf(pCrlContext);
  if (context->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    StoreImpl* store = context->store;
    delete context;
    Capi::ReleaseStoreMemory(store);
  }
  return TRUE;
}

namespace Capi {

std::shared_ptr<const CrlData> CrlDataOf(PCCRL_CONTEXT context) {
  return CrlImplOf(context)->data;
}

}  // namespace Capi

}  // namespace Velmora::Platform
