// The conversion rule and the throw helpers.
#include <gtest/gtest.h>

#include <thread>

#include "support/errors.h"

namespace P = Velmora::Platform;
namespace S = Velmora::Support;

namespace {

P::HRESULT Thrown(auto&& fn) {
  try {
    fn();
  } catch (const S::CAtlException& e) {
    return e;
  }
  ADD_FAILURE() << "nothing was thrown";
  return P::S_OK;
}

}  // namespace

TEST(Errors, HResultFromWin32) {
  EXPECT_EQ(S::HResultFromWin32(5), P::MakeHResult(0x80070005));
  EXPECT_EQ(S::HResultFromWin32(0), 0);
  EXPECT_EQ(S::HResultFromWin32(0x80090008), P::NTE_BAD_ALGID);  // already an HRESULT
  EXPECT_EQ(S::HResultFromWin32(0x12345), P::MakeHResult(0x80072345));
  EXPECT_EQ(S::HResultFromWin32(P::ERROR_INVALID_STATE), P::MakeHResult(0x8007139F));
  EXPECT_EQ(S::HResultFromWin32(P::ERROR_WINHTTP_TIMEOUT), P::MakeHResult(0x80072EE2));
  EXPECT_EQ(S::HResultFromWin32(0xFFFFFFFF), -1);
}

TEST(Errors, ThrowHelpersCarryTheirCode) {
  EXPECT_EQ(Thrown([] { S::ThrowHResult(S::HORODEX_E_NO_TSA_URL); }), S::HORODEX_E_NO_TSA_URL);
  EXPECT_EQ(Thrown([] { S::ThrowWin32Error(P::ERROR_MORE_DATA); }), P::MakeHResult(0x800700EA));
  EXPECT_EQ(Thrown([] { S::ThrowWin32Error(0x80092004); }), P::CRYPT_E_NOT_FOUND);
  // A failure that left no error number still fails.
  EXPECT_EQ(Thrown([] { S::ThrowWin32Error(0); }), P::E_FAIL);
}

TEST(Errors, LastErrorHelpersReadTheCallingThread) {
  P::SetLastError(P::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(S::HResultFromLastError(), P::MakeHResult(0x80070002));
  EXPECT_EQ(P::GetLastError(), P::ERROR_FILE_NOT_FOUND);  // reading does not clear it

  P::HRESULT otherThread = 1;
  std::thread([&] { otherThread = Thrown([] { S::ThrowLastError(); }); }).join();
  EXPECT_EQ(otherThread, P::E_FAIL);  // that thread had no error recorded

  EXPECT_EQ(Thrown([] { S::ThrowLastError(); }), P::MakeHResult(0x80070002));
  P::SetLastError(0);
  EXPECT_EQ(S::HResultFromLastError(), P::S_OK);
}
