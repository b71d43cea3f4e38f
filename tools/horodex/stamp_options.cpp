// The reader of `horodex stamp`'s options.
#include "tools/horodex/stamp_options.h"

#include <cstdlib>

#include "tools/horodex/option_reader.h"

namespace Horodex {

namespace {

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

}  // namespace

bool ReadStampOptions(const std::vector<std::string>& args, StampOptions& o, std::ostream& err) {
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

}  // namespace Horodex
