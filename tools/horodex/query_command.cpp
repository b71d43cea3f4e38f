// horodex query: options, hashing the file (file_hash.h), and writing the request.
#include "tools/horodex/query_command.h"

#include <openssl/evp.h>

#include <cctype>
#include <fstream>
#include <optional>
#include <vector>

#include "TSP/horodex/Base64.h"
#include "horodex/TSPRequest.h"
#include "platform/crypto/gost_module.h"
#include "platform/errors/atl_exception.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/hex_text.h"
#include "tools/horodex/option_reader.h"
#include "tools/horodex/user_settings.h"

namespace Horodex {

namespace {

using Velmora::PKI::TSP::Client::CRequest;
namespace P = Velmora::Platform;

constexpr const char* kUsage =
    "usage: horodex query (FILE | --digest HEX) [--hash ALG] [--policy OID] [--no-nonce]\n"
    "                     [--cert-req | --no-cert-req] [--base64] -o OUT\n";

// The size in bytes of the algorithm's hash value as OpenSSL (or the GOST module) knows it; 0
// when neither does.
int DigestSize(const std::string& oid) {
  EVP_MD* md = Velmora::Platform::FetchDigest(oid.c_str());
  const int size = md != nullptr ? EVP_MD_get_size(md) : 0;
  EVP_MD_free(md);
  return size;
}

}  // namespace

int RunQuery(const std::vector<std::string>& args, std::ostream& /*out*/, std::ostream& err) {
  std::string file, hash, policy, digest, output;
  bool noNonce = false, base64 = false, haveDigest = false;
  std::optional<bool> certReq;
  OptionReader reader("horodex query", err, {.usage = kUsage});
  reader.values({{"--hash", &hash}, {"--policy", &policy}, {"-o", &output}});
  reader.value("--digest", [&](const std::string& value) {
    digest = value;
    haveDigest = true;
    return true;
  });
  reader.flags({{"--no-nonce", &noNonce}, {"--base64", &base64}});
  reader.flag("--cert-req", [&] { certReq = true; });
  reader.flag("--no-cert-req", [&] { certReq = false; });
  reader.operand(file);
  if (!reader.read(args)) {
    return kExitUsage;
  }
  if (output.empty() || file.empty() == !haveDigest) {
    err << kUsage;
    return kExitUsage;
  }
  const std::optional<UserSettings> settings = LoadUserSettings("query", err);
  if (!settings) {
    return kExitFile;
  }
  hash = hash.empty() ? settings->hash : hash;
  // The TSA's certificate in the token lets anyone verify the stamp: asked for by default.
  certReq = certReq ? certReq : settings->certReq.value_or(true);
  if (const int code = CheckOutput(output, {file}, "horodex query", err); code != kExitOk) {
    return code;
  }
  try {
    CRequest request;
    if (!hash.empty()) {
      const std::string oid = HashOid(hash);
      if (oid.empty()) {
        err << "horodex query: unknown hash algorithm '" << hash << "'\n";
        return kExitUsage;
      }
      request.put_DataHashAlg(oid.c_str());
      WarnWeakHash(oid, "query", err);
    }
    if (!policy.empty()) {
      request.put_PolicyID(policy.c_str());
    }
    if (noNonce) {
      request.put_UseNonce(false);
    }
    if (certReq) {
      request.put_CertReq(*certReq);
    }
    if (haveDigest) {
      std::vector<unsigned char> value;
      if (!ParseHex(digest, value)) {
        err << "horodex query: --digest takes the hash value as an even number of hex digits\n";
        return kExitUsage;
      }
      const int expected = DigestSize(request.get_DataHashAlgOID());
      if (expected > 0 && value.size() != static_cast<std::size_t>(expected)) {
        err << "horodex query: the hash value has " << value.size() << " bytes, but "
            << request.get_DataHashAlgOID() << " gives " << expected << "\n";
        return kExitUsage;
      }
      request.put_DataHash(value.data(), static_cast<unsigned long>(value.size()));
    } else if (!HashFile(request, file, "query", err)) {
      return kExitFile;
    }
    unsigned long length = 0;
    request.Export(nullptr, &length);
    Velmora::CBlob der(length);
    request.Export(der.pbData(), &length);
    Velmora::CBlob written = base64 ? Velmora::PKI::TSP::Client::Base64Encode(der) : der;
    if (base64 && (written.empty() || written.bytes().back() != '\n')) {
      const unsigned char crlf[] = {'\r', '\n'};
      written += Velmora::CBlob(crlf, 2);  // a text file ends with a line break
    }
    if (!WriteOutput(output, written)) {
      err << "horodex query: " << CannotWrite(output) << "\n";
      return kExitFile;
    }
    return kExitOk;
  } catch (const P::CAtlException& e) {
    err << "horodex query: cannot make the request (" << ErrorText(e) << ")\n";
    return kExitBadMessage;
  }
}

}  // namespace Horodex
