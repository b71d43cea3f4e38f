// The shell entry points as the desktop calls them: files opened and shown in the sheet, every
// kind of bad file reported in the error box with the text of its code, never thrown or crashed
// on; the two display functions pass failures to their caller.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "horodex/ShellEntryPoints.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "platform/ui/winuser.h"
#include "support/error_messages.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"

namespace P = Velmora::Platform;
namespace T = Velmora::Testing;
using Bytes = std::vector<unsigned char>;

namespace {

struct Box {
  std::wstring caption;
  std::wstring text;
  P::UINT type;
};

// What the user was shown.
struct Seen {
  std::vector<Box> boxes;
  int sheets = 0;
};

// While it lives, answers every box and takes every sheet, keeping what it was shown.
class Recorder : public P::DialogResponder, public Seen {
 public:
  Recorder() : m_previous(P::SetDialogResponder(this)) {}
  ~Recorder() override { P::SetDialogResponder(m_previous); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  bool OnMessageBox(P::HWND, std::wstring_view text, std::wstring_view caption, P::UINT type,
                    int* result) override {
    boxes.push_back({std::wstring(caption), std::wstring(text), type});
    *result = P::IDOK;
    return true;
  }
  bool OnPropertySheet(P::HWND) override {
    ++sheets;
    return true;
  }

 private:
  P::DialogResponder* m_previous;
};

using OpenFunction = void (*)(P::HWND, P::HINSTANCE, char*, int);

// Opens `path` with `open` and returns what the user saw.
Seen Open(OpenFunction open, std::string path, int showCommand = 1) {
  Recorder seen;
  open(nullptr, nullptr, path.data(), showCommand);
  return static_cast<const Seen&>(seen);
}

std::string Write(const T::TempDir& dir, const std::string& name, const Bytes& content) {
  T::WriteFileBytes(dir / name, content);
  return (dir / name).string();
}

// The file is reported in one error box captioned "Velmora TSP Client" with the text of `hr`.
void ExpectErrorBox(const Seen& seen, P::HRESULT hr, const std::string& what) {
  ASSERT_EQ(seen.boxes.size(), 1u) << what;
  EXPECT_EQ(seen.boxes[0].caption, L"Velmora TSP Client") << what;
  EXPECT_EQ(seen.boxes[0].text, Velmora::Support::GetErrorMessage(hr)) << what;
  EXPECT_EQ(seen.boxes[0].type, P::MB_OK | P::MB_ICONERROR) << what;
  EXPECT_EQ(seen.sheets, 0) << what;
}

}  // namespace

TEST(ShellOpen, BadFilesGiveTheErrorBox) {
  T::TempDir dir;
  const Bytes der = T::ReadFileBytes(T::OpenSslTsaDir() / "q-full.tsq");
  std::string text = "-----BEGIN TSQ-----\nMIIB\n";
  const struct {
    std::string path;
    P::HRESULT hr;
  } cases[] = {
      {(dir / "missing.tsq").string(), P::HRESULT_FROM_WIN32(P::ERROR_FILE_NOT_FOUND)},
      {(dir / "no" / "folder.tsq").string(), P::HRESULT_FROM_WIN32(P::ERROR_PATH_NOT_FOUND)},
      {dir.path().string(), P::HRESULT_FROM_WIN32(P::ERROR_ACCESS_DENIED)},
      {Write(dir, "empty.tsq", {}), P::MakeHResult(0x80093102)},
      {Write(dir, "blank.tsq", {' ', '\r', '\n', '\t'}), P::MakeHResult(0x80093102)},
      {Write(dir, "cut.tsq", {'M', 'I', 'I', 'B', '\n', 'A'}), P::E_FAIL},
      {Write(dir, "noend.tsq", Bytes(text.begin(), text.end())), P::E_FAIL},
      {Write(dir, "odd.tsq", {0xFE, 0xFF, 0, 'M', 0}), P::E_INVALIDARG},
  };
  for (const auto& c : cases) {
    ExpectErrorBox(Open(CryptExtOpenTSPRequest, c.path), c.hr, c.path);
    ExpectErrorBox(Open(CryptExtOpenTSPStamp, c.path), c.hr, c.path);
  }
}

TEST(ShellOpen, FilesOf2GiBOrMoreAreRefused) {
  T::TempDir dir;
  for (const off_t size : {off_t{0x80000000}, off_t{0x100000003}}) {
    const std::string path = (dir / "sparse.tsr").string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    ExpectErrorBox(Open(CryptExtOpenTSPStamp, path), P::E_INVALIDARG, std::to_string(size));
  }
}

TEST(ShellOpen, QuotesAndShowCommand) {
  T::TempDir dir;
  const std::string missing = (dir / "missing.tsr").string();
  // Show command 0 reads nothing, so a missing file is not reported.
  EXPECT_TRUE(Open(CryptExtOpenTSPStamp, missing, 0).boxes.empty());
  // The name is unquoted in the caller's buffer; a leading quote alone stays.
  std::string quoted = "\"" + missing + "\"";
  Recorder seen;
  CryptExtOpenTSPStamp(nullptr, nullptr, quoted.data(), 1);
  EXPECT_EQ(quoted, "\"" + missing + std::string(1, '\0'));
  ExpectErrorBox(seen, P::HRESULT_FROM_WIN32(P::ERROR_FILE_NOT_FOUND), quoted);
  T::WriteFileBytes(dir / "\"half.tsr", {});
  ExpectErrorBox(Open(CryptExtOpenTSPStamp, (dir / "\"half.tsr").string()),
                 P::MakeHResult(0x80093102), "leading quote");
  // A null name is reported like any other bad argument.
  Recorder none;
  CryptExtOpenTSPRequest(nullptr, nullptr, nullptr, 1);
  ExpectErrorBox(none, P::E_INVALIDARG, "null name");
}

TEST(ShellOpen, DisplayFunctionsPassFailuresOn) {
  const Bytes garbage = {0x30, 0x03, 0x02, 0x01};
  Recorder seen;
  EXPECT_THROW(CryptExtDisplayRequestTSP(nullptr, garbage.data(), 4), P::CAtlException);
  EXPECT_THROW(CryptExtDisplayStampTSP(nullptr, garbage.data(), 4), P::CAtlException);
  EXPECT_TRUE(seen.boxes.empty());
}
