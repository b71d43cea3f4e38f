#include "tools/horodex/signature_command.h"

#include <cstdio>
#include <string_view>

#include "codec/corekit/datetime.h"
#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/text/atl_exception.h"
#include "platform/text/convert.h"
#include "support/error_messages.h"
#include "support/errors.h"
#include "tools/horodex/certificate_bundle.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/option_reader.h"
#include "tools/horodex/revocation_report.h"
#include "tools/horodex/terminal.h"
#include "tools/horodex/time_text.h"
#include "tools/horodex/trusted_roots.h"
#include "tools/horodex/tsa_exchange.h"
#include "tools/horodex/user_settings.h"

namespace Horodex {
namespace {

using Velmora::CBlob;
namespace P = Velmora::Platform;
namespace Client = Velmora::PKI::TSP::Client;

constexpr std::string_view kTstInfo = "1.2.840.113549.1.9.16.1.4";

constexpr const char* kVerifyUsage =
    "usage: horodex verify SIGNATURE [--data FILE] [--ca CERTFILE]... [--certs BUNDLE]...\n"
    "                      [--crl FILE]... [--offline] [--json]\n"
    "       --data: the signed file of a detached signature\n";

std::string CodeText(P::HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  return code;
}

std::string Message(P::HRESULT hr) {
  return P::WideToNarrow(Velmora::Support::GetErrorMessage(hr));
}

// "signer 1 (CN=Alice)"
std::string SignerLabel(std::size_t index, const std::string& name) {
  return "signer " + std::to_string(index) + (name.empty() ? "" : " (" + name + ")");
}

std::optional<CBlob> ReadWhole(const std::string& path, const std::string& who, std::ostream& err) {
  std::optional<std::vector<unsigned char>> bytes = ReadFileBytes(path);
  if (!bytes) {
    err << who << ": " << CannotRead(path) << "\n";
    return std::nullopt;
  }
  return CBlob(std::move(*bytes));
}

// ---------------------------------------------------------------------------------------------
// Verification report

// {"result": ..., "code": ..., "message": ...} of one verdict, followed by `more` members.
std::string JsonVerdict(P::HRESULT hr, const std::string& more = {}) {
  const bool ok = hr == P::S_OK;
  return std::string("{\"result\": ") + (ok ? "\"ok\"" : "\"failed\"") +
         ", \"code\": " + (ok ? "null" : JsonQuote(CodeText(hr))) +
         ", \"message\": " + (ok ? "null" : JsonQuote(Message(hr))) + more + "}";
}

std::string TextVerdict(P::HRESULT hr, bool colour) {
  if (hr == P::S_OK) {
    return Paint("ok", Colour::Green, colour);
  }
  return Paint("failed", Colour::Red, colour) + " " + CodeText(hr) + " " + Message(hr);
}

void WriteSignatureText(const Client::CSignatureReport& report, bool colour, std::ostream& out) {
  for (const Client::CSignerCheck& signer : report.signers) {
    out << SignerLabel(signer.index, signer.signer) << ": "
        << (signer.result() == P::S_OK ? Paint("valid", Colour::Green, colour)
                                       : Paint("not valid", Colour::Red, colour))
        << "\n  signature: " << TextVerdict(signer.signature, colour) << "\n";
    for (std::size_t i = 0; i < signer.stamps.size(); ++i) {
      const Client::CSignatureStampCheck& stamp = signer.stamps[i];
      out << "  stamp " << i + 1 << ": " << TextVerdict(stamp.result, colour);
      if (stamp.hasTime) {
        out << " (" << TimeText(stamp.genTime) << (stamp.tsa.empty() ? "" : ", " + stamp.tsa)
            << ")";
      }
      out << "\n";
    }
    if (signer.stamps.empty()) {
      out << "  stamp: none\n";
    }
    out << "  signer's chain: " << TextVerdict(signer.chain, colour) << " (judged at "
        << TimeText(signer.chainTime)
        << (signer.chainAtStampTime ? ", the earliest stamp's time" : ", now: no stamp verified")
        << ")\n";
  }
}

void WriteSignatureJson(const Client::CSignatureReport& report, const Client::CSignedMessage& m,
                        std::ostream& out) {
  out << "{\"valid\": " << (report.result() == P::S_OK ? "true" : "false")
      << ", \"type\": \"signature\", \"content\": "
      << (m.get_IsDetached() ? "\"detached\"" : "\"attached\"") << ", \"signers\": [";
  for (std::size_t n = 0; n < report.signers.size(); ++n) {
    const Client::CSignerCheck& signer = report.signers[n];
    out << (n == 0 ? "" : ", ") << "{\"index\": " << signer.index
        << ", \"signer\": " << JsonQuoteOrNull(signer.signer)
        << ", \"valid\": " << (signer.result() == P::S_OK ? "true" : "false")
        << ", \"signature\": " << JsonVerdict(signer.signature) << ", \"chain\": "
        << JsonVerdict(signer.chain, ", \"judgedAt\": " + JsonQuote(JsonTime(signer.chainTime)) +
                                         ", \"judgedAtStampTime\": " +
                                         (signer.chainAtStampTime ? "true" : "false"))
        << ", \"stamps\": [";
    for (std::size_t i = 0; i < signer.stamps.size(); ++i) {
      const Client::CSignatureStampCheck& stamp = signer.stamps[i];
      out << (i == 0 ? "" : ", ")
          << JsonVerdict(
                 stamp.result,
                 ", \"time\": " + (stamp.hasTime ? JsonQuote(JsonTime(stamp.genTime)) : "null") +
                     ", \"tsa\": " + JsonQuoteOrNull(stamp.tsa) + ", \"hashAlgorithm\": " +
                     (stamp.hashOid.empty() ? "null" : JsonAlgorithm(stamp.hashOid)));
    }
    out << "]}";
  }
  out << "]}\n";
}

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

std::optional<Client::CSignedMessage> SignatureOf(const CBlob& bytes) {
  try {
    Client::CSignedMessage message(bytes.pbData(), bytes.cbData());
    if (message.get_ContentType() != kTstInfo) {
      return message;
    }
  } catch (const P::CAtlException&) {
    // Not a signature: the caller reads the bytes as something else.
  }
  return std::nullopt;
}

int StampSignature(const std::string& path, const std::vector<std::size_t>& signers,
                   Client::CRequest& request, const RequestOptions& o, const std::string& output,
                   bool json, std::ostream& out, std::ostream& err) {
  const std::string who = "horodex stamp";
  const std::optional<CBlob> bytes = ReadWhole(path, who, err);
  if (!bytes) {
    return kExitFile;
  }
  std::optional<Client::CSignedMessage> message;
  try {
    message.emplace(bytes->pbData(), bytes->cbData());
  } catch (const P::CAtlException& e) {
    err << who << ": " << path << " is not a CMS signature (" << ErrorText(e.hr()) << ")\n";
    return kExitBadMessage;
  }
  std::vector<std::size_t> chosen = signers;
  if (chosen.empty()) {
    for (std::size_t i = 0; i < message->get_SignerCount(); ++i) {
      chosen.push_back(i);
    }
  }
  std::ostream& report = output == "-" ? err : out;
  std::vector<std::string> lines;  // one JSON object per signer
  for (const std::size_t index : chosen) {
    std::string name;
    try {
      name = message->get_SignerName(index);
      message->PutSignatureHash(index, request);
    } catch (const P::CAtlException& e) {
      err << who << ": " << SignerLabel(index, name) << ": cannot be stamped (" << ErrorText(e.hr())
          << "); nothing written\n";
      return kExitBadMessage;
    }
    const StampOutcome outcome = SendToTsas(request, o, who, err);
    if (outcome.stamp == nullptr) {
      err << who << ": " << SignerLabel(index, name) << ": not stamped; nothing written\n";
      if (!outcome.told) {
        outcome.failure.write(err, json);
      }
      return outcome.exit;
    }
    try {
      const CBlob response = request.get_Response();
      message->AddTimeStamp(index, response.pbData(),
                            static_cast<unsigned long>(response.cbData()));
    } catch (const P::CAtlException& e) {
      err << who << ": " << SignerLabel(index, name) << ": the stamp cannot be added ("
          << ErrorText(e.hr()) << "); nothing written\n";
      return kExitBadReply;
    }
    const Client::CStamp& stamp = *outcome.stamp;
    if (json) {
      lines.push_back("{\"index\": " + std::to_string(index) +
                      ", \"signer\": " + JsonQuoteOrNull(name) +
                      ", \"time\": " + JsonQuote(JsonTime(stamp.get_Time())) +
                      ", \"tsaUrl\": " + JsonQuote(outcome.answeredBy) + "}");
    } else {
      lines.push_back(SignerLabel(index, name) + ": stamped at " + TimeText(stamp.get_Time()) +
                      " by " + outcome.answeredBy);
    }
  }
  if (!WriteOutput(output, message->Export())) {
    err << who << ": " << CannotWrite(output) << "\n";
    return kExitFile;
  }
  if (json) {
    report << "{\"result\": " << (o.verify ? "\"verified\"" : "\"not verified (--no-verify)\"")
           << ", \"output\": " << JsonQuote(output) << ", \"signers\": [";
    for (std::size_t i = 0; i < lines.size(); ++i) {
      report << (i == 0 ? "" : ", ") << lines[i];
    }
    report << "]}\n";
  } else {
    for (const std::string& line : lines) {
      report << line << "\n";
    }
    report << "Written to: " << output << "\n";
  }
  return kExitOk;
}

int RunVerifySignature(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::string who = "horodex verify";
  VerifySignatureOptions o;
  if (!ParseVerify(args, o, err)) {
    return kExitUsage;
  }
  const std::optional<UserSettings> settings = LoadUserSettings("verify", err);
  if (!settings) {
    return kExitFile;
  }
  if (o.caFiles.empty()) {
    o.caFiles = settings->caFiles;
  }
  if (!TrustRootFiles(o.caFiles, who, err)) {
    return kExitFile;
  }
  const std::optional<CBlob> bytes = ReadWhole(o.signature, who, err);
  std::optional<CBlob> data;
  if (!o.data.empty()) {
    data = ReadWhole(o.data, who, err);
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

FieldList DescribeSignature(const Client::CSignedMessage& message) {
  FieldList fields;
  fields.text("type", "Type", "CMS signature");
  fields.algorithm("contentType", "Content type", message.get_ContentType());
  fields.text("content", "Content", message.get_IsDetached() ? "detached" : "attached");
  std::string text;
  std::string json = "[";
  for (std::size_t i = 0; i < message.get_SignerCount(); ++i) {
    const std::string name = message.get_SignerName(i);
    text += (i == 0 ? "" : "\n") + SignerLabel(i, name);
    json += std::string(i == 0 ? "" : ", ") + "{\"index\": " + std::to_string(i) +
            ", \"signer\": " + JsonQuoteOrNull(name) + ", \"stamps\": [";
    std::vector<CBlob> tokens;
    try {
      tokens = message.get_TimeStamps(i);
    } catch (const P::CAtlException& e) {
      text += "\n  stamps: cannot be read (" + ErrorText(e.hr()) + ")";
    }
    for (std::size_t n = 0; n < tokens.size(); ++n) {
      std::string stampText = "\n  stamp " + std::to_string(n + 1) + ": ";
      std::string stampJson = "{\"time\": null, \"tsa\": null, \"hashAlgorithm\": null}";
      try {
        Client::CStamp stamp;
        stamp.Import(tokens[n].pbData(), static_cast<unsigned long>(tokens[n].cbData()), nullptr);
        const std::string tsa = P::WideToUtf8(stamp.get_TSA());
        stampText += TimeText(stamp.get_Time()) + (tsa.empty() ? "" : ", " + tsa) + ", " +
                     OidName(stamp.get_DataHashAlgOID());
        stampJson = "{\"time\": " + JsonQuote(JsonTime(stamp.get_Time())) +
                    ", \"tsa\": " + JsonQuoteOrNull(tsa) +
                    ", \"hashAlgorithm\": " + JsonAlgorithm(stamp.get_DataHashAlgOID()) + "}";
      } catch (const P::CAtlException& e) {
        stampText += "cannot be read (" + ErrorText(e.hr()) + ")";
      }
      text += stampText;
      json += (n == 0 ? "" : ", ") + stampJson;
    }
    if (tokens.empty()) {
      text += "\n  stamps: none";
    }
    json += "]}";
  }
  json += "]";
  fields.number("signerCount", "Signer count",
                static_cast<std::int64_t>(message.get_SignerCount()));
  fields.structured("signers", "Signers", text, json);
  return fields;
}

}  // namespace Horodex
