// The checks `horodex verify` runs on one time stamp.
#include "tools/horodex/verify_checks.h"

#include <openssl/evp.h>

#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "platform/base/free_with.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/crypto/gost_module.h"
#include "platform/errors/atl_exception.h"
#include "support/errors.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/message_file.h"
#include "tools/horodex/tsa_name_check.h"
#include "tools/horodex/verify_details.h"

namespace Horodex {

namespace {

using Velmora::CBlob;
namespace P = Velmora::Platform;
namespace Client = Velmora::PKI::TSP::Client;

template <auto Free>
using Owned = Velmora::Platform::FreeWith<Free>;

void Fail(Check& check, P::HRESULT hr, std::string detail = {}) {
  check.state = Check::State::Failed;
  check.code = hr;
  check.detail = std::move(detail);
}

void Pass(Check& check, std::string detail = {}) {
  check.state = Check::State::Passed;
  check.detail = std::move(detail);
}

// The hash of a file under the hash algorithm of the dotted OID, read in pieces; nullopt when
// neither OpenSSL nor the GOST module knows the algorithm. A file that cannot be read throws
// std::runtime_error.
std::optional<std::vector<unsigned char>> HashFile(const std::string& path,
                                                   const std::string& oid) {
  const std::unique_ptr<EVP_MD, Owned<EVP_MD_free>> md(Velmora::Platform::FetchDigest(oid.c_str()));
  const std::unique_ptr<EVP_MD_CTX, Owned<EVP_MD_CTX_free>> ctx(EVP_MD_CTX_new());
  if (!md || !ctx || EVP_DigestInit_ex(ctx.get(), md.get(), nullptr) != 1) {
    return std::nullopt;
  }
  std::ostringstream told;  // the caller reports the failure in its own words
  if (!FeedFile(path, "verify", told, [&](const unsigned char* data, std::size_t length) {
        EVP_DigestUpdate(ctx.get(), data, length);
      })) {
    throw std::runtime_error(CannotRead(path));
  }
  std::vector<unsigned char> hash(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), hash.data(), &length) != 1) {
    return std::nullopt;
  }
  hash.resize(length);
  return hash;
}

}  // namespace

