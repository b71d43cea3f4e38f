#include "platform/capi/revocation_crl.h"

#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <tuple>

#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_internal.h"
#include "platform/capi/cert_name_match.h"
#include "platform/capi/cert_openssl.h"
#include "platform/capi/weak_algorithms.h"
#include "platform/errors/atl_exception.h"

namespace Velmora::Platform::Capi {

namespace {

[[noreturn]] void Malformed() {
  AtlThrow(CRYPT_E_ASN1_ERROR);
}

// The CRL extensions we act on; a critical one outside this list makes the CRL unusable.
bool UnderstoodCrlExtension(int nid) {
  return nid == NID_crl_number || nid == NID_authority_key_identifier ||
         nid == NID_issuing_distribution_point || nid == NID_issuer_alt_name ||
         nid == NID_delta_crl || nid == NID_freshest_crl;
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
  if (seconds < -kFileTimeEpochOffsetSeconds) {
    return 0;
  }
  return kUnixEpochFileTime + static_cast<std::uint64_t>(seconds) * kFileTimeTicksPerSecond;
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

bool NumberLess(const std::string& a, const std::string& b) noexcept {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
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
  m_issuerName.assign(name, name + nameLength);
  OPENSSL_free(name);
  m_issuerKey = NameMatchKey(m_issuerName);
  m_thisUpdate = FileTimeOf(X509_CRL_get0_lastUpdate(crl));
  m_nextUpdate = FileTimeOf(X509_CRL_get0_nextUpdate(crl));
  if (m_thisUpdate == 0 || (X509_CRL_get0_nextUpdate(crl) != nullptr && m_nextUpdate == 0)) {
    Malformed();
  }
  loadExtensions(crl);
  loadEntries(crl);
}

void CrlData::loadExtensions(X509_CRL* crl) {
  const auto number = [&](int nid, std::string& into) {
    int critical = 0;
    if (auto* value =
            static_cast<ASN1_INTEGER*>(X509_CRL_get_ext_d2i(crl, nid, &critical, nullptr))) {
      into = SerialKeyOf(value);
      ASN1_INTEGER_free(value);
      if (into[0] == '-') {
        Malformed();
      }
    } else if (critical != -1) {
      Malformed();  // present but does not decode, or present twice
    }
  };
  number(NID_crl_number, m_number);
  number(NID_delta_crl, m_baseNumber);
  for (int i = 0; i < X509_CRL_get_ext_count(crl); ++i) {
    X509_EXTENSION* extension = X509_CRL_get_ext(crl, i);
    const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(extension));
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
    const std::span<const std::uint8_t> bytes(ASN1_STRING_get0_data(value),
                                              static_cast<std::size_t>(ASN1_STRING_length(value)));
    try {
      if (nid == NID_issuing_distribution_point) {
        m_scope = ReadIssuingDistributionPoint(bytes);
        m_scopeDer.assign(bytes.begin(), bytes.end());
      } else if (nid == NID_freshest_crl) {
        m_freshest = ReadDistributionPoints(bytes);
      }
    } catch (const CAtlException&) {
      Malformed();
    }
    if (X509_EXTENSION_get_critical(extension) && !UnderstoodCrlExtension(nid)) {
      Malformed();  // an extension that may change what the entries mean
    }
  }
}

void CrlData::loadEntries(X509_CRL* crl) {
  const bool indirect = m_scope && m_scope->indirect;
  // In an indirect CRL an entry's certificateIssuer names the issuer of it and of the entries
  // after it, until the next one; the first entries are the CRL issuer's.
  std::string issuer = m_issuerKey;
  const STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl);
  const int count = revoked != nullptr ? sk_X509_REVOKED_num(revoked) : 0;
  m_entries.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const X509_REVOKED* entry = sk_X509_REVOKED_value(revoked, i);
    for (int e = 0; e < X509_REVOKED_get_ext_count(entry); ++e) {
      X509_EXTENSION* extension = X509_REVOKED_get_ext(entry, e);
      const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(extension));
      if (nid == NID_certificate_issuer && indirect) {
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        try {
          issuer = "\xff";  // matches no name key: an issuer named otherwise than by its Name
          for (const std::string& key :
               ReadGeneralNameKeys({ASN1_STRING_get0_data(value),
                                    static_cast<std::size_t>(ASN1_STRING_length(value))})) {
            if (key[0] == DirectoryNameKey(std::string())[0]) {
              issuer = key.substr(1);
              break;
            }
          }
        } catch (const CAtlException&) {
          Malformed();
        }
      } else if (X509_EXTENSION_get_critical(extension) && !UnderstoodEntryExtension(nid)) {
        Malformed();  // a certificateIssuer outside an indirect CRL, or unknown
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
    m_entries.push_back(
        {issuer, SerialKeyOf(X509_REVOKED_get0_serialNumber(entry)), {date, reason}});
  }
  std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
    return std::tie(a.issuer, a.serial) < std::tie(b.issuer, b.serial);
  });
}

std::optional<CrlData::Listing> CrlData::find(const std::string& issuerKey,
                                              const std::string& serial) const {
  const auto found =
      std::lower_bound(m_entries.begin(), m_entries.end(), std::tie(issuerKey, serial),
                       [](const Entry& entry, const auto& key) {
                         return std::tie(entry.issuer, entry.serial) < key;
                       });
  if (found == m_entries.end() || found->issuer != issuerKey || found->serial != serial) {
    return std::nullopt;
  }
  return found->listing;
}

bool CrlData::signatureWeak(PCCERT_CONTEXT signer, std::span<const PCCERT_CONTEXT> above,
                            const WeakAlgorithmRule& rule) const {
  const X509_ALGOR* algorithm = nullptr;
  X509_CRL_get0_signature(m_crl.get(), nullptr, &algorithm);
  const std::optional<std::vector<BYTE>> inherited =
      above.empty() ? std::nullopt : InheritedKeyOf(signer, above);
  const int bits = RsaBitsOfKey(
      inherited
          ? std::span<const BYTE>(*inherited)
          : std::span<const BYTE>(ImplOf(signer)->data->certificate().get_subjectPublicKeyInfo()));
  return IsWeakSignature(SignatureHashOf(algorithm), bits, m_thisUpdate, rule);
}

bool CrlData::signedBy(PCCERT_CONTEXT signer, std::span<const PCCERT_CONTEXT> above) const {
  const std::optional<std::vector<BYTE>> inherited =
      above.empty() ? std::nullopt : InheritedKeyOf(signer, above);
  const std::span<const BYTE> spki =
      inherited
          ? std::span<const BYTE>(*inherited)
          : std::span<const BYTE>(ImplOf(signer)->data->certificate().get_subjectPublicKeyInfo());
  std::string key(reinterpret_cast<const char*>(spki.data()), spki.size());
  std::lock_guard lock(m_mutex);
  for (const auto& [known, verdict] : m_verdicts) {
    if (known == key) {
      return verdict;
    }
  }
  const bool verdict = CrlSignedBy(m_crl.get(), spki);
  if (m_verdicts.size() < 8) {
    m_verdicts.emplace_back(std::move(key), verdict);
  }
  return verdict;
}

}  // namespace Velmora::Platform::Capi
