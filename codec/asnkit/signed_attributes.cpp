#include "codec/asnkit/signed_attributes.h"

#include "codec/asnkit/codec_util.h"

namespace Velmora::ASN1 {

// CSigningCertificateT

template <typename Entry>
void CSigningCertificateT<Entry>::put_policies(const CBlob& der) {
  if (!der.empty() && !(Der::ReadSingle(der.span()).tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  m_policies = der;
}

template <typename Entry>
void CSigningCertificateT<Entry>::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

template <typename Entry>
CBlob CSigningCertificateT<Entry>::encode() const {
  return EncodeWhole(*this);
}

template <typename Entry>
void CSigningCertificateT<Entry>::read(const Der::Element& e) {
  if (!(e.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader members = e.children();
  CSigningCertificateT result;
  Der::Reader certs = members.expect(Der::Tags::Sequence).children();
  if (certs.empty()) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);  // the first entry must name the signer
  }
  while (!certs.empty()) {
    Entry entry;
    entry.read(certs.next());
    result.m_certs.push_back(std::move(entry));
  }
  if (const auto policies = members.optional(Der::Tags::Sequence)) {
    // SEQUENCE OF PolicyInformation: the members are checked to be elements, nothing more.
    Der::Reader list = policies->children();
    while (!list.empty()) {
      (void)list.expect(Der::Tags::Sequence);
    }
    result.m_policies = ToBlob(policies->encoded);
  }
  members.finish();
  *this = std::move(result);
}

template <typename Entry>
void CSigningCertificateT<Entry>::write(Der::Writer& w) const {
  if (m_certs.empty()) {
    ThrowInvalidState();
  }
  w.sequence([&](Der::Writer& inner) {
    inner.sequence([&](Der::Writer& list) {
      for (const Entry& entry : m_certs) {
        entry.write(list);
      }
    });
    inner.raw(m_policies.span());
  });
}

template class CSigningCertificateT<CESSCertID>;
template class CSigningCertificateT<CESSCertIDv2>;
template class CSigningCertificateT<COtherCertID>;

// CAttrContentType

CAttrContentType::CAttrContentType(const char* oid) {
  CheckOidText(oid, false);
  m_contentType = oid;
}

void CAttrContentType::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CAttrContentType::encode() const {
  return EncodeWhole(*this);
}

void CAttrContentType::read(const Der::Element& e) {
  m_contentType = Der::ReadOid(e);
}

void CAttrContentType::write(Der::Writer& w) const {
  if (m_contentType.empty()) {
    ThrowInvalidState();
  }
  w.oid(m_contentType);
}

// CCertificateValues

CCertificateValues::CCertificateValues(const CBlobList& certs) {
  for (const CBlob& cert : certs) {
    if (!(Der::ReadSingle(cert.span()).tag == Der::Tags::Sequence)) {
      Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
    }
  }
  m_certs = certs;
}

void CCertificateValues::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CCertificateValues::encode() const {
  return EncodeWhole(*this);
}

void CCertificateValues::read(const Der::Element& e) {
  if (!(e.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader members = e.children();
  CBlobList certs;
  while (!members.empty()) {
    certs.push_back(ToBlob(members.expect(Der::Tags::Sequence).encoded));
  }
  m_certs = std::move(certs);
}

void CCertificateValues::write(Der::Writer& w) const {
  w.sequence([&](Der::Writer& inner) {
    for (const CBlob& cert : m_certs) {
      inner.raw(cert.span());
    }
  });
}

}  // namespace Velmora::ASN1
