// `horodex verify` run as a user runs it: on OpenSSL's responder tokens, and on every real token of
// the interop corpus whose data (or digest) and CA certificates are known, each verdict side by
// side with `openssl ts -verify` given the same data, the same CA files and the stamp's time.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"
#include "tests/common/der_build.h"
#include "tests/common/hive_env.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/token_forge.h"
#include "tests/common/tsp_fixtures.h"
#include "tests/tsp/stamp_tokens.h"

namespace T = Velmora::Testing;
namespace Client = Velmora::PKI::TSP::Client;
using Velmora::CBlob;

namespace {

const std::string kTool = std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex";

T::CommandResult Verify(const std::string& args) {
  return T::RunCommand(T::ShellQuote(kTool) + " verify " + args + " 2>&1");
}

std::string Fixture(const std::string& name) {
  return T::ShellQuote((T::OpenSslTsaDir() / name).string());
}

// A tsa name that is the TSA's subject with its RDNs in reverse order (as a real TSA writes it):
// the stamp keeps its verdict, and verify and show say that the name does not match.
TEST(HorodexVerify, ATsaNameNotTheSignersIsAWarningOnly) {
  const CBlob ec = T::Forge::FixtureCertificate("ec");
  const T::X509Ptr parsed = T::ParseCertificate(ec);
  X509_NAME* subject = X509_get_subject_name(parsed.get());
  const std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> reversed(X509_NAME_new(),
                                                                       X509_NAME_free);
  for (int i = X509_NAME_entry_count(subject) - 1; i >= 0; --i) {
    X509_NAME_add_entry(reversed.get(), X509_NAME_get_entry(subject, i), -1, 0);
  }
  const T::TempDir dir;
  const std::string token = T::ShellQuote((dir / "named.tst").string());
  std::vector<int> exits;
  for (X509_NAME* name : {subject, reversed.get()}) {
    T::Stamps::TstFields fields;
    fields.tsaGeneralName = T::DerBuild::Ctx(4, T::DerOf(name, i2d_X509_NAME).bytes());
    T::Forge::TokenSpec spec;
    spec.tstInfo = T::Stamps::TstInfoDer(fields);
    T::Forge::CertIdSpec id;
    id.certificate = ec;
    spec.signedAttributes = {T::Forge::SigningCertificateV2({id})};
    spec.certificates = {ec};
    T::WriteFileBytes(dir / "named.tst", T::Forge::ForgeToken(spec).bytes());
    const T::CommandResult text = Verify(token + " --signature-only");
    const T::CommandResult json = Verify(token + " --signature-only --json");
    const T::CommandResult shown = T::RunCommand(T::ShellQuote(kTool) + " show " + token);
    const bool warned = name != subject;
    exits.push_back(text.exitCode);
    EXPECT_EQ(Has(text, "\nwarning: tsa name does not match the TSA certificate"), warned);
    EXPECT_EQ(Has(json, R"("warnings": ["tsa name does not match the TSA certificate"])"), warned);
    EXPECT_EQ(Has(shown, "Warning:              tsa name does not match"), warned);
  }
  EXPECT_EQ(exits[0], exits[1]);  // the same verdict with and without the warning
}

TEST(HorodexVerify, EachFailedCheckHasItsLineAndExitCode) {
  // Other data: the imprint differs; the other checks still run.
  const T::CommandResult data = Verify(Fixture("rsa-full.tsr") + " --data " + Fixture("ca.pem") +
                                       " --ca " + Fixture("ca.pem"));
  EXPECT_EQ(data.exitCode, 20) << data.output;
  EXPECT_TRUE(Has(data, "matches data: failed 0x80091007")) << data.output;
  EXPECT_TRUE(Has(data, "chain: ok")) << data.output;
  // A request whose nonce the stamp does not echo.
  const T::CommandResult nonce = Verify(Fixture("rsa-full.tsr") + " --request " +
                                        Fixture("q-nononce.tsq") + " --ca " + Fixture("ca.pem"));
  EXPECT_EQ(nonce.exitCode, 20) << nonce.output;
  EXPECT_TRUE(Has(nonce, "matches data: failed 0xC2100120")) << nonce.output;
  // No certificate in the token and none given; a --certs bundle is material, never an anchor.
  const T::CommandResult missing = Verify(Fixture("rsa-bare.tsr") + " --signature-only");
  EXPECT_EQ(missing.exitCode, 21) << missing.output;
  EXPECT_TRUE(Has(missing, "TSA certificate found: failed 0x80092004")) << missing.output;
  const T::CommandResult untrusted = Verify(Fixture("rsa-bare.tsr") + " --signature-only --certs " +
                                            Fixture("rsa.pem") + " --certs " + Fixture("ca.pem"));
  EXPECT_EQ(untrusted.exitCode, 23) << untrusted.output;
  EXPECT_TRUE(Has(untrusted, "signature: ok")) << untrusted.output;
  EXPECT_TRUE(Has(untrusted, "chain: failed 0x800B0109")) << untrusted.output;
  // A rejection holds no token.
  const T::CommandResult rejected = Verify(Fixture("rejected-alg.tsr") + " --signature-only");
  EXPECT_EQ(rejected.exitCode, 3) << rejected.output;
  EXPECT_TRUE(Has(rejected, "imported: failed 0xC2100124")) << rejected.output;
  EXPECT_TRUE(Has(rejected, "status 2 (rejection) and no token")) << rejected.output;
  // A rejection that carries a token all the same: refused, and said so.
  const T::TempDir dir;
  T::WriteFileBytes(dir / "rejected.tsr",
                    T::DerBuild::Seq({T::DerBuild::Seq({T::DerBuild::Int(2)}),
                                      T::OpenSslTsaFile("rsa-full.tst").bytes()}));
  const T::CommandResult withToken =
      Verify(T::ShellQuote((dir / "rejected.tsr").string()) + " --signature-only");
  EXPECT_EQ(withToken.exitCode, 3);
  EXPECT_TRUE(Has(withToken, "status 2 (rejection) and carries a token all the same"));
  // Usage: two sources at once; no data at all; data and --signature-only together.
  EXPECT_EQ(Verify(Fixture("rsa-full.tsr") + " --data a --digest 00").exitCode, 1);
  const T::CommandResult noData = Verify(Fixture("rsa-full.tsr") + " --ca " + Fixture("ca.pem"));
  EXPECT_EQ(noData.exitCode, 1) << noData.output;
  EXPECT_TRUE(Has(noData, "give the stamped data")) << noData.output;
  EXPECT_EQ(Verify(Fixture("rsa-full.tsr") + " --data a --signature-only").exitCode, 1);
  // The signature and chain alone: never a verdict on the stamp as a whole.
  for (const char* json : {"", " --json"}) {
    const T::CommandResult alone =
        Verify(Fixture("rsa-full.tsr") + " --signature-only --ca " + Fixture("ca.pem") + json);
    EXPECT_EQ(alone.exitCode, 0) << alone.output;
    EXPECT_TRUE(Has(
        alone, *json ? R"({"valid": null, "imprint_checked": false)" : "imprint: not checked\n"))
        << alone.output;
    EXPECT_FALSE(Has(alone, *json ? "true, \"imprint" : "valid")) << alone.output;
  }
}

TEST(HorodexVerify, SeveralStampsEachWithItsLineAndASummary) {
  // --data-dir: good.tsr stamps good; other's data differs; missing has none.
  const T::TempDir dir;
  for (const char* name : {"good.tsr", "other.tsr", "missing.tsr"}) {
    std::filesystem::copy_file(T::OpenSslTsaDir() / "rsa-full.tsr", dir / name);
  }
  std::filesystem::copy_file(T::OpenSslTsaDir() / "data.txt", dir / "good");
  T::WriteFileBytes(dir / "other", {'x'});
  const auto run = [&](const std::string& stamps, const std::string& options = {}) {
    std::string args;
    for (std::size_t at = 0, end; at < stamps.size(); at = end + 1) {
      end = std::min(stamps.find(' ', at), stamps.size());
      args += T::ShellQuote((dir / stamps.substr(at, end - at)).string()) + " ";
    }
    return Verify(args + "--data-dir " + T::ShellQuote(dir.path().string()) + " --ca " +
                  Fixture("ca.pem") + " " + options);
  };
  const struct {
    std::string stamps;
    int exit;
    std::vector<std::string> lines;
  } cases[] = {
      {"good.tsr good.tsr", 0, {"good.tsr: verified\n  imported: ok", "2 stamps: 2 verified"}},
      {"other.tsr good.tsr missing.tsr",
       20,
       {"other.tsr: failed (exit 20)\n  imported: ok\n  matches data: failed 0x80091007",
        "good.tsr: verified", "missing.tsr: failed (exit 2: cannot read ",
        "3 stamps: 1 verified, 2 failed"}},
      {"missing.tsr good.tsr", 2, {"2 stamps: 1 verified, 1 failed"}},
      {"good.tsr", 0, {"matches data: ok ("}},  // one stamp: the checks alone
  };
  for (const auto& c : cases) {
    const T::CommandResult r = run(c.stamps);
    EXPECT_EQ(r.exitCode, c.exit) << c.stamps << "\n" << r.output;
    for (const std::string& line : c.lines) {
      EXPECT_TRUE(Has(r, line)) << line << "\n" << r.output;
    }
  }
  const T::CommandResult json = run("good.tsr other.tsr", "--json");
  EXPECT_EQ(json.exitCode, 20) << json.output;
  EXPECT_TRUE(Has(
      json,
      R"({"valid": false, "imprint_checked": true, "verified": 1, "failed": 1, "stamps": [{"file": )"))
      << json.output;
  EXPECT_TRUE(Has(
      json,
      R"("exit": 20, "error": null, "valid": false, "imprint_checked": true, "imported": {"result": )"))
      << json.output;
  // --data names one file: not for several stamps.
  EXPECT_EQ(Verify(Fixture("rsa-full.tsr") + " " + Fixture("rsa-full.tsr") + " --data x").exitCode,
            1);
}

// ---------------------------------------------------------------------------------------------
// The interop corpus

enum class Source { Data, Digest, Request };

struct Case {
  const char* token;  // relative to the corpus
  Source source;
  const char* input;    // data or request file (relative), unused for Digest
  const char* ca;       // a CA file (relative), "=CN" for the token's own certificate of that CN,
                        // "=^" for its self-signed one, "=" for the TSA certificate it carries
  const char* certs;    // a bundle (relative) given as material, "=*" for all the certificates of
                        // the token named by `from`, or ""
  int exit;             // horodex verify's exit status
  const char* failure;  // the line of the first failed check, or ""
  const char* openssl;  // openssl ts -verify: "OK", "FAILED", or "-" when it cannot read the token
  const char* from = nullptr;  // the token whose certificates "=CN" and "=*" take, when not this
};

// The tokens of the corpus that can be checked offline (the rest name TSA certificates that no
// source ships). The verdicts are ours; where OpenSSL differs the reason is given beside the case.
// Four are refused for their algorithms under the default rule: an MD5 imprint (BC's test TSA),
// and SHA-1 signatures made after 2017-01-01 (the Belgian TSA in 2018, FreeTSA in December 2017,
// Apple's TSA in 2023).
const Case kCases[] = {
    {"bc-java/bc-testtsa-md5.tsr", Source::Request, "bc-java/bc-testtsa-md5.tsq",
     "bc-java/bc-testtsa-signer.pem", "bc-java/bc-testtsa-signer.pem", 22,
     "signature: failed 0x80092026", "OK"},
    {"bc-java/belgium-fedgov-tsa-sha512.tst", Source::Digest, "", "=Baltimore CyberTrust Root", "",
     22, "signature: failed 0x80092026", "OK"},
    {"bc-java/drv-qc-root-tsp-2007.tsr", Source::Digest, "", "=^", "", 0, "", "OK"},
    {"bc-java/exceet-tsa04-sha512.tst", Source::Digest, "", "=exceet trustcenter CA2", "", 0, "",
     "-"},
    {"bc-java/governikus-test-sha384-crls.tst", Source::Digest, "", "=Governikus Root CA 3:PN", "",
     0, "", "-"},
    {"bc-java/infocert-icedts01.tst", Source::Data, "bc-java/infocert-icedts01.data", "=", "", 0,
     "", "OK"},
    {"digitorus-timestamp/globalsign-aatl-g2.tst", Source::Digest, "",
     "=GlobalSign CA for AATL - SHA256 - G2", "", 0, "", "OK"},
    {"digitorus-timestamp/globalsign-adobe-g2-nonce.tsr", Source::Request,
     "digitorus-timestamp/globalsign-adobe-g2-nonce.tsq", "=GlobalSign Primary SHA256 CA for Adobe",
     "", 0, "", "OK"},
    {"digitorus-timestamp/globalsign-adobe-g2-nocerts.tsr", Source::Request,
     "digitorus-timestamp/globalsign-adobe-g2-nocerts.tsq",
     "=GlobalSign Primary SHA256 CA for Adobe", "=*", 0, "", "OK",
     "digitorus-timestamp/globalsign-adobe-g2-nonce.tsr"},
    {"bc-java/ncipher-dse200-attrcert.tsr", Source::Digest, "", "=", "", 0, "", "-"},
    {"dotnet-runtime/freetsa-2017-micros.tst", Source::Data,
     "dotnet-runtime/freetsa-2017-micros.data",
     "miyako-4d-plugin-timestamp-client/freetsa-root-ca.pem",
     "miyako-4d-plugin-timestamp-client/freetsa-tsa-cert.pem", 22, "signature: failed 0x80092026",
     "OK"},
    {"github-ietf-cms/digicert-sha2-responder.tsr", Source::Data,
     "github-ietf-cms/hello-newline.data", "=DigiCert SHA2 Assured ID Timestamping CA", "", 0, "",
     "OK"},
    {"github-ietf-cms/symantec-g3-certs.tsr", Source::Data, "github-ietf-cms/hello-newline.data",
     "=Symantec SHA256 TimeStamping CA", "", 0, "", "OK"},
    {"miyako-4d-plugin-timestamp-client/freetsa-2020-ordering.tsr", Source::Request,
     "miyako-4d-plugin-timestamp-client/freetsa-2020-ordering.tsq",
     "miyako-4d-plugin-timestamp-client/freetsa-root-ca.pem", "", 0, "", "OK"},
    {"miyako-4d-plugin-timestamp-client/safestamper-2020.tsr", Source::Request,
     "miyako-4d-plugin-timestamp-client/safestamper-2020.tsq",
     "miyako-4d-plugin-timestamp-client/safestamper-certs.pem",
     "miyako-4d-plugin-timestamp-client/safestamper-certs.pem", 0, "", "OK"},
    {"rust-openssl/oneidentity-testtsa.tsr", Source::Request,
     "rust-openssl/oneidentity-testtsa.tsq", "=Test Timestamping Root CA", "", 0, "", "OK"},
    {"rust-openssl/sslcom-2021-negnonce.tst", Source::Digest, "",
     "=SSL.com Timestamping Issuing RSA CA R1", "", 0, "", "OK"},
    {"signapple/apple-timestamp-signer-ma2.tst", Source::Data,
     "signapple/apple-timestamp-signer-ma2.data", "=Apple Root CA", "", 22,
     "signature: failed 0x80092026", "OK"},
    {"signify/digicert-2022-sha1imprint.tst", Source::Data,
     "signify/digicert-2022-sha1imprint.data",
     "=DigiCert Trusted G4 RSA4096 SHA256 TimeStamping CA", "", 0, "", "OK"},
    {"signify/ms-timestamp-2025-essv2.tst", Source::Data, "signify/ms-timestamp-2025-essv2.data",
     "=Microsoft Time-Stamp PCA 2010", "", 0, "", "-"},
    {"signify/sslcom-2024-ecdsa.tst", Source::Data, "signify/sslcom-2024-ecdsa.data",
     "=SSL.com Timestamping Issuing RSA CA R1", "", 0, "", "OK"},
    {"sigstore-conformance/freetsa-2025-certs.tsr", Source::Data,
     "sigstore-conformance/freetsa-2025-certs.data",
     "miyako-4d-plugin-timestamp-client/freetsa-root-ca.pem", "", 0, "", "OK"},
    {"sigstore-conformance/freetsa-2025-nocerts.tsr", Source::Data,
     "sigstore-conformance/freetsa-2025-nocerts.data",
     "miyako-4d-plugin-timestamp-client/freetsa-root-ca.pem",
     "miyako-4d-plugin-timestamp-client/freetsa-tsa-cert.pem", 0, "", "OK"},
    {"sigstore-conformance/sigstore-prod-nononce.tsr", Source::Data,
     "sigstore-conformance/sigstore-prod-nononce.data",
     "sigstore-conformance/sigstore-prod-ts-chain.pem",
     "sigstore-conformance/sigstore-prod-ts-chain.pem", 0, "", "OK"},
    {"sigstore-go/virtualtsa-empty-tsaname.tsr", Source::Data,
     "sigstore-go/virtualtsa-empty-tsaname.data", "sigstore-go/virtualtsa-chain.pem",
     "sigstore-go/virtualtsa-chain.pem", 0, "", "OK"},
    {"trailofbits-rfc3161-client/identrust-sha512-hello.tsr", Source::Data,
     "trailofbits-rfc3161-client/hello.data",
     "trailofbits-rfc3161-client/identrust-commercial-root-ca1.der", "", 0, "", "OK"},
    {"trailofbits-rfc3161-client/localtsa-sha512-hello.tsr", Source::Request,
     "trailofbits-rfc3161-client/localtsa-request-sha512.tsq",
     "trailofbits-rfc3161-client/localtsa-ts-chain.pem", "", 0, "", "OK"},
    {"trailofbits-rfc3161-client/NEG-localtsa-injected-certs-sha512-hello.tsr", Source::Data,
     "trailofbits-rfc3161-client/hello.data", "trailofbits-rfc3161-client/localtsa-ts-chain.pem",
     "", 0, "", "OK"},
    {"trailofbits-rfc3161-client/sigstage-nocerts-sha256-hello.tsr", Source::Data,
     "trailofbits-rfc3161-client/hello.data", "trailofbits-rfc3161-client/sigstage-ts-chain.pem",
     "trailofbits-rfc3161-client/sigstage-ts-chain.pem", 0, "", "OK"},
    {"trailofbits-rfc3161-client/sigstage-sha256-hello.tsr", Source::Data,
     "trailofbits-rfc3161-client/hello.data", "trailofbits-rfc3161-client/sigstage-ts-chain.pem",
     "", 0, "", "OK"},
    {"trailofbits-rfc3161-client/sigstoremock-negserial-noparams.tsr", Source::Data,
     "trailofbits-rfc3161-client/sigstoremock-negserial-noparams.data",
     "trailofbits-rfc3161-client/sigstoremock-ts-chain.pem",
     "trailofbits-rfc3161-client/sigstoremock-ts-chain.pem", 0, "", "OK"},
    // Refused, with the reason.
    // The signature value was altered: both refuse.
    {"trailofbits-rfc3161-client/NEG-sigstage-badsig-sha256-hello.tsr", Source::Data,
     "trailofbits-rfc3161-client/hello.data", "trailofbits-rfc3161-client/sigstage-ts-chain.pem",
     "", 22, "signature: failed 0x80090006", "FAILED"},
    // The TSA certificate's extended key usage is not critical, which RFC 3161 (2.3) requires.
    {"signify/ms-timestamp-2017-essv1.tst", Source::Data, "signify/ms-timestamp-2017-essv1.data",
     "=Microsoft Time-Stamp PCA 2010", "", 23, "chain: failed 0x800B0110", "-"},
    // No certificate in the token and no source ships the TSA's: nothing to check against (the
    // corpus has five such tokens; the rejections' verdict is the fixtures' above).
    {"github-ietf-cms/comodo-sha256-signer.tsr", Source::Data, "github-ietf-cms/hello-newline.data",
     "", "", 21, "TSA certificate found: failed 0x80092004", "-"},
};

std::string Corpus(const std::string& relative) {
  return (T::InteropDir() / relative).string();
}

// The imported stamp of a corpus file.
struct Stamp {
  Client::CStamp stamp;
  explicit Stamp(const std::string& relative) {
    const CBlob bytes = T::InteropFile(relative);
    stamp.Import(bytes.pbData(), static_cast<unsigned long>(bytes.cbData()), nullptr);
  }
};

// Certificates of a corpus token, written as PEM into `dir`: the one whose subject CN is `cn`,
// the TSA certificate for an empty `cn`, the self-signed one for "^", or all of them for "*".
std::string EmbeddedCertificates(const std::string& token, const std::string& cn,
                                 const T::TempDir& dir) {
  Stamp s(token);
  std::vector<CBlob> chosen;
  if (cn.empty()) {
    const Velmora::Platform::CERT_CONTEXT* tsa = s.stamp.get_TSACertificate(nullptr, 0);
    if (tsa != nullptr) {
      chosen.emplace_back(tsa->pbCertEncoded, tsa->cbCertEncoded);
    }
  }
  for (const CBlob& der : T::Stamps::StoreCertificates(s.stamp.get_Certificates())) {
    const T::X509Ptr certificate = T::ParseCertificate(der);
    char name[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(certificate.get()), NID_commonName, name,
                              sizeof name);
    const bool selfSigned = X509_NAME_cmp(X509_get_subject_name(certificate.get()),
                                          X509_get_issuer_name(certificate.get())) == 0;
    if (cn == "*" || cn == name || (cn == "^" && selfSigned)) {
      chosen.push_back(der);
    }
  }
  EXPECT_FALSE(chosen.empty()) << "no certificate " << cn << " in " << token;
  const std::string path = (dir / (cn == "*" ? "bundle.pem" : "anchor.pem")).string();
  FILE* out = std::fopen(path.c_str(), "w");
  for (const CBlob& der : chosen) {
    PEM_write_X509(out, T::ParseCertificate(der).get());
  }
  std::fclose(out);
  return path;
}

TEST(HorodexVerify, InteropCorpusVerdictsAndOpenSslAgreement) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.token);
    const T::TempDir dir;
    // Offline: the verdicts are the corpus's own, never a real responder's of the day.
    std::string ours = "--offline " + T::ShellQuote(Corpus(c.token));
    std::string theirs = "-in " + T::ShellQuote(Corpus(c.token));
    if (std::string(c.token).ends_with(".tst")) {
      theirs += " -token_in";
    }
    std::int64_t genTime = 0;
    if (c.source == Source::Digest || c.openssl != std::string("-")) {
      Stamp s(c.token);
      genTime = s.stamp.get_Time().seconds();
      if (c.source == Source::Digest) {
        // The corpus knows only the imprint of these tokens.
        const CBlob imprint = T::Stamps::StampBytes(s.stamp, &Client::CStamp::get_DataHash);
        ours += " --digest " + T::HexOf(imprint);
        theirs += " -digest " + T::HexOf(imprint);
      }
    }
    if (c.source == Source::Data) {
      ours += " --data " + T::ShellQuote(Corpus(c.input));
      theirs += " -data " + T::ShellQuote(Corpus(c.input));
    } else if (c.source == Source::Request) {
      ours += " --request " + T::ShellQuote(Corpus(c.input));
      theirs += " -queryfile " + T::ShellQuote(Corpus(c.input));
    }
    if (*c.ca != '\0') {
      const std::string ca = *c.ca == '='
                                 ? EmbeddedCertificates(c.from ? c.from : c.token, c.ca + 1, dir)
                                 : Corpus(c.ca);
      ours += " --ca " + T::ShellQuote(ca);
      // OpenSSL reads CA files as PEM only.
      std::string pem = ca;
      if (ca.ends_with(".der")) {
        pem = (dir / "ca.pem").string();
        T::RunCommand("openssl x509 -inform DER -in " + T::ShellQuote(ca) + " -out " +
                      T::ShellQuote(pem));
      }
      theirs += " -CAfile " + T::ShellQuote(pem);
    }
    if (*c.certs != '\0') {
      const std::string certs =
          *c.certs == '=' ? EmbeddedCertificates(c.from, "*", dir) : Corpus(c.certs);
      ours += " --certs " + T::ShellQuote(certs);
      theirs += " -untrusted " + T::ShellQuote(certs);
    }

    const T::CommandResult r = Verify(ours);
    EXPECT_EQ(r.exitCode, c.exit) << r.output;
    if (*c.failure != '\0') {
      EXPECT_TRUE(Has(r, c.failure)) << r.output;
    }

    if (c.openssl != std::string("-")) {
      // The --ca files are anchors whether self-signed or not, and certificates are judged at the
      // stamp's time: -partial_chain and -attime say the same to OpenSSL.
      const T::CommandResult o =
          T::RunCommand("openssl ts -verify " + theirs + " -partial_chain -attime " +
                        std::to_string(genTime) + " 2>&1");
      EXPECT_TRUE(Has(o, std::string("Verification: ") + c.openssl)) << o.output;
      // OpenSSL still takes an MD5 imprint and SHA-1 signatures of any date, which the
      // administrator's weak-algorithm rule refuses by default.
      EXPECT_EQ(c.exit == 0 || Has(r, "0x80092026"), std::string(c.openssl) == "OK");
    }
  }
}

