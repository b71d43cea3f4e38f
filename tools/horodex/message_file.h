// Reads a request or stamp file as the viewer's shell entry points read it: DER as it is, or
// Base64 text (bare, or framed by "-----BEGIN ...-----" lines; ANSI, UTF-8 with a byte order mark
// or UTF-16) decoded to DER (ReadMessageFile, TSP/horodex/ShellMessageFile.h).
#pragma once

#include <string>

#include "codec/corekit/blob.h"

namespace Horodex {

// Throws CAtlException: the system's error for a file that cannot be read (0x80070002 missing
// ...), E_INVALIDARG for one of 2 GiB or more, E_FAIL for Base64 text that does not decode
// (a framed block without its end line, a cut group), E_INVALIDARG for UTF-16 big-endian text
// of odd length.
Velmora::CBlob ReadMessageBytes(const std::string& path);

}  // namespace Horodex
