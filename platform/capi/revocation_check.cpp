#include "platform/capi/revocation_check.h"

#include <sys/stat.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capi/capi_util.h"
#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_internal.h"
#include "platform/capi/revocation_cache.h"
#include "platform/capi/revocation_crl.h"
#include "platform/capi/revocation_fetch.h"
#include "platform/capi/revocation_ocsp.h"
#include "platform/capi/revocation_urls.h"

namespace Velmora::Platform {

namespace Capi {

namespace {

using Status = RevocationAnswer::Status;

// What the thread gave for its chains (CertSetRevocationDataForThread).
struct CallData {
  std::vector<std::shared_ptr<const CrlData>> crls;
  std::vector<std::shared_ptr<const OcspData>> responses;
  std::uint64_t checkTime = 0;  // 0: now
  bool ocspNonce = false;
};
thread_local CallData t_call;

// Decoded data of the disk cache, so a large CRL is decoded and sorted once per process and an
// OCSP response decoded (and judged, OcspData keeps its lookups) once, while its file stays the
// same.
template <typename Data>
struct Memo {
  struct Entry {
    std::int64_t size;
    std::int64_t modified;
    std::shared_ptr<const Data> data;
  };
  std::mutex mutex;
  std::map<std::string, Entry> entries;
};
template <typename Data>
Memo<Data>& TheMemo() {
  static auto* memo = new Memo<Data>();  // never destroyed: chains may be built at exit
  return *memo;
}
constexpr std::size_t kMaxMemoEntries = 64;

// The cached data for `key`, decoded; null when there is none. A file that does not decode
// throws (and is replaced by the next answer fetched).
template <typename Data>
std::shared_ptr<const Data> Cached(CacheKind kind, const std::string& key) {
  const std::filesystem::path file = RevocationCacheFile(kind, key);
  struct stat facts {};
  if (::stat(file.c_str(), &facts) != 0) {
    return nullptr;
  }
  const std::int64_t modified =
      static_cast<std::int64_t>(facts.st_mtim.tv_sec) * 1000000000 + facts.st_mtim.tv_nsec;
  Memo<Data>& memo = TheMemo<Data>();
  {
    std::lock_guard lock(memo.mutex);
    const auto found = memo.entries.find(key);
    if (found != memo.entries.end() && found->second.size == facts.st_size &&
        found->second.modified == modified) {
      return found->second.data;
    }
  }
  const auto bytes = ReadRevocationCache(kind, key);
  if (!bytes) {
    return nullptr;
  }
  std::shared_ptr<const Data> data = Data::Decode(*bytes);
  std::lock_guard lock(memo.mutex);
  if (memo.entries.size() >= kMaxMemoEntries) {
    memo.entries.clear();
  }
  memo.entries[key] = {facts.st_size, modified, data};
  return data;
}

FILETIME FileTimeFrom(std::uint64_t value) {
  return {static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

// The search over the sources for one certificate.
class Search {
 public:
  Search(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer, std::uint64_t checkTime)
      : m_subject(subject), m_issuer(issuer), m_at{NowFileTime(), 0} {
    m_at.check = checkTime != 0 ? checkTime : m_at.now;
  }

  // Takes the answer of one piece of data, judged by `judge`; true when it settles the question.
  template <typename Judge>
  bool consider(DWORD source, Judge&& judge) {
    RevocationAnswer answer;
    try {
      answer = judge();
    } catch (const CAtlException& e) {
      answer = RevocationAnswer::Failed(e.hr(), REVOCATION_KIND_NONE);
    }
    if (answer.error != CRYPT_E_NO_MATCH) {
      m_sourceSeen = true;
    }
    if (answer.status == Status::NoAnswer) {
      note(static_cast<DWORD>(answer.error));
      return false;
    }
    m_answer = answer;
    m_source = source;
    return true;
  }
  void note(DWORD error) {
    if (m_firstError == 0 && error != static_cast<DWORD>(CRYPT_E_NO_MATCH)) {
      m_firstError = error;
    }
  }
  void sawSource() { m_sourceSeen = true; }

  PCCERT_CONTEXT subject() const { return m_subject; }
  PCCERT_CONTEXT issuer() const { return m_issuer; }
  const CheckTime& at() const { return m_at; }

  DWORD finish(CERT_REVOCATION_INFO& info) const {
    info = CERT_REVOCATION_INFO{};
    info.cbSize = sizeof info;
    info.dwFirstSourceError = m_firstError;
    info.lReason = REVOCATION_REASON_NONE;
    if (m_source == REVOCATION_SOURCE_NONE) {
      info.dwRevocationResult = static_cast<DWORD>(m_sourceSeen ? CRYPT_E_REVOCATION_OFFLINE
                                                                : CRYPT_E_NO_REVOCATION_CHECK);
      return CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
             (m_sourceSeen ? CERT_TRUST_IS_OFFLINE_REVOCATION : 0);
    }
    info.dwSource = m_source;
    info.dwKind = m_answer.kind;
    info.ThisUpdate = FileTimeFrom(m_answer.thisUpdate);
    info.NextUpdate = FileTimeFrom(m_answer.nextUpdate);
    info.fHasFreshnessTime = TRUE;
    info.dwFreshnessTime =
        static_cast<DWORD>((m_at.now - std::min(m_at.now, m_answer.thisUpdate)) / 10000000ull);
    if (m_answer.status == Status::Good) {
      info.dwRevocationResult = 0;
      return 0;
    }
    info.dwRevocationResult = static_cast<DWORD>(CRYPT_E_REVOKED);
    info.lReason = m_answer.reason;
    info.RevocationDate = FileTimeFrom(m_answer.revocationDate);
    return CERT_TRUST_IS_REVOKED;
  }

 private:
  PCCERT_CONTEXT m_subject;
  PCCERT_CONTEXT m_issuer;
  CheckTime m_at;
  RevocationAnswer m_answer;
  DWORD m_source = REVOCATION_SOURCE_NONE;
  DWORD m_firstError = 0;
  bool m_sourceSeen = false;
};

// Whether the answer may be kept in the cache: it settled the question.
bool Settled(const RevocationAnswer& answer) {
  return answer.status != Status::NoAnswer;
}

bool AskNetwork(Search& search, const std::vector<std::string>& ocspUrls,
                const std::vector<std::string>& crlUrls) {
  const std::string ocspKey =
      ocspUrls.empty() ? std::string() : OcspCacheKey(search.subject(), search.issuer());
  const std::vector<std::uint8_t> request =
      ocspUrls.empty() ? std::vector<std::uint8_t>()
                       : BuildOcspRequest(search.subject(), search.issuer(), t_call.ocspNonce);
  for (const std::string& url : ocspUrls) {
    const bool done = search.consider(REVOCATION_SOURCE_NETWORK, [&] {
      FetchResult fetched = FetchRevocationData(url, request);
      if (fetched.error != 0) {
        return RevocationAnswer::Failed(static_cast<HRESULT>(fetched.error), REVOCATION_KIND_OCSP);
      }
      const auto response = OcspData::Decode(fetched.body);
      if (!response->echoes(request)) {
        return RevocationAnswer::Failed(NTE_BAD_DATA, REVOCATION_KIND_OCSP);  // not our request's
      }
      RevocationAnswer answer = response->judge(search.subject(), search.issuer(), search.at());
      if (Settled(answer)) {
        WriteRevocationCache(CacheKind::Ocsp, ocspKey, response->der());
      }
      return answer;
    });
    if (done) {
      return true;
    }
  }
  for (const std::string& url : crlUrls) {
    const bool done = search.consider(REVOCATION_SOURCE_NETWORK, [&] {
      FetchResult fetched = FetchRevocationData(url, {});
      if (fetched.error != 0) {
        return RevocationAnswer::Failed(static_cast<HRESULT>(fetched.error), REVOCATION_KIND_CRL);
      }
      const auto crl = CrlData::Decode(fetched.body);
      RevocationAnswer answer = crl->judge(search.subject(), search.issuer(), search.at());
      if (Settled(answer)) {
        WriteRevocationCache(CacheKind::Crl, url, crl->der());
      }
      return answer;
    });
    if (done) {
      return true;
    }
  }
  return false;
}

}  // namespace

DWORD CheckRevocation(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer, const TrustMaterial& trust,
                      const std::vector<std::shared_ptr<const CrlData>>& storeCrls, bool network,
                      CERT_REVOCATION_INFO& info) {
  Search search(subject, issuer, t_call.checkTime);
  const auto ask = [&](DWORD source, const auto& data) {
    return search.consider(source, [&] { return data->judge(subject, issuer, search.at()); });
  };
  const auto settle = [&]() -> DWORD {
    // 1. the message's data, 2. the caller's stores, 3. the store folders.
    // A response a message carries need not be about this certificate: one that is not is no
    // failure of a source.
    for (const auto& response : t_call.responses) {
      const bool done = search.consider(REVOCATION_SOURCE_CALL, [&] {
        RevocationAnswer answer = response->judge(subject, issuer, search.at());
        if (answer.error == CRYPT_E_NOT_IN_REVOCATION_DATABASE) {
          answer.error = CRYPT_E_NO_MATCH;
        }
        return answer;
      });
      if (done) {
        return search.finish(info);
      }
    }
    for (const auto& crl : t_call.crls) {
      if (ask(REVOCATION_SOURCE_CALL, crl)) {
        return search.finish(info);
      }
    }
    const std::string& issuerKey = ImplOf(subject)->data->issuerKey();
    for (const auto& crl : storeCrls) {
      if (crl->issuerKey() == issuerKey && ask(REVOCATION_SOURCE_CHAIN_STORE, crl)) {
        return search.finish(info);
      }
    }
    const auto [first, last] = trust.crls.equal_range(issuerKey);
    for (auto it = first; it != last; ++it) {
      if (ask(REVOCATION_SOURCE_STORE, it->second)) {
        return search.finish(info);
      }
    }
    // 4. the disk cache; 5. the network: only for a certificate that names where to ask (most
    // chains of private CAs name nowhere, and reading the certificate with OpenSSL to find out
    // would cost more than the rest of the verification).
    if (FindExtension(*subject->pCertInfo, kOidAuthorityInfoAccess) == nullptr &&
        FindExtension(*subject->pCertInfo, kOidCrlDistributionPoints) == nullptr) {
      return search.finish(info);
    }
    const std::vector<std::string> ocspUrls = OcspUrlsOf(*subject->pCertInfo);
    const std::vector<std::string> crlUrls = CrlUrlsOf(*subject->pCertInfo);
    if (!ocspUrls.empty() || !crlUrls.empty()) {
      search.sawSource();
    }
    if (!ocspUrls.empty()) {
      const bool done = search.consider(REVOCATION_SOURCE_CACHE, [&] {
        const auto response = Cached<OcspData>(CacheKind::Ocsp, OcspCacheKey(subject, issuer));
        if (!response) {
          return RevocationAnswer::Failed(CRYPT_E_NO_MATCH, REVOCATION_KIND_OCSP);
        }
        return response->judge(subject, issuer, search.at());
      });
      if (done) {
        return search.finish(info);
      }
    }
    for (const std::string& url : crlUrls) {
      const bool done = search.consider(REVOCATION_SOURCE_CACHE, [&] {
        const auto crl = Cached<CrlData>(CacheKind::Crl, url);
        if (!crl) {
          return RevocationAnswer::Failed(CRYPT_E_NO_MATCH, REVOCATION_KIND_CRL);
        }
        return crl->judge(subject, issuer, search.at());
      });
      if (done) {
        return search.finish(info);
      }
    }
    if (network) {
      AskNetwork(search, ocspUrls, crlUrls);
    }
    return search.finish(info);
  };
  try {
    return settle();
  } catch (const CAtlException& e) {
    // Certificates OpenSSL cannot read: no source could be asked.
    search.note(static_cast<DWORD>(e.hr()));
    return search.finish(info);
  }
}

bool RevocationRefusedAt(const CERT_CHAIN_ELEMENT& element, std::uint64_t at) noexcept {
  if ((element.TrustStatus.dwErrorStatus & CERT_TRUST_IS_REVOKED) == 0) {
    return false;
  }
  const CERT_REVOCATION_INFO* info = element.pRevocationInfo;
  if (info == nullptr || info->cbSize < sizeof(CERT_REVOCATION_INFO)) {
    return true;
  }
  if (FileTimeValue(info->RevocationDate) <= at) {
    return true;
  }
  switch (info->lReason) {
    case REVOCATION_REASON_AFFILIATION_CHANGED:
    case REVOCATION_REASON_SUPERSEDED:
    case REVOCATION_REASON_CESSATION_OF_OPERATION:
      return false;
    default:
      return true;
  }
}

}  // namespace Capi

void CertSetRevocationDataForThread(const REVOCATION_DATA_BLOBS* data) {
  Capi::CallData fresh;
  if (data != nullptr && data->pCheckTime != nullptr) {
    fresh.checkTime = Capi::FileTimeValue(*data->pCheckTime);
  }
  fresh.ocspNonce = data != nullptr && (data->dwFlags & REVOCATION_DATA_OCSP_NONCE) != 0;
  if (data != nullptr) {
    for (DWORD i = 0; i < data->cCrl && data->rgCrl != nullptr; ++i) {
      try {
        fresh.crls.push_back(Capi::CrlData::Decode(
            std::span<const std::uint8_t>(data->rgCrl[i].pbData, data->rgCrl[i].cbData)));
      } catch (const CAtlException&) {
        // Ignored: it speaks for nothing.
      }
    }
    for (DWORD i = 0; i < data->cOcspResponse && data->rgOcspResponse != nullptr; ++i) {
      try {
        fresh.responses.push_back(Capi::OcspData::Decode(std::span<const std::uint8_t>(
            data->rgOcspResponse[i].pbData, data->rgOcspResponse[i].cbData)));
      } catch (const CAtlException&) {
      }
    }
  }
  Capi::t_call = std::move(fresh);
}

}  // namespace Velmora::Platform
