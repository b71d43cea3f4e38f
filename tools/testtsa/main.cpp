// horodex-testtsa: a small, honest time-stamping authority for the tests, the demo and the
// benchmarks, on OpenSSL's own responder. It listens on loopback only and prints the port it
// listens on as the first line of its standard output.
//
//   horodex-testtsa [--port N] [--bind 127.0.0.1|::1] [--dir DIR] [--tls]
//                   [--require-client-cert] [--tsa-cert FILE --tsa-key FILE --ca FILE]
//                   [--clock-offset SECONDS] [--user NAME] [--password TEXT] [--log FILE]
//                   [--watch-stdin] [--hostile MODE] [--key-type ec|gost2012-256|gost2012-512]
//                   [--revocation-info FILE]... [--keytab FILE] [--proxy]
//
// It makes a throwaway CA, TSA certificate, TLS server certificate (localhost, 127.0.0.1, ::1)
// and client certificates at start, and writes them to DIR when given (see pki.h), unless a TSA
// certificate and key are given. --tls serves HTTPS with the server certificate;
// --require-client-cert makes the TLS handshake demand a client certificate under the CA.
// --key-type gives the CA and the TSA keys of that type (default ec, P-256); the GOST types need
// Debian's gost engine and exclude --tls. --watch-stdin ends the server when its standard input
// reaches its end (a pipe from the program that started it; a terminal is not watched, so the
// server can run as a background job of an interactive shell); it also ends with its parent
// process. Over plain HTTP with its own PKI, the TSA certificate names the CA's CRL
// (GET /ca.crl) and OCSP responder (POST /ocsp) on the server's own port, which serves both;
// those requests are not logged.
//
// The segments of a request's path choose what it gets, from left to right (others are
// ignored, so "/" and "/tsa" are the plain TSA):
//   basic/ digest/ ntlm/     demand that authentication (user "tsa-user", password "tsa-pass"
//                            unless --user/--password) before going on
//   negotiate/               demand Negotiate: a Kerberos token for a service key of --keytab
//                            (HTTP/127.0.0.1, HTTP/localhost) goes on, with the mutual
//                            authentication token in the reply; anything else gets 401
//   offer/S1+S2/             answer 401 with one "WWW-Authenticate: S" header per scheme
//   status/N/                answer status N with an empty body (200 included)
//   reject/FAILINFO/         a TimeStampResp with status rejection and that failInfo (a bit
//                            number or a name: badAlg, badRequest, badDataFormat, ...)
//   token/                   the bare TimeStampToken instead of the TimeStampResp
//   othernonce/ nononce/     answer for the nonce plus one, or without a nonce
//   otherdata/               answer for another hash value (the request's, last byte flipped)
//   offset/S/                move genTime by S seconds (on top of --clock-offset)
//   precise/                 genTime to the microsecond (else to the millisecond)
//   slow/MS/                 wait MS milliseconds before going on
//   echo/                    answer 200 with the request's body
//   big/N/                   answer 200 with N bytes of a fixed pattern
//   garbage/                 answer 200 with bytes that are not DER
//   raw-garbage/             answer with bytes that are not HTTP, then close
//   endless/ trickle/        an endless chunked body, as fast as read / a byte every 200 ms
//   truncate/                promise 1000 bytes, send 500, close
//   reset/                   reset the connection after reading the request
//   close/                   close the connection without answering
//   silent/                  never answer (until the client leaves)
//   redirect/                answer 302 to "/"
//   authenticode/            an Authenticode time-stamp request: the Base64 text of a PKCS #7
//                            SignedData over the request's content (see authenticode.h); the
//                            log gets a line "authenticode=TARGET structure=... sent=HEX"
// --revocation-info FILE puts the DER CRL or OCSP response of FILE into every token's crls field.
// --proxy makes it a forward proxy instead (absolute-form requests and CONNECT, to loopback
// peers only) that wants Negotiate as --keytab allows (407 otherwise); a forwarded request
// carries "Via: 1.1 horodex-testtsa-proxy".
// --hostile MODE serves every connection as one of the misbehaving peers of hostile.h instead.
// Every request is logged to --log as one line of tab-separated name=value fields (the body as
// its length and, up to 1 KiB, as hex in "bodyhex").
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include <openssl/pem.h>

#include "authenticode.h"
#include "ca_revocation.h"
#include "hostile.h"
#include "pki.h"
#include "responder.h"
#include "server.h"

