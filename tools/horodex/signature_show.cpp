// What `horodex show` prints of a CMS signature: its content, its signers and their stamps.
#include <cstdint>
#include <string>
#include <vector>

#include "horodex/TSPStamp.h"
#include "platform/errors/atl_exception.h"
#include "platform/text/convert.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/signature_command.h"
#include "tools/horodex/time_text.h"

namespace Horodex {

using Velmora::CBlob;
namespace P = Velmora::Platform;
namespace Client = Velmora::PKI::TSP::Client;

FieldList DescribeSignature(const Client::CSignedMessage& message) {
  FieldList fields;
  fields.text("type", "Type", "CMS signature");
  fields.algorithm("contentType", "Content type", message.get_ContentType());
  fields.text("content", "Content", message.get_IsDetached() ? "detached" : "attached");
  std::string text;
  std::vector<std::string> signers;
  for (std::size_t i = 0; i < message.get_SignerCount(); ++i) {
    const std::string name = message.get_SignerName(i);
    text += (i == 0 ? "" : "\n") + SignerLabel(i, name);
    std::vector<CBlob> tokens;
    try {
      tokens = message.get_TimeStamps(i);
    } catch (const P::CAtlException& e) {
      text += "\n  stamps: cannot be read (" + ErrorText(e.hr()) + ")";
    }
    std::vector<std::string> stamps;
    for (std::size_t n = 0; n < tokens.size(); ++n) {
      std::string stampText = "\n  stamp " + std::to_string(n + 1) + ": ";
      FieldList stampFields;
      stampFields.alwaysInJson({"time", "tsa", "hashAlgorithm"});  // null: it cannot be read
      try {
        Client::CStamp stamp;
        stamp.Import(tokens[n].pbData(), static_cast<unsigned long>(tokens[n].cbData()), nullptr);
        const std::string tsa = P::WideToUtf8(stamp.get_TSA());
        stampText += TimeText(stamp.get_Time()) + (tsa.empty() ? "" : ", " + tsa) + ", " +
                     OidName(stamp.get_DataHashAlgOID());
        stampFields.time("time", "", stamp.get_Time());
        stampFields.optionalText("tsa", "", tsa);
        stampFields.algorithm("hashAlgorithm", "", stamp.get_DataHashAlgOID());
      } catch (const P::CAtlException& e) {
        stampText += "cannot be read (" + ErrorText(e.hr()) + ")";
      }
      text += stampText;
      stamps.push_back(stampFields.json());
    }
    if (tokens.empty()) {
      text += "\n  stamps: none";
    }
    FieldList signer;
    signer.number("index", "", static_cast<std::int64_t>(i));
    signer.optionalText("signer", "", name);
    signer.jsonMember("stamps", JsonArray(stamps));
    signers.push_back(signer.json());
  }
  fields.number("signerCount", "Signer count",
                static_cast<std::int64_t>(message.get_SignerCount()));
  fields.structured("signers", "Signers", text, JsonArray(signers));
  return fields;
}

}  // namespace Horodex
