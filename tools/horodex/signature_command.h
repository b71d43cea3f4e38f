// CMS signatures and their time stamps in the tool: `horodex stamp --signature SIG`
// (signature_stamp.cpp), `horodex verify SIG [--data FILE]` (signature_verify.cpp) and
// `horodex show SIG` (signature_show.cpp), and what they share (signature_command.cpp).
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "codec/corekit/blob.h"
#include "horodex/SignatureStamp.h"
#include "horodex/TSPRequest.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/request_options.h"

namespace Horodex {

// "signer 1 (CN=Alice)"
std::string SignerLabel(std::size_t index, const std::string& name);

// The file's bytes; nothing after a message that starts with `who` when it cannot be read.
std::optional<Velmora::CBlob> ReadWholeFile(const std::string& path, const std::string& who,
                                            std::ostream& err);

// The message in `bytes` when it is a CMS signature (a SignedData whose content is not a
// TSTInfo), DER, BER or PEM; nothing otherwise.
std::optional<Velmora::PKI::TSP::Client::CSignedMessage> SignatureOf(const Velmora::CBlob& bytes);

// Stamps the signers of the signature file `path` (all when `signers` is empty) through
// `request` (options and hash algorithm applied) at the TSAs of `o`, and writes the stamped
// message to `output` only when every signer was stamped. The exit code.
int StampSignature(const std::string& path, const std::vector<std::size_t>& signers,
                   Velmora::PKI::TSP::Client::CRequest& request, const RequestOptions& o,
                   const std::string& output, bool json, std::ostream& out, std::ostream& err);

// `horodex verify SIG [--data FILE] [--ca FILE]... [--certs BUNDLE]... [--crl FILE]... [--offline]
// [--json]`. The exit code.
int RunVerifySignature(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The fields `horodex show` prints for a signature: content, signers and their stamps.
FieldList DescribeSignature(const Velmora::PKI::TSP::Client::CSignedMessage& message);

}  // namespace Horodex
