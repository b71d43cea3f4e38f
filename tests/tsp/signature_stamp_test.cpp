// Time stamps of CMS signatures: signatures made by `openssl cms -sign` are stamped at the test TSA
// and still verify for OpenSSL, with nothing but the signer's unsigned attributes changed (a second
// stamp beside the first is shown by the viewer's test); a signer whose certificate has expired
// verifies when its stamp proves it signed in time, and is refused when the stamp came after; each
// kind of bad message or stamp gets its own code.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/cms/signature_time_stamps.h"
#include "codec/cms/signed_data.h"
#include "horodex/SignatureStamp.h"
#include "platform/capi/wincrypt_chain.h"
#include "support/errors.h"
#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/signature_stamps.h"
#include "tests/common/test_ca.h"
#include "tests/common/testtsa_process.h"
#include "tests/common/token_forge.h"

namespace P = Velmora::Platform;
namespace T = Velmora::Testing;
namespace ASN1 = Velmora::ASN1;
namespace fs = std::filesystem;
using Velmora::CBlob;
using namespace Velmora::PKI::TSP::Client;

namespace {

constexpr std::time_t kYear = 365 * 24 * 3600;

struct Signer {
  T::Authority authority;
  fs::path cert, key;
};

class SignatureStamps : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_env = std::make_unique<T::ConfigEnvironment>();
    s_dir = std::make_unique<T::TempDir>();
    const std::time_t now = std::time(nullptr);
    // One root over the signers and the TSA; the TSA's certificate reaches five years back, so
    // that it can stamp in the past.
    s_root = std::make_unique<T::Authority>(T::MakeRoot("Signing Root", T::KeyKind::Rsa2048));
    s_root->cert.writePem(Path("root.pem"));
    ASSERT_EQ(P::CertAddTrustedRootsFromFile(Path("root.pem").c_str()), 0);
    const T::Authority tsa = T::MakeIssued(
        T::CertSpec("Past TSA", 50, now - 5 * kYear, now + kYear, T::TsaExtensions()), *s_root);
    tsa.cert.writePem(Path("tsa.pem"));
    T::WriteKeyPem(tsa.key.get(), Path("tsa.key"));
    s_tsa = std::make_unique<T::TestTsaProcess>(T::TestTsaOptions{
        false,
        false,
        0,
        {"--tsa-cert", Path("tsa.pem"), "--tsa-key", Path("tsa.key"), "--ca", Path("root.pem")}});
    const std::vector<T::Extension> signing = {{"keyUsage", "critical,digitalSignature"}};
    s_signers.push_back(MakeSigner("rsa", T::KeyKind::Rsa2048, now - 3600, now + kYear, signing));
    s_signers.push_back(MakeSigner("ec", T::KeyKind::EcP256, now - 3600, now + kYear, signing));
    s_signers.push_back(
        MakeSigner("expired", T::KeyKind::EcP256, now - 3 * kYear, now - kYear, signing));
    T::WriteFileBytes(Path("doc.txt"), {'s', 'i', 'g', 'n', 'e', 'd', '\n'});
  }
  static void TearDownTestSuite() {
    s_signers.clear();
    s_tsa.reset();
    s_root.reset();
    s_dir.reset();
    s_env.reset();
  }

  static std::string Path(const std::string& name) { return (s_dir->path() / name).string(); }
  static Signer MakeSigner(const std::string& name, T::KeyKind kind, std::time_t from,
                           std::time_t until, const std::vector<T::Extension>& extensions) {
    Signer signer{
        T::MakeIssued(T::CertSpec("Signer " + name, 100 + static_cast<long>(s_signers.size()), from,
                                  until, extensions),
                      *s_root, kind),
        Path(name + ".pem"), Path(name + ".key")};
    signer.authority.cert.writePem(signer.cert);
    T::WriteKeyPem(signer.authority.key.get(), signer.key);
    return signer;
  }
  // `openssl cms -sign` of doc.txt by the signers named, with further options.
  static CBlob Sign(const std::vector<int>& signers, const std::string& options) {
    std::string command = "openssl cms -sign -binary -md sha256 -in " + Path("doc.txt");
    for (const int i : signers) {
      command += " -signer " + s_signers[i].cert.string() + " -inkey " + s_signers[i].key.string();
    }
    const std::string out = Path("signed.p7s");
    const T::CommandResult made = T::RunCommand(command + " " + options + " -out " + out + " 2>&1");
    EXPECT_EQ(made.exitCode, 0) << made.output;
    return CBlob(T::ReadFileBytes(out));
  }
  static bool OpenSslVerifies(const CBlob& message, const std::string& options) {
    T::WriteFileBytes(Path("check.p7s"), message.bytes());
    const T::CommandResult run =
        T::RunCommand("openssl cms -verify -binary -purpose any -in " + Path("check.p7s") +
                      " -CAfile " + Path("root.pem") + " -out /dev/null " + options + " 2>&1");
    return run.exitCode == 0;
  }
  static CRequest RequestTo(const std::string& path) {
    CRequest request;
    request.put_TSAAddress(s_tsa->WideUrl(path).c_str());
    request.put_CertReq(true);
    return request;
  }
  static CSignatureReport Verify(const CBlob& message, bool detached = false) {
    const std::vector<unsigned char> doc = T::ReadFileBytes(Path("doc.txt"));
    return VerifySignatureStamps(message.pbData(), message.cbData(),
                                 detached ? doc.data() : nullptr, detached ? doc.size() : 0,
                                 nullptr, 0);
  }
  // A token from the test TSA for `bytes`.
  static CBlob TokenFor(const CBlob& bytes) {
    CRequest request = RequestTo("/");
    request.AddData(bytes.pbData(), static_cast<unsigned long>(bytes.cbData()));
    return T::TokenOf(request.Send(true));
  }

  static inline std::unique_ptr<T::ConfigEnvironment> s_env;
  static inline std::unique_ptr<T::TempDir> s_dir;
  static inline std::unique_ptr<T::Authority> s_root;
  static inline std::unique_ptr<T::TestTsaProcess> s_tsa;
  static inline std::vector<Signer> s_signers;
};

