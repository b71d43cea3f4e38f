#include "platform/capi/cert_name_match.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "codec/der/der_reader.h"
#include "codec/der/der_strings.h"

namespace Velmora::Platform::Capi {

namespace {

namespace Der = ASN1::Der;

bool IsDirectoryStringTag(const Der::Tag& tag) noexcept {
  return tag == Der::Tags::PrintableString || tag == Der::Tags::Utf8String ||
         tag == Der::Tags::BmpString || tag == Der::Tags::UniversalString ||
         tag == Der::Tags::TeletexString;
}

// Simple case folding of the scripts names are written in: Latin (ASCII, Latin-1 and the
// Extended-A pairs), Greek and Cyrillic.
wchar_t Fold(wchar_t c) noexcept {
  if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
      (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
    return c + 0x20;
  }
  if (c >= 0x400 && c <= 0x40F) {
    return c + 0x50;
  }
  if (((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) && c % 2 == 0) {
    return c + 1;
  }
  if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && c % 2 == 1) {
    return c + 1;
  }
  return c;
}

bool IsSpace(wchar_t c) noexcept {
  return c == L' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Characters that string preparation maps to nothing: soft hyphen, zero-width characters, the
// byte order mark and the variation selectors.
bool IsIgnorable(wchar_t c) noexcept {
  return c == 0xAD || c == 0x034F || c == 0x1806 || (c >= 0x180B && c <= 0x180D) ||
         (c >= 0x200B && c <= 0x200D) || c == 0x2060 || (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF;
}

// The prepared form of a directory string: case folded, ignorable characters dropped, runs of
// white space made one space, leading and trailing ones dropped.
std::wstring Prepare(std::wstring_view text) {
  std::wstring out;
  bool pendingSpace = false;
  for (wchar_t c : text) {
    if (IsIgnorable(c)) {
      continue;
    }
    if (IsSpace(c)) {
      pendingSpace = !out.empty();
      continue;
    }
    if (pendingSpace) {
      out.push_back(L' ');
      pendingSpace = false;
    }
    out.push_back(Fold(c));
  }
  return out;
}

void AppendSized(std::string& key, std::string_view part) {
  const auto n = static_cast<std::uint32_t>(part.size());
  for (int shift = 24; shift >= 0; shift -= 8) {
    key.push_back(static_cast<char>((n >> shift) & 0xFF));
  }
  key.append(part);
}

std::string_view AsText(Der::Bytes bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The key of one AttributeTypeAndValue: its type, then the prepared text of a directory string
// or, for any other value, its whole encoding.
std::string AttributeKey(const Der::Element& ava) {
  Der::Reader members = ava.children();
  const Der::Element type = members.expect(Der::Tags::Oid);
  const Der::Element value = members.next();
  members.finish();
  std::string key;
  AppendSized(key, AsText(type.content));
  if (IsDirectoryStringTag(value.tag)) {
    key.push_back('s');
    AppendSized(key, Der::ToUtf8(Prepare(Der::ReadDisplayString(value))));
  } else {
    key.push_back('b');
    AppendSized(key, AsText(value.encoded));
  }
  return key;
}

std::string DecodedKey(std::span<const std::uint8_t> der) {
  Der::Reader top(der);
  const Der::Element name = top.expect(Der::Tags::Sequence);
  top.finish();
  std::string key(1, '\x01');
  for (Der::Reader rdns = name.children(); !rdns.empty();) {
    const Der::Element rdn = rdns.expect(Der::Tags::Set);
    std::vector<std::string> attributes;
    for (Der::Reader avas = rdn.children(); !avas.empty();) {
      attributes.push_back(AttributeKey(avas.expect(Der::Tags::Sequence)));
    }
    std::sort(attributes.begin(), attributes.end());
    key.push_back('r');
    for (const std::string& attribute : attributes) {
      AppendSized(key, attribute);
    }
  }
  return key;
}

std::string KeyOf(std::span<const std::uint8_t> der) {
  try {
    return DecodedKey(der);
  } catch (...) {
    // Not a name we can read: it matches only its own bytes.
    std::string key(1, '\x00');
    key.append(AsText(der));
    return key;
  }
}

// The keys of the names met, by their encoding: building and judging one chain asks for the same
// few names a dozen times, and every stamp of a TSA for the same names again. A key depends on
// the bytes alone, so a kept one never goes stale; the memo is emptied when it grows too large.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

class KeyMemo {
 public:
  std::string keyOf(std::span<const std::uint8_t> der) {
    const std::string_view bytes = AsText(der);
    {
      std::lock_guard lock(m_mutex);
      if (const auto found = m_keys.find(bytes); found != m_keys.end()) {
        return found->second;
      }
    }
    std::string key = KeyOf(der);
    std::lock_guard lock(m_mutex);
    if (m_keys.size() >= kMaxNames) {
      m_keys.clear();
    }
    m_keys.emplace(bytes, key);
    return key;
  }

 private:
  static constexpr std::size_t kMaxNames = 4096;
  std::mutex m_mutex;
  std::unordered_map<std::string, std::string, TextHash, std::equal_to<>> m_keys;
};

}  // namespace

std::string NameMatchKey(std::span<const std::uint8_t> der) {
  static auto* memo = new KeyMemo();  // never destroyed: chains may be judged while exiting
  return memo->keyOf(der);
}

std::string NameMatchKey(const CERT_NAME_BLOB& name) {
  return NameMatchKey(std::span<const std::uint8_t>(name.pbData, name.cbData));
}

bool NamesMatch(const CERT_NAME_BLOB& a, const CERT_NAME_BLOB& b) {
  if (a.cbData == b.cbData && (a.cbData == 0 || std::memcmp(a.pbData, b.pbData, a.cbData) == 0)) {
    return true;
  }
  return NameMatchKey(a) == NameMatchKey(b);
}

}  // namespace Velmora::Platform::Capi
