#include "tools/horodex/verify_command.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <algorithm>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "codec/stampmsg/response.h"
#include "codec/stampmsg/token.h"
#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/crypto/gost_module.h"
#include "platform/text/atl_exception.h"
#include "platform/text/convert.h"
#include "platform/text/free_with.h"
#include "support/error_messages.h"
#include "support/errors.h"
#include "tools/horodex/certificate_bundle.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/hex_text.h"
#include "tools/horodex/message_file.h"
#include "tools/horodex/option_reader.h"
#include "tools/horodex/revocation_report.h"
#include "tools/horodex/signature_command.h"
#include "tools/horodex/status_name.h"
#include "tools/horodex/terminal.h"
#include "tools/horodex/trusted_roots.h"
#include "tools/horodex/tsa_name_check.h"
#include "tools/horodex/user_settings.h"

namespace Horodex {
namespace {

using Velmora::CBlob;
namespace P = Velmora::Platform;
namespace Client = Velmora::PKI::TSP::Client;

template <auto Free>
using Owned = Velmora::Platform::FreeWith<Free>;

constexpr const char* kUsage =
    "usage: horodex verify STAMP... (--data FILE | --digest HEX | --request REQ |\n"
    "                      --data-dir DIR | --signature-only) [--ca CERTFILE]...\n"
    "                      [--certs BUNDLE]... [--accept-ext OIDS|*] [--offline]\n"
    "                      [--crl FILE]... [--json]\n";

// The outcome of one check.
struct Check {
  enum class State { Passed, Failed, NotRun, NotChecked };
  const char* key;    // JSON member name
  const char* label;  // text label
  int exitCode;       // the exit status when this is the first check that fails
  State state = State::NotRun;
  P::HRESULT code = 0;
  std::string detail = {};  // what passed, or why it was skipped
};

std::string CodeText(P::HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  return code;
}

std::string ErrorMessage(P::HRESULT hr) {
  return P::WideToNarrow(Velmora::Support::GetErrorMessage(hr));
}

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

std::string StateName(Check::State state) {
  switch (state) {
    case Check::State::Passed:
      return "ok";
    case Check::State::Failed:
      return "failed";
    case Check::State::NotChecked:
      return "not checked";
    case Check::State::NotRun:
      break;
  }
  return "not run";
}

Colour ColourOf(Check::State state) {
  return state == Check::State::Passed   ? Colour::Green
         : state == Check::State::Failed ? Colour::Red
                                         : Colour::Yellow;
}

void WriteText(const std::vector<Check>& checks, const std::vector<RevocationLine>& revocation,
               const std::vector<std::string>& warnings, bool colour, std::ostream& out) {
  for (const Check& check : checks) {
    std::string line = std::string(check.label) + ": " +
                       Paint(StateName(check.state), ColourOf(check.state), colour);
    if (check.state == Check::State::Failed) {
      line += " " + CodeText(check.code) + " " + ErrorMessage(check.code);
    }
    if (!check.detail.empty()) {
      line += " (" + check.detail + ")";
    }
    out << line << "\n";
  }
  for (const RevocationLine& line : revocation) {
    out << "revocation of " << RevocationText(line) << "\n";
  }
  for (const std::string& warning : warnings) {
    out << Paint("warning", Colour::Yellow, colour) << ": " << warning << "\n";
  }
}

// One JSON object: `leading` members (each followed by ", "), "valid" (null when the imprint was
// not checked: the stamp as a whole is then not judged), "imprint_checked", then one member per
// check; `end` after the closing brace.
void WriteJson(const std::vector<Check>& checks, const std::vector<RevocationLine>& revocation,
               const std::vector<std::string>& warnings, bool valid, bool imprintChecked,
               std::ostream& out, const std::string& leading = {}, const char* end = "\n") {
  out << "{" << leading << "\"valid\": "
      << (!imprintChecked ? "null"
          : valid         ? "true"
                          : "false")
      << ", \"imprint_checked\": " << (imprintChecked ? "true" : "false");
  for (const Check& check : checks) {
    out << ", " << JsonQuote(check.key) << ": {\"result\": " << JsonQuote(StateName(check.state));
    const bool failed = check.state == Check::State::Failed;
    out << ", \"code\": " << (failed ? JsonQuote(CodeText(check.code)) : "null")
        << ", \"message\": " << (failed ? JsonQuote(ErrorMessage(check.code)) : "null")
        << ", \"detail\": " << JsonQuoteOrNull(check.detail) << "}";
  }
  out << ", \"revocation\": " << RevocationJson(revocation) << ", \"warnings\": [";
  for (std::size_t i = 0; i < warnings.size(); ++i) {
    out << (i == 0 ? "" : ", ") << JsonQuote(warnings[i]);
  }
  out << "]}" << end;
}

struct VerifyOptions {
  std::vector<std::string> stamps, caFiles, bundles, crlFiles;
  std::string dataPath, digestHex, requestPath, dataDir, acceptExtensions;
  std::vector<unsigned char> digest;  // of digestHex
  bool hasAccept = false, json = false, offline = false;
  bool signatureOnly = false;  // no data: the signature and the chain alone
};

// The reader of verify's options into `o`; `sources` counts the data options.
OptionReader VerifyReader(VerifyOptions& o, int& sources, std::ostream& err) {
  OptionReader reader("horodex verify", err,
                      {.unknownOption = "unexpected argument '{}'",
                       .missingValue = "unexpected argument '{}'",
                       .usage = kUsage,
                       .form = OptionForm::AnyDash});
  reader.flags(
      {{"--signature-only", &o.signatureOnly}, {"--json", &o.json}, {"--offline", &o.offline}});
  for (auto& [name, into] : {std::pair<const char*, std::string*>{"--data", &o.dataPath},
                             {"--digest", &o.digestHex},
                             {"--request", &o.requestPath},
                             {"--data-dir", &o.dataDir}}) {
    reader.value(name, [&sources, into](const std::string& value) {
      *into = value;
      ++sources;
      return true;
    });
  }
  reader.values({{"--ca", &o.caFiles}, {"--certs", &o.bundles}, {"--crl", &o.crlFiles}});
  reader.value("--accept-ext", [&o](const std::string& value) {
    o.acceptExtensions = value;
    o.hasAccept = true;
    return true;
  });
  reader.operands(o.stamps);
  return reader;
}

// False with a message when the command line is not one this command takes.
bool Parse(const std::vector<std::string>& args, VerifyOptions& o, std::ostream& err) {
  int sources = 0;
  if (!VerifyReader(o, sources, err).read(args)) {
    return false;
  }
  if (o.stamps.empty() || sources > 1) {
    err << (sources > 1 ? "horodex verify: give at most one of --data, --digest, --request and "
                          "--data-dir\n"
                        : "")
        << kUsage;
    return false;
  }
  // A stamp says something only of the data it was made for: no verdict without it.
  if (sources == 0 && !o.signatureOnly) {
    err << "horodex verify: give the stamped data (--data FILE, --data-dir DIR, --digest HEX or "
           "--request REQ); --signature-only checks the signature and the chain alone\n"
        << kUsage;
    return false;
  }
  if (sources != 0 && o.signatureOnly) {
    err << "horodex verify: --signature-only checks no data; give it without --data, --digest, "
           "--request and --data-dir\n";
    return false;
  }
  if (o.stamps.size() > 1 && sources == 1 && o.dataDir.empty()) {
    err << "horodex verify: --data, --digest and --request are for one stamp; give several "
           "stamps their data with --data-dir\n";
    return false;
  }
  if (!o.digestHex.empty() && !ParseHex(o.digestHex, o.digest)) {
    err << "horodex verify: --digest takes the hash value as an even number of hex digits\n";
    return false;
  }
  return true;
}

std::string Named(const std::string& oid) {
  const std::string name = OidName(oid);
  return name.empty() ? oid : name + " (" + oid + ")";
}

// What the weak-algorithm rule refused in a stamp, for its failure line: the token's own
// algorithms for its signature check, the certificate signed weakly or the TSA's key for the
// chain's. Only a hint: the failure stands without it.
// `built` is the chain judged, null for the signature check.
std::string WeakAlgorithmDetail(const CBlob& stampBytes, bool chain, P::PCCERT_CHAIN_CONTEXT built,
                                P::PCCERT_CONTEXT tsa) {
  namespace TSP = Velmora::PKI::TSP;
  try {
    if (chain) {
      for (P::DWORD i = 0; built && built->cChain > 0 && i < built->rgpChain[0]->cElement; ++i) {
        const P::CERT_CHAIN_ELEMENT& element = *built->rgpChain[0]->rgpElement[i];
        if ((element.TrustStatus.dwErrorStatus & P::CERT_TRUST_HAS_WEAK_SIGNATURE) != 0) {
          return "weak algorithm: " +
                 Named(element.pCertContext->pCertInfo->SignatureAlgorithm.pszObjId) + " signs " +
                 SubjectOf(element.pCertContext);
        }
      }
      const unsigned char* der = tsa != nullptr ? tsa->pbCertEncoded : nullptr;
      const std::unique_ptr<X509, Owned<X509_free>> certificate(
          der != nullptr ? d2i_X509(nullptr, &der, static_cast<long>(tsa->cbCertEncoded))
                         : nullptr);
      const EVP_PKEY* key = certificate ? X509_get0_pubkey(certificate.get()) : nullptr;
      return key != nullptr ? "weak key: the TSA's signs with " +
                                  std::to_string(EVP_PKEY_get_bits(key)) + " bits"
                            : std::string();
    }
    TSP::CToken token;
    try {
      TSP::CResponse response;
      response.decode(stampBytes);
      token = *response.get_timeStampToken();
    } catch (const P::CAtlException&) {
      token.decode(stampBytes);
    }
    const auto& signer = token.get_signerInfo();
    return "weak algorithm among: digest " + Named(signer.get_digestAlgorithm().get_algorithm()) +
           ", signature " + Named(signer.get_signatureAlgorithm().get_algorithm()) + ", imprint " +
           Named(token.get_hashAlgorithm().get_algorithm());
  } catch (const P::CAtlException&) {
    return std::string();
  }
}

// What a response that refused the request says: its status, and whether a token came with it
// (a refusal's token is never used).
std::string RefusalDetail(unsigned int status, const CBlob& response) {
  std::string detail =
      "the response has status " + std::to_string(status) + " (" + StatusName(status) + ")";
  try {
    Velmora::PKI::TSP::CResponse decoded;
    decoded.decode(response);
    if (decoded.get_timeStampToken() != nullptr) {
      return detail + " and carries a token all the same, which is not used";
    }
  } catch (const P::CAtlException&) {
    // Only the remark is lost: the response stays refused whatever this reading finds.
  }
  return detail + " and no token";
}

// Whether the bytes are a time-stamp request (given where a stamp was expected).
bool IsRequest(const CBlob& bytes) {
  try {
    Client::CRequest request;
    request.Import(bytes.pbData(), static_cast<unsigned long>(bytes.cbData()));
    return true;
  } catch (const P::CAtlException&) {
    return false;
  }
}

// What came of one stamp: its checks and its exit status; `error` tells why it could not be
// checked to the end (a file that cannot be read, a stamp that does not decode).
struct Verdict {
  std::vector<Check> checks;
  int status = kExitOk;
  std::string error;
  std::vector<RevocationLine> revocation = {};  // of the chain's certificates below the root
  std::vector<std::string> warnings = {};       // what does not change the verdict
};

// Every check on the stamp at `stampPath`, against the data file `dataPath` (or the digest or
// request of the options).
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

// The data file of `stamp` in the folder of --data-dir: its name without the last extension
// (doc.txt.tsr stamps doc.txt, a.tsr stamps a).
std::string DataFileOf(const std::string& dataDir, const std::string& stamp) {
  return (std::filesystem::path(dataDir) / std::filesystem::path(stamp).stem()).string();
}

// Several stamps: a line per stamp with its outcome, its checks below it, and a summary.
void WriteTextSummary(const std::vector<std::string>& stamps, const std::vector<Verdict>& verdicts,
                      bool signatureOnly, bool colour, std::ostream& out) {
  const char* passed =
      signatureOnly ? "signature and chain verified, imprint not checked" : "verified";
  std::size_t verified = 0;
  for (std::size_t n = 0; n < stamps.size(); ++n) {
    const Verdict& verdict = verdicts[n];
    if (verdict.status == kExitOk) {
      ++verified;
      out << stamps[n] << ": " << Paint(passed, Colour::Green, colour) << "\n";
    } else {
      out << stamps[n] << ": " << Paint("failed", Colour::Red, colour) << " (exit "
          << verdict.status << (verdict.error.empty() ? "" : ": " + verdict.error) << ")\n";
    }
    std::ostringstream written;
    WriteText(verdict.checks, verdict.revocation, verdict.warnings, colour, written);
    std::istringstream lines(written.str());
    for (std::string line; std::getline(lines, line);) {
      out << "  " << line << "\n";
    }
  }
  const std::size_t failed = stamps.size() - verified;
  out << stamps.size() << " stamps: " << verified << " verified, "
      << Paint(std::to_string(failed) + " failed", failed == 0 ? Colour::Green : Colour::Red,
               colour)
      << "\n";
}

void WriteJsonSummary(const std::vector<std::string>& stamps, const std::vector<Verdict>& verdicts,
                      bool signatureOnly, std::ostream& out) {
  std::size_t verified = 0;
  std::ostringstream each;
  for (std::size_t n = 0; n < stamps.size(); ++n) {
    verified += verdicts[n].status == kExitOk ? 1 : 0;
    const Verdict& verdict = verdicts[n];
    each << (n == 0 ? "" : ", ");
    WriteJson(verdict.checks, verdict.revocation, verdict.warnings, verdict.status == kExitOk,
              !signatureOnly, each,
              "\"file\": " + JsonQuote(stamps[n]) +
                  ", \"exit\": " + std::to_string(verdict.status) +
                  ", \"error\": " + JsonQuoteOrNull(verdict.error) + ", ",
              "");
  }
  out << "{\"valid\": "
      << (signatureOnly               ? "null"
          : verified == stamps.size() ? "true"
                                      : "false")
      << ", \"imprint_checked\": " << (signatureOnly ? "false" : "true")
      << ", \"verified\": " << verified << ", \"failed\": " << stamps.size() - verified
      << ", \"stamps\": [" << each.str() << "]}\n";
}

// Whether the command line names one file and that file is a CMS signature.
bool NamesOneSignature(const std::vector<std::string>& args) {
  VerifyOptions unused;
  int sources = 0;
  std::ostringstream quiet;
  const std::vector<std::string> files = VerifyReader(unused, sources, quiet).operandsOf(args);
  if (files.size() != 1) {
    return false;
  }
  const std::optional<std::vector<unsigned char>> bytes = ReadFileBytes(files[0]);
  return bytes && SignatureOf(CBlob(*bytes)).has_value();
}

}  // namespace

int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (NamesOneSignature(args)) {
    return RunVerifySignature(args, out, err);
  }
  VerifyOptions o;
  if (!Parse(args, o, err)) {
    return kExitUsage;
  }
  const std::optional<UserSettings> settings = LoadUserSettings("verify", err);
  if (!settings) {
    return kExitFile;
  }
  if (o.caFiles.empty()) {
    o.caFiles = settings->caFiles;
  }

