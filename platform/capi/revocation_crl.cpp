#include "platform/capi/revocation_crl.h"

#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_internal.h"
#include "platform/capi/cert_name_match.h"
#include "platform/capi/cert_openssl.h"
#include "platform/text/atl_exception.h"

namespace Velmora::Platform::Capi {

namespace {

constexpr std::uint64_t kEpochDifference = 116444736000000000ull;

[[noreturn]] void Malformed() {
  AtlThrow(CRYPT_E_ASN1_ERROR);
}

// The CRL extensions we act on; a critical one outside this list makes the CRL unusable.
bool UnderstoodCrlExtension(int nid) {
  return nid == NID_crl_number || nid == NID_authority_key_identifier ||
         nid == NID_issuing_distribution_point || nid == NID_issuer_alt_name;
}

bool UnderstoodEntryExtension(int nid) {
  return nid == NID_crl_reason || nid == NID_invalidity_date;
}

}  // namespace

std::uint64_t FileTimeOf(const ASN1_TIME* time) noexcept {
  std::tm parts{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) {
    return 0;
  }
  const std::time_t seconds = timegm(&parts);
  if (seconds < -11644473600LL) {
    return 0;
  }
  return kEpochDifference + static_cast<std::uint64_t>(seconds) * 10000000ull;
}

std::string SerialKeyOf(const ASN1_INTEGER* serial) {
  std::string key(1, ASN1_STRING_type(serial) == V_ASN1_NEG_INTEGER ? '-' : '+');
  const unsigned char* data = ASN1_STRING_get0_data(serial);
  int length = ASN1_STRING_length(serial);
  while (length > 0 && *data == 0) {
    ++data;
    --length;
  }
  key.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
  return key;
}

std::string SerialKeyOf(PCCERT_CONTEXT certificate) {
  // CERT_INFO keeps the serial number's two's-complement bytes least significant first.
  const CRYPT_INTEGER_BLOB& serial = certificate->pCertInfo->SerialNumber;
  std::string bytes(serial.pbData, serial.pbData + serial.cbData);
  std::reverse(bytes.begin(), bytes.end());
  const bool negative = !bytes.empty() && (static_cast<unsigned char>(bytes[0]) & 0x80) != 0;
  if (negative) {
    // The magnitude: invert and add one.
    for (char& byte : bytes) {
      byte = static_cast<char>(~static_cast<unsigned char>(byte));
    }
    for (std::size_t i = bytes.size(); i-- > 0;) {
      const unsigned char value = static_cast<unsigned char>(bytes[i]) + 1;
      bytes[i] = static_cast<char>(value);
      if (value != 0) {
        break;
      }
    }
  }
  const std::size_t first = bytes.find_first_not_of('\0');
  return (negative ? "-" : "+") +
         (first == std::string::npos ? std::string() : bytes.substr(first));
}

bool KeyUsageAllows(const CERT_INFO& info, int bit) {
  const CERT_EXTENSION* extension = FindExtension(info, kOidKeyUsage);
  if (extension == nullptr) {
    return true;
  }
  const unsigned char* p = extension->Value.pbData;
  std::unique_ptr<ASN1_BIT_STRING, FreeWith<ASN1_BIT_STRING_free>> bits(
      d2i_ASN1_BIT_STRING(nullptr, &p, static_cast<long>(extension->Value.cbData)));
  return bits && ASN1_BIT_STRING_get_bit(bits.get(), bit) == 1;
}

std::shared_ptr<const CrlData> CrlData::Decode(std::span<const std::uint8_t> der) {
  if (der.size() > kMaxRevocationDataBytes) {
    AtlThrow(CRYPT_E_ASN1_LARGE);
  }
  const unsigned char* p = der.data();
  std::unique_ptr<X509_CRL, FreeWith<X509_CRL_free>> crl(
      d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
  if (!crl || p != der.data() + der.size()) {
    Malformed();
  }
  std::shared_ptr<CrlData> data(new CrlData());
  data->m_der.assign(der.begin(), der.end());
  data->load(crl.release());
  return data;
}

std::shared_ptr<const CrlData> CrlData::FromX509(X509_CRL* crl) {
  unsigned char* out = nullptr;
  const int length = i2d_X509_CRL(crl, &out);
  if (length <= 0) {
    Malformed();
  }
  std::vector<std::uint8_t> der(out, out + length);
  OPENSSL_free(out);
  return Decode(der);
}

void CrlData::load(X509_CRL* crl) {
  m_crl.reset(crl);
  unsigned char* name = nullptr;
  const int nameLength = i2d_X509_NAME(X509_CRL_get_issuer(crl), &name);
  if (nameLength <= 0) {
    Malformed();
  }
  m_issuerKey =
      NameMatchKey(std::span<const std::uint8_t>(name, static_cast<std::size_t>(nameLength)));
  OPENSSL_free(name);
  m_thisUpdate = FileTimeOf(X509_CRL_get0_lastUpdate(crl));
  m_nextUpdate = FileTimeOf(X509_CRL_get0_nextUpdate(crl));
  if (m_thisUpdate == 0 || (X509_CRL_get0_nextUpdate(crl) != nullptr && m_nextUpdate == 0)) {
    Malformed();
  }
  for (int i = 0; i < X509_CRL_get_ext_count(crl); ++i) {
    X509_EXTENSION* extension = X509_CRL_get_ext(crl, i);
    const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(extension));
    if (X509_EXTENSION_get_critical(extension) && !UnderstoodCrlExtension(nid)) {
      Malformed();  // a delta CRL, or an extension that may change what the entries mean
    }
  }
  int critical = 0;
  if (auto* idp = static_cast<ISSUING_DIST_POINT*>(
          X509_CRL_get_ext_d2i(crl, NID_issuing_distribution_point, &critical, nullptr))) {
    const bool partial = idp->indirectCRL || idp->onlysomereasons != nullptr || idp->onlyattr;
    m_onlyUser = idp->onlyuser != 0;
    m_onlyCa = idp->onlyCA != 0;
    ISSUING_DIST_POINT_free(idp);
    if (partial) {
      Malformed();
    }
  } else if (critical != -1) {
    Malformed();  // present but does not decode
  }
  const STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl);
  const int count = revoked != nullptr ? sk_X509_REVOKED_num(revoked) : 0;
  m_entries.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const X509_REVOKED* entry = sk_X509_REVOKED_value(revoked, i);
    for (int e = 0; e < X509_REVOKED_get_ext_count(entry); ++e) {
      X509_EXTENSION* extension = X509_REVOKED_get_ext(entry, e);
      if (X509_EXTENSION_get_critical(extension) &&
          !UnderstoodEntryExtension(OBJ_obj2nid(X509_EXTENSION_get_object(extension)))) {
        Malformed();  // a certificateIssuer: entries of another issuer
      }
    }
    LONG reason = REVOCATION_REASON_NONE;
    int reasonCritical = 0;
    if (auto* code = static_cast<ASN1_ENUMERATED*>(
            X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, &reasonCritical, nullptr))) {
      reason = static_cast<LONG>(ASN1_ENUMERATED_get(code));
      ASN1_ENUMERATED_free(code);
      if (reason < 0 || reason > REVOCATION_REASON_AA_COMPROMISE || reason == 7) {
        Malformed();
      }
    } else if (reasonCritical != -1) {
      Malformed();
    }
    const std::uint64_t date = FileTimeOf(X509_REVOKED_get0_revocationDate(entry));
    if (date == 0) {
      Malformed();
    }
    m_entries.push_back({SerialKeyOf(X509_REVOKED_get0_serialNumber(entry)), date, reason});
  }
  std::sort(m_entries.begin(), m_entries.end(),
            [](const Entry& a, const Entry& b) { return a.serial < b.serial; });
}

