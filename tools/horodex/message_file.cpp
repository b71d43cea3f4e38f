// A request or stamp file read as DER or Base64 text.
#include "tools/horodex/message_file.h"

#include "TSP/horodex/ShellMessageFile.h"
#include "platform/errors/atl_exception.h"

namespace Horodex {

Velmora::CBlob ReadMessageBytes(const std::string& path) {
  std::string bytes;
  const Velmora::Platform::HRESULT hr =
      Velmora::PKI::TSP::Client::ReadMessageFile(path.c_str(), bytes);
  if (Velmora::Platform::FAILED(hr)) {
    Velmora::Platform::AtlThrow(hr);
  }
  return Velmora::CBlob(reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<unsigned long>(bytes.size()));
}

}  // namespace Horodex
