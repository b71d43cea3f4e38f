// CRequest: the hash algorithm, the hash value, the hashing of data fed piece by piece, and the
// search for a provider that can hash with a given algorithm.
#include <cstring>
#include <vector>

#include "TSP/horodex/TSPRequest_Impl.h"
#include "codec/asnkit/algorithm_identifier.h"
#include "support/errors.h"
#include "support/oid_info.h"

namespace Velmora::PKI::TSP::Client {

using Platform::DWORD;
using Support::ThrowHResult;
using Support::ThrowLastError;

namespace {

// Whether the provider of `provider` lists `algId` among its algorithms. A listing failure other
// than its end is thrown.
bool Supports(Platform::HCRYPTPROV provider, Platform::ALG_ID algId) {
  DWORD flags = Platform::CRYPT_FIRST;
  for (;;) {
    Platform::PROV_ENUMALGS_EX entry{};
    DWORD size = sizeof(entry);
    if (!Platform::CryptGetProvParam(provider, Platform::PP_ENUMALGS_EX,
                                     reinterpret_cast<Platform::BYTE*>(&entry), &size, flags)) {
      if (Platform::GetLastError() == Platform::ERROR_NO_MORE_ITEMS) {
        return false;
      }
      ThrowLastError();
    }
    if (entry.aiAlgid == algId) {
      return true;
    }
    flags = 0;
  }
}

// Tries one provider (by type, or by name of its type): a context that supports `algId`, or 0.
// A context that cannot be acquired ends the search with that error, thrown.
Platform::HCRYPTPROV TryProvider(const wchar_t* name, DWORD type, Platform::ALG_ID algId) {
  Platform::HCRYPTPROV handle = 0;
  if (!Platform::CryptAcquireContextW(&handle, nullptr, name, type,
                                      Platform::CRYPT_VERIFYCONTEXT)) {
    ThrowLastError();
  }
  HashProvider candidate(handle);
  return Supports(handle, algId) ? candidate.detach() : 0;
}

// One step of an enumeration of provider types or providers: reads the entry at `index` into
// `name`, growing the buffer once. Returns the enumeration's error code, ERROR_SUCCESS on success;
// a second ERROR_MORE_DATA, or a reported size no larger than the buffer, gives ERROR_MORE_DATA.
template <typename Enumerate>
DWORD ReadEntry(Enumerate enumerate, DWORD index, DWORD* type, std::vector<wchar_t>& name) {
  DWORD size = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  if (enumerate(index, nullptr, 0, type, name.data(), &size)) {
    return 0;
  }
  DWORD error = Platform::GetLastError();
  if (error != Platform::ERROR_MORE_DATA) {
    return error;
  }
  if (size <= name.size() * sizeof(wchar_t)) {
    return Platform::ERROR_MORE_DATA;
  }
  name.assign(2 * size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  if (enumerate(index, nullptr, 0, type, name.data(), &size)) {
    return 0;
  }
  return Platform::GetLastError();
}

}  // namespace

Platform::HCRYPTPROV AcquireHashProvider(Platform::ALG_ID algId) {
  if (algId == 0) {
    Platform::SetLastError(static_cast<DWORD>(Platform::NTE_BAD_ALGID));
    return 0;
  }
  // By provider type, each type's default provider.
  std::vector<wchar_t> name(256 / sizeof(wchar_t));
  for (DWORD index = 0;; ++index) {
    DWORD type = 0;
    if (ReadEntry(Platform::CryptEnumProviderTypesW, index, &type, name) != 0) {
      break;
    }
    if (const Platform::HCRYPTPROV found = TryProvider(nullptr, type, algId)) {
      return found;
    }
  }
  // By provider, each named one of its own type.
  name.assign(512 / sizeof(wchar_t), L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD type = 0;
    const DWORD error = ReadEntry(Platform::CryptEnumProvidersW, index, &type, name);
    if (error == Platform::ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (error != 0) {
      continue;
    }
    if (const Platform::HCRYPTPROV found = TryProvider(name.data(), type, algId)) {
      return found;
    }
  }
  Platform::SetLastError(static_cast<DWORD>(Platform::NTE_BAD_ALGID));
  return 0;
}

void CRequest::Impl::PutDataHashAlg(Platform::ALG_ID algId) {
  if (hash) {
    ThrowHResult(Platform::NTE_BAD_HASH_STATE);
  }
  if (algId == hashAlg) {
    return;
  }
  // Looked up before anything changes: an unknown identifier leaves the algorithm as it was, so
  // hashAlg and hashAlgOID never name two different algorithms.
  const Platform::CRYPT_OID_INFO* info = Support::FindOIDInfo(
      Platform::CRYPT_OID_INFO_ALGID_KEY, &algId, Platform::CRYPT_HASH_ALG_OID_GROUP_ID);
  if (info == nullptr) {
    if (Platform::GetLastError() != 0) {
      ThrowLastError();
    }
    ThrowHResult(Platform::NTE_BAD_ALGID);
  }
  std::string oid = info->pszOID;
  Invalidate();
  hashAlg = algId;
  hashAlgOID.swap(oid);
}

void CRequest::Impl::PutDataHashAlg(const char* oid) {
  if (hash) {
    ThrowHResult(Platform::NTE_BAD_HASH_STATE);
  }
  if (hashAlgOID == oid) {
    return;
  }
  const ASN1::CAlgorithmIdentifier identifier(oid);  // refuses text that is not an OID
  Platform::ALG_ID algId = 0;
  const Platform::CRYPT_OID_INFO* info =
      Support::FindOIDInfo(Platform::CRYPT_OID_INFO_OID_KEY, identifier.get_algorithm(), 0);
  if (info != nullptr && info->Algid != 0) {
    algId = info->Algid;
  } else {
    Platform::SetLastError(static_cast<DWORD>(Platform::NTE_BAD_ALGID));
  }
  std::string text = oid;
  Invalidate();
  hashAlgOID.swap(text);
  hashAlg = algId;
}

void CRequest::put_DataHashAlg(unsigned int algId) {
  m_impl->PutDataHashAlg(static_cast<Platform::ALG_ID>(algId));
}

void CRequest::put_DataHashAlg(const char* oid) {
  m_impl->PutDataHashAlg(oid);
}

void CRequest::put_DataHashAlg(const wchar_t* oid) {
  m_impl->PutDataHashAlg(Platform::WideToNarrow(oid).c_str());
}

void CRequest::put_DataHashAlg(const unsigned short* oid) {
  m_impl->PutDataHashAlg(Platform::Utf16ToNarrow(Platform::Utf16ViewOf(oid)).c_str());
}

unsigned int CRequest::get_DataHashAlg() const {
  return m_impl->hashAlg;
}

const char* CRequest::get_DataHashAlgOID() const {
  return m_impl->hashAlgOID.c_str();
}

void CRequest::put_DataHash(const unsigned char* hash, unsigned long length) {
  if (m_impl->hash) {
    ThrowHResult(Platform::NTE_BAD_HASH_STATE);
  }
  if (hash == nullptr && length != 0) {
    ThrowHResult(Platform::E_POINTER);
  }
  CBlob value(hash, length);
  m_impl->Invalidate();
  m_impl->dataHash = std::move(value);
}

void CRequest::get_DataHash(unsigned char* buffer, unsigned long* length) const {
  if (length == nullptr) {
    ThrowHResult(Platform::E_POINTER);
  }
  m_impl->MakeRequest();
  const CBlob& value = m_impl->dataHash;
  const unsigned long capacity = *length;
  *length = value.cbData();
  if (buffer == nullptr) {
    return;
  }
  if (value.cbData() > capacity) {
    Support::ThrowWin32Error(Platform::ERROR_MORE_DATA);
  }
  if (!value.empty()) {
    std::memcpy(buffer, value.pbData(), value.cbData());
  }
}

void CRequest::AddData(const unsigned char* data, unsigned long length) {
  Impl& r = *m_impl;
  if (!r.dataHash.empty()) {
    ThrowHResult(Platform::CRYPT_E_EXISTS);
  }
  if (!r.hash) {
    r.hashProv.release();
    r.hashProv.reset(AcquireHashProvider(r.hashAlg));
    if (r.hashProv.get() == 0) {
      ThrowLastError();
    }
    if (!Platform::CryptCreateHash(r.hashProv.get(), r.hashAlg, 0, 0, r.hash.put())) {
      ThrowLastError();
    }
  }
  // The platform takes 32-bit lengths; a larger piece is fed in parts rather than cut short.
  constexpr unsigned long kMaxPart = 0x40000000;
  do {
    const unsigned long part = length < kMaxPart ? length : kMaxPart;
    if (!Platform::CryptHashData(r.hash.get(), data, static_cast<DWORD>(part), 0)) {
      ThrowLastError();
    }
    data = data == nullptr ? nullptr : data + part;
    length -= part;
  } while (length != 0);
}

}  // namespace Velmora::PKI::TSP::Client
