// Without the viewer module the viewer fails with the platform's module-not-found code and never
// crashes. The module is loaded once per process, so this program never loads it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "horodex/TSPRequest.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "tests/common/der_build.h"
#include "tests/common/tsp_fixtures.h"
#include "tests/ui/viewer_testing.h"

namespace Velmora::Testing::Viewer {
namespace {

TEST(ViewerModule, AMissingModuleIsModuleNotFound) {
  ASSERT_EQ(setenv("HORODEX_VIEWER_MODULE", "/nonexistent/libhorodex-ui.so.1", 1), 0);
  const CBlob der = OpenSslTsaFile("q-full.tsq");
  PKI::TSP::Client::CRequest request;
  request.Import(der.pbData(), der.cbData());
  EXPECT_EQ(DerBuild::CodeOf([&] { request.get_PropPage(); }), P::MakeHResult(0x8007007E));
  EXPECT_EQ(
      DerBuild::CodeOf([&] { request.Display(nullptr, static_cast<const wchar_t*>(nullptr)); }),
      P::MakeHResult(0x8007007E));
  P::SetLastError(0);
  EXPECT_EQ(P::MessageBoxW(nullptr, L"text", L"caption", P::MB_OK), 0);
  EXPECT_EQ(P::GetLastError(), P::ERROR_MOD_NOT_FOUND);
}

}  // namespace
}  // namespace Velmora::Testing::Viewer
