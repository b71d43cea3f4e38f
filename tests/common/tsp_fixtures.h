// Where the time-stamp tests find their inputs: the OpenSSL TSA made at test time by
// tests/data/openssl/make_tsa.sh, and the corpus of real TSA messages.
#pragma once

#include <filesystem>
#include <string>

#include "codec/corekit/blob.h"
#include "codec/corekit/datetime.h"
#include "tests/common/test_ca.h"

namespace Velmora::Testing {

// The folder of the OpenSSL fixtures, made once per test program in a temporary folder that is
// removed at exit. A failure of the script throws std::runtime_error with its output.
const std::filesystem::path& OpenSslTsaDir();
// One file of that folder.
CBlob OpenSslTsaFile(const std::string& name);

// The corpus of real TSA messages: tests/data/interop, or the folder the environment variable
// HORODEX_INTEROP_DIR names; throws std::runtime_error naming the folder when it is missing.
std::filesystem::path InteropDir();
CBlob InteropFile(const std::string& relativePath);

CBlob ToBlob(const std::vector<unsigned char>& bytes);
// A certificate context of DER bytes (null when they are no certificate).
ContextPtr ContextOf(const CBlob& der);

// The instant a GeneralizedTime text ("YYYYMMDDHHMMSS[.f]Z") names, worked out with the C library
// rather than the codec.
CDateTime GeneralizedTimeInstant(const std::string& text);

}  // namespace Velmora::Testing
