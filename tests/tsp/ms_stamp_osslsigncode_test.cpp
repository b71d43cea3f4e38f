// Debian's osslsigncode as the peer of the Authenticode exchange: it time-stamps a signed PE file
// at the test TSA's Authenticode mode and accepts the result on verification, and the request it
// posts is the very request GetMSStamp posts for the same content.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "horodex/MSTimeStamp.h"
#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"

namespace P = Velmora::Platform;
namespace T = Velmora::Testing;

namespace {

void Put16(std::vector<unsigned char>& out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<unsigned char>(value);
  out[at + 1] = static_cast<unsigned char>(value >> 8);
}
void Put32(std::vector<unsigned char>& out, std::size_t at, std::uint32_t value) {
  Put16(out, at, static_cast<std::uint16_t>(value));
  Put16(out, at + 2, static_cast<std::uint16_t>(value >> 16));
}

// The smallest PE32 image osslsigncode signs: DOS header, PE header, one .text section with a
// single "ret", 1 KiB in all.
std::vector<unsigned char> TinyPe() {
  std::vector<unsigned char> pe(0x400, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  Put32(pe, 0x3C, 0x40);  // e_lfanew
  pe[0x40] = 'P';
  pe[0x41] = 'E';
  constexpr std::size_t coff = 0x44;
  Put16(pe, coff, 0x14C);        // i386
  Put16(pe, coff + 2, 1);        // one section
  Put16(pe, coff + 16, 0xE0);    // size of the optional header
  Put16(pe, coff + 18, 0x0102);  // executable, 32-bit
  constexpr std::size_t opt = coff + 20;
  Put16(pe, opt, 0x10B);          // PE32
  Put32(pe, opt + 16, 0x1000);    // entry point
  Put32(pe, opt + 28, 0x400000);  // image base
  Put32(pe, opt + 32, 0x1000);    // section alignment
  Put32(pe, opt + 36, 0x200);     // file alignment
  Put16(pe, opt + 40, 4);         // operating system version
  Put16(pe, opt + 48, 4);         // subsystem version
  Put32(pe, opt + 56, 0x2000);    // size of image
  Put32(pe, opt + 60, 0x200);     // size of headers
  Put16(pe, opt + 68, 3);         // console
  Put32(pe, opt + 92, 16);        // data directories
  constexpr std::size_t section = opt + 0xE0;
  const char name[] = ".text";
  std::copy(name, name + 5, pe.begin() + section);
  Put32(pe, section + 8, 0x1000);   // virtual size
  Put32(pe, section + 12, 0x1000);  // virtual address
  Put32(pe, section + 16, 0x200);   // raw size
  Put32(pe, section + 20, 0x200);   // raw offset
  Put32(pe, section + 36, 0x60000020);
  pe[0x200] = 0xC3;
  return pe;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

// The structure the server logged for each Authenticode request to `target`.
std::vector<std::string> Structures(const T::TestTsaProcess& tsa, const std::string& target) {
  std::vector<std::string> out;
  for (T::LoggedRequest& line : tsa.Requests()) {
    if (line["authenticode"] == target) {
      out.push_back(line["structure"]);
    }
  }
  return out;
}

TEST(MsStampOsslsigncodeTest, PeerStampsAndVerifiesAndPostsTheSameRequest) {
  if (T::RunCommand("command -v osslsigncode >/dev/null").exitCode != 0) {
    GTEST_SKIP() << "osslsigncode is not installed (scripts/setup installs it)";
  }
  T::ConfigEnvironment env;
  T::TempDir dir;
  T::TestTsaProcess tsa;
  T::WriteFileBytes(dir / "tiny.exe", TinyPe());
  const auto q = [&](const std::string& name) { return T::ShellQuote((dir / name).string()); };
  ASSERT_EQ(T::RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "
                          "'/CN=horodex test signer' -keyout " +
                          q("signer.key") + " -out " + q("signer.pem") + " 2>&1")
                .exitCode,
            0);

  const auto sign = T::RunCommand("osslsigncode sign -certs " + q("signer.pem") + " -key " +
                                  q("signer.key") + " -t " + tsa.Url("/authenticode/peer") +
                                  " -in " + q("tiny.exe") + " -out " + q("signed.exe") + " 2>&1");
  ASSERT_EQ(sign.exitCode, 0) << sign.output;
  const auto verify =
      T::RunCommand("osslsigncode verify -in " + q("signed.exe") + " -CAfile " + q("signer.pem") +
                    " -TSA-CAfile " + T::ShellQuote(tsa.File("ca.pem").string()) + " 2>&1");
  EXPECT_EQ(verify.exitCode, 0) << verify.output;
  EXPECT_TRUE(Has(verify, "Timestamp Server Signature verification: ok")) << verify.output;

  // GetMSStamp posts, for the content osslsigncode sent, the same request.
  const std::vector<std::string> peer = Structures(tsa, "/authenticode/peer");
  ASSERT_EQ(peer.size(), 1u);
  const std::string marker = "[0]{OCTETS:";
  const std::size_t at = peer[0].find(marker);
  ASSERT_NE(at, std::string::npos) << peer[0];
  const std::size_t end = peer[0].find('}', at);
  std::string content = Unhex(peer[0].substr(at + marker.size(), end - at - marker.size()));
  ASSERT_FALSE(content.empty());
  P::CRYPT_DATA_BLOB blob{static_cast<P::DWORD>(content.size()),
                          reinterpret_cast<P::BYTE*>(content.data())};
  P::CRYPT_DATA_BLOB* stamp = GetMSStamp(&blob, tsa.WideUrl("/authenticode/ours").c_str(), nullptr);
  EXPECT_NE(stamp, nullptr);
  FreeMSStamp(stamp);
  const std::vector<std::string> ours = Structures(tsa, "/authenticode/ours");
  ASSERT_EQ(ours.size(), 1u);
  EXPECT_EQ(ours[0], peer[0]);
}

}  // namespace
