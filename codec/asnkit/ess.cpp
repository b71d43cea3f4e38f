#include "codec/asnkit/ess.h"

#include "codec/asnkit/codec_util.h"

namespace Velmora::ASN1 {

namespace {

Der::Reader SequenceMembers(const Der::Element& e) {
  if (!(e.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  return e.children();
}

CBlob ReadHash(Der::Reader& members) {
  if (members.empty()) {
    Der::Fail(Platform::CRYPT_E_ASN1_EOD);
  }
  return CBlob(Der::ReadOctetString(members.next()));
}

std::optional<CIssuerSerial> ReadOptionalIssuerSerial(Der::Reader& members) {
  if (members.empty()) {
    return std::nullopt;
  }
  CIssuerSerial issuerSerial;
  issuerSerial.read(members.next());
  return issuerSerial;
}

std::optional<CIssuerSerial> Copy(const CIssuerSerial* issuerSerial) {
  return issuerSerial != nullptr ? std::optional<CIssuerSerial>(*issuerSerial) : std::nullopt;
}

// Reads an ESS certificate identifier into `target`, all or nothing: the members `readLeading`
// takes first, then certHash and the optional issuerSerial, and nothing after them.
template <typename CertId, typename ReadLeading>
void ReadCertId(const Der::Element& e, CertId& target, ReadLeading readLeading) {
  Der::Reader members = SequenceMembers(e);
  CertId result;
  readLeading(members, result);
  result.put_certHash(ReadHash(members));
  const std::optional<CIssuerSerial> issuerSerial = ReadOptionalIssuerSerial(members);
  result.put_issuerSerial(issuerSerial ? &*issuerSerial : nullptr);
  members.finish();
  target = std::move(result);
}

// The members both ESS certificate identifiers end with.
void WriteHashAndIssuerSerial(Der::Writer& inner, const CCertHashAndIssuerSerial& id) {
  inner.octetString(id.get_certHash().span());
  if (const CIssuerSerial* issuerSerial = id.get_issuerSerial()) {
    issuerSerial->write(inner);
  }
}

}  // namespace

// CIssuerSerial

bool operator==(const CIssuerSerial& a, const CIssuerSerial& b) noexcept {
  return a.m_issuer == b.m_issuer && a.m_serialNumber.sameValue(b.m_serialNumber);
}

void CIssuerSerial::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CIssuerSerial::encode() const {
  return EncodeWhole(*this);
}

void CIssuerSerial::read(const Der::Element& e) {
  Der::Reader members = SequenceMembers(e);
  CIssuerSerial result;
  result.m_issuer.read(members.expect(Der::Tags::Sequence));
  result.m_serialNumber.read(members.expect(Der::Tags::Integer));
  members.finish();
  *this = std::move(result);
}

void CIssuerSerial::write(Der::Writer& w) const {
  if (m_serialNumber.empty()) {
    ThrowInvalidState();
  }
  w.sequence([&](Der::Writer& inner) {
    m_issuer.write(inner);
    m_serialNumber.write(inner);
  });
}

// CESSCertID

CESSCertID::CESSCertID(const CBlob& certHash, const CIssuerSerial* issuerSerial)
    : CCertHashAndIssuerSerial(certHash, issuerSerial) {}

void CESSCertID::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CESSCertID::encode() const {
  return EncodeWhole(*this);
}

void CESSCertID::read(const Der::Element& e) {
  ReadCertId(e, *this, [](Der::Reader&, CESSCertID&) {});
}

void CESSCertID::write(Der::Writer& w) const {
  w.sequence([&](Der::Writer& inner) { WriteHashAndIssuerSerial(inner, *this); });
}

// CESSCertIDv2

namespace {

// The default hash, checked once: every certificate identifier read starts from it.
const CAlgorithmIdentifier& DefaultHashAlgorithm() {
  static const CAlgorithmIdentifier kSha256(kOidSha256);
  return kSha256;
}

}  // namespace

CESSCertIDv2::CESSCertIDv2() : m_hashAlgorithm(DefaultHashAlgorithm()) {}

CESSCertIDv2::CESSCertIDv2(const CAlgorithmIdentifier& hashAlgorithm, const CBlob& certHash,
                           const CIssuerSerial* issuerSerial)
    : CCertHashAndIssuerSerial(certHash, issuerSerial), m_hashAlgorithm(hashAlgorithm) {}

void CESSCertIDv2::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CESSCertIDv2::encode() const {
  return EncodeWhole(*this);
}

void CESSCertIDv2::read(const Der::Element& e) {
  ReadCertId(e, *this, [](Der::Reader& members, CESSCertIDv2& result) {
    if (const auto algorithm = members.optional(Der::Tags::Sequence)) {
      result.m_hashAlgorithm.read(*algorithm);
    }
  });
}

void CESSCertIDv2::write(Der::Writer& w) const {
  w.sequence([&](Der::Writer& inner) {
    const bool isDefault = std::string_view(m_hashAlgorithm.get_algorithm()) == kOidSha256 &&
                           m_hashAlgorithm.get_parameters().empty();
    if (!isDefault) {
      m_hashAlgorithm.write(inner);
    }
    WriteHashAndIssuerSerial(inner, *this);
  });
}

// COtherHashAlgAndValue

void COtherHashAlgAndValue::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob COtherHashAlgAndValue::encode() const {
  return EncodeWhole(*this);
}

void COtherHashAlgAndValue::read(const Der::Element& e) {
  Der::Reader members = SequenceMembers(e);
  COtherHashAlgAndValue result;
  result.m_hashAlgorithm.read(members.expect(Der::Tags::Sequence));
  result.m_hashValue = ReadHash(members);
  members.finish();
  *this = std::move(result);
}

void COtherHashAlgAndValue::write(Der::Writer& w) const {
  w.sequence([&](Der::Writer& inner) {
    m_hashAlgorithm.write(inner);
    inner.octetString(m_hashValue.span());
  });
}

// COtherHash

CAlgorithmIdentifier COtherHash::hashAlgorithm() const {
  if (m_otherHash) {
    return m_otherHash->get_hashAlgorithm();
  }
  return m_sha1Hash ? CAlgorithmIdentifier(kOidSha1) : CAlgorithmIdentifier();
}

const CBlob& COtherHash::hashValue() const noexcept {
  static const CBlob kEmpty;
  if (m_otherHash) {
    return m_otherHash->get_hashValue();
  }
  return m_sha1Hash ? *m_sha1Hash : kEmpty;
}

bool operator==(const COtherHash& a, const COtherHash& b) noexcept {
  const bool aSet = a.m_sha1Hash || a.m_otherHash;
  const bool bSet = b.m_sha1Hash || b.m_otherHash;
  if (!aSet || !bSet) {
    return aSet == bSet;
  }
  if (!(a.hashValue() == b.hashValue())) {
    return false;
  }
  // The SHA-1 identifier of the bare form is compared like any other, so a SHA-1 hash given
  // with (or without) NULL parameters equals the bare form of the same bytes.
  static const CAlgorithmIdentifier kSha1(kOidSha1);
  const CAlgorithmIdentifier& aAlg = a.m_otherHash ? a.m_otherHash->get_hashAlgorithm() : kSha1;
  const CAlgorithmIdentifier& bAlg = b.m_otherHash ? b.m_otherHash->get_hashAlgorithm() : kSha1;
  return aAlg == bAlg;
}

void COtherHash::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob COtherHash::encode() const {
  return EncodeWhole(*this);
}

void COtherHash::read(const Der::Element& e) {
  COtherHash result;
  if (e.tag == Der::Tags::Sequence) {
    COtherHashAlgAndValue otherHash;
    otherHash.read(e);
    result.m_otherHash = std::move(otherHash);
  } else {
    result.m_sha1Hash = CBlob(Der::ReadOctetString(e));
  }
  *this = std::move(result);
}

void COtherHash::write(Der::Writer& w) const {
  if (m_otherHash) {
    m_otherHash->write(w);
  } else if (m_sha1Hash) {
    w.octetString(m_sha1Hash->span());
  } else {
    ThrowInvalidState();
  }
}

// COtherCertID

COtherCertID::COtherCertID(const CBlob& certHash, const CAlgorithmIdentifier& alg)
    : m_otherCertHash(COtherHashAlgAndValue(certHash, alg)) {}

void COtherCertID::put_issuerSerial(const CIssuerSerial* issuerSerial) {
  m_issuerSerial = Copy(issuerSerial);
}

bool operator==(const COtherCertID& a, const COtherCertID& b) noexcept {
  return a.m_otherCertHash == b.m_otherCertHash && a.m_issuerSerial == b.m_issuerSerial;
}

void COtherCertID::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob COtherCertID::encode() const {
  return EncodeWhole(*this);
}

void COtherCertID::read(const Der::Element& e) {
  Der::Reader members = SequenceMembers(e);
  COtherCertID result;
  if (members.empty()) {
    Der::Fail(Platform::CRYPT_E_ASN1_EOD);
  }
  result.m_otherCertHash.read(members.next());
  result.m_issuerSerial = ReadOptionalIssuerSerial(members);
  members.finish();
  *this = std::move(result);
}

void COtherCertID::write(Der::Writer& w) const {
  w.sequence([&](Der::Writer& inner) {
    m_otherCertHash.write(inner);
    if (m_issuerSerial) {
      m_issuerSerial->write(inner);
    }
  });
}

}  // namespace Velmora::ASN1
