// Base64 of the Authenticode exchange and the BASE64 files: the exact layout against OpenSSL's
// encoder, round trips both ways, and text the decoder must refuse.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TSP/horodex/Base64.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "tests/common/der_build.h"

namespace P = Velmora::Platform;
using namespace Velmora::PKI::TSP::Client;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes RandomBytes(std::size_t n) {
  Bytes data(n);
  EXPECT_EQ(RAND_bytes(data.data(), static_cast<int>(n)), 1);
  return data;
}

std::string Encoded(const Bytes& data) {
  const Velmora::CBlob text = Base64Encode(data.data(), data.size());
  return std::string(text.span().begin(), text.span().end());
}

// The layout built from OpenSSL's unbroken text: CR LF after each 76 characters of the complete
// groups, then the padded last group.
std::string Expected(const Bytes& data) {
  std::string plain(4 * ((data.size() + 2) / 3) + 1, '\0');
  plain.resize(static_cast<std::size_t>(EVP_EncodeBlock(
      reinterpret_cast<unsigned char*>(plain.data()), data.data(), static_cast<int>(data.size()))));
  const std::size_t full = 4 * (data.size() / 3);
  std::string out;
  for (std::size_t at = 0; at < full; at += 76) {
    out += plain.substr(at, std::min<std::size_t>(76, full - at));
    if (at + 76 <= full) {
      out += "\r\n";
    }
  }
  return out + plain.substr(full);
}

struct Decoded {
  bool ok;
  P::DWORD error;
  std::size_t length;
  Bytes bytes;
};
Decoded Decode(const std::string& text, std::size_t room) {
  Bytes out(room + 1, 0xEE);  // never a null buffer, even for no room
  std::size_t length = room;
  P::SetLastError(0);
  const bool ok = Base64Decode(text.data(), text.size(), out.data(), &length);
  out.resize(room);
  return {ok, P::GetLastError(), length, out};
}

}  // namespace

TEST(Base64Encode, RefusesWhatItCannotTake) {
  const unsigned char one = 0;
  // Refused before a byte is read, so the lie about the length is harmless.
  EXPECT_EQ(Velmora::Testing::DerBuild::CodeOf([&] { Base64Encode(&one, kBase64MaxInput + 1); }),
            P::E_FAIL);
  EXPECT_LE(Base64EncodeGetRequiredLength(kBase64MaxInput), 2'147'483'647u);
  EXPECT_THROW(Base64Encode(nullptr, 1), P::CAtlException);
}

TEST(Base64Decode, ReadsOursOpenSslsAndLooseLayouts) {
  for (std::size_t n = 0; n < 300; n += 7) {
    const Bytes data = RandomBytes(n);
    // The layout of OpenSSL's base64 command: lines of 64 characters ended by LF.
    std::string openssl = Expected(data);
    openssl.erase(std::remove(openssl.begin(), openssl.end(), '\r'), openssl.end());
    openssl.erase(std::remove(openssl.begin(), openssl.end(), '\n'), openssl.end());
    for (std::size_t at = 64; at < openssl.size(); at += 65) {
      openssl.insert(at, "\n");
    }
    for (const std::string& text : {Encoded(data), openssl}) {
      const Decoded d = Decode(text, n);
      EXPECT_TRUE(d.ok) << text;
      EXPECT_EQ(d.length, n);
      EXPECT_EQ(d.bytes, data);
    }
  }
  // White space anywhere, padding left out, and a NUL ending the text wherever it stands.
  const std::pair<std::string, Bytes> loose[] = {
      {" Q U\r\nJ\tD\v\f", {'A', 'B', 'C'}},
      {"QUI", {'A', 'B'}},
      {"QQ", {'A'}},
      {"QQ = =\n", {'A'}},
      {std::string("QUJD\0garbage", 12), {'A', 'B', 'C'}},
      {std::string("QUJDQQ\0QQ==", 11), {'A', 'B', 'C', 'A'}},
      {"", {}},
  };
  for (const auto& [text, bytes] : loose) {
    const Decoded d = Decode(text, 8);
    EXPECT_TRUE(d.ok) << text;
    EXPECT_EQ(Bytes(d.bytes.begin(), d.bytes.begin() + static_cast<long>(d.length)), bytes);
  }
}

TEST(Base64Decode, RefusesTextThatIsNotBase64) {
  const std::string bad[] = {
      "QUJD-A==",      // URL-safe alphabet
      "QUJD_A==",      //
      "QU\xC3\xA9JD",  // a byte above 0x7F
      "<html>",        // an error page instead of the reply
      "Q",             // a lone character: the text was cut
      "QUJDQ",         //
      "Q===",          // padding after one character
      "QUJD====",      // padding after a complete group
      "QQ=",           // padding that does not fill the group
      "QQ===",         // too much padding
      "QQ==QUJD",      // data after the padding
  };
  for (const std::string& text : bad) {
    const Decoded d = Decode(text, 16);
    EXPECT_FALSE(d.ok) << text;
    EXPECT_EQ(d.error, P::ERROR_INVALID_DATA) << text;
    EXPECT_EQ(d.length, 0u);
  }
}

TEST(Base64Decode, CountsEverythingButWritesOnlyWholeGroupsThatFit) {
  const std::string text = "QUJDREVGRw==";  // "ABCDEFG": groups of 3, 3 and 1 bytes
  Decoded d = Decode(text, 7);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.length, 7u);
  d = Decode(text, 5);
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.error, P::ERROR_MORE_DATA);
  EXPECT_EQ(d.length, 7u);
  EXPECT_EQ(d.bytes, (Bytes{'A', 'B', 'C', 0xEE, 0xEE}));

  // No output at all is a size query, which fails even for empty text; null arguments are refused.
  for (const std::string& t : {text, std::string()}) {
    std::size_t length = 99;
    EXPECT_FALSE(Base64Decode(t.data(), t.size(), nullptr, &length));
    EXPECT_EQ(P::GetLastError(), P::ERROR_MORE_DATA);
    EXPECT_EQ(length, t.empty() ? 0u : 7u);
  }
  std::size_t length = 4;
  unsigned char out[4];
  EXPECT_FALSE(Base64Decode(nullptr, 0, out, &length));
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(Base64Decode("QQ==", 4, out, nullptr));
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
}
