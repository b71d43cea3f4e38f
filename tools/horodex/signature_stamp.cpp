// horodex stamp --signature: each chosen signer's signature stamped at the TSAs, and the message
// written only when every one of them was.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors/atl_exception.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/signature_command.h"
#include "tools/horodex/time_text.h"
#include "tools/horodex/tsa_exchange.h"

namespace Horodex {

using Velmora::CBlob;
namespace P = Velmora::Platform;
namespace Client = Velmora::PKI::TSP::Client;

int StampSignature(const std::string& path, const std::vector<std::size_t>& signers,
                   Client::CRequest& request, const RequestOptions& o, const std::string& output,
                   bool json, std::ostream& out, std::ostream& err) {
  const std::string who = "horodex stamp";
  const std::optional<CBlob> bytes = ReadWholeFile(path, who, err);
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
      FieldList fields;
      fields.number("index", "", static_cast<std::int64_t>(index));
      fields.optionalText("signer", "", name);
      fields.time("time", "", stamp.get_Time());
      fields.text("tsaUrl", "", outcome.answeredBy);
      lines.push_back(fields.json());
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
    FieldList fields;
    fields.text("result", "", o.verify ? "verified" : "not verified (--no-verify)");
    fields.text("output", "", output);
    fields.jsonMember("signers", JsonArray(lines));
    fields.writeJson(report);
  } else {
    for (const std::string& line : lines) {
      report << line << "\n";
    }
    report << "Written to: " << output << "\n";
  }
  return kExitOk;
}

}  // namespace Horodex