namespace {

constexpr const char* kUsage =
    "usage: horodex-testtsa [--port N] [--bind 127.0.0.1|::1] [--dir DIR] [--tls]\n"
    "                       [--require-client-cert] [--tsa-cert FILE --tsa-key FILE --ca FILE]\n"
    "                       [--clock-offset SECONDS] [--user NAME] [--password TEXT] [--log FILE]\n"
    "                       [--watch-stdin] [--hostile MODE]\n"
    "                       [--key-type ec|gost2012-256|gost2012-512]\n"
    "                       [--revocation-info FILE]... [--keytab FILE] [--proxy]\n"
    "  A local time-stamping authority for tests and demonstrations, never for production.\n"
    "  It listens on loopback, prints its port, and writes its throwaway CA (ca.pem), TSA and\n"
    "  client certificates to DIR. It serves the CA's CRL at /ca.crl and OCSP at /ocsp.\n"
    "  The segments of a request's path choose misbehaviours: basic/ digest/ ntlm/ negotiate/\n"
    "  (authentication as tsa-user/tsa-pass), status/N/, reject/FAILINFO/, token/, otherdata/,\n"
    "  othernonce/, nononce/, offset/S/, slow/MS/, garbage/, close/, silent/ and more.\n"
    "  --watch-stdin     stop when standard input (a pipe) ends\n"
    "  Stop it with Ctrl-C, or kill %1 for a background job.\n";

[[noreturn]] void Usage(const char* problem) {
  std::fprintf(stderr, "horodex-testtsa: %s\n%s", problem, kUsage);
  std::exit(2);
}

TestTsa::SslCtxPtr MakeTlsContext(const TestTsa::Pki& pki, bool requireClientCert) {
  TestTsa::SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
  TestTsa::Require(ctx != nullptr, "SSL_CTX_new");
  TestTsa::Require(SSL_CTX_use_certificate(ctx.get(), pki.server.cert.get()) == 1 &&
                       SSL_CTX_use_PrivateKey(ctx.get(), pki.server.key.get()) == 1 &&
                       SSL_CTX_add1_chain_cert(ctx.get(), pki.ca.cert.get()) == 1,
                   "server certificate");
  if (requireClientCert) {
    X509_STORE* store = SSL_CTX_get_cert_store(ctx.get());
    TestTsa::Require(X509_STORE_add_cert(store, pki.ca.cert.get()) == 1, "client CA");
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    // A client resuming its session (after a new connection, through a proxy's tunnel) is
    // otherwise refused with an internal-error alert.
    static const unsigned char kSessionContext[] = "horodex-testtsa";
    TestTsa::Require(
        SSL_CTX_set_session_id_context(ctx.get(), kSessionContext, sizeof kSessionContext - 1) == 1,
        "session id context");
    STACK_OF(X509_NAME)* names = sk_X509_NAME_new_null();
    TestTsa::Require(names != nullptr, "CA names");
    sk_X509_NAME_push(names, X509_NAME_dup(X509_get_subject_name(pki.ca.cert.get())));
    SSL_CTX_set_client_CA_list(ctx.get(), names);
  }
  return ctx;
}

int Main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  signal(SIGPIPE, SIG_IGN);

