#include "codec/asnkit/x500_name.h"

#include <vector>

#include "codec/asnkit/codec_util.h"
#include "codec/der/der_strings.h"

namespace Velmora::ASN1 {

namespace {

struct ShortName {
  const char* oid;
  const char* name;
};

constexpr ShortName kShortNames[] = {
    {"2.5.4.3", "CN"},
    {"2.5.4.4", "SN"},
    {"2.5.4.5", "SERIALNUMBER"},
    {"2.5.4.6", "C"},
    {"2.5.4.7", "L"},
    {"2.5.4.8", "S"},
    {"2.5.4.9", "STREET"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"2.5.4.12", "T"},
    {"2.5.4.42", "G"},
    {"1.2.840.113549.1.9.1", "E"},
    {"0.9.2342.19200300.100.1.25", "DC"},
    {"0.9.2342.19200300.100.1.1", "UID"},
};

void AppendHexByte(std::wstring& out, unsigned value) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  out.push_back(kDigits[value >> 4 & 0xF]);
  out.push_back(kDigits[value & 0xF]);
}

// Calls `visit(type, value)` for each AttributeTypeAndValue of each RDN, in encoding order, and
// `endRdn()` after each RDN. Checks the structure and the string values' bytes.
template <typename Visit, typename EndRdn>
void WalkName(const Der::Element& name, Visit&& visit, EndRdn&& endRdn) {
  if (!(name.tag == Der::Tags::Sequence)) {
    Der::Fail(Platform::CRYPT_E_ASN1_BADTAG);
  }
  Der::Reader rdns = name.children();
  while (!rdns.empty()) {
    const Der::Element rdn = rdns.expect(Der::Tags::Set);
    Der::Reader atvs = rdn.children();
    if (atvs.empty()) {
      Der::Fail(Platform::CRYPT_E_ASN1_ERROR);  // SET SIZE (1..MAX)
    }
    while (!atvs.empty()) {
      Der::Reader parts = atvs.expect(Der::Tags::Sequence).children();
      const std::string type = Der::ReadOid(parts.expect(Der::Tags::Oid));
      if (parts.empty()) {
        Der::Fail(Platform::CRYPT_E_ASN1_EOD);
      }
      const Der::Element value = parts.next();
      parts.finish();
      visit(type, value);
    }
    endRdn();
  }
}

std::wstring ValueText(const Der::Element& value) {
  if (Der::IsStringTag(value.tag)) {
    return EscapeNameValue(Der::ReadDisplayString(value));
  }
  std::wstring text = L"#";
  for (const std::uint8_t b : value.encoded) {
    AppendHexByte(text, b);
  }
  return text;
}

std::wstring Widen(std::string_view ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace

CX500Name::CX500Name() : m_encoded(std::vector<unsigned char>{0x30, 0x00}) {}

CX500Name::CX500Name(const CBlob& der) : CX500Name() {
  decode(der);
}

CWStringProxy CX500Name::toString() const {
  const Der::Element name = Der::ReadSingle(m_encoded.span());
  std::vector<std::wstring> rdnTexts;
  std::wstring current;
  WalkName(
      name,
      [&](const std::string& type, const Der::Element& value) {
        if (!current.empty()) {
          current += L" + ";
        }
        const char* shortName = AttributeShortName(type);
        current += Widen(shortName != nullptr ? shortName : type);
        current += L'=';
        current += ValueText(value);
      },
      [&] {
        rdnTexts.push_back(std::move(current));
        current.clear();
      });
  std::wstring text;
  for (auto it = rdnTexts.rbegin(); it != rdnTexts.rend(); ++it) {
    if (!text.empty()) {
      text += L", ";
    }
    text += *it;
  }
  return CWStringProxy(std::move(text));
}

void CX500Name::decode(const CBlob& der) {
  DecodeWhole(*this, der);
}

void CX500Name::read(const Der::Element& e) {
  WalkName(
      e,
      [](const std::string&, const Der::Element& value) {
        if (Der::IsStringTag(value.tag)) {
          (void)Der::ReadDisplayString(value);
        }
      },
      [] {});
  m_encoded = ToBlob(e.encoded);
}

void CX500Name::write(Der::Writer& w) const {
  w.raw(m_encoded.span());
}

CWStringProxy NameToString(const CBlob& derName) {
  return CX500Name(derName).toString();
}

const char* AttributeShortName(std::string_view oid) noexcept {
  for (const ShortName& entry : kShortNames) {
    if (oid == entry.oid) {
      return entry.name;
    }
  }
  return nullptr;
}

std::wstring EscapeNameValue(std::wstring_view value) {
  std::wstring out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const wchar_t c = value[i];
    if ((c >= 0 && c < 0x20) || c == 0x7F) {
      out.push_back(L'\\');
      AppendHexByte(out, static_cast<unsigned>(c));
      continue;
    }
    const bool special =
        c == L',' || c == L'+' || c == L'"' || c == L'\\' || c == L'<' || c == L'>' || c == L';';
    const bool edge = (i == 0 && (c == L'#' || c == L' ')) || (i + 1 == value.size() && c == L' ');
    if (special || edge) {
      out.push_back(L'\\');
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace Velmora::ASN1