// The corpus tokens that carry revocation data (MANIFEST.md marks them), judged with it alone:
// --offline and revocation required. Their OCSP responses (of 2017, without nextUpdate) are
// stale now, so they count only when the administrator judges freshness at genTime, within the
// hour such a response is believed.
TEST(HorodexVerify, CorpusRevocationDataIsJudgedOffline) {
  const struct {
    const char* token;
    const char* ca;
  } kTokens[] = {{"bc-java/governikus-test-sha384-crls.tst", "Governikus Root CA 3:PN"},
                 {"bc-java/exceet-tsa04-sha512.tst", "exceet trustcenter CA2"}};
  const struct {
    const char* policies;
    const char* chain;
    const char* revocation;  // of the TSA certificate
  } kModes[] = {{"", "chain: failed 0x80092013", ": unknown 0x80092013"},
                {"\"RevocationFreshAtGenTime\"=dword:1\n", "chain: ok",
                 ": good (token, OCSP, this update 2017-"},
                {"\"RevocationFreshAtGenTime\"=dword:1\n\"RevocationGraceSeconds\"=dword:3600\n",
                 "chain: failed 0x80092013", "first failure 0x800B0101"}};
  for (const auto& token : kTokens) {
    for (const auto& mode : kModes) {
      SCOPED_TRACE(std::string(token.token) + " " + mode.policies);
      const T::TempDir dir;
      std::filesystem::create_directories(dir / "config/velmora");
      std::ofstream(dir / "config/velmora/user.reg") << T::ConfigEnvironment::PolicyHive(
          false, "\"RequireRevocationCheck\"=dword:1\n" + std::string(mode.policies));
      const T::CommandResult r =
          T::RunCommand("XDG_CONFIG_HOME=" + T::ShellQuote((dir / "config").string()) +
                        " XDG_CACHE_HOME=" + T::ShellQuote((dir / "cache").string()) + " " +
                        T::ShellQuote(kTool) + " verify --offline --signature-only " +
                        T::ShellQuote(Corpus(token.token)) + " --ca " +
                        T::ShellQuote(EmbeddedCertificates(token.token, token.ca, dir)) + " 2>&1");
      EXPECT_TRUE(Has(r, mode.chain)) << r.output;
      const std::size_t line = r.output.find("revocation of ");
      ASSERT_NE(line, std::string::npos) << r.output;
      EXPECT_NE(r.output.find(mode.revocation, line), std::string::npos) << r.output;
    }
  }
}

}  // namespace
