// The per-thread last error and the errno mapping, down to the error a file write reports.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "codec/corekit/blob.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/text/messages.h"

namespace P = Velmora::Platform;

TEST(LastError, EveryMappedCodeHasATextInBothLanguages) {
  for (int e = 0; e < 200; ++e) {
    const P::DWORD code = P::Win32FromErrno(e);
    const P::PlatformMessage* entry = P::FindPlatformMessage(P::MessageSource::System, code);
    ASSERT_NE(entry, nullptr) << "errno " << e << " gives " << code << " with no text";
  }
}

TEST(LastError, FileWriteFailuresCarryTheMappedCode) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("horodex_last_error_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const Velmora::CBlob blob(std::vector<unsigned char>{1, 2, 3});
  auto codeOf = [&](const fs::path& path) {
    try {
      blob.writeToFile(path.c_str());
    } catch (const P::CAtlException& e) {
      return e.hr();
    }
    return P::S_OK;
  };
  EXPECT_EQ(codeOf(dir / "missing" / "out.tsq"), P::HRESULT_FROM_WIN32(P::ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(codeOf(dir), P::HRESULT_FROM_WIN32(P::ERROR_ACCESS_DENIED));  // a folder
  EXPECT_EQ(codeOf(dir / "ok.tsq"), P::S_OK);
  try {
    blob.writeToFile(nullptr);
    ADD_FAILURE() << "wrote to no path";
  } catch (const P::CAtlException& e) {
    EXPECT_EQ(e.hr(), P::E_INVALIDARG);
  }
  // A full disk shows only when the buffered bytes are flushed at close.
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(codeOf("/dev/full"), P::HRESULT_FROM_WIN32(P::Win32FromErrno(ENOSPC)));
  }
  fs::remove_all(dir);
}
