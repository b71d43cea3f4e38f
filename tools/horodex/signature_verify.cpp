// horodex verify of a CMS signature: its options, the signers and their stamps verified, the
// report and the exit code of the first failure.
#include <optional>
#include <string>
#include <vector>

#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/atl_exception.h"
#include "support/errors.h"
#include "tools/horodex/certificate_bundle.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/option_reader.h"
#include "tools/horodex/signature_command.h"
#include "tools/horodex/signature_report.h"
#include "tools/horodex/terminal.h"
#include "tools/horodex/trusted_roots.h"

namespace Horodex {
namespace {

using Velmora::CBlob;
namespace P = Velmora::Platform;
namespace Client = Velmora::PKI::TSP::Client;

constexpr const char* kVerifyUsage =
    "usage: horodex verify SIGNATURE [--data FILE] [--ca CERTFILE]... [--certs BUNDLE]...\n"
    "                      [--crl FILE]... [--offline] [--json]\n"
    "       --data: the signed file of a detached signature\n";

// The exit code of the first failure: the signature, its chain, then the stamps.
int ExitOf(const Client::CSignatureReport& report) {
  for (const Client::CSignerCheck& signer : report.signers) {
    if (signer.signature != P::S_OK) {
      return kExitBadSignature;
    }
    if (signer.chain != P::S_OK) {
      return kExitChainRefused;
    }
    for (const Client::CSignatureStampCheck& stamp : signer.stamps) {
      if (stamp.result == Velmora::Support::HORODEX_E_SIGNATURE_STAMP_MISMATCH) {
        return kExitStampMismatch;
      }
      if (stamp.result != P::S_OK) {
        return kExitNotVerified;
      }
    }
  }
  return kExitOk;
}

struct VerifySignatureOptions {
  std::string signature, data;
  std::vector<std::string> caFiles, bundles, crlFiles;
  bool json = false, offline = false;
};

bool ParseVerify(const std::vector<std::string>& args, VerifySignatureOptions& o,
                 std::ostream& err) {
  const std::string unexpected = "unexpected argument '{}' for a signature";
  OptionReader reader("horodex verify", err,
                      {.unknownOption = unexpected,
                       .extraOperand = unexpected,
                       .missingValue = unexpected,
                       .usage = kVerifyUsage,
                       .form = OptionForm::AnyDash});
  reader.flags({{"--json", &o.json}, {"--offline", &o.offline}});
  reader.value("--data", o.data);
  reader.values({{"--ca", &o.caFiles}, {"--certs", &o.bundles}, {"--crl", &o.crlFiles}});
  reader.operand(o.signature);
  return reader.read(args);
}

}  // namespace

int RunVerifySignature(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::string who = "horodex verify";
  VerifySignatureOptions o;
  if (!ParseVerify(args, o, err)) {
    return kExitUsage;
  }
  if (!TrustCaFilesOrSettings(o.caFiles, "verify", err)) {
    return kExitFile;
  }
  const std::optional<CBlob> bytes = ReadWholeFile(o.signature, who, err);
  std::optional<CBlob> data;
  if (!o.data.empty()) {
    data = ReadWholeFile(o.data, who, err);
  }
  if (!bytes || (!o.data.empty() && !data)) {
    return kExitFile;
  }
  const std::optional<CallerStores> stores = OpenCallerStores(o.bundles, o.crlFiles, who, err);
  if (!stores) {
    return kExitFile;
  }
  try {
    const Client::CSignedMessage message(bytes->pbData(), bytes->cbData());
    if (message.get_IsDetached() && !data) {
      err << who << ": " << o.signature
          << " is a detached signature: give the signed file with --data\n"
          << kVerifyUsage;
      return kExitUsage;
    }
    const Client::CSignatureReport report = Client::VerifySignatureStamps(
        bytes->pbData(), bytes->cbData(), data ? data->pbData() : nullptr,
        data ? data->cbData() : 0, const_cast<void**>(stores->handles.data()),
        static_cast<unsigned long>(stores->handles.size()),
        // --offline: revocation data from the message, the tokens, the --crl files, the store
        // folders and the cache.
        o.offline ? P::CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY : 0);
    o.json ? WriteSignatureJson(report, message, out)
           : WriteSignatureText(report, ColourWanted(out), out);
    return ExitOf(report);
  } catch (const P::CAtlException& e) {
    err << who << ": cannot read " << o.signature << " as a CMS signature (" << ErrorText(e.hr())
        << ")\n";
    return kExitBadMessage;
  }
}

}  // namespace Horodex