TEST_F(SignatureStamps, OpenSslSignaturesStampedStillVerifyAndKeepTheirBytes) {
  const struct {
    int signer;
    const char* signOptions;  // attached (-nodetach) or detached, DER or PEM, streamed (BER)
    const char* verifyOptions;
  } rows[] = {
      {0, "-nodetach -outform DER", "-inform DER"},
      {1, "-outform DER", "-inform DER -content DOC"},
      {0, "-nodetach -outform PEM -keyopt rsa_padding_mode:pss", "-inform PEM"},
      {1, "-nodetach -outform DER -stream", "-inform DER"},  // indefinite lengths
      {0, "-outform PEM -stream", "-inform PEM -content DOC"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.signOptions);
    std::string verifyOptions = row.verifyOptions;
    const bool detached = verifyOptions.find("DOC") != std::string::npos;
    if (detached) {
      verifyOptions.replace(verifyOptions.find("DOC"), 3, Path("doc.txt"));
    }
    const CBlob original = Sign({row.signer}, row.signOptions);
    CSignedMessage message(original.pbData(), original.cbData());
    CRequest request = RequestTo("/");
    message.Stamp(0, request);
    const CBlob stamped = message.Export();
    EXPECT_TRUE(OpenSslVerifies(stamped, verifyOptions));
    const CSignatureReport report = Verify(stamped, detached);
    ASSERT_EQ(report.signers.size(), 1u);
    EXPECT_EQ(report.result(), P::S_OK);
    EXPECT_TRUE(report.signers[0].chainAtStampTime);
    ASSERT_EQ(report.signers[0].stamps.size(), 1u);
    EXPECT_EQ(report.signers[0].chainTime, report.signers[0].stamps[0].genTime);

    // Only the unsigned attributes changed: the rest reads back as it was sent.
    if (std::string(row.signOptions).find("PEM") == std::string::npos) {
      ASN1::CSignedData before, after;
      before.decode(original);
      after.decode(stamped);
      EXPECT_EQ(before.get_certificates() != nullptr, after.get_certificates() != nullptr);
      if (before.get_certificates() != nullptr) {
        EXPECT_EQ(*before.get_certificates(), *after.get_certificates());
      }
      EXPECT_EQ(before.get_eContent() != nullptr, after.get_eContent() != nullptr);
      const ASN1::CSignerInfo& was = before.get_signerInfos().front();
      const ASN1::CSignerInfo& is = after.get_signerInfos().front();
      EXPECT_EQ(was.get_signedAttributesEncoded(), is.get_signedAttributesEncoded());
      EXPECT_EQ(was.get_signature(), is.get_signature());
      EXPECT_EQ(was.get_sidEncoded(), is.get_sidEncoded());
      EXPECT_EQ(original.bytes().front(), stamped.bytes().front());
      // An indefinite outer length stays indefinite.
      EXPECT_EQ(original.bytes()[1] == 0x80, stamped.bytes()[1] == 0x80);
    }
  }
}

