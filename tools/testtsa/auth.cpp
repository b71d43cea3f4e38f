// OpenSSL 3 keeps MD4 in the legacy provider only; the low-level function still works and is
// all the NTLM check needs.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "auth.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/md4.h>
#include <openssl/rand.h>
#include <strings.h>

#include <cstdint>
#include <map>

namespace TestTsa {

namespace {

std::string Hex(const unsigned char* data, std::size_t length) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < length; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  return Hex(digest, length);
}

std::string RandomBytes(std::size_t count) {
  std::string bytes(count, '\0');
  RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count));
  return bytes;
}

bool StartsWithWord(const std::string& text, const char* word, std::string* rest) {
  const std::size_t n = std::char_traits<char>::length(word);
  if (text.size() < n || strncasecmp(text.c_str(), word, n) != 0 ||
      (text.size() > n && text[n] != ' ')) {
    return false;
  }
  *rest = text.size() > n ? text.substr(n + 1) : std::string();
  return true;
}

// name=value and name="value" pairs of a Digest header.
std::map<std::string, std::string> DigestParams(const std::string& text) {
  std::map<std::string, std::string> params;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == ',')) {
      ++i;
    }
    const std::size_t eq = text.find('=', i);
    if (eq == std::string::npos) {
      break;
    }
    std::string name = text.substr(i, eq - i);
    std::string value;
    i = eq + 1;
    if (i < text.size() && text[i] == '"') {
      const std::size_t close = text.find('"', i + 1);
      if (close == std::string::npos) {
        break;
      }
      value = text.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      const std::size_t comma = text.find(',', i);
      value = text.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
      i = comma == std::string::npos ? text.size() : comma;
    }
    params[name] = value;
  }
  return params;
}