  TestTsa::ServerOptions options;
  std::string dir;
  std::string tsaCert;
  std::string tsaKey;
  std::string caFile;
  bool tls = false;
  bool requireClientCert = false;
  bool watchStdin = false;
  long clockOffset = 0;
  std::string hostile;
  TestTsa::KeyType keyType = TestTsa::KeyType::ec;
  std::vector<std::string> revocationFiles;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        Usage(("missing value after " + arg).c_str());
      }
      return argv[++i];
    };
    try {
      if (arg == "--help" || arg == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
      }
      if (arg == "--port") {
        options.port = std::stoi(value());
      } else if (arg == "--bind") {
        options.bind = value();
      } else if (arg == "--dir") {
        dir = value();
      } else if (arg == "--tls") {
        tls = true;
      } else if (arg == "--require-client-cert") {
        requireClientCert = true;
      } else if (arg == "--tsa-cert") {
        tsaCert = value();
      } else if (arg == "--tsa-key") {
        tsaKey = value();
      } else if (arg == "--ca") {
        caFile = value();
      } else if (arg == "--clock-offset") {
        clockOffset = std::stol(value());
      } else if (arg == "--user") {
        options.credentials.user = value();
      } else if (arg == "--password") {
        options.credentials.password = value();
      } else if (arg == "--log") {
        options.logFile = value();
      } else if (arg == "--hostile") {
        hostile = value();
      } else if (arg == "--key-type") {
        if (!TestTsa::ParseKeyType(value(), keyType)) {
          Usage("--key-type takes ec, gost2012-256 or gost2012-512");
        }
      } else if (arg == "--revocation-info") {
        revocationFiles.push_back(value());
      } else if (arg == "--keytab") {
        // GSS-API finds its service keys there; replays of one test's tokens are not our case.
        setenv("KRB5_KTNAME", ("FILE:" + value()).c_str(), 1);
        setenv("KRB5RCACHETYPE", "none", 1);
      } else if (arg == "--proxy") {
        options.proxy = true;
      } else if (arg == "--watch-stdin") {
        watchStdin = true;
      } else {
        Usage(("unknown argument " + arg).c_str());
      }
    } catch (const std::logic_error&) {
      Usage(("bad value for " + arg).c_str());
    }
  }
  if (requireClientCert && !tls) {
    Usage("--require-client-cert needs --tls");
  }
  if (options.proxy && (tls || !hostile.empty())) {
    Usage("--proxy excludes --tls and --hostile");
  }
  if (keyType != TestTsa::KeyType::ec && tls) {
    Usage("--key-type gost2012-256|gost2012-512 excludes --tls");
  }
  if (tsaCert.empty() != tsaKey.empty() || tsaCert.empty() != caFile.empty()) {
    Usage("--tsa-cert, --tsa-key and --ca go together");
  }

  // A terminal on standard input is the user's, not a pipe from a parent that may go away: reading
  // it from a background job would stop the job.
  watchStdin = watchStdin && isatty(STDIN_FILENO) != 1;

  try {
    // With its own PKI over plain HTTP, the TSA certificate names the CA's revocation service on
    // this server's port: the port is bound first, so the certificate can name it.
    const bool publishRevocation = tsaCert.empty() && !tls && hostile.empty() && !options.proxy;
    std::string revocationUrl;
    if (publishRevocation) {
      options.listener = TestTsa::ListenOnLoopback(options.bind, options.port, &options.port);
      const bool v6 = options.bind.find(':') != std::string::npos;
      revocationUrl = "http://" + (v6 ? "[" + options.bind + "]" : options.bind) + ":" +
                      std::to_string(options.port);
    }
    TestTsa::Pki pki = TestTsa::MakePki(keyType, revocationUrl);
    const TestTsa::CaRevocation caRevocation(pki);
    if (publishRevocation) {
      options.revocation = &caRevocation;
    }
    if (!dir.empty()) {
      TestTsa::WritePki(pki, dir);
    }
    // A TSA certificate given on the command line signs the stamps; the generated PKI still
    // serves TLS.
    TestTsa::Identity givenTsa;
    TestTsa::X509Ptr givenCa;
    if (!tsaCert.empty()) {
      givenTsa = TestTsa::ReadIdentity(tsaCert, tsaKey);
      TestTsa::BioPtr in(BIO_new_file(caFile.c_str(), "r"));
      TestTsa::Require(in != nullptr, "opening " + caFile);
      givenCa.reset(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
      TestTsa::Require(givenCa != nullptr, "reading " + caFile);
    }
    TestTsa::Responder responder(givenCa ? givenTsa : pki.tsa,
                                 givenCa ? givenCa.get() : pki.ca.cert.get(), clockOffset);
    std::vector<std::string> revocationInfo;
    for (const std::string& file : revocationFiles) {
      std::ifstream in(file, std::ios::binary);
      TestTsa::Require(in.good(), "opening " + file);
      revocationInfo.emplace_back(std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>());
    }
    responder.SetRevocationInfo(std::move(revocationInfo));
    TestTsa::SetAuthenticodeSigner(givenCa ? givenTsa : pki.tsa,
                                   givenCa ? givenCa.get() : pki.ca.cert.get());
    TestTsa::SslCtxPtr tlsContext;
    if (tls) {
      tlsContext = MakeTlsContext(pki, requireClientCert);
    }
    const auto announce = [watchStdin](int port) {
      std::cout << port << std::endl;
      if (watchStdin) {
        std::thread([] {
          char scratch[256];
          while (read(STDIN_FILENO, scratch, sizeof scratch) > 0) {
          }
          _exit(0);
        }).detach();
      }
    };
    if (!hostile.empty()) {
      TestTsa::HostileServer server(hostile, pki, options.bind);
      announce(server.port());
      server.Run();
    }
    TestTsa::Server server(options, responder, tlsContext.get());
    announce(server.port());
    server.Run();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "horodex-testtsa: %s\n", failure.what());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) try { return Main(argc, argv); } catch (...) {
  std::fprintf(stderr, "horodex-testtsa: internal error: an exception of no known kind\n");
  return 70;  // EX_SOFTWARE, as the other tools
}