// The signer's certificate was valid from three years ago to a year ago.
TEST_F(SignatureStamps, AnExpiredSignerVerifiesOnlyWithAStampFromItsValidity) {
  const CBlob original = Sign({2}, "-nodetach -outform DER");
  const struct {
    const char* tsaPath;
    P::HRESULT chain;
    bool atStampTime;
  } rows[] = {
      {"/offset/-63072000/", P::S_OK, true},  // genTime two years ago
      {"/", P::CERT_E_EXPIRED, true},         // genTime now, after the expiry
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.tsaPath);
    CSignedMessage message(original.pbData(), original.cbData());
    CRequest request = RequestTo(row.tsaPath);
    message.Stamp(0, request);
    const CSignatureReport report = Verify(message.Export());
    EXPECT_EQ(report.signers[0].signature, P::S_OK);
    EXPECT_EQ(report.signers[0].chain, row.chain);
    EXPECT_EQ(report.signers[0].chainAtStampTime, row.atStampTime);
    EXPECT_EQ(report.result(), row.chain);
  }
  // Without a stamp the certificate is judged now.
  const CSignatureReport bare = Verify(original);
  EXPECT_FALSE(bare.signers[0].chainAtStampTime);
  EXPECT_EQ(bare.result(), P::CERT_E_EXPIRED);
}

