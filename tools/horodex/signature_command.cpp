// What the commands on CMS signatures share: telling a signature from other messages, a signer's
// label and a signature's file read whole.
#include "tools/horodex/signature_command.h"

#include <string_view>

#include "platform/errors/atl_exception.h"
#include "tools/horodex/file_problem.h"

namespace Horodex {

using Velmora::CBlob;
namespace P = Velmora::Platform;
namespace Client = Velmora::PKI::TSP::Client;

namespace {

constexpr std::string_view kTstInfo = "1.2.840.113549.1.9.16.1.4";

}  // namespace

std::string SignerLabel(std::size_t index, const std::string& name) {
  return "signer " + std::to_string(index) + (name.empty() ? "" : " (" + name + ")");
}

std::optional<CBlob> ReadWholeFile(const std::string& path, const std::string& who,
                                   std::ostream& err) {
  std::optional<std::vector<unsigned char>> bytes = ReadFileBytes(path);
  if (!bytes) {
    err << who << ": " << CannotRead(path) << "\n";
    return std::nullopt;
  }
  return CBlob(std::move(*bytes));
}

std::optional<Client::CSignedMessage> SignatureOf(const CBlob& bytes) {
  try {
    Client::CSignedMessage message(bytes.pbData(), bytes.cbData());
    if (message.get_ContentType() != kTstInfo) {
      return message;
    }
  } catch (const P::CAtlException&) {
    // Not a signature: the caller reads the bytes as something else.
  }
  return std::nullopt;
}

}  // namespace Horodex
