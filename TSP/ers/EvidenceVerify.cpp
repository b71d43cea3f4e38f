// Verification of an evidence record: every archive time stamp of every chain, in order.
#include <ctime>
#include <optional>

#include "TSP/ers/evidence_chain.h"
#include "TSP/ers/evidence_digest.h"
#include "codec/evidence/evidence_record.h"
#include "horodex/EvidenceRecord.h"
#include "platform/capi/wincrypt.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

namespace {

std::string TimeText(const CDateTime& time) {
  const std::int64_t seconds = time.seconds();
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

Platform::HRESULT CodeOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const Platform::CAtlException& e) {
    return e.hr() != 0 ? e.hr() : Platform::E_FAIL;
  }
  return 0;
}

class Verifier {
 public:
  Verifier(const std::function<CBlob(const char*)>& hashOf, void** stores, unsigned long count)
      : m_hashOf(hashOf), m_stores(stores), m_count(count) {}

  CEvidenceReport run(const unsigned char* bytes, unsigned long length) {
    ERS::CEvidenceRecord record;
    const Platform::HRESULT read = CodeOf([&] { record.decode(CBlob(bytes, length)); });
    if (read != 0) {
      add("record", read, "not an evidence record");
      return std::move(m_report);
    }
    const auto& chains = record.get_sequence().get_chains();
    for (std::size_t c = 0; c < chains.size(); ++c) {
      const std::string algorithm = ERS::ChainAlgorithm(chains[c]);
      const auto& items = chains[c].get_items();
      for (std::size_t s = 0; s < items.size(); ++s) {
        const std::string label =
            "chain " + std::to_string(c + 1) + " stamp " + std::to_string(s + 1) + ": ";
        stamp(label, algorithm, record, c, s);
      }
    }
    return std::move(m_report);
  }

 private:
  void add(std::string part, Platform::HRESULT result, std::string detail) {
    m_report.checks.push_back(CEvidenceCheck{std::move(part), result, std::move(detail)});
  }

  // Where the climb of stamp `s` of chain `c` starts: the data's hash (joined to the hash of the
  // chains before for a later chain), or the hash of the stamp it renews.
  CBlob start(const ERS::CDigest& digest, const ERS::CEvidenceRecord& record, std::size_t c,
              std::size_t s) {
    const auto& chains = record.get_sequence().get_chains();
    if (s > 0) {
      return digest.hash(chains[c].get_items()[s - 1].get_timeStamp().encode().span());
    }
    const CBlob data = m_hashOf(digest.oid().c_str());
    if (data.empty()) {
      Platform::AtlThrow(Platform::NTE_BAD_ALGID);
    }
    if (c == 0) {
      return data;
    }
    ERS::CArchiveTimeStampSequence before;
    for (std::size_t i = 0; i < c; ++i) {
      before.push_back(chains[i]);
    }
    const CBlob sequence = digest.hash(before.encode().span());
    return digest.hashJoined(data.span(), sequence.span());
  }

  void stamp(const std::string& label, const std::string& algorithm,
             const ERS::CEvidenceRecord& record, std::size_t c, std::size_t s) {
    const ERS::CArchiveTimeStamp& ats = record.get_sequence().get_chains()[c].get_items()[s];
    const TSP::CToken& token = ats.get_timeStamp();
    // Path: from the data or the renewed stamp to the imprint.
    std::string detail = algorithm;
    const Platform::HRESULT path = CodeOf([&] {
      if (ats.get_digestAlgorithm() != nullptr &&
          algorithm != ats.get_digestAlgorithm()->get_algorithm()) {
        Platform::AtlThrow(Platform::NTE_BAD_ALGID);  // a chain keeps one algorithm
      }
      if (!ERS::CDigest::Known(algorithm)) {
        detail = "unknown hash algorithm " + algorithm;
        Platform::AtlThrow(Platform::NTE_BAD_ALGID);
      }
      const ERS::CDigest digest(algorithm);
      const CBlob from = start(digest, record, c, s);
      const CBlob root = ERS::Climb(digest, from.span(), ats.get_reducedHashtree());
      if (!(root == token.get_hashedMessage())) {
        detail = "the tree does not lead to the stamp's imprint";
        Platform::AtlThrow(Platform::CRYPT_E_HASH_VALUE);
      }
    });
    add(label + "path", path, detail);

    // The stamp itself, judged at its genTime.
    CStamp stamp;
    const CBlob& der = token.encode();
    const Platform::CERT_CONTEXT* tsa = nullptr;
    const Platform::HRESULT signature = CodeOf([&] {
      stamp.Import(der.pbData(), der.cbData(), nullptr);
      tsa = stamp.get_TSACertificate(m_stores, m_count);
      if (tsa == nullptr) {
        Platform::AtlThrow(Platform::CRYPT_E_NOT_FOUND);
      }
      const int code = stamp.Verify(tsa, nullptr);
      if (code != 0) {
        Platform::AtlThrow(code);
      }
    });
    const CDateTime genTime = token.get_genTime();
    add(label + "signature", signature, TimeText(genTime));
    const Platform::HRESULT chain = signature != 0 ? signature : CodeOf([&] {
      const int code = stamp.VerifyCertificate(tsa, m_stores, m_count);
      if (code != 0) {
        Platform::AtlThrow(code);
      }
    });
    add(label + "TSA chain", chain, signature != 0 ? "no TSA certificate checked" : "");

    if (m_previous) {
      add(label + "order", genTime > *m_previous ? 0 : Support::HORODEX_E_EVIDENCE_ORDER,
          "after " + TimeText(*m_previous));
    } else {
      m_report.genTime = genTime;
    }
    m_previous = genTime;
  }

  const std::function<CBlob(const char*)>& m_hashOf;
  void** m_stores;
  unsigned long m_count;
  CEvidenceReport m_report;
  std::optional<CDateTime> m_previous;
};

}  // namespace

Platform::HRESULT CEvidenceReport::result() const noexcept {
  if (checks.empty()) {
    return Platform::CRYPT_E_ASN1_ERROR;
  }
  for (const CEvidenceCheck& check : checks) {
    if (check.result != 0) {
      return check.result;
    }
  }
  return 0;
}

CEvidenceReport VerifyEvidenceRecord(const unsigned char* record, unsigned long length,
                                     const std::function<CBlob(const char* hashOid)>& hashOf,
                                     void** stores, unsigned long count) {
  return Verifier(hashOf, stores, count).run(record, length);
}

CEvidenceReport VerifyEvidenceRecordData(const unsigned char* record, unsigned long length,
                                         const unsigned char* data, std::size_t dataLength,
                                         void** stores, unsigned long count) {
  return VerifyEvidenceRecord(
      record, length, [&](const char* oid) { return EvidenceHash(oid, data, dataLength); }, stores,
      count);
}

CBlob EvidenceHash(const char* hashOid, const unsigned char* data, std::size_t length) {
  if (hashOid == nullptr || !ERS::CDigest::Known(hashOid)) {
    return CBlob();
  }
  return ERS::CDigest(hashOid).hash(ERS::Bytes(data, length));
}

}  // namespace Velmora::PKI::TSP::Client