  // Trust anchors and the caller's stores.
  if (!TrustRootFiles(o.caFiles, "horodex verify", err)) {
    return kExitFile;
  }
  const std::optional<CallerStores> stores =
      OpenCallerStores(o.bundles, o.crlFiles, "horodex verify", err);
  if (!stores) {
    return kExitFile;
  }
  const std::vector<void*>& storeHandles = stores->handles;

  std::vector<Verdict> verdicts;
  int status = kExitOk;  // the first failing stamp's
  for (const std::string& stamp : o.stamps) {
    const std::string data = o.dataDir.empty() ? o.dataPath : DataFileOf(o.dataDir, stamp);
    verdicts.push_back(CheckStamp(o, stamp, data, storeHandles));
    status = status != kExitOk ? status : verdicts.back().status;
  }
  const bool colour = !o.json && ColourWanted(out);
  if (o.stamps.size() > 1) {
    o.json ? WriteJsonSummary(o.stamps, verdicts, o.signatureOnly, out)
           : WriteTextSummary(o.stamps, verdicts, o.signatureOnly, colour, out);
    return status;
  }
  const Verdict& verdict = verdicts.front();
  if (!verdict.error.empty()) {
    err << "horodex verify: " << verdict.error << "\n";
    return verdict.status;
  }
  o.json ? WriteJson(verdict.checks, verdict.revocation, verdict.warnings, status == kExitOk,
                     !o.signatureOnly, out)
         : WriteText(verdict.checks, verdict.revocation, verdict.warnings, colour, out);
  return status;
}

}  // namespace Horodex