bool CrlData::signedBy(PCCERT_CONTEXT issuer) const {
  const auto spki = ImplOf(issuer)->data->certificate().get_subjectPublicKeyInfo();
  std::string key(reinterpret_cast<const char*>(spki.data()), spki.size());
  std::lock_guard lock(m_mutex);
  for (const auto& [known, verdict] : m_verdicts) {
    if (known == key) {
      return verdict;
    }
  }
  const bool verdict = CrlSignedBy(m_crl.get(), issuer);
  if (m_verdicts.size() < 8) {
    m_verdicts.emplace_back(std::move(key), verdict);
  }
  return verdict;
}

RevocationAnswer CrlData::judge(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer,
                                const CheckTime& at) const {
  if (ImplOf(subject)->data->issuerKey() != m_issuerKey) {
    return RevocationAnswer::Failed(CRYPT_E_NO_MATCH, REVOCATION_KIND_CRL);
  }
  const auto& constraints = FactsOf(subject).basicConstraints;
  const bool subjectIsCa = constraints && constraints->ca;
  if ((m_onlyUser && subjectIsCa) || (m_onlyCa && !subjectIsCa)) {
    return RevocationAnswer::Failed(CRYPT_E_NO_MATCH, REVOCATION_KIND_CRL);
  }
  if (!KeyUsageAllows(*issuer->pCertInfo, 6) || !signedBy(issuer)) {
    return RevocationAnswer::Failed(TRUST_E_CERT_SIGNATURE, REVOCATION_KIND_CRL);
  }
  RevocationAnswer answer;
  answer.kind = REVOCATION_KIND_CRL;
  answer.thisUpdate = m_thisUpdate;
  answer.nextUpdate = m_nextUpdate;
  if (!Fresh(m_thisUpdate, m_nextUpdate, at)) {
    answer.error = CERT_E_EXPIRED;
    return answer;
  }
  const std::string serial = SerialKeyOf(subject);
  const auto found = std::lower_bound(
      m_entries.begin(), m_entries.end(), serial,
      [](const Entry& entry, const std::string& value) { return entry.serial < value; });
  if (found == m_entries.end() || found->serial != serial ||
      found->reason == REVOCATION_REASON_REMOVE_FROM_CRL) {
    answer.status = RevocationAnswer::Status::Good;
    return answer;
  }
  answer.status = RevocationAnswer::Status::Revoked;
  answer.revocationDate = found->date;
  answer.reason = found->reason;
  return answer;
}

}  // namespace Velmora::Platform::Capi
