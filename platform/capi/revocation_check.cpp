#include "platform/capi/revocation_check.h"

#include <sys/stat.h>

#include <algorithm>
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
#include "platform/capi/revocation_crl_status.h"
#include "platform/capi/revocation_fetch.h"
#include "platform/capi/revocation_ocsp.h"
#include "platform/capi/revocation_urls.h"
#include "platform/file/path_watch.h"

namespace Velmora::Platform {

namespace Capi {

namespace {

using Status = RevocationAnswer::Status;

// Decoded data of the disk cache, so a large CRL is decoded and sorted once per process and an
// OCSP response decoded (and judged, OcspData keeps its lookups) once, while its file stays the
// same.
template <typename Data>
struct Memo {
  struct Entry {
    std::int64_t size;
    std::int64_t modified;
    unsigned long seenIn;  // the cache folder's watch generation in which the file was last seen
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

// An inotify watch on the cache folder alone. While it stays quiet (nothing written, renamed or
// removed in the folder, and for at most a second) its generation stays the same, and a file
// seen in this generation is as it was, so a memoized entry is used without asking the file
// system again. Any event, a changed environment or a folder that cannot be watched starts a new
// generation, in which every file is looked at once more.
struct CacheFolderWatch {
  std::mutex mutex;
  PathWatch watch;
  std::string folder;
  unsigned long generation = 0;
};

unsigned long CacheFolderGeneration(const std::string& folder) {
  static auto* watched = new CacheFolderWatch();  // never destroyed: chains may be built at exit
  const std::lock_guard lock(watched->mutex);
  if (folder == watched->folder && watched->watch.quiet()) {
    return watched->generation;
  }
  watched->watch.arm({folder}, PathWatch::Reach::Alone);  // before the files are looked at
  watched->folder = folder;
  return ++watched->generation;
}

// The cached data for `key`, decoded; null when there is none. A file that does not decode
// throws (and is replaced by the next answer fetched).
template <typename Data>
std::shared_ptr<const Data> Cached(CacheKind kind, const std::string& key) {
  const unsigned long generation = CacheFolderGeneration(RevocationCacheFolder().native());
  Memo<Data>& memo = TheMemo<Data>();
  {
    std::lock_guard lock(memo.mutex);
    const auto found = memo.entries.find(key);
    if (found != memo.entries.end() && found->second.seenIn == generation) {
      return found->second.data;
    }
  }
  const std::filesystem::path file = RevocationCacheFile(kind, key);
  struct stat facts {};
  if (::stat(file.c_str(), &facts) != 0) {
    return nullptr;
  }
  const std::int64_t modified =
      static_cast<std::int64_t>(facts.st_mtim.tv_sec) * 1000000000 + facts.st_mtim.tv_nsec;
  {
    std::lock_guard lock(memo.mutex);
    const auto found = memo.entries.find(key);
    if (found != memo.entries.end() && found->second.size == facts.st_size &&
        found->second.modified == modified) {
      found->second.seenIn = generation;
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
  memo.entries[key] = {facts.st_size, modified, generation, data};
  return data;
}

FILETIME FileTimeFrom(std::uint64_t value) {
  return {static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

// What the sources at hand say of one certificate, weighed together: a "revoked" from any of them
// wins (the earliest date when several say so); otherwise "good" from the freshest; otherwise
// nothing, with the first failure met.
class Weighing {
 public:
  Weighing(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer, std::uint64_t checkTime,
           const WeakAlgorithmRule& weak)
      : m_subject(subject), m_issuer(issuer), m_at{NowFileTime(), 0}, m_weak(weak) {
    m_at.check = checkTime != 0 ? checkTime : m_at.now;
  }

  PCCERT_CONTEXT subject() const { return m_subject; }
  PCCERT_CONTEXT issuer() const { return m_issuer; }
  const CheckTime& at() const { return m_at; }
  const WeakAlgorithmRule& weak() const { return m_weak; }

  // Takes one answer (or the failure `judge` throws).
  template <typename Judge>
  void take(DWORD source, Judge&& judge) {
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
      return;
    }
    const bool better =
        m_source == REVOCATION_SOURCE_NONE ||
        (answer.status == Status::Revoked
             ? m_answer.status != Status::Revoked || answer.revocationDate < m_answer.revocationDate
             : m_answer.status == Status::Good && answer.thisUpdate > m_answer.thisUpdate);
    if (better) {
      m_answer = answer;
      m_source = source;
    }
  }
  void note(DWORD error) {
    if (m_firstError == 0 && error != static_cast<DWORD>(CRYPT_E_NO_MATCH)) {
      m_firstError = error;
    }
  }
  void sawSource() { m_sourceSeen = true; }
  bool settled() const { return m_source != REVOCATION_SOURCE_NONE; }

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
  const WeakAlgorithmRule& m_weak;
  RevocationAnswer m_answer;
  DWORD m_source = REVOCATION_SOURCE_NONE;
  DWORD m_firstError = 0;
  bool m_sourceSeen = false;
};

// The CRLs at hand for the certificate, from every local source, and the CRLs' judgement.
class CrlSet {
 public:
  explicit CrlSet(const RevocationRequest& request) : m_request(request) {}

  void add(std::shared_ptr<const CrlData> crl, DWORD source) {
    m_crls.push_back({std::move(crl), source});
  }
  // Whether a CRL of this issuer may speak for the certificate: its own issuer's, or one its
  // distribution points name as CRL issuer.
  bool relevant(const std::string& issuerKey, const std::vector<std::string>& issuers) const {
    return issuerKey == ImplOf(m_request.subject)->data->issuerKey() ||
           std::find(issuers.begin(), issuers.end(), DirectoryNameKey(issuerKey)) != issuers.end();
  }
  void judgeInto(Weighing& weighing) const {
    if (m_crls.empty()) {
      return;
    }
    const CrlStatus status =
        JudgeByCrls(m_request.subject, m_crls, weighing.at(), m_request.crlSigner);
    weighing.take(status.source, [&] { return status.answer; });
  }

 private:
  const RevocationRequest& m_request;
  std::vector<SourcedCrl> m_crls;
};

bool HasRevocationPointers(const CERT_INFO& info) {
  return FindExtension(info, kOidAuthorityInfoAccess) != nullptr ||
         FindExtension(info, kOidCrlDistributionPoints) != nullptr ||
         FindExtension(info, kOidFreshestCrl) != nullptr;
}

// The http URLs of distribution points, in order, as the certificate's facts hold them.
std::vector<std::string> HttpUrlsOf(const std::vector<DistributionPoint>& points) {
  std::vector<std::string> urls;
  for (const DistributionPoint& point : points) {
    urls.insert(urls.end(), point.httpUrls.begin(), point.httpUrls.end());
  }
  return urls;
}

// Asks the responders, then the distribution points, until one answer settles the question.
void AskNetwork(Weighing& weighing, CrlSet& crls, const std::vector<std::string>& ocspUrls,
                const std::vector<std::string>& crlUrls, bool ocspNonce) {
  const std::string ocspKey =
      ocspUrls.empty() ? std::string() : OcspCacheKey(weighing.subject(), weighing.issuer());
  const std::vector<std::uint8_t> request =
      ocspUrls.empty() ? std::vector<std::uint8_t>()
                       : BuildOcspRequest(weighing.subject(), weighing.issuer(), ocspNonce);
  for (const std::string& url : ocspUrls) {
    weighing.take(REVOCATION_SOURCE_NETWORK, [&] {
      FetchResult fetched = FetchRevocationData(url, request);
      if (fetched.error != 0) {
        return RevocationAnswer::Failed(static_cast<HRESULT>(fetched.error), REVOCATION_KIND_OCSP);
      }
      const auto response = OcspData::Decode(fetched.body);
      if (!response->echoes(request)) {
        return RevocationAnswer::Failed(NTE_BAD_DATA, REVOCATION_KIND_OCSP);  // not our request's
      }
      RevocationAnswer answer =
          response->judge(weighing.subject(), weighing.issuer(), weighing.at(), weighing.weak());
      if (answer.status != Status::NoAnswer) {
        WriteRevocationCache(CacheKind::Ocsp, ocspKey, response->der());
      }
      return answer;
    });
    if (weighing.settled()) {
      return;
    }
  }
  // Every CRL fetched joins those at hand (a delta needs its complete CRL, partitions need each
  // other); each is kept once it helped settle the question.
  std::vector<std::pair<std::string, std::shared_ptr<const CrlData>>> fetchedCrls;
  for (const std::string& url : crlUrls) {
    FetchResult fetched = FetchRevocationData(url, {});
    if (fetched.error != 0) {
      weighing.note(fetched.error);
      weighing.sawSource();
      continue;
    }
    try {
      auto crl = CrlData::Decode(fetched.body);
      crls.add(crl, REVOCATION_SOURCE_NETWORK);
      fetchedCrls.emplace_back(url, std::move(crl));
    } catch (const CAtlException& e) {
      weighing.note(static_cast<DWORD>(e.hr()));
      weighing.sawSource();
      continue;
    }
    crls.judgeInto(weighing);
    if (weighing.settled()) {
      for (const auto& [where, crl] : fetchedCrls) {
        WriteRevocationCache(CacheKind::Crl, where, crl->der());
      }
      return;
    }
  }
}

}  // namespace

DWORD CheckRevocation(const RevocationRequest& request, CERT_REVOCATION_INFO& info) {
  PCCERT_CONTEXT subject = request.subject;
  PCCERT_CONTEXT issuer = request.issuer;
  Weighing weighing(subject, issuer, request.call.checkTime, request.weak);
  const auto settle = [&]() -> DWORD {
    const ChainFacts& facts = FactsOf(subject);
    std::vector<std::string> crlIssuers;
    for (const DistributionPoint& point : facts.distributionPoints) {
      crlIssuers.insert(crlIssuers.end(), point.crlIssuer.begin(), point.crlIssuer.end());
    }
    // Every local source together: the message's data, the caller's stores, the store folders and
    // the disk cache. A response a message carries need not be about this certificate: one that
    // is not is no failure of a source.
    for (const auto& response : request.call.responses) {
      weighing.take(REVOCATION_SOURCE_CALL, [&] {
        RevocationAnswer answer = response->judge(subject, issuer, weighing.at(), weighing.weak());
        if (answer.error == CRYPT_E_NOT_IN_REVOCATION_DATABASE) {
          answer.error = CRYPT_E_NO_MATCH;
        }
        return answer;
      });
    }
    CrlSet crls(request);
    const auto addIfRelevant = [&](const std::shared_ptr<const CrlData>& crl, DWORD source) {
      if (crls.relevant(crl->issuerKey(), crlIssuers)) {
        crls.add(crl, source);
      }
    };
    for (const auto& crl : request.call.crls) {
      addIfRelevant(crl, REVOCATION_SOURCE_CALL);
    }
    for (const auto& crl : request.storeCrls) {
      addIfRelevant(crl, REVOCATION_SOURCE_CHAIN_STORE);
    }
    std::vector<std::string> issuerKeys{ImplOf(subject)->data->issuerKey()};
    for (const std::string& name : crlIssuers) {
      if (name[0] == DirectoryNameKey(std::string())[0]) {
        issuerKeys.push_back(name.substr(1));
      }
    }
    for (const std::string& key : issuerKeys) {
      const auto [first, last] = request.trust.crls.equal_range(key);
      for (auto it = first; it != last; ++it) {
        crls.add(it->second, REVOCATION_SOURCE_STORE);
      }
    }
    // The cache and the network only for a certificate that names where to ask (most chains of
    // private CAs name nowhere).
    const bool pointers = HasRevocationPointers(*subject->pCertInfo);
    const std::vector<std::string> ocspUrls =
        pointers ? OcspUrlsOf(*subject->pCertInfo) : std::vector<std::string>();
    std::vector<std::string> crlUrls = HttpUrlsOf(facts.distributionPoints);
    const std::vector<std::string> deltaUrls = HttpUrlsOf(facts.freshest);
    crlUrls.insert(crlUrls.end(), deltaUrls.begin(), deltaUrls.end());
    if (!ocspUrls.empty() || !crlUrls.empty()) {
      weighing.sawSource();
    }
    if (!ocspUrls.empty()) {
      weighing.take(REVOCATION_SOURCE_CACHE, [&] {
        const auto response = Cached<OcspData>(CacheKind::Ocsp, OcspCacheKey(subject, issuer));
        if (!response) {
          return RevocationAnswer::Failed(CRYPT_E_NO_MATCH, REVOCATION_KIND_OCSP);
        }
        return response->judge(subject, issuer, weighing.at(), weighing.weak());
      });
    }
    for (const std::string& url : crlUrls) {
      try {
        if (auto crl = Cached<CrlData>(CacheKind::Crl, url)) {
          crls.add(std::move(crl), REVOCATION_SOURCE_CACHE);
        }
      } catch (const CAtlException& e) {
        weighing.note(static_cast<DWORD>(e.hr()));
      }
    }
    crls.judgeInto(weighing);
    // The network only when nothing at hand settles it.
    if (!weighing.settled() && request.network) {
      AskNetwork(weighing, crls, ocspUrls, crlUrls, request.call.ocspNonce);
    }
    return weighing.finish(info);
  };
  try {
    return settle();
  } catch (const CAtlException& e) {
    // Certificates OpenSSL cannot read: no source could be asked.
    weighing.note(static_cast<DWORD>(e.hr()));
    return weighing.finish(info);
  }
}

CallRevocationData CallRevocationData::Decode(const REVOCATION_DATA_BLOBS* data) {
  CallRevocationData decoded;
  if (data == nullptr) {
    return decoded;
  }
  if (data->pCheckTime != nullptr) {
    decoded.checkTime = FileTimeValue(*data->pCheckTime);
  }
  decoded.ocspNonce = (data->dwFlags & REVOCATION_DATA_OCSP_NONCE) != 0;
  for (DWORD i = 0; i < data->cCrl && data->rgCrl != nullptr; ++i) {
    try {
      decoded.crls.push_back(CrlData::Decode(
          std::span<const std::uint8_t>(data->rgCrl[i].pbData, data->rgCrl[i].cbData)));
    } catch (const CAtlException&) {
      // Ignored: it speaks for nothing.
    }
  }
  for (DWORD i = 0; i < data->cOcspResponse && data->rgOcspResponse != nullptr; ++i) {
    try {
      decoded.responses.push_back(OcspData::Decode(std::span<const std::uint8_t>(
          data->rgOcspResponse[i].pbData, data->rgOcspResponse[i].cbData)));
    } catch (const CAtlException&) {
      // Ignored: it speaks for nothing.
    }
  }
  return decoded;
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

}  // namespace Velmora::Platform
