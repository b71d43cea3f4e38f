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
