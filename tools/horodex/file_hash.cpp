// Hashing a file into a request for the tool's commands, with a progress bar for large files.
#include "tools/horodex/file_hash.h"

#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <utility>
#include <vector>

#include "platform/capi/wincrypt_oid.h"
#include "platform/text/convert.h"
#include "support/error_messages.h"
#include "support/oid_info.h"
#include "tools/horodex/file_problem.h"

namespace Horodex {

namespace {

namespace P = Velmora::Platform;

// Files from this size on show a progress bar while they are hashed, when stderr is a terminal.
constexpr std::uintmax_t kProgressFrom = 64u << 20;
constexpr std::size_t kPiece = 1u << 20;

void ShowProgress(std::ostream& err, std::uintmax_t done, std::uintmax_t total) {
  constexpr int kWidth = 40;
  const int filled = static_cast<int>(done * kWidth / total);
  err << "\rhashing [" << std::string(static_cast<std::size_t>(filled), '#')
      << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] "
      << static_cast<int>(done * 100 / total) << "%" << std::flush;
}

}  // namespace

std::string CodeText(P::HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  return code;
}

std::string ErrorMessage(P::HRESULT hr) {
  return P::WideToNarrow(Velmora::Support::GetErrorMessage(hr));
}

std::string ErrorText(P::HRESULT hr) {
  return CodeText(hr) + ": " + ErrorMessage(hr);
}

std::string HashOid(const std::string& given) {
  if (!given.empty() && std::isdigit(static_cast<unsigned char>(given[0]))) {
    return given;
  }
  // The registry's names as OpenSSL spells them (sha256, sha512-256, sha3-256), or with the
  // dashes left out (sha-256).
  std::string lower;
  std::string name;
  for (const char c : given) {
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c != '-') {
      name += lower.back();
    }
  }
  // GOST's hashes by the names people use for them; the registry knows them by OpenSSL's.
  static constexpr std::pair<const char*, const char*> kAliases[] = {
      {"gost94", "1.2.643.2.2.9"},
      {"streebog256", "1.2.643.7.1.1.2.2"},
      {"streebog512", "1.2.643.7.1.1.2.3"},
  };
  // An alias counts only where the GOST module is loaded, as a name the registry knows would.
  for (const auto& [alias, oid] : kAliases) {
    if (name == alias) {
      const bool known = Velmora::Support::FindOIDInfo(P::CRYPT_OID_INFO_OID_KEY, oid,
                                                       P::CRYPT_HASH_ALG_OID_GROUP_ID) != nullptr;
      return known ? oid : std::string();
    }
  }
  for (const std::string& candidate : {lower, name}) {
    const std::wstring wide = P::NarrowToWide(candidate);
    if (const P::CRYPT_OID_INFO* info = Velmora::Support::FindOIDInfo(
            P::CRYPT_OID_INFO_NAME_KEY, wide.c_str(), P::CRYPT_HASH_ALG_OID_GROUP_ID)) {
      return info->pszOID;
    }
  }
  return std::string();
}

void WarnWeakHash(const std::string& oid, const std::string& command, std::ostream& err) {
  const char* name = oid == "1.3.14.3.2.26"        ? "SHA-1"
                     : oid == "1.2.840.113549.2.5" ? "MD5"
                                                   : nullptr;
  if (name != nullptr) {
    err << "horodex " << command << ": warning: " << name
        << " is weak: a growing number of TSAs and verifiers refuse its imprints\n";
  }
}

bool FeedFile(const std::string& path, const std::string& command, std::ostream& err,
              const std::function<void(const unsigned char*, std::size_t)>& sink) {
  // "-" is standard input, whose size is not known beforehand.
  std::ifstream file;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file || !ReadProblem(path).empty()) {
      err << "horodex " << command << ": " << CannotRead(path) << "\n";
      return false;
    }
  }
  std::istream& in = path == "-" ? std::cin : file;
  std::uintmax_t total = 0;
  if (path != "-") {
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (end < 0) {  // a pipe or another file that cannot seek: read it as it comes
      in.clear();
    } else {
      total = static_cast<std::uintmax_t>(end);
      in.seekg(0);
    }
  }
  const bool progress = total >= kProgressFrom && isatty(STDERR_FILENO) == 1;
  // A small file is read in one piece no larger than itself (a whole 1 MiB buffer would be zeroed
  // page by page for a few bytes); a size that is not known (a pipe) takes the full piece.
  const std::size_t pieceSize =
      total > 0 && total < kPiece ? static_cast<std::size_t>(total) + 1 : kPiece;
  std::vector<unsigned char> piece(pieceSize);
  std::uintmax_t done = 0;
  while (in) {
    in.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
    const auto got = static_cast<unsigned long>(in.gcount());
    if (got == 0) {
      break;
    }
    sink(piece.data(), got);
    done += got;
    if (progress) {
      ShowProgress(err, done, total);
    }
  }
  if (progress) {
    err << "\n";
  }
  if (in.bad()) {
    err << "horodex " << command << ": " << CannotRead(path) << "\n";
    return false;
  }
  return true;
}

bool HashFile(Velmora::PKI::TSP::Client::CRequest& request, const std::string& path,
              const std::string& command, std::ostream& err) {
  request.AddData(nullptr, 0);  // an empty file has a hash too
  return FeedFile(path, command, err, [&](const unsigned char* data, std::size_t length) {
    request.AddData(data, static_cast<unsigned long>(length));
  });
}

}  // namespace Horodex
