#include "codec/asnkit/extensions.h"

#include <cstring>
#include <set>
#include <string>

#include "codec/asnkit/codec_util.h"

namespace Velmora::ASN1 {

CExtension::CExtension(const char* oid, bool critical, const CBlob& value)
    : m_critical(critical), m_extnValue(value) {
  CheckOidText(oid, false);
  m_extnID = oid;
}

void CExtension::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CExtension::encode() const {
  return EncodeWhole(*this);
}

void CExtension::read(const Der::Element& e) {
  if (!(e.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader members = e.children();
  CExtension result;
  result.m_extnID = Der::ReadOid(members.expect(Der::Tags::Oid));
  if (const auto critical = members.optional(Der::Tags::Boolean)) {
    // An explicit FALSE is BER (DER leaves the default out); its meaning is plain, so it is read.
    result.m_critical = Der::ReadBoolean(*critical);
  }
  if (members.empty()) {
    Der::Fail(Platform::CRYPT_E_ASN1_EOD);
  }
  result.m_extnValue = CBlob(Der::ReadOctetString(members.next()));
  members.finish();
  *this = std::move(result);
}

void CExtension::write(Der::Writer& w) const {
  if (m_extnID.empty()) {
    ThrowInvalidState();
  }
  w.sequence([&](Der::Writer& inner) {
    inner.oid(m_extnID);
    if (m_critical) {
      inner.boolean(true);
    }
    inner.octetString(m_extnValue.span());
  });
}

void CExtensions::insert(const CExtension& extension) {
  if (find(extension.get_extnID()) != nullptr) {
    Platform::AtlThrow(Platform::CRYPT_E_EXISTS);
  }
  push_back(extension);
}

const CExtension* CExtensions::find(const char* oid) const noexcept {
  if (oid == nullptr) {
    return nullptr;
  }
  for (const CExtension& extension : *this) {
    if (std::strcmp(extension.get_extnID(), oid) == 0) {
      return &extension;
    }
  }
  return nullptr;
}

void CExtensions::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CExtensions::encode() const {
  return EncodeWhole(*this);
}

void CExtensions::read(const Der::Element& e) {
  if (!(e.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader members = e.children();
  if (members.empty()) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);  // SIZE (1..MAX)
  }
  CExtensions result;
  std::set<std::string> seen;
  while (!members.empty()) {
    CExtension extension;
    extension.read(members.next());
    if (!seen.insert(extension.get_extnID()).second) {
      Der::Fail(Platform::CRYPT_E_ASN1_ERROR);  // the same extension twice
    }
    result.push_back(std::move(extension));
  }
  *this = std::move(result);
}

void CExtensions::write(Der::Writer& w) const {
  if (empty()) {
    ThrowInvalidState();
  }
  w.sequence([&](Der::Writer& inner) {
    for (const CExtension& extension : *this) {
      extension.write(inner);
    }
  });
}

}  // namespace Velmora::ASN1
