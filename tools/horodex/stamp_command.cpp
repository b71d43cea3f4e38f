// horodex stamp: options, the request, the exchanges with the TSAs in turn (Send), verification,
// and the report.
#include "tools/horodex/stamp_command.h"

#include <cstdio>
#include <cstdlib>

#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "platform/text/atl_exception.h"
#include "platform/text/convert.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/request_options.h"
#include "tools/horodex/show_command.h"
#include "tools/horodex/signature_command.h"
#include "tools/horodex/tsa_exchange.h"
#include "tools/horodex/user_settings.h"

namespace Horodex {

namespace {

using Velmora::CBlob;
using Velmora::PKI::TSP::Client::CertContextPtr;
using Velmora::PKI::TSP::Client::CRequest;
using Velmora::PKI::TSP::Client::CStamp;
namespace P = Velmora::Platform;

constexpr const char* kUsage =
    "usage: horodex stamp (FILE | --signature SIG.p7s [--signer N]...) --tsa URL [--tsa URL]...\n"
    "                     [--timeout SECONDS]\n"
    "                     [--user U --password P] [--auth TYPE]\n"
    "                     [--proxy URL [--proxy-user U --proxy-password P] [--proxy-auth TYPE]]\n"
    "                     [--client-cert CERT --client-key KEY] [--tls-ca PEMFILE]\n"
    "                     [--hash ALG] [--policy OID]\n"
    "                     [--no-nonce] [--cert-req | --no-cert-req] [--no-verify]\n"
    "                     [--ca CERTFILE]... [--offline] [--crl FILE]... [--json]\n"
    "                     -o OUT.tsr|OUT.p7s\n"
    "       TYPE: none, basic, digest, ntlm or negotiate\n"
    "       FILE or OUT.tsr '-': standard input or output\n";

struct Options {
  std::string file, hash, output;
  std::string signature;             // a CMS signature whose signers are stamped
  std::vector<std::size_t> signers;  // which of them (--signer); all when empty
  bool json = false;
  RequestOptions request;
};

// False with a message when the command line is not one this command takes.
bool Parse(const std::vector<std::string>& args, Options& o, std::ostream& err) {
  OptionReader reader("horodex stamp", err, {.usage = kUsage});
  AddRequestOptions(reader, o.request);
  reader.value("--hash", o.hash);
  reader.value("-o", o.output);
  reader.value("--signature", o.signature);
  const std::string signerIndex = "--signer takes a signer's index (0 for the first)";
  reader.value(
      "--signer",
      [&](const std::string& value) {
        char* end = nullptr;
        const unsigned long index = std::strtoul(value.c_str(), &end, 10);
        if (*end != '\0' || value.empty() || value[0] == '-') {
          reader.complain(signerIndex);
          return false;
        }
        o.signers.push_back(index);
        return true;
      },
      signerIndex);
  reader.flag("--json", o.json);
  reader.operand(o.file);
  if (!reader.read(args)) {
    return false;
  }
  if (o.file.empty() == o.signature.empty() || o.output.empty() ||
      (!o.signers.empty() && o.signature.empty())) {
    err << kUsage;
    return false;
  }
  return true;
}

CBlob StampBytes(const CStamp& stamp, void (CStamp::*get)(unsigned char*, unsigned long*) const) {
  unsigned long length = 0;
  (stamp.*get)(nullptr, &length);
  CBlob bytes(length);
  (stamp.*get)(bytes.pbData(), &length);
  return bytes;
}

}  // namespace

int RunStamp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  if (!Parse(args, o, err)) {
    return kExitUsage;
  }
  const std::optional<UserSettings> settings = LoadUserSettings("stamp", err);
  if (!settings) {
    return kExitFile;
  }
  if (const int code = FinishRequestOptions(o.request, *settings, "horodex stamp", err);
      code != kExitOk) {
    return code;
  }
  if (o.hash.empty()) {
    o.hash = settings->hash;
  }
  std::vector<std::string> inputs = RequestInputFiles(o.request);
  inputs.push_back(o.signature.empty() ? o.file : o.signature);
  if (const int code = CheckOutput(o.output, inputs, "horodex stamp", err); code != kExitOk) {
    return code;
  }
  // With -o - the response goes to standard output, and the report to standard error.
  std::ostream& report = o.output == "-" ? err : out;
  try {
    CRequest request;
    CertContextPtr clientCert;
    if (const int code = ApplyRequestOptions(request, o.request, clientCert, "horodex stamp", err);
        code != kExitOk) {
      return code;
    }
    if (!o.hash.empty()) {
      const std::string oid = HashOid(o.hash);
      if (oid.empty()) {
        err << "horodex stamp: unknown hash algorithm '" << o.hash << "'\n";
        return kExitUsage;
      }
      request.put_DataHashAlg(oid.c_str());
      WarnWeakHash(oid, "stamp", err);
    }
    if (!o.signature.empty()) {
      return StampSignature(o.signature, o.signers, request, o.request, o.output, o.json, out, err);
    }
    if (!HashFile(request, o.file, "stamp", err)) {
      return kExitFile;
    }
    const StampOutcome outcome = SendToTsas(request, o.request, "horodex stamp", err);
    if (outcome.stamp == nullptr) {
      if (!outcome.told) {
        outcome.failure.write(err, o.json);
      }
      return outcome.exit;
    }
    const CStamp& stamp = *outcome.stamp;
    if (!WriteOutput(o.output, request.get_Response())) {
      err << "horodex stamp: " << CannotWrite(o.output) << "\n";
      return kExitFile;
    }
    const CBlob tsaName = StampBytes(stamp, &CStamp::get_TSABlob);
    FieldList fields;
    fields.text("result", "Result", o.request.verify ? "verified" : "not verified (--no-verify)");
    fields.time("time", "Time", stamp.get_Time());
    fields.text("serialNumber", "Serial number",
                StampBytes(stamp, &CStamp::get_SerialNumber).writeToHexString(0).str());
    fields.optionalText("tsa", "TSA", tsaName.empty() ? "" : P::WideToUtf8(stamp.get_TSA()));
    fields.text("policy", "Policy", stamp.get_PolicyID());
    fields.text("tsaUrl", "Answered by", outcome.answeredBy);
    fields.text("output", "Written to", o.output);
    fields.alwaysInJson({"revocation"});  // null when the stamp was not verified
    AddRevocation(fields, outcome.revocation);
    fields.write(report, o.json);
    return kExitOk;
  } catch (const P::CAtlException& e) {
    err << "horodex stamp: cannot make the request (" << ErrorText(e) << ")\n";
    return kExitBadMessage;
  }
}

}  // namespace Horodex
