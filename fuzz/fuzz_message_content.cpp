// Reads any input as the content of a request or stamp file (DecodeMessageContent): a size query
// and the decoding into a buffer of that size must agree, and content that is neither text nor
// framed is passed on unchanged.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "TSP/horodex/ShellMessageFile.h"
#include "platform/base/types.h"

namespace Client = Velmora::PKI::TSP::Client;
namespace P = Velmora::Platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t length = 0;
  if (P::FAILED(Client::DecodeMessageContent(data, size, nullptr, &length))) {
    return 0;
  }
  std::vector<unsigned char> out(length + 1);
  std::size_t written = length;
  if (P::FAILED(Client::DecodeMessageContent(data, size, out.data(), &written)) ||
      written != length) {
    __builtin_trap();
  }
  // Whatever is told apart as text decodes to fewer bytes than it has; equal sizes mean the
  // content was taken as the message itself, which must then come out unchanged.
  if (written == size && size != 0 && std::memcmp(out.data(), data, size) != 0) {
    __builtin_trap();
  }
  return 0;
}
