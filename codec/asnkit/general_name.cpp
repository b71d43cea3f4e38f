#include "codec/asnkit/general_name.h"

#include <cstdio>
#include <cstring>

#include "codec/asnkit/codec_util.h"
#include "codec/asnkit/x500_name.h"
#include "codec/der/der_strings.h"

namespace Velmora::ASN1 {

namespace {

using Type = CGeneralName::Type;

void AppendHex(std::wstring& out, Der::Bytes bytes) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  for (const std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
}

// IA5 text with its control characters escaped as \XX.
std::wstring Ia5Text(Der::Bytes bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (const std::uint8_t b : bytes) {
    if (b < 0x20 || b == 0x7F) {
      out.push_back(L'\\');
      AppendHex(out, Der::Bytes(&b, 1));
    } else {
      out.push_back(static_cast<wchar_t>(b));
    }
  }
  return out;
}

void CheckIa5(Der::Bytes bytes) {
  for (const std::uint8_t b : bytes) {
    if (b >= 0x80) {
      Der::Fail(Platform::CRYPT_E_ASN1_ERROR);
    }
  }
}

std::wstring Ipv4Text(Der::Bytes a) {
  wchar_t text[16];
  std::swprintf(text, 16, L"%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
  return text;
}

// RFC 5952: lower-case groups without leading zeros; the first longest run of two or more zero
// groups becomes "::".
std::wstring Ipv6Text(Der::Bytes a) {
  unsigned groups[8];
  for (int i = 0; i < 8; ++i) {
    groups[i] = static_cast<unsigned>(a[2 * i] << 8 | a[2 * i + 1]);
  }
  int bestStart = -1;
  int bestLength = 1;
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && groups[j] == 0) {
      ++j;
    }
    if (j - i > bestLength) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j;
  }
  std::wstring text;
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      text += L"::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != L':') {
      text += L':';
    }
    wchar_t group[8];
    std::swprintf(group, 8, L"%x", groups[i]);
    text += group;
  }
  return text;
}

std::wstring IpText(Der::Bytes a) {
  switch (a.size()) {
    case 4:
      return Ipv4Text(a);
    case 8:
      return Ipv4Text(a.first(4)) + L"/" + Ipv4Text(a.subspan(4));
    case 16:
      return Ipv6Text(a);
    case 32:
      return Ipv6Text(a.first(16)) + L"/" + Ipv6Text(a.subspan(16));
    default: {
      std::wstring text;
      AppendHex(text, a);
      return text;
    }
  }
}

// The OID text of registeredID content octets (checked by the OID reader).
std::string OidOfContent(Der::Bytes content) {
  Der::Element oid;
  oid.tag = Der::Tags::Oid;
  oid.content = content;
  return Der::ReadOid(oid);
}

