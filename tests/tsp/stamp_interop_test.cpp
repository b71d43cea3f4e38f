// Every response and token of the real-TSA corpus imports into a CStamp with the fields its
// manifest states: status and refusal, policy, serial number, genTime, imprint, nonce, accuracy,
// ordering, tsa name and the number of certificates.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "codec/asnkit/big_integer.h"
#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"
#include "platform/text/convert.h"
#include "tests/common/der_build.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"
#include "tests/tsp/stamp_tokens.h"

namespace fs = std::filesystem;
using Velmora::CBlob;
using Velmora::PKI::TSP::Client::CStamp;
using namespace Velmora::Testing;

namespace {

// The manifest's "### `file`" sections, by file.
std::map<std::string, std::string> ManifestSections() {
  const std::string text = ReadFileText(InteropDir() / "MANIFEST.md");
  std::map<std::string, std::string> sections;
  const std::regex heading(R"(\n### `([^`]+)`\n)");
  std::vector<std::pair<std::string, std::size_t>> starts;
  for (std::sregex_iterator it(text.begin(), text.end(), heading), end; it != end; ++it) {
    starts.emplace_back((*it)[1].str(), static_cast<std::size_t>(it->position() + it->length()));
  }
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t stop =
        i + 1 < starts.size() ? text.rfind("\n###", starts[i + 1].second) : text.size();
    sections[starts[i].first] = text.substr(starts[i].second, stop - starts[i].second);
  }
  return sections;
}

// The first capture of `pattern` in `text`; the test fails when the manifest does not say it.
std::string Fact(const std::string& text, const std::string& pattern) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex(pattern))) {
    ADD_FAILURE() << "the manifest does not state " << pattern;
    return {};
  }
  return match[1].str();
}

const std::map<std::string, std::string> kHashOids = {
    {"md5", "1.2.840.113549.2.5"},        {"sha1", "1.3.14.3.2.26"},
    {"sha256", "2.16.840.1.101.3.4.2.1"}, {"sha384", "2.16.840.1.101.3.4.2.2"},
    {"sha512", "2.16.840.1.101.3.4.2.3"},
};

const std::map<std::string, unsigned> kFailureBits = {
    {"bad_alg", 0},
    {"bad_request", 2},
    {"bad_data_format", 5},
    {"time_not_available", 14},
    {"unaccepted_policy", 15},
    {"unaccepted_extension", 16},
    {"add_info_not_available", 17},
    {"system_failure", 25},
};

long AccuracyMicros(const std::string& text) {
  if (text == "absent") {
    return -1;
  }
  long micros = 0;
  const std::regex part(R"((seconds|millis|micros) (\d+))");
  for (std::sregex_iterator it(text.begin(), text.end(), part), end; it != end; ++it) {
    const long value = std::stol((*it)[2].str());
    const std::string unit = (*it)[1].str();
    micros += unit == "seconds" ? value * 1'000'000 : unit == "millis" ? value * 1000 : value;
  }
  return micros;
}

