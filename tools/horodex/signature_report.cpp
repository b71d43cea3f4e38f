// What `horodex verify` prints of a CMS signature, as text and as JSON (through FieldList).
#include "tools/horodex/signature_report.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/capi/wincrypt.h"
#include "platform/errors/winerror.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/signature_command.h"
#include "tools/horodex/terminal.h"
#include "tools/horodex/time_text.h"

namespace Horodex {

namespace P = Velmora::Platform;
namespace Client = Velmora::PKI::TSP::Client;

namespace {

// "result", "code" and "message" of one verdict; the code and its message only of a failure.
void AddVerdict(FieldList& fields, P::HRESULT hr) {
  const bool ok = hr == P::S_OK;
  fields.text("result", "", ok ? "ok" : "failed");
  if (ok) {
    fields.absent("code", "");
    fields.absent("message", "");
  } else {
    fields.text("code", "", CodeText(hr));
    fields.text("message", "", ErrorMessage(hr));
  }
}

std::string StampJson(const Client::CSignatureStampCheck& stamp) {
  FieldList fields;
  AddVerdict(fields, stamp.result);
  if (stamp.hasTime) {
    fields.time("time", "", stamp.genTime);
  } else {
    fields.absent("time", "");
  }
  fields.optionalText("tsa", "", stamp.tsa);
  if (stamp.hashOid.empty()) {
    fields.absent("hashAlgorithm", "");
  } else {
    fields.algorithm("hashAlgorithm", "", stamp.hashOid);
  }
  return fields.json();
}

std::string SignerJson(const Client::CSignerCheck& signer) {
  FieldList signature, chain;
  AddVerdict(signature, signer.signature);
  AddVerdict(chain, signer.chain);
  chain.time("judgedAt", "", signer.chainTime);
  chain.flag("judgedAtStampTime", "", signer.chainAtStampTime);
  std::vector<std::string> stamps;
  for (const Client::CSignatureStampCheck& stamp : signer.stamps) {
    stamps.push_back(StampJson(stamp));
  }
  FieldList fields;
  fields.number("index", "", static_cast<std::int64_t>(signer.index));
  fields.optionalText("signer", "", signer.signer);
  fields.flag("valid", "", signer.result() == P::S_OK);
  fields.jsonMember("signature", signature.json());
  fields.jsonMember("chain", chain.json());
  fields.jsonMember("stamps", JsonArray(stamps));
  return fields.json();
}

std::string TextVerdict(P::HRESULT hr, bool colour) {
  if (hr == P::S_OK) {
    return Paint("ok", Colour::Green, colour);
  }
  return Paint("failed", Colour::Red, colour) + " " + CodeText(hr) + " " + ErrorMessage(hr);
}

}  // namespace

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
  std::vector<std::string> signers;
  for (const Client::CSignerCheck& signer : report.signers) {
    signers.push_back(SignerJson(signer));
  }
  FieldList fields;
  fields.flag("valid", "", report.result() == P::S_OK);
  fields.text("type", "", "signature");
  fields.text("content", "", m.get_IsDetached() ? "detached" : "attached");
  fields.jsonMember("signers", JsonArray(signers));
  fields.writeJson(out);
}

}  // namespace Horodex
