// What the provider contexts and the hash objects share: the catalogue of installed providers and
// their algorithms, the handle tables, and the helpers that report failures the platform's way.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/capi/crypt_provider.h"
#include "platform/errors/guard.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"

namespace Velmora::Platform::Providers {

// One hash algorithm: its ALG_ID, the digest OpenSSL runs for it, and the names and size the
// algorithm listing gives.
struct HashAlgorithm {
  ALG_ID algid;
  const char* digest;    // OpenSSL's name of the digest
  const char* name;      // short name, at most 19 characters
  const char* longName;  // long name, at most 39 characters
  // Fetched once and kept for the life of the process, so that a hash made while the process
  // exits still runs; never freed (OpenSSL's exit handler may already have torn down its
  // library when the last static destructor runs). Null for a GOST digest, which DigestOf
  // fetches on first use: listing the providers must not load the GOST module.
  const EVP_MD* md;
  DWORD bits;  // size of the value
};

// The digest of the algorithm, fetched and kept on first use; null when it cannot be fetched.
const EVP_MD* DigestOf(const HashAlgorithm& algorithm);

struct ProviderInfo {
  DWORD type;
  const wchar_t* typeName;
  const wchar_t* name;
  const char* narrowName;
  std::vector<const HashAlgorithm*> algorithms;  // in listing order

  const HashAlgorithm* find(ALG_ID algid) const noexcept {
    for (const HashAlgorithm* a : algorithms) {
      if (a->algid == algid) {
        return a;
      }
    }
    return nullptr;
  }
};

// The providers installed in this process: `byName` in enumeration order (their names' order),
// `byType` the same providers in ascending order of type. Built once, on first use.
struct Catalogue {
  std::vector<ProviderInfo> byName;
  std::vector<const ProviderInfo*> byType;
};
const Catalogue& Installed();

// A provider context: its provider and the cursor of the algorithm listing.
struct ProviderContext {
  explicit ProviderContext(const ProviderInfo& info) noexcept : provider(info) {}
  const ProviderInfo& provider;
  std::mutex lock;  // guards nextAlgorithm
  std::size_t nextAlgorithm = 0;
};

// A fresh handle value: never 0, never handed out twice in a process.
ULONG_PTR NewHandle() noexcept;

// Live objects by handle, each with a reference count. A lookup hands out a shared owner, so an
// object stays alive for a call that is using it while another thread releases its handle.
template <typename T>
class HandleTable {
 public:
  ULONG_PTR add(std::shared_ptr<T> object) {
    const std::lock_guard guard(m_lock);
    const ULONG_PTR handle = NewHandle();
    m_entries.emplace(handle, Entry{std::move(object), 1});
    return handle;
  }
  std::shared_ptr<T> find(ULONG_PTR handle) const {
    const std::lock_guard guard(m_lock);
    const auto it = m_entries.find(handle);
    return it == m_entries.end() ? nullptr : it->second.object;
  }
  bool contains(ULONG_PTR handle) const {
    const std::lock_guard guard(m_lock);
    return m_entries.contains(handle);
  }
  bool addRef(ULONG_PTR handle) {
    const std::lock_guard guard(m_lock);
    const auto it = m_entries.find(handle);
    if (it == m_entries.end()) {
      return false;
    }
    ++it->second.refs;
    return true;
  }
  // Drops one reference; the last one removes the handle. The object itself is destroyed after
  // the table's lock is let go (or later, by a call still using it).
  bool release(ULONG_PTR handle) {
    std::shared_ptr<T> last;
    {
      const std::lock_guard guard(m_lock);
      const auto it = m_entries.find(handle);
      if (it == m_entries.end()) {
        return false;
      }
      if (--it->second.refs == 0) {
        last = std::move(it->second.object);
        m_entries.erase(it);
      }
    }
    return true;
  }

 private:
  struct Entry {
    std::shared_ptr<T> object;
    std::size_t refs;
  };
  mutable std::mutex m_lock;
  std::unordered_map<ULONG_PTR, Entry> m_entries;
};

// The live provider contexts.
HandleTable<ProviderContext>& Contexts();

// Records a failure as the thread's last error and returns FALSE: an HRESULT is kept as its
// 32-bit value, as the platform does.
inline BOOL Fail(HRESULT hr) noexcept {
  SetLastError(static_cast<DWORD>(hr));
  return FALSE;
}
inline BOOL FailWin32(DWORD code) noexcept {
  SetLastError(code);
  return FALSE;
}

// Runs `body`; an exception fails with the HRESULT of HResultOfCurrentException, except that
// running out of memory is NTE_NO_MEMORY, as a provider reports it.
template <typename Body>
BOOL Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    const HRESULT hr = HResultOfCurrentException();
    return Fail(hr == E_OUTOFMEMORY ? NTE_NO_MEMORY : hr);
  }
}

// The size-query protocol over `size` bytes at `value`.
BOOL CopyOut(const void* value, DWORD size, BYTE* pbData, DWORD* pcbData) noexcept;

}  // namespace Velmora::Platform::Providers