// DirectoryString ::= CHOICE { teletexString, printableString, universalString, utf8String,
// bmpString }, the member of an explicit tag.
std::wstring ReadDirectoryString(const Der::Element& wrapper) {
  Der::Reader inner = wrapper.children();
  if (inner.empty()) {
    Der::Fail(Platform::CRYPT_E_ASN1_EOD);
  }
  const Der::Element value = inner.next();
  inner.finish();
  const Der::Tag& t = value.tag;
  if (!(t == Der::Tags::TeletexString || t == Der::Tags::PrintableString ||
        t == Der::Tags::UniversalString || t == Der::Tags::Utf8String ||
        t == Der::Tags::BmpString)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  return Der::ReadDisplayString(value);
}

struct EdiParty {
  std::optional<std::wstring> nameAssigner;
  std::wstring partyName;
};

EdiParty ReadEdiParty(Der::Bytes content, int depth) {
  Der::Reader members(content, depth);
  EdiParty party;
  if (const auto assigner = members.optional(Der::ContextTag(0, true))) {
    party.nameAssigner = ReadDirectoryString(*assigner);
  }
  party.partyName = ReadDirectoryString(members.expect(Der::ContextTag(1, true)));
  members.finish();
  return party;
}

struct OtherName {
  std::string typeId;
  Der::Element value;
};

OtherName ReadOtherName(Der::Bytes content, int depth) {
  Der::Reader members(content, depth);
  OtherName name;
  name.typeId = Der::ReadOid(members.expect(Der::Tags::Oid));
  Der::Reader wrapped = members.expect(Der::ContextTag(0, true)).children();
  if (wrapped.empty()) {
    Der::Fail(Platform::CRYPT_E_ASN1_EOD);
  }
  name.value = wrapped.next();
  wrapped.finish();
  members.finish();
  return name;
}

std::wstring Widen(std::string_view ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace

void CGeneralName::setPrimitive(Type type, CBlob value) {
  Der::Writer w;
  w.tlv(Der::ContextTag(static_cast<std::uint32_t>(type), false), value.span());
  m_encoded = CBlob(w.take());
  m_value = std::move(value);
  m_type = type;
}

void CGeneralName::put_directoryName(const CBlob& derName) {
  const CX500Name name(derName);
  Der::Writer w;
  w.constructed(Der::ContextTag(4, true), [&](Der::Writer& inner) { name.write(inner); });
  m_encoded = CBlob(w.take());
  m_value = name.get_encoded();
  m_type = Type::DirectoryName;
}

namespace {

CBlob Ia5Blob(const char* text) {
  if (text == nullptr) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  const std::size_t length = std::strlen(text);
  for (std::size_t i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) {
      Platform::AtlThrow(Platform::E_INVALIDARG);
    }
  }
  return CBlob(reinterpret_cast<const unsigned char*>(text), static_cast<unsigned long>(length));
}

}  // namespace

void CGeneralName::put_rfc822Name(const char* text) {
  setPrimitive(Type::Rfc822Name, Ia5Blob(text));
}

void CGeneralName::put_dNSName(const char* text) {
  setPrimitive(Type::DnsName, Ia5Blob(text));
}

void CGeneralName::put_uniformResourceIdentifier(const char* text) {
  setPrimitive(Type::UniformResourceIdentifier, Ia5Blob(text));
}

void CGeneralName::put_iPAddress(const CBlob& address) {
  const unsigned long n = address.cbData();
  if (n != 4 && n != 8 && n != 16 && n != 32) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  setPrimitive(Type::IpAddress, address);
}

void CGeneralName::put_registeredID(const char* oid) {
  CheckOidText(oid, false);
  setPrimitive(Type::RegisteredId, CBlob(Der::EncodeOidContent(oid)));
}

CBlob CGeneralName::get_directoryName() const {
  return m_type == Type::DirectoryName ? m_value : CBlob();
}

CWStringProxy CGeneralName::toString() const {
  const Der::Bytes value = m_value.span();
  std::wstring text;
  switch (m_type) {
    case Type::None:
      ThrowInvalidState();
    case Type::OtherName: {
      const OtherName other = ReadOtherName(value, 1);
      text = L"Other Name: " + Widen(other.typeId) + L"=";
      if (Der::IsStringTag(other.value.tag)) {
        text += EscapeNameValue(Der::ReadDisplayString(other.value));
      } else {
        AppendHex(text, other.value.encoded);
      }
      break;
    }
    case Type::Rfc822Name:
      text = L"RFC822 Name=" + Ia5Text(value);
      break;
    case Type::DnsName:
      text = L"DNS Name=" + Ia5Text(value);
      break;
    case Type::X400Address:
      text = L"X400 Address=";
      AppendHex(text, m_encoded.span());
      break;
    case Type::DirectoryName:
      text = NameToString(m_value).str();
      break;
    case Type::EdiPartyName: {
      const EdiParty party = ReadEdiParty(value, 1);
      text = L"EDI Party Name=" + EscapeNameValue(party.partyName);
      if (party.nameAssigner) {
        text += L" (Name Assigner=" + EscapeNameValue(*party.nameAssigner) + L")";
      }
      break;
    }
    case Type::UniformResourceIdentifier:
      text = L"URL=" + Ia5Text(value);
      break;
    case Type::IpAddress:
      text = L"IP Address=" + IpText(value);
      break;
    case Type::RegisteredId:
      text = L"Registered ID=" + Widen(OidOfContent(value));
      break;
  }
  return CWStringProxy(std::move(text));
}

void CGeneralName::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CGeneralName::encode() const {
  return EncodeWhole(*this);
}

void CGeneralName::read(const Der::Element& e) {
  if (e.tag.cls != Der::TagClass::Context || e.tag.number > 8) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  const auto type = static_cast<Type>(e.tag.number);
  // otherName, x400Address, directoryName and ediPartyName are constructed; the rest primitive.
  const bool constructed = type == Type::OtherName || type == Type::X400Address ||
                           type == Type::DirectoryName || type == Type::EdiPartyName;
  if (e.tag.constructed != constructed) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  CBlob value = ToBlob(e.content);
  switch (type) {
    case Type::OtherName:
      (void)ReadOtherName(e.content, e.depth + 1);
      break;
    case Type::Rfc822Name:
    case Type::DnsName:
    case Type::UniformResourceIdentifier:
      CheckIa5(e.content);
      break;
    case Type::X400Address: {
      // ORAddress is not interpreted; its members must still be well-formed elements.
      Der::Reader members = e.children();
      while (!members.empty()) {
        (void)members.next();
      }
      break;
    }
    case Type::DirectoryName: {
      Der::Reader inner = e.children();
      if (inner.empty()) {
        Der::Fail(Platform::CRYPT_E_ASN1_EOD);
      }
      CX500Name name;
      name.read(inner.next());
      inner.finish();
      value = name.get_encoded();
      break;
    }
    case Type::EdiPartyName:
      (void)ReadEdiParty(e.content, e.depth + 1);
      break;
    case Type::IpAddress:
      break;
    case Type::RegisteredId:
      (void)OidOfContent(e.content);
      break;
    case Type::None:
      break;
  }
  m_type = type;
  m_value = std::move(value);
  m_encoded = ToBlob(e.encoded);
}

void CGeneralName::write(Der::Writer& w) const {
  if (m_type == Type::None) {
    ThrowInvalidState();
  }
  w.raw(m_encoded.span());
}

void CGeneralNames::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

CBlob CGeneralNames::encode() const {
  return EncodeWhole(*this);
}

void CGeneralNames::read(const Der::Element& e) {
  if (!(e.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader members = e.children();
  if (members.empty()) {
    Der::Fail(Platform::CRYPT_E_ASN1_ERROR);  // SIZE (1..MAX)
  }
  CGeneralNames result;
  while (!members.empty()) {
    CGeneralName name;
    name.read(members.next());
    result.push_back(std::move(name));
  }
  *this = std::move(result);
}

void CGeneralNames::write(Der::Writer& w) const {
  if (empty()) {
    ThrowInvalidState();
  }
  w.sequence([&](Der::Writer& inner) {
    for (const CGeneralName& name : *this) {
      name.write(inner);
    }
  });
}

}  // namespace Velmora::ASN1
