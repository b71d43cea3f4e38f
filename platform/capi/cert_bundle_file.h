// Certificate and CRL bundle files: PEM text of any number of blocks, or one DER object.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "platform/base/types.h"

namespace Velmora::Platform::Capi {

// One object of a bundle: a PEM block's type ("CERTIFICATE", "X509 CRL" ...) and its contents. The
// type is empty for bytes that are not PEM text: they are the one object, a DER certificate or CRL
// or something else, which only decoding tells.
struct BundleObject {
  std::string pemType;
  std::vector<BYTE> der;
};

// The objects of a bundle's bytes: its PEM blocks in order when it holds a PEM header
// ("-----BEGIN "), up to the first block that does not decode; else the whole bytes as one
// object of no type.
std::vector<BundleObject> ReadBundleObjects(std::span<const BYTE> bytes);

// Reads a whole file into `bytes`; an error code for a file that is missing, unreadable or larger
// than `limit`.
std::error_code ReadBundleFile(const std::filesystem::path& path, std::uintmax_t limit,
                               std::vector<BYTE>& bytes);

}  // namespace Velmora::Platform::Capi
