#include "tools/horodex/message_file.h"

#include <openssl/evp.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string_view>

#include "platform/text/atl_exception.h"
#include "platform/text/winerror.h"

namespace Horodex {
namespace {

using Velmora::CBlob;
namespace P = Velmora::Platform;

constexpr std::size_t kMaxFileSize = 64u << 20;

bool IsBase64Char(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/' || c == '=';
}

// Base64 text with any PEM-style frame lines and white space removed; empty when the bytes are
// not such text.
std::string Base64Body(std::string_view text) {
  std::string body;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.starts_with("-----")) {
      continue;
    }
    for (const char c : line) {
      const auto u = static_cast<unsigned char>(c);
      if (IsBase64Char(u)) {
        body += c;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        return {};
      }
    }
  }
  return body;
}

}  // namespace

CBlob ReadMessageBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    P::AtlThrow(P::MakeHResult(0x80070000u | (errno == ENOENT ? 2u : 5u)));
  }
  std::string bytes;
  char chunk[65536];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    bytes.append(chunk, static_cast<std::size_t>(file.gcount()));
    if (bytes.size() > kMaxFileSize) {
      P::AtlThrow(P::E_INVALIDARG);
    }
  }
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  if (!bytes.empty() && data[0] != 0x30) {
    const std::string body = Base64Body(bytes);
    if (!body.empty() && body.size() % 4 == 0) {
      std::vector<unsigned char> decoded(body.size() / 4 * 3);
      const int n =
          EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(body.data()),
                          static_cast<int>(body.size()));
      if (n >= 0) {
        std::size_t size = static_cast<std::size_t>(n);
        // EVP_DecodeBlock counts the padding as zero bytes; take them off again.
        for (std::size_t i = body.size(); i > 0 && body[i - 1] == '=' && size > 0; --i) {
          --size;
        }
        decoded.resize(size);
        return CBlob(std::move(decoded));
      }
    }
  }
  return CBlob(data, static_cast<unsigned long>(bytes.size()));
}

}  // namespace Horodex
