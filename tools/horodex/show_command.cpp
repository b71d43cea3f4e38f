// horodex show: the fields of a request, a response, a token or a CMS signature.
#include "tools/horodex/show_command.h"

#include <cstdio>
#include <ctime>

#include "codec/stampmsg/request.h"
#include "codec/stampmsg/response.h"
#include "codec/stampmsg/token.h"
#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"
#include "platform/errors/atl_exception.h"
#include "platform/text/convert.h"
#include "support/error_messages.h"
#include "support/oid_info.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/message_file.h"
#include "tools/horodex/option_reader.h"
#include "tools/horodex/signature_command.h"
#include "tools/horodex/status_name.h"
#include "tools/horodex/tsa_name_check.h"

namespace Horodex {
namespace {

using Velmora::CBlob;
namespace ASN1 = Velmora::ASN1;
namespace TSP = Velmora::PKI::TSP;
namespace Client = Velmora::PKI::TSP::Client;

std::string Hex(const CBlob& blob) {
  return blob.writeToHexString(0).str();
}

void AddExtensions(FieldList& fields, const ASN1::CExtensions* extensions) {
  if (extensions == nullptr) {
    return;  // null in JSON: every kind lists "extensions" among its members
  }
  std::string text;
  for (const ASN1::CExtension& e : *extensions) {
    text += (text.empty() ? "" : ", ") + std::string(e.get_extnID()) +
            (e.get_critical() ? " (critical)" : "");
  }
  fields.text("extensions", "Extensions", text);
}

std::int64_t CountCertificates(void* store) {
  std::int64_t count = 0;
  Velmora::Platform::PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = Velmora::Platform::CertEnumCertificatesInStore(store, certificate)) !=
         nullptr) {
    ++count;
  }
  return count;
}

// The token's fields as the imported stamp holds them. `token` is the same token decoded by the
// codec, for what a stamp does not keep: the version, the nonce's value, the signer's algorithm
// and the extensions.
void DescribeToken(FieldList& fields, const Client::CStamp& stamp, const TSP::CToken& token) {
  fields.number("version", "Version", token.get_version());
  fields.text("policy", "Policy", stamp.get_PolicyID());
  fields.time("time", "Time", stamp.get_Time());
  if (stamp.get_Accuracy() != -1) {
    fields.number("accuracyMicroseconds", "Accuracy (µs)", stamp.get_Accuracy());
  } else {
    fields.absent("accuracyMicroseconds", "Accuracy");
  }
  fields.flag("ordering", "Ordering", stamp.get_Ordering());
  fields.text("serialNumber", "Serial number",
              Hex(StampBytes(stamp, &Client::CStamp::get_SerialNumber)));
  fields.optionalText(
      "nonce", "Nonce",
      stamp.get_HasNonce() && token.get_nonce() != nullptr ? Hex(*token.get_nonce()) : "");
  fields.optionalText("tsa", "TSA",
                      StampBytes(stamp, &Client::CStamp::get_TSABlob).empty()
                          ? ""
                          : Velmora::Platform::WideToUtf8(stamp.get_TSA()));
  std::string warning;
  try {
    warning = TsaNameWarning(stamp, stamp.get_TSACertificate(nullptr, 0));
  } catch (const Velmora::Platform::CAtlException&) {
    // No certificate to hold the name against: nothing is said of it (show judges nothing).
  }
  if (!warning.empty()) {
    fields.text("warning", "Warning", warning);  // else null in JSON, and no line
  }
  fields.algorithm("hashAlgorithm", "Hash algorithm", stamp.get_DataHashAlgOID());
  fields.text("hashValue", "Hash value", Hex(StampBytes(stamp, &Client::CStamp::get_DataHash)));
  fields.number("certificates", "Certificates", CountCertificates(stamp.get_Certificates()));
  fields.algorithm("signatureAlgorithm", "Signature algorithm",
                   token.get_signerInfo().get_signatureAlgorithm().get_algorithm());
  AddExtensions(fields, token.get_extensions());
}

// The token of an imported message, decoded by the codec: a response's, or the bare token.
TSP::CToken TokenOf(const CBlob& bytes, bool fromResponse) {
  if (fromResponse) {
    TSP::CResponse response;
    response.decode(bytes);
    return *response.get_timeStampToken();
  }
  TSP::CToken token;
  token.decode(bytes);
  return token;
}