void CheckToken(const CStamp& stamp, const std::string& facts) {
  EXPECT_STREQ(stamp.get_PolicyID(), Fact(facts, R"(Policy ([0-9.]+);)").c_str());
  EXPECT_EQ(
      DecimalOf(Velmora::ASN1::CBigInteger(Stamps::StampBytes(stamp, &CStamp::get_SerialNumber))),
      Fact(facts, R"(; serial (-?\d+);)"));
  EXPECT_EQ(stamp.get_Time(), GeneralizedTimeInstant(Fact(facts, R"(genTime `([^`]+)`)")));
  EXPECT_STREQ(stamp.get_DataHashAlgOID(),
               kHashOids.at(Fact(facts, R"(Imprint: (\w+) \()")).c_str());
  EXPECT_NE(stamp.get_DataHashAlg(), 0u);
  EXPECT_EQ(HexOf(Stamps::StampBytes(stamp, &CStamp::get_DataHash)),
            Fact(facts, R"(Imprint: [^`]*`([0-9a-f]+)`)"));
  const std::string nonce = Fact(facts, R"(Nonce: (-|-?\d+);)");
  EXPECT_EQ(stamp.get_HasNonce(), nonce != "-");
  EXPECT_EQ(stamp.get_Accuracy(), AccuracyMicros(Fact(facts, R"(accuracy: ([^;]+);)")));
  EXPECT_EQ(stamp.get_Ordering(), Fact(facts, R"(ordering: (\w+))") == "TRUE");
  EXPECT_EQ(Stamps::StoreCertificates(stamp.get_Certificates()).size(),
            std::stoul(Fact(facts, R"(Certificates: (\d+))")));

  const std::string tsa = Fact(facts, R"(tsa field: ([^\n]*))");
  const CBlob tsaBlob = Stamps::StampBytes(stamp, &CStamp::get_TSABlob);
  const std::string tsaText = Velmora::Platform::WideToUtf8(stamp.get_TSA());
  if (tsa == "absent") {
    EXPECT_TRUE(tsaBlob.empty());
    EXPECT_EQ(tsaText, "");
  } else if (tsa.find("EMPTY directoryName") != std::string::npos) {
    EXPECT_FALSE(tsaBlob.empty());
    EXPECT_EQ(tsaText, "");
  } else {
    EXPECT_FALSE(tsaBlob.empty());
    std::smatch cn;
    if (std::regex_search(tsa, cn, std::regex(R"(Common Name: ([^,;]+))"))) {
      EXPECT_NE(tsaText.find("CN=" + cn[1].str()), std::string::npos) << tsaText;
    }
  }
}

}  // namespace

TEST(StampInterop, EveryResponseAndTokenImportsWithItsManifestFields) {
  const std::map<std::string, std::string> sections = ManifestSections();
  std::size_t tokens = 0;
  std::size_t refusals = 0;
  for (const auto& entry : fs::recursive_directory_iterator(InteropDir())) {
    const fs::path& path = entry.path();
    if (!entry.is_regular_file() || (path.extension() != ".tsr" && path.extension() != ".tst")) {
      continue;
    }
    const std::string name = fs::relative(path, InteropDir()).generic_string();
    SCOPED_TRACE(name);
    const auto section = sections.find(name);
    ASSERT_NE(section, sections.end()) << "every message of the folder has its manifest entry";
    const std::string& facts = section->second;
    const CBlob bytes = ToBlob(ReadFileBytes(path));

    CStamp stamp;
    ASSERT_EQ(DerBuild::CodeOf([&] { stamp.Import(bytes.pbData(), bytes.cbData(), nullptr); }), 0);
    if (path.extension() == ".tst") {
      EXPECT_EQ(DerBuild::CodeOf([&] { (void)stamp.get_Status(); }),
                Velmora::Platform::MakeHResult(0x8007139F));
    } else {
      const bool granted = facts.find("Kind: TimeStampResp (status granted") != std::string::npos;
      EXPECT_EQ(stamp.get_Status(), granted ? 0u : 2u);
      std::smatch statusText;
      const bool hasText =
          std::regex_search(facts, statusText, std::regex(R"(statusString "([^"]*)\")"));
      EXPECT_EQ(Velmora::Platform::WideToUtf8(stamp.get_StatusString()),
                hasText ? statusText[1].str() : std::string());
      if (!granted) {
        ++refusals;
        EXPECT_EQ(stamp.get_FailInfo(),
                  1u << kFailureBits.at(Fact(facts, R"(failInfo (\w+), no token)")));
        EXPECT_EQ(DerBuild::CodeOf([&] { (void)stamp.get_Time(); }),
                  Velmora::Platform::MakeHResult(0x8007139F));
        continue;
      }
    }
    ++tokens;
    CheckToken(stamp, facts);
    // The export is the token alone: it imports again as a bare token with the same fields.
    const CBlob token = Stamps::StampBytes(stamp, &CStamp::Export);
    CStamp again;
    again.Import(token.pbData(), token.cbData(), nullptr);
    EXPECT_EQ(Stamps::StampBytes(again, &CStamp::Export), token);
    CheckToken(again, facts);
  }
  EXPECT_EQ(tokens, 43u);
  EXPECT_EQ(refusals, 3u);
}