std::uint32_t U32(const std::string& m, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(m[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(m[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(m[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(m[at + 3])) << 24;
}

std::string Le16(std::size_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
std::string Le32(std::uint32_t v) {
  return Le16(v & 0xFFFF) + Le16(v >> 16);
}

std::string Utf16Le(const std::string& ascii) {
  std::string out;
  for (const char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

// A security buffer (length, room, offset) of an NTLM message, bounds-checked.
bool Field(const std::string& message, std::size_t at, std::string* out) {
  if (at + 8 > message.size()) {
    return false;
  }
  const std::size_t length = static_cast<unsigned char>(message[at]) |
                             static_cast<std::size_t>(static_cast<unsigned char>(message[at + 1]))
                                 << 8;
  const std::size_t offset = U32(message, at + 4);
  if (offset > message.size() || length > message.size() - offset) {
    return false;
  }
  *out = message.substr(offset, length);
  return true;
}

std::string FromUtf16Le(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out += bytes[i];
  }
  return out;
}

std::string HmacMd5(const std::string& key, const std::string& data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(data.data()), data.size(), out, &length);
  return std::string(reinterpret_cast<const char*>(out), length);
}

}  // namespace

std::string Base64Encode(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string Base64Decode(const std::string& text) {
  if (text.empty() || text.size() % 4 != 0) {
    return {};
  }
  std::string out(text.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) {
    return {};
  }
  std::size_t length = static_cast<std::size_t>(n);
  for (std::size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) {
    --length;
  }
  out.resize(length);
  return out;
}

bool CheckBasic(const std::string& authorization, const Credentials& credentials) {
  std::string rest;
  return StartsWithWord(authorization, "Basic", &rest) &&
         Base64Decode(rest) == credentials.user + ":" + credentials.password;
}

std::string DigestAuth::Challenge() {
  const std::string nonce = Hex(reinterpret_cast<const unsigned char*>(RandomBytes(16).data()), 16);
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_nonces.insert(nonce);
  }
  return "Digest realm=\"horodex-testtsa\", qop=\"auth\", algorithm=MD5, nonce=\"" + nonce + "\"";
}

bool DigestAuth::Check(const std::string& authorization, const std::string& method,
                       const Credentials& credentials) {
  std::string rest;
  if (!StartsWithWord(authorization, "Digest", &rest)) {
    return false;
  }
  auto params = DigestParams(rest);
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_nonces.count(params["nonce"]) == 0) {
      return false;
    }
  }
  if (params["username"] != credentials.user || params["realm"] != "horodex-testtsa" ||
      params["qop"] != "auth") {
    return false;
  }
  const std::string ha1 = Md5Hex(credentials.user + ":horodex-testtsa:" + credentials.password);
  const std::string ha2 = Md5Hex(method + ":" + params["uri"]);
  const std::string expected = Md5Hex(ha1 + ":" + params["nonce"] + ":" + params["nc"] + ":" +
                                      params["cnonce"] + ":auth:" + ha2);
  return params["response"] == expected;
}

NtlmHandshake::Outcome NtlmHandshake::Step(const std::string& authorization,
                                           const Credentials& credentials, std::string* reply) {
  std::string rest;
  if (!StartsWithWord(authorization, "NTLM", &rest)) {
    return Outcome::refused;
  }
  const std::string message = Base64Decode(rest);
  if (message.size() < 12 || message.compare(0, 8, std::string("NTLMSSP\0", 8)) != 0) {
    return Outcome::refused;
  }
  const std::uint32_t type = U32(message, 8);
  if (type == 1) {
    m_challenge = RandomBytes(8);
    const std::string target = Utf16Le("TESTTSA");
    const std::string info = Le16(2) + Le16(target.size()) + target + Le16(0) + Le16(0);
    // Unicode, target requested, NTLM, always sign, domain target, extended session security
    // (which makes clients answer with NTLMv2), target information.
    const std::uint32_t flags =
        0x00000001 | 0x00000004 | 0x00000200 | 0x00008000 | 0x00010000 | 0x00080000 | 0x00800000;
    const std::size_t payload = 48;
    std::string challenge = std::string("NTLMSSP\0", 8) + Le32(2);
    challenge += Le16(target.size()) + Le16(target.size()) + Le32(payload);
    challenge += Le32(flags) + m_challenge + std::string(8, '\0');
    challenge += Le16(info.size()) + Le16(info.size()) +
                 Le32(static_cast<std::uint32_t>(payload + target.size()));
    challenge += target + info;
    *reply = "NTLM " + Base64Encode(challenge);
    return Outcome::challenge;
  }
  if (type != 3 || m_challenge.empty()) {
    return Outcome::refused;
  }
  std::string ntResponse;
  std::string domain;
  std::string user;
  if (!Field(message, 20, &ntResponse) || !Field(message, 28, &domain) ||
      !Field(message, 36, &user) || message.size() < 64) {
    return Outcome::refused;
  }
  const bool unicode = (U32(message, 60) & 1) != 0;
  m_user = unicode ? FromUtf16Le(user) : user;
  const std::string domainText = unicode ? FromUtf16Le(domain) : domain;
  if (m_user != credentials.user || ntResponse.size() <= 24) {
    return Outcome::refused;  // an unknown user, or an NTLMv1 answer
  }
  // NTLMv2: NTProofStr = HMAC-MD5(NTOWFv2, server challenge | blob), where NTOWFv2 =
  // HMAC-MD5(MD4(UTF-16LE(password)), UTF-16LE(upper-case user | domain)).
  const std::string password = Utf16Le(credentials.password);
  unsigned char ntHash[MD4_DIGEST_LENGTH];
  MD4(reinterpret_cast<const unsigned char*>(password.data()), password.size(), ntHash);
  std::string upperUser = m_user;
  for (char& c : upperUser) {
    c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  const std::string owf = HmacMd5(std::string(reinterpret_cast<const char*>(ntHash), 16),
                                  Utf16Le(upperUser + domainText));
  const std::string proof = HmacMd5(owf, m_challenge + ntResponse.substr(16));
  m_challenge.clear();
  return proof == ntResponse.substr(0, 16) ? Outcome::accepted : Outcome::refused;
}

}  // namespace TestTsa
