#include "codec/asnkit/algorithm_identifier.h"

#include "codec/asnkit/codec_util.h"

namespace Velmora::ASN1 {

namespace {

const CBlob& NullParameters() {
  static const CBlob kNull(std::vector<unsigned char>{0x05, 0x00});
  return kNull;
}

bool SameParameters(const CBlob& a, const CBlob& b) {
  if (a == b) {
    return true;
  }
  return (a.empty() && b == NullParameters()) || (b.empty() && a == NullParameters());
}

}  // namespace

CAlgorithmIdentifier::CAlgorithmIdentifier(const char* oid) {
  CheckOidText(oid, false);
  m_algorithm = oid;
}

void CAlgorithmIdentifier::swap(CAlgorithmIdentifier& other) noexcept {
  m_algorithm.swap(other.m_algorithm);
  std::swap(m_parameters, other.m_parameters);
}

void CAlgorithmIdentifier::put_algorithm(const char* oid) {
  CheckOidText(oid, true);
  m_algorithm = oid;
}

void CAlgorithmIdentifier::put_parameters(const CBlob& der) {
  if (!der.empty()) {
    (void)Der::ReadSingle(der.span());
  }
  m_parameters = der;
}

bool operator==(const CAlgorithmIdentifier& a, const CAlgorithmIdentifier& b) noexcept {
  return a.m_algorithm == b.m_algorithm && SameParameters(a.m_parameters, b.m_parameters);
}

void CAlgorithmIdentifier::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CAlgorithmIdentifier::encode() const {
  return EncodeWhole(*this);
}

void CAlgorithmIdentifier::read(const Der::Element& e) {
  if (!(e.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader members = e.children();
  CAlgorithmIdentifier result;
  result.m_algorithm = Der::ReadOid(members.expect(Der::Tags::Oid));
  if (!members.empty()) {
    result.m_parameters = ToBlob(members.next().encoded);
  }
  members.finish();
  swap(result);
}

void CAlgorithmIdentifier::write(Der::Writer& w) const {
  if (m_algorithm.empty()) {
    ThrowInvalidState();
  }
  w.sequence([&](Der::Writer& inner) {
    inner.oid(m_algorithm);
    inner.raw(m_parameters.span());
  });
}

void CAlgorithmIdentifierEx::swap(CAlgorithmIdentifierEx& other) noexcept {
  CAlgorithmIdentifier::swap(other);
  std::swap(m_algId, other.m_algId);
}

void CAlgorithmIdentifierEx::put_algorithm(const char* oid) {
  CAlgorithmIdentifier::put_algorithm(oid);
  m_algId = 0;
}

void CAlgorithmIdentifierEx::decode(const CBlob& der) {
  CAlgorithmIdentifier::decode(der);
  m_algId = 0;
}

void CAlgorithmIdentifierEx::read(const Der::Element& e) {
  CAlgorithmIdentifier::read(e);
  m_algId = 0;
}

}  // namespace Velmora::ASN1