void DescribeStamp(FieldList& fields, const Client::CStamp& stamp, const CBlob& bytes) {
  bool fromResponse = true;
  try {
    (void)stamp.get_Status();
  } catch (const Velmora::Platform::CAtlException&) {
    fromResponse = false;  // a bare token has no status
  }
  // A token, a granted and a refused response have the same members in JSON; what one of them
  // does not hold is null.
  fields.alwaysInJson({"status", "statusName", "statusText", "failureInfo", "version", "policy",
                       "time", "accuracyMicroseconds", "ordering", "serialNumber", "nonce", "tsa",
                       "warning", "hashAlgorithm", "hashValue", "certificates",
                       "signatureAlgorithm", "extensions"});
  if (!fromResponse) {
    fields.text("type", "Type", "time-stamp token");
    DescribeToken(fields, stamp, TokenOf(bytes, false));
    return;
  }
  fields.text("type", "Type", "time-stamp response");
  fields.number("status", "Status", stamp.get_Status());
  fields.text("statusName", "Status name", StatusName(stamp.get_Status()));
  fields.optionalText("statusText", "Status text",
                      Velmora::Platform::WideToUtf8(stamp.get_StatusString()));
  AddFailInfoNames(fields, "failureInfo", "Failure info", stamp.get_FailInfo());
  if (stamp.get_Status() <= 1) {
    DescribeToken(fields, stamp, TokenOf(bytes, true));
  }
}

void DescribeRequest(FieldList& fields, const TSP::CRequest& request) {
  fields.text("type", "Type", "time-stamp request");
  fields.number("version", "Version", request.get_version());
  fields.algorithm("hashAlgorithm", "Hash algorithm", request.get_hashAlgorithm().get_algorithm());
  fields.text("hashValue", "Hash value", Hex(request.get_hashedMessage()));
  fields.optionalText("policy", "Policy",
                      request.get_reqPolicy() != nullptr ? request.get_reqPolicy() : "");
  fields.optionalText("nonce", "Nonce",
                      request.get_nonce() != nullptr ? Hex(*request.get_nonce()) : "");
  fields.flag("certReq", "Certificate requested", request.get_certReq());
  fields.alwaysInJson({"extensions"});
  AddExtensions(fields, request.get_extensions());
}

}  // namespace

CBlob StampBytes(const Client::CStamp& stamp,
                 void (Client::CStamp::*get)(unsigned char*, unsigned long*) const) {
  unsigned long length = 0;
  (stamp.*get)(nullptr, &length);
  CBlob bytes(length);
  (stamp.*get)(bytes.pbData(), &length);
  return bytes;
}

std::string FailInfoNames(unsigned int bits) {
  struct Name {
    unsigned bit;
    const char* text;
  };
  static constexpr Name kNames[] = {{0, "badAlg"},
                                    {2, "badRequest"},
                                    {5, "badDataFormat"},
                                    {14, "timeNotAvailable"},
                                    {15, "unacceptedPolicy"},
                                    {16, "unacceptedExtension"},
                                    {17, "addInfoNotAvailable"},
                                    {25, "systemFailure"}};
  if (bits == 0) {
    return "none";
  }
  std::string text;
  for (unsigned bit = 0; bit < 32; ++bit) {
    if ((bits >> bit & 1u) == 0) {
      continue;
    }
    std::string name = "bit " + std::to_string(bit);
    for (const Name& n : kNames) {
      if (n.bit == bit) {
        name = n.text;
      }
    }
    text += (text.empty() ? "" : ", ") + name;
  }
  return text;
}

void AddFailInfoNames(FieldList& fields, std::string key, std::string label, unsigned int bits) {
  if (bits == 0) {
    fields.structured(std::move(key), std::move(label), FailInfoNames(bits), "null");
  } else {
    fields.text(std::move(key), std::move(label), FailInfoNames(bits));
  }
}

FieldList DescribeMessage(const CBlob& bytes) {
  FieldList fields;
  Client::CStamp stamp;
  try {
    stamp.Import(bytes.pbData(), bytes.cbData(), nullptr);
  } catch (const Velmora::Platform::CAtlException& importFailure) {
    // Not a response or token: perhaps a signature or a request. If not, the import's verdict is
    // reported.
    if (const auto signature = SignatureOf(bytes)) {
      return DescribeSignature(*signature);
    }
    try {
      TSP::CRequest request;
      request.decode(bytes);
      DescribeRequest(fields, request);
      return fields;
    } catch (const Velmora::Platform::CAtlException&) {
      throw importFailure;
    }
  }
  DescribeStamp(fields, stamp, bytes);
  return fields;
}

int RunShow(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool json = false;
  std::string path;
  OptionReader reader(
      "horodex show", err,
      {.unknownOption = "unexpected argument '{}'", .form = OptionForm::DoubleDash});
  reader.flag("--json", json);
  reader.operand(path);
  if (!reader.read(args)) {
    return kExitUsage;
  }
  if (path.empty()) {
    err << "usage: horodex show [--json] FILE\n";
    return kExitUsage;
  }
  CBlob bytes;
  try {
    bytes = ReadMessageBytes(path);
  } catch (const Velmora::Platform::CAtlException& e) {
    err << "horodex show: " << CannotRead(path, ErrorText(e)) << "\n";
    return kExitFile;
  }
  try {
    const FieldList fields = DescribeMessage(bytes);
    fields.write(out, json);
    return kExitOk;
  } catch (const Velmora::Platform::CAtlException& e) {
    err << "horodex show: cannot read " << path << " as a time-stamp request, response or token ("
        << ErrorText(e) << ")\n";
    return kExitBadMessage;
  }
}

}  // namespace Horodex