TEST_F(SignatureStamps, BadStampsAreRefusedWithTheirOwnCodeAndNeverCount) {
  const CBlob twoSigners = Sign({0, 1}, "-nodetach -outform DER");
  CSignedMessage stamped(twoSigners.pbData(), twoSigners.cbData());
  EXPECT_EQ(stamped.get_SignerName(stamped.FindSigner(s_signers[1].authority.cert.context().get())),
            "CN=Signer ec");
  CRequest request = RequestTo("/");
  stamped.Stamp(0, request);
  const CBlob tokenOfSigner0 = stamped.get_TimeStamps(0)[0];
  const CBlob otherBytes = TokenFor(CBlob(std::vector<unsigned char>{'o', 't', 'h', 'e', 'r'}));
  const struct {
    const char* name;
    CBlob message;
    std::size_t signer;  // whose stamp is bad
    P::HRESULT code;
  } rows[] = {
      {"imprint over other bytes", T::WithSignatureStamp(twoSigners, 0, otherBytes), 0,
       Velmora::Support::HORODEX_E_SIGNATURE_STAMP_MISMATCH},
      {"another signer's stamp", T::WithSignatureStamp(twoSigners, 1, tokenOfSigner0), 1,
       Velmora::Support::HORODEX_E_SIGNATURE_STAMP_MISMATCH},
      {"one token on both signers", T::WithSignatureStamp(stamped.Export(), 1, tokenOfSigner0), 1,
       Velmora::Support::HORODEX_E_SIGNATURE_STAMP_MISMATCH},
      {"a value that is no token",
       T::WithSignatureStamp(twoSigners, 0, CBlob(std::vector<unsigned char>{0x02, 0x01, 0x05})), 0,
       P::CRYPT_E_ASN1_BADTAG},
      {"a SEQUENCE that is no token",
       T::WithSignatureStamp(twoSigners, 0,
                             CBlob(std::vector<unsigned char>{0x30, 0x03, 0x02, 0x01, 0x05})),
       0, P::CRYPT_E_ASN1_BADTAG},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const CSignatureReport report = Verify(row.message);
    ASSERT_EQ(report.signers.size(), 2u);
    const CSignerCheck& bad = report.signers[row.signer];
    ASSERT_FALSE(bad.stamps.empty());
    EXPECT_EQ(bad.stamps.back().result, row.code);
    EXPECT_EQ(bad.result(), row.code);
    EXPECT_EQ(bad.signature, P::S_OK);
    // A refused stamp is never the time the signer is judged at.
    EXPECT_EQ(bad.chainAtStampTime, bad.stamps.size() > 1);
  }
  // AddTimeStamp refuses a token for other bytes and leaves the message as it was.
  const CBlob before = stamped.Export();
  try {
    stamped.AddTimeStamp(1, tokenOfSigner0.pbData(),
                         static_cast<unsigned long>(tokenOfSigner0.cbData()));
    ADD_FAILURE() << "added";
  } catch (const P::CAtlException& e) {
    EXPECT_EQ(e.hr(), Velmora::Support::HORODEX_E_SIGNATURE_STAMP_MISMATCH);
  }
  EXPECT_EQ(stamped.Export(), before);
  // The codec itself refuses a signer past the last, whoever calls it.
  try {
    (void)T::WithSignatureStamp(twoSigners, 2, tokenOfSigner0);
    ADD_FAILURE() << "added to a third signer";
  } catch (const P::CAtlException& e) {
    EXPECT_EQ(e.hr(), P::CRYPT_E_INVALID_INDEX);
  }
}

TEST_F(SignatureStamps, MessagesThatCannotBeStampedSayWhy) {
  namespace F = T::Forge;
  auto forged = [](std::vector<unsigned char> signature) {
    F::TokenSpec spec;
    spec.tstInfo = {0x04, 0x01, 0x41};  // any content
    spec.eContentType = F::kIdData;
    spec.signatureValue = CBlob(std::move(signature));
    return F::ForgeToken(spec);
  };
  const CBlob good = Sign({1}, "-nodetach -outform DER");
  const CBlob dataOnly(std::vector<unsigned char>{0x30, 0x0F, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                  0xF7, 0x0D, 0x01, 0x07, 0x01, 0xA0, 0x02, 0x04,
                                                  0x00});
  const struct {
    const char* name;
    CBlob message;
    P::HRESULT code;
  } rows[] = {
      {"not a SignedData", dataOnly, P::CRYPT_E_INVALID_MSG_TYPE},
      {"truncated", CBlob(good.span().first(good.cbData() / 2)), P::CRYPT_E_ASN1_EOD},
      {"no signature value", forged({}), P::NTE_BAD_SIGNATURE},
      {"a signature value of 17 MiB", forged(std::vector<unsigned char>(17u << 20, 0x5A)),
       P::CRYPT_E_ASN1_LARGE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      CSignedMessage message(row.message.pbData(), row.message.cbData());
      CRequest request = RequestTo("/");
      message.Stamp(0, request);
      ADD_FAILURE() << "stamped";
    } catch (const P::CAtlException& e) {
      EXPECT_EQ(e.hr(), row.code);
    }
  }
}

}  // namespace
