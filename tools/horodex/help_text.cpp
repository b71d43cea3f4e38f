// Every command's help text, and which options take a value by it.
#include "tools/horodex/help_text.h"

#include <utility>

namespace Horodex {

const char* const kOverview =
    "usage: horodex [-q] COMMAND [OPTIONS] ...\n"
    "       horodex --version | --help | help COMMAND\n"
    "\n"
    "  show          decode a request (.tsq), response or token (.tsr) and print its fields\n"
    "  query         make a time-stamp request for a file or a hash value\n"
    "  stamp         get a verified time stamp for a file from a TSA (several TSAs: failover)\n"
    "  verify        check stamps: data, TSA certificate, signature and chain\n"
    "  compare       which of two stamps came first, or that they cannot be ordered\n"
    "  authenticode  a legacy Authenticode time stamp for a signature's digest\n"
    "  view          show a request, stamp or signature's stamps in the viewer\n"
    "  proxy         which proxy an exchange with a URL would go through, and why\n"
    "  ers           evidence records (RFC 4998): many files under one stamp, verify, renew\n"
    "  renew         renew evidence records (horodex ers renew)\n"
    "\n"
    "  -q, --quiet   print nothing; the exit status tells the outcome (70: an internal\n"
    "                error of the tool or library, reported on one line with its code)\n"
    "  --version     the versions of horodex, its library, OpenSSL and libcurl\n"
    "\n"
    "Defaults for stamp, query and verify come from $XDG_CONFIG_HOME/velmora/horodex.conf;\n"
    "options on the command line win over them. See horodex(1).\n";

// The options of every command that sends a request (stamp, ers stamp, renew), one text for all.
#define HORODEX_REQUEST_OPTIONS                                                                 \
  "  --tsa URL         the TSA; given again, the next is tried after a transport failure, an\n" \
  "                    HTTP error, a TSA the policies forbid, or a refusal with badAlg,\n"      \
  "                    unacceptedPolicy, unacceptedExtension, systemFailure or\n"               \
  "                    timeNotAvailable\n"                                                      \
  "  --timeout SECONDS bound on the exchange with each TSA tried (up to 3600)\n"                \
  "  --policy OID      the TSA policy asked for\n"                                              \
  "  --no-nonce        no nonce in the request\n"                                               \
  "  --cert-req        ask for the TSA certificate in the stamp (the default; --no-cert-req:\n" \
  "                    do not)\n"                                                               \
  "  --no-verify       keep the stamp without checking signature and chain\n"                   \
  "  --ca CERTFILE     trust the roots of this file too (PEM or DER; repeatable)\n"             \
  "  --offline, --crl FILE   revocation of the chain as horodex verify checks it\n"             \
  "  --user U, --password P   credentials for the TSA\n"                                        \
  "  --auth TYPE       none, basic, digest, ntlm or negotiate (also --proxy-auth TYPE)\n"       \
  "  --proxy URL       the proxy; --proxy-user U, --proxy-password P: its credentials\n"        \
  "  --client-cert CERT, --client-key KEY   TLS client authentication\n"                        \
  "  --tls-ca PEMFILE  roots for the TSA's TLS certificate besides the system's\n"

namespace {

constexpr std::pair<std::string_view, const char*> kHelp[] = {
    {"show",
     "usage: horodex show [--json] FILE\n"
     "  decode a time-stamp request (.tsq), response or token (.tsr), DER or Base64 text, and\n"
     "  print its fields\n"
     "  --json            one JSON object instead of aligned text\n"},
    {"query",
     "usage: horodex query (FILE | --digest HEX) [--hash ALG] [--policy OID] [--no-nonce]\n"
     "                     [--cert-req | --no-cert-req] [--base64] -o OUT\n"
     "  make a time-stamp request for FILE, or for a hash value given in hex\n"
     "  --digest HEX      the hash value itself instead of a file\n"
     "  --hash ALG        hash algorithm: a dotted OID or a name such as sha256 (the default),\n"
     "                    sha384, sha512, sha224, sha512-256, sha3-256, sha3-512, streebog256,\n"
     "                    streebog512 or gost94\n"
     "  --policy OID      the TSA policy asked for\n"
     "  --no-nonce        no nonce in the request\n"
     "  --cert-req        ask for the TSA certificate in the stamp (the default; --no-cert-req:\n"
     "                    do not)\n"
     "  --base64          write Base64 text instead of DER\n"
     "  -o OUT            the request file to write ('-': standard output; FILE '-': input)\n"},
    {"stamp",
     "usage: horodex stamp FILE --tsa URL [--tsa URL]... [--timeout SECONDS] -o OUT.tsr\n"
     "                     [--hash ALG] [--policy OID] [--no-nonce] [--cert-req | --no-cert-req]\n"
     "                     [--no-verify] [--ca CERTFILE]... [--offline] [--crl FILE]... [--json]\n"
     "                     [--user U --password P] [--auth TYPE]\n"
     "                     [--proxy URL [--proxy-user U --proxy-password P] [--proxy-auth TYPE]]\n"
     "                     [--client-cert CERT --client-key KEY] [--tls-ca PEMFILE]\n"
     "  hash FILE, send the request, verify the stamp, write the TSA's response to OUT.tsr\n"
     "  -o OUT.tsr        the response file to write ('-': standard output; FILE '-': input)\n"
     "  --hash ALG        hash algorithm: a dotted OID or a name such as sha256 (the default),\n"
     "                    sha384, sha512, sha224, sha512-256, sha3-256, sha3-512, streebog256,\n"
     "                    streebog512 or gost94\n"
     "  --json            one JSON object instead of aligned text\n" HORODEX_REQUEST_OPTIONS
     "  --evidence        many files under one stamp, a record each (see horodex ers)\n"
     "  --signature SIG   stamp the signers of a CMS signature (.p7s: DER, BER or PEM) instead\n"
     "                    of a file; -o OUT.p7s gets the signature with the stamps added\n"
     "  --signer N        only the signer N (0 the first; repeatable)\n"},
    {"verify",
     "usage: horodex verify STAMP... (--data FILE | --digest HEX | --request REQ |\n"
     "                      --data-dir DIR | --signature-only) [--ca CERTFILE]...\n"
     "                      [--certs BUNDLE]... [--accept-ext OIDS|*] [--offline]\n"
     "                      [--crl FILE]... [--json]\n"
     "  check each stamp: it imports, matches its data, names a TSA certificate that is found,\n"
     "  is signed by it, and the certificate's chain ends in a trusted root at the stamp's time\n"
     "  --data FILE       the stamped file (one stamp only)\n"
     "  --digest HEX      the stamped hash value (one stamp only)\n"
     "  --request REQ     the request the stamp answers (one stamp only)\n"
     "  --data-dir DIR    for each STAMP, the file of DIR named as STAMP without its extension\n"
     "  --signature-only  no data: signature and chain alone, the imprint not checked and the\n"
     "                    stamp never called valid (one of these five is needed)\n"
     "  --ca CERTFILE     trust the roots of this file too (repeatable)\n"
     "  --certs BUNDLE    certificates to build the chain from (repeatable)\n"
     "  --accept-ext OIDS critical extensions accepted: ';'-separated OIDs, or *\n"
     "  a CMS signature (.p7s) as STAMP: each signer's signature, its time stamps and its\n"
     "  certificate's chain at the earliest stamp's time; --data FILE for a detached one\n"
     "  --offline         no revocation data from the network: the token's, --crl's, the store\n"
     "                    folders' and the cache's only\n"
     "  --crl FILE        CRLs (PEM or DER) for the chain's revocation check (repeatable)\n"
     "  --json            JSON instead of text\n"
     "  each certificate below the root gets a revocation line: status, source, update times\n"},
    {"ers",
     "usage: horodex ers stamp FILE... [--files-from LIST [-0]] --tsa URL [--tsa URL]...\n"
     "                         [--hash ALG] [--json] [REQUEST OPTIONS] -o DIR\n"
     "       horodex ers verify RECORD.ers... --data FILE [--ca CERTFILE]... [--json]\n"
     "       horodex ers renew RECORD.ers... --tsa URL [--hash ALG --data FILE...] [-o DIR]\n"
     "                         [--json] [REQUEST OPTIONS]\n"
     "       horodex ers show RECORD.ers [--json]\n"
     "  evidence records (RFC 4998): stamp hashes every file (in parallel, a progress line on a\n"
     "  terminal) into one hash tree, sends one request and writes DIR/NAME.ers for each file;\n"
     "  also `horodex stamp --evidence`, `horodex verify|show RECORD.ers`, `horodex renew`\n"
     "  --files-from LIST the files to stamp, one path a line (- for standard input)\n"
     "  -0                the paths of LIST are separated by NUL bytes instead\n"
     "  --hash ALG        the tree's hash algorithm (default sha256); for renew: hash-tree\n"
     "                    renewal with this new algorithm, each record's file given by --data\n"
     "  --data FILE       the data file the record is for\n"
     "  -o DIR            the folder for the records, made when missing (renew: instead of\n"
     "                    rewriting them)\n"
     "  --json            JSON objects instead of text (a record each for verify and renew)\n"
     "  REQUEST OPTIONS of stamp and renew, as horodex stamp takes "
     "them:\n" HORODEX_REQUEST_OPTIONS},
    {"renew",
     "usage: horodex renew RECORD.ers... --tsa URL [--hash ALG --data FILE...] [-o DIR]\n"
     "                     [--json] [REQUEST OPTIONS]\n"
     "  renew evidence records under one new time stamp: by time stamp (same algorithm), or\n"
     "  with --hash ALG by hash tree, each record's data file given by --data in order\n"
     "  --hash ALG        the new hash algorithm of a hash-tree renewal\n"
     "  --data FILE       the data file of each record, in the records' order\n"
     "  -o DIR            write the renewed records there (made when missing) instead of\n"
     "                    rewriting them\n"
     "  --json            a JSON object a record\n" HORODEX_REQUEST_OPTIONS},
    {"compare",
     "usage: horodex compare A.tsr B.tsr [--accuracy MICROSECONDS] [--json]\n"
     "  which of two stamps came first, or that they cannot be ordered\n"
     "  --accuracy MICROSECONDS   the accuracy of a stamp that states none\n"
     "  --json            one JSON object instead of text\n"},
    {"authenticode",
     "usage: horodex authenticode FILE [--url URL] [--timeout SECONDS] -o OUT\n"
     "  a legacy Authenticode time stamp for the bytes of FILE (a signature's encrypted digest)\n"
     "  --url URL         the time-stamp server (default: the DefaultMSTSPURL policy)\n"
     "  --timeout SECONDS bound on the exchange (up to 3600)\n"
     "  -o OUT            the server's PKCS #7 reply\n"},
    {"view",
     "usage: horodex view FILE\n"
     "  show a request (.tsq), a stamp (.tsr) or the stamps of a CMS signature (.p7s) in the\n"
     "  viewer, as horodex-view does\n"},
    {"proxy",
     "usage: horodex proxy URL [--json]\n"
     "  which proxy an exchange with URL would go through, and why\n"
     "  --json            one JSON object instead of text\n"},
};

}  // namespace

#undef HORODEX_REQUEST_OPTIONS

const char* CommandHelp(std::string_view command) {
  for (const auto& [name, help] : kHelp) {
    if (name == command) {
      return help;
    }
  }
  return nullptr;
}

bool TakesValue(std::string_view command, std::string_view option) {
  const char* help = CommandHelp(command);
  if (help == nullptr || !option.starts_with("-")) {
    return false;
  }
  const std::string_view text(help);
  for (std::size_t at = text.find(option); at != std::string_view::npos;
       at = text.find(option, at + 1)) {
    const std::size_t end = at + option.size();
    const bool starts =
        at == 0 || std::string_view(" [(|,").find(text[at - 1]) != std::string_view::npos;
    if (starts && end + 1 < text.size() && text[end] == ' ' && text[end + 1] >= 'A' &&
        text[end + 1] <= 'Z') {
      return true;
    }
  }
  return false;
}

}  // namespace Horodex
