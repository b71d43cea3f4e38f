#include "codec/asnkit/pki_status.h"

#include "codec/asnkit/codec_util.h"
#include "codec/der/der_strings.h"

namespace Velmora::ASN1 {

// CPKIFreeText

std::wstring CPKIFreeText::joined() const {
  std::wstring text;
  for (const CPKIFreeTextString& part : *this) {
    text += part.str();
  }
  return text;
}

void CPKIFreeText::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CPKIFreeText::encode() const {
  return EncodeWhole(*this);
}

void CPKIFreeText::read(const Der::Element& e) {
  if (!(e.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader members = e.children();
  if (members.empty()) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);  // SIZE (1..MAX)
  }
  CPKIFreeText result;
  while (!members.empty()) {
    result.push_back(CPKIFreeTextString(Der::ReadUtf8String(members.next())));
  }
  *this = std::move(result);
}

void CPKIFreeText::write(Der::Writer& w) const {
  if (empty()) {
    ThrowInvalidState();
  }
  w.sequence([&](Der::Writer& inner) {
    for (const CPKIFreeTextString& part : *this) {
      const std::string utf8 = Der::ToUtf8(part.str());
      inner.tlv(Der::Tags::Utf8String,
                Der::Bytes(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()));
    }
  });
}

// CPKIFailureInfo

void CPKIFailureInfo::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CPKIFailureInfo::encode() const {
  return EncodeWhole(*this);
}

void CPKIFailureInfo::read(const Der::Element& e) {
  Der::BitString bits = Der::ReadBitString(e);
  if (!bits.bytes.empty()) {
    // Bits in the unused part of the last octet are not bits of the string.
    bits.bytes.back() &= static_cast<std::uint8_t>(0xFF << bits.unusedBits);
  }
  unsigned int value = 0;
  for (std::size_t i = 0; i < bits.bytes.size(); ++i) {
    const std::uint8_t octet = bits.bytes[i];
    if (octet == 0) {
      continue;
    }
    if (i >= 4) {
      Der::Fail(Platform::CRYPT_E_ASN1_LARGE);  // a failure bit numbered 32 or more
    }
    for (unsigned j = 0; j < 8; ++j) {
      if ((octet >> (7 - j) & 1u) != 0) {
        value |= 1u << (8 * i + j);
      }
    }
  }
  m_value = value;
}

void CPKIFailureInfo::write(Der::Writer& w) const {
  std::uint8_t content[5] = {0, 0, 0, 0, 0};
  std::size_t length = 1;
  if (m_value != 0) {
    unsigned highest = 0;
    for (unsigned n = 0; n < 32; ++n) {
      if (get_bit(n)) {
        content[1 + n / 8] |= static_cast<std::uint8_t>(0x80u >> (n % 8));
        highest = n;
      }
    }
    length = 2 + highest / 8;
    content[0] = static_cast<std::uint8_t>(7 - highest % 8);
  }
  w.tlv(Der::Tags::BitString, Der::Bytes(content, length));
}

// CPKIStatusInfo

void CPKIStatusInfo::put_pkiStatus(unsigned long status) {
  if (status > 0xFFFFFFFFul) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  m_status = status;
}

void CPKIStatusInfo::put_statusString(const CPKIFreeText* text) {
  if (text == nullptr || text->empty()) {
    m_statusString.reset();
  } else {
    m_statusString = *text;
  }
}

void CPKIStatusInfo::put_failureInfo(const CPKIFailureInfo* info) {
  if (info == nullptr) {
    m_failureInfo.reset();
  } else {
    m_failureInfo = *info;
  }
}

void CPKIStatusInfo::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CPKIStatusInfo::encode() const {
  return EncodeWhole(*this);
}

void CPKIStatusInfo::read(const Der::Element& e) {
  if (!(e.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader members = e.children();
  CPKIStatusInfo result;
  result.m_status = static_cast<unsigned long>(
      Der::ReadSmallUnsigned(members.expect(Der::Tags::Integer), 0xFFFFFFFFu));
  if (const auto text = members.optional(Der::Tags::Sequence)) {
    CPKIFreeText statusString;
    statusString.read(*text);
    result.m_statusString = std::move(statusString);
  }
  if (const auto bits = members.optional(Der::Tags::BitString)) {
    CPKIFailureInfo failureInfo;
    failureInfo.read(*bits);
    result.m_failureInfo = failureInfo;
  }
  members.finish();
  *this = std::move(result);
}

void CPKIStatusInfo::write(Der::Writer& w) const {
  w.sequence([&](Der::Writer& inner) {
    inner.integer(static_cast<std::uint64_t>(m_status));
    if (m_statusString) {
      m_statusString->write(inner);
    }
    if (m_failureInfo) {
      m_failureInfo->write(inner);
    }
  });
}

}  // namespace Velmora::ASN1
