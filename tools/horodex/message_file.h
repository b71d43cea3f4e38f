// Reads a request or stamp file: DER as it is, or Base64 text (bare, or framed by PEM-style
// "-----BEGIN ...-----" lines) decoded to DER.
#pragma once

#include <string>

#include "codec/corekit/blob.h"

namespace Horodex {

// Throws CAtlException: the system's error for a file that cannot be read, E_INVALIDARG for one
// larger than 64 MiB.
Velmora::CBlob ReadMessageBytes(const std::string& path);

}  // namespace Horodex
