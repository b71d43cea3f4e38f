// Request and stamp files as the shell entry points read them: the same DER message in every
// encoding a file may use gives the same bytes, and the size contract of the decoders.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "TSP/horodex/ShellMessageFile.h"
#include "platform/errors/winerror.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"

namespace P = Velmora::Platform;
namespace T = Velmora::Testing;
using namespace Velmora::PKI::TSP::Client;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes Der(const std::string& fixture) {
  return T::ReadFileBytes(T::OpenSslTsaDir() / fixture);
}

// Base64 in lines of 64 characters ending in CR LF, as OpenSSL and PEM files write it.
std::string Base64Lines(const Bytes& der) {
  std::string plain(4 * ((der.size() + 2) / 3) + 1, '\0');
  plain.resize(static_cast<std::size_t>(EVP_EncodeBlock(
      reinterpret_cast<unsigned char*>(plain.data()), der.data(), static_cast<int>(der.size()))));
  std::string text;
  for (std::size_t at = 0; at < plain.size(); at += 64) {
    text += plain.substr(at, 64) + "\r\n";
  }
  return text;
}

std::string Framed(const Bytes& der) {
  return "-----BEGIN TIME STAMP REQUEST-----\r\n" + Base64Lines(der) +
         "-----END TIME STAMP REQUEST-----\r\n";
}

Bytes Utf16(const std::string& ascii, bool bigEndian, bool mark) {
  Bytes out;
  if (mark) {
    out = bigEndian ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
  }
  for (const char c : ascii) {
    const auto byte = static_cast<unsigned char>(c);
    out.push_back(bigEndian ? 0 : byte);
    out.push_back(bigEndian ? byte : 0);
  }
  return out;
}

Bytes Ansi(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

HRESULT ReadFile(const Bytes& content, std::string* out) {
  T::TempDir dir;
  T::WriteFileBytes(dir / "message.tsq", content);
  return ReadMessageFile((dir / "message.tsq").c_str(), *out);
}

}  // namespace

TEST(ShellFile, EveryEncodingGivesTheSameMessage) {
  for (const char* fixture : {"q-full.tsq", "rsa-full.tsr"}) {
    const Bytes der = Der(fixture);
    const std::string bare = Base64Lines(der);
    const std::string framed = Framed(der);
    Bytes utf8Mark = {0xEF, 0xBB, 0xBF};
    utf8Mark.insert(utf8Mark.end(), framed.begin(), framed.end());
    const struct {
      const char* name;
      Bytes content;
    } files[] = {
        {"DER", der},
        {"bare base64", Ansi(bare)},
        {"framed base64", Ansi(framed)},
        {"framed after blank lines", Ansi("\r\n \t\r\n" + framed)},
        {"UTF-8 with its mark", utf8Mark},
        {"UTF-16LE framed with mark", Utf16(framed, false, true)},
        {"UTF-16LE bare with mark", Utf16(bare, false, true)},
        {"UTF-16BE framed with mark", Utf16(framed, true, true)},
        {"UTF-16BE bare with mark", Utf16(bare, true, true)},
        {"UTF-16LE framed without mark", Utf16("\r\n\r\n" + framed, false, false)},
        {"UTF-16LE bare without mark", Utf16(bare, false, false)},
        {"UTF-16BE framed without mark", Utf16(framed, true, false)},
        // Blank lines before big-endian text are told apart in either byte order.
        {"UTF-16BE bare without mark after blank lines", Utf16("\n \r\n" + bare, true, false)},
    };
    for (const auto& file : files) {
      std::string out;
      ASSERT_EQ(ReadFile(file.content, &out), P::S_OK) << fixture << ": " << file.name;
      EXPECT_EQ(Bytes(out.begin(), out.end()), der) << fixture << ": " << file.name;
    }
  }
}

TEST(ShellFile, FaultyTextAndTheSizeContract) {
  const Bytes der = Der("q-full.tsq");
  std::string out = "kept";
  // A framed block without its end line; big-endian text of odd length; a cut group.
  std::string framed = Framed(der);
  EXPECT_EQ(ReadFile(Ansi(framed.substr(0, framed.find("-----END"))), &out), P::E_FAIL);
  Bytes odd = Utf16(framed, true, true);
  odd.push_back('\n');
  EXPECT_EQ(ReadFile(odd, &out), P::E_INVALIDARG);
  EXPECT_EQ(ReadFile(Ansi("MIIB\r\nAAAA\r\nB\r\n"), &out), P::E_FAIL);
  EXPECT_EQ(out, "kept");
  // A little-endian text's odd last byte is not part of any character and is ignored.
  Bytes oddLittle = Utf16(framed, false, true);
  oddLittle.push_back('\n');
  ASSERT_EQ(ReadFile(oddLittle, &out), P::S_OK);
  EXPECT_EQ(Bytes(out.begin(), out.end()), der);

  // Size query, room too small, null arguments.
  const std::string text = Base64Lines(der);
  std::size_t length = 0;
  ASSERT_EQ(DecodeMessageContent(Ansi(text).data(), text.size(), nullptr, &length), P::S_OK);
  EXPECT_EQ(length, der.size());
  Bytes room(der.size() - 1);
  length = room.size();
  EXPECT_EQ(DecodeMessageContent(Ansi(text).data(), text.size(), room.data(), &length),
            P::HRESULT_FROM_WIN32(P::ERROR_MORE_DATA));
  length = room.size();
  EXPECT_EQ(DecodeMessageContent(der.data(), der.size(), room.data(), &length),
            P::HRESULT_FROM_WIN32(P::ERROR_MORE_DATA));
  EXPECT_EQ(DecodeMessageContent(nullptr, 1, nullptr, &length), P::E_INVALIDARG);
  EXPECT_EQ(DecodeBase64Text(text.data(), text.size(), nullptr, nullptr), P::E_INVALIDARG);
  EXPECT_EQ(DecodeBase64Text(text.data(), 0, nullptr, &length), P::E_FAIL);
}