Verdict CheckStamp(const VerifyOptions& o, const std::string& stampPath,
                   const std::string& dataPath, const std::vector<void*>& storeHandles) {
  Verdict verdict;
  CBlob stampBytes, requestBytes;
  try {
    stampBytes = ReadMessageBytes(stampPath);
    if (!o.requestPath.empty()) {
      requestBytes = ReadMessageBytes(o.requestPath);
    }
  } catch (const P::CAtlException& e) {
    // The stamp is read first: a stamp that reads well leaves the request as what failed.
    const bool stampFailed = !ReadProblem(stampPath).empty() || o.requestPath.empty();
    const std::string& path = stampFailed ? stampPath : o.requestPath;
    return Verdict{{}, kExitFile, CannotRead(path, CodeText(e.hr()) + " " + ErrorMessage(e.hr()))};
  }

  std::vector<Check>& checks = verdict.checks;
  checks = {
      {"imported", "imported", kExitBadMessage},
      {"matchesData", "matches data", kExitStampMismatch},
      {"tsaCertificate", "TSA certificate found", kExitNoTsaCertificate},
      {"signature", "signature", kExitBadSignature},
      {"chain", "chain", kExitChainRefused},
  };
  Check& imported = checks[0];
  Check& matches = checks[1];
  Check& found = checks[2];
  Check& signature = checks[3];
  Check& chain = checks[4];

  try {
    Client::CStamp stamp;
    // Import without the request first, so that a stamp for other data still gets its own checks.
    try {
      stamp.Import(stampBytes.pbData(), static_cast<unsigned long>(stampBytes.cbData()), nullptr);
      Pass(imported);
      try {
        unsigned long length = 0;
        stamp.get_DataHash(nullptr, &length);
      } catch (const P::CAtlException&) {
        // A response that refused the request: imported, but no token is taken from it, even
        // when one came with the refusal.
        Fail(imported, Velmora::Support::HORODEX_E_TSA_UNSUCCESSFUL,
             RefusalDetail(stamp.get_Status(), stampBytes));
      }
    } catch (const P::CAtlException& e) {
      Fail(imported, e.hr());
      if (IsRequest(stampBytes)) {
        imported.detail = stampPath +
                          " is a time-stamp request, not a stamp: send it to a TSA to "
                          "get one (horodex stamp), or read it with horodex show";
      }
    }

    if (imported.state == Check::State::Passed) {
      unsigned long length = 0;
      stamp.get_DataHash(nullptr, &length);
      std::vector<unsigned char> imprint(length);
      stamp.get_DataHash(imprint.data(), &length);
      if (!o.requestPath.empty()) {
        try {
          Client::CRequest request;
          request.Import(requestBytes.pbData(), static_cast<unsigned long>(requestBytes.cbData()));
          Client::CStamp answered;
          answered.Import(stampBytes.pbData(), static_cast<unsigned long>(stampBytes.cbData()),
                          &request);
          Pass(matches, "answers " + o.requestPath);
        } catch (const P::CAtlException& e) {
          Fail(matches, e.hr());
        }
      } else if (!dataPath.empty() || !o.digestHex.empty()) {
        std::optional<std::vector<unsigned char>> expected = o.digest;
        if (!dataPath.empty()) {
          expected = HashFile(dataPath, stamp.get_DataHashAlgOID());
        }
        if (!expected) {
          Fail(matches, P::NTE_BAD_ALGID);
        } else if (*expected != imprint) {
          Fail(matches, P::CRYPT_E_HASH_VALUE);
        } else {
          Pass(matches, dataPath.empty() ? "digest" : dataPath);
        }
      } else {
        matches.label = "imprint";
        matches.state = Check::State::NotChecked;
      }

      void** handles = storeHandles.empty() ? nullptr : const_cast<void**>(storeHandles.data());
      const auto count = static_cast<unsigned long>(storeHandles.size());
      const P::CERT_CONTEXT* tsa = nullptr;
      try {
        tsa = stamp.get_TSACertificate(handles, count);
        if (tsa != nullptr) {
          Pass(found, SubjectOf(tsa));
          if (std::string warning = TsaNameWarning(stamp, tsa); !warning.empty()) {
            verdict.warnings.push_back(std::move(warning));
          }
        } else {
          Fail(found, P::CRYPT_E_NOT_FOUND);
        }
      } catch (const P::CAtlException& e) {
        Fail(found, e.hr());
      }

      try {
        std::vector<char> list(o.acceptExtensions.begin(), o.acceptExtensions.end());
        list.push_back('\0');
        const int code = stamp.Verify(tsa, o.hasAccept ? list.data() : nullptr);
        code == 0 ? Pass(signature)
                  : Fail(signature, code,
                         code == P::CRYPT_E_SECURITY_SETTINGS
                             ? WeakAlgorithmDetail(stampBytes, false, nullptr, tsa)
                             : std::string());
      } catch (const P::CAtlException& e) {
        Fail(signature, e.hr());
      }

      if (tsa != nullptr) {
        try {
          // --offline: revocation data from the token, the --crl files, the store folders and
          // the cache.
          const P::CERT_CHAIN_CONTEXT* built = nullptr;
          const int code = stamp.VerifyCertificate(
              tsa, handles, count, o.offline ? P::CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY : 0,
              &built);
          const ChainPtr judged(built);
          code == 0 ? Pass(chain)
                    : Fail(chain, code,
                           code == P::CRYPT_E_SECURITY_SETTINGS
                               ? WeakAlgorithmDetail(stampBytes, true, judged.get(), tsa)
                               : std::string());
          verdict.revocation = ChainRevocation(judged.get());
        } catch (const P::CAtlException& e) {
          Fail(chain, e.hr());
        }
      }
    }
  } catch (const P::CAtlException& e) {
    verdict.status = kExitBadMessage;
    verdict.error = stampPath + ": " + CodeText(e.hr()) + " " + ErrorMessage(e.hr());
    return verdict;
  } catch (const std::exception& e) {
    verdict.status = kExitFile;
    verdict.error = e.what();
    return verdict;
  }

  for (const Check& check : checks) {
    const bool passed =
        check.state == Check::State::Passed || check.state == Check::State::NotChecked;
    if (!passed) {
      verdict.status = check.exitCode;
      break;
    }
  }
  return verdict;
}

}  // namespace Horodex
