// The reader of `horodex verify`'s options, and the checks of what they give together.
#include "tools/horodex/verify_options.h"

#include <sstream>
#include <utility>

#include "tools/horodex/hex_text.h"
#include "tools/horodex/option_reader.h"

namespace Horodex {

namespace {

constexpr const char* kUsage =
    "usage: horodex verify STAMP... (--data FILE | --digest HEX | --request REQ |\n"
    "                      --data-dir DIR | --signature-only) [--ca CERTFILE]...\n"
    "                      [--certs BUNDLE]... [--accept-ext OIDS|*] [--offline]\n"
    "                      [--crl FILE]... [--json]\n";

// The reader of verify's options into `o`; `sources` counts the data options.
OptionReader VerifyReader(VerifyOptions& o, int& sources, std::ostream& err) {
  OptionReader reader("horodex verify", err,
                      {.unknownOption = "unexpected argument '{}'",
                       .missingValue = "unexpected argument '{}'",
                       .usage = kUsage,
                       .form = OptionForm::AnyDash});
  reader.flags(
      {{"--signature-only", &o.signatureOnly}, {"--json", &o.json}, {"--offline", &o.offline}});
  for (auto& [name, into] : {std::pair<const char*, std::string*>{"--data", &o.dataPath},
                             {"--digest", &o.digestHex},
                             {"--request", &o.requestPath},
                             {"--data-dir", &o.dataDir}}) {
    reader.value(name, [&sources, into = into](const std::string& value) {
      *into = value;
      ++sources;
      return true;
    });
  }
  reader.values({{"--ca", &o.caFiles}, {"--certs", &o.bundles}, {"--crl", &o.crlFiles}});
  reader.value("--accept-ext", [&o](const std::string& value) {
    o.acceptExtensions = value;
    o.hasAccept = true;
    return true;
  });
  reader.operands(o.stamps);
  return reader;
}

}  // namespace

bool ReadVerifyOptions(const std::vector<std::string>& args, VerifyOptions& o, std::ostream& err) {
  int sources = 0;
  if (!VerifyReader(o, sources, err).read(args)) {
    return false;
  }
  if (o.stamps.empty() || sources > 1) {
    err << (sources > 1 ? "horodex verify: give at most one of --data, --digest, --request and "
                          "--data-dir\n"
                        : "")
        << kUsage;
    return false;
  }
  // A stamp says something only of the data it was made for: no verdict without it.
  if (sources == 0 && !o.signatureOnly) {
    err << "horodex verify: give the stamped data (--data FILE, --data-dir DIR, --digest HEX or "
           "--request REQ); --signature-only checks the signature and the chain alone\n"
        << kUsage;
    return false;
  }
  if (sources != 0 && o.signatureOnly) {
    err << "horodex verify: --signature-only checks no data; give it without --data, --digest, "
           "--request and --data-dir\n";
    return false;
  }
  if (o.stamps.size() > 1 && sources == 1 && o.dataDir.empty()) {
    err << "horodex verify: --data, --digest and --request are for one stamp; give several "
           "stamps their data with --data-dir\n";
    return false;
  }
  if (!o.digestHex.empty() && !ParseHex(o.digestHex, o.digest)) {
    err << "horodex verify: --digest takes the hash value as an even number of hex digits\n";
    return false;
  }
  return true;
}

std::vector<std::string> VerifyOperands(const std::vector<std::string>& args) {
  VerifyOptions unused;
  int sources = 0;
  std::ostringstream quiet;
  return VerifyReader(unused, sources, quiet).operandsOf(args);
}

}  // namespace Horodex
