// The trace configured through the machine hive, Trace.ini and settings files, and the exact
// lines it writes to standard error and to log files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <regex>
#include <string>

#include "platform/errors/last_error.h"
#include "support/trace.h"
#include "support/trace_internal.h"
#include "tests/common/hive_env.h"

namespace S = Velmora::Support;
using Velmora::Testing::ConfigEnvironment;
using Velmora::Testing::ReadFileText;
using Velmora::Testing::StderrCapture;

namespace {

constexpr const char* kFunction = "Velmora::Testing::TraceCheck";

class TraceConfig : public ::testing::Test {
 protected:
  void TearDown() override {
    std::filesystem::remove_all(m_env.root());
    std::filesystem::remove_all(m_env.config());
    S::ReloadTraceConfiguration();  // back to no settings at all
  }

  // The machine hive with `values` under the trace key.
  void Hive(const std::string& values) {
    ConfigEnvironment::Write(m_env.machineHive(),
                             "Windows Registry Editor Version 5.00\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Trace]\n" +
                                 values);
  }

  // What the trace writes to standard error for one message of each level, after reading the
  // settings again.
  static std::string EveryLevel() {
    const StderrCapture capture;
    S::ReloadTraceConfiguration();
    for (unsigned level = 0; level <= 4; ++level) {
      HORODEX_TRACE(VelmoraTraceGeneral, level, kFunction, "level %u\n", level);
    }
    return capture.text();
  }

  ConfigEnvironment m_env;
};

std::string Lines(std::initializer_list<unsigned> levels) {
  std::string out;
  for (const unsigned level : levels) {
    out += "libhorodex.so.1: level " + std::to_string(level) + "\n";
  }
  return out;
}

}  // namespace

TEST_F(TraceConfig, ModuleSettingFromHiveOrIniPicksTheLevel) {
  EXPECT_EQ(EveryLevel(), "");  // nothing configured: nothing written
  EXPECT_FALSE(S::TraceIsEnabled(S::VelmoraTraceGeneral, 0));

  Hive("\"libhorodex.so.1\"=\"2\"\n");
  EXPECT_EQ(EveryLevel(), Lines({0, 1, 2}));
  Hive("\"libhorodex.so.1\"=\"\"\n");  // empty registry setting: level 3
  EXPECT_EQ(EveryLevel(), Lines({0, 1, 2, 3}));

  // Not a string in the hive: the INI files decide, the common one first, an empty value skipped.
  Hive("\"libhorodex.so.1\"=dword:4\n");
  ConfigEnvironment::Write(m_env.commonIni(), "; common\n[trace]\n  LIBHORODEX.SO.1 = 1 \n");
  ConfigEnvironment::Write(m_env.userIni(), "[Trace]\nlibhorodex.so.1=4\n");
  EXPECT_EQ(EveryLevel(), Lines({0, 1}));
  ConfigEnvironment::Write(m_env.commonIni(), "[Trace]\nlibhorodex.so.1=\n");
  EXPECT_EQ(EveryLevel(), Lines({0, 1, 2, 3, 4}));
  // A user file saved by a Windows editor: UTF-16LE with its mark, CR LF.
  ConfigEnvironment::WriteBytes(m_env.userIni(),
                                Velmora::Testing::RegeditBytes("[Trace]\nlibhorodex.so.1=0\n"));
  EXPECT_EQ(EveryLevel(), Lines({0}));
}

TEST_F(TraceConfig, ProcessFlagsAddLocationAndCategory) {
  Hive("\"libhorodex.so.1\"=\"4\"\n\"ProcessFlags\"=dword:3\n");
  std::string text;
  int line = 0;
  {
    const StderrCapture capture;
    S::ReloadTraceConfiguration();
    line = __LINE__ + 1;
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction, "hello %d\n", 42);
    text = capture.text();
  }
  const std::regex expected(
      R"(libhorodex\.so\.1: \{(\d+):0x[0-9a-f]+\} /Velmora::Testing::TraceCheck/ )"
      R"(trace_config_test\.cpp\((\d+)\) : VelmoraTraceGeneral: hello 42\n)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(text, match, expected)) << text;
  EXPECT_EQ(std::stoi(match[1]), static_cast<int>(::gettid()));
  EXPECT_EQ(std::stoi(match[2]), line);

  // From the INI when the hive has no number: bit 0 only names the category.
  Hive("\"libhorodex.so.1\"=\"4\"\n\"ProcessFlags\"=\"3\"\n");
  ConfigEnvironment::Write(m_env.userIni(), "[Trace]\nProcessFlags=1\n");
  {
    const StderrCapture capture;
    S::ReloadTraceConfiguration();
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction, "hello\n");
    EXPECT_EQ(capture.text(), "libhorodex.so.1: VelmoraTraceGeneral: hello\n");
  }
  ConfigEnvironment::Write(m_env.userIni(), "[Trace]\nProcessFlags=none\n");
  {
    const StderrCapture capture;
    S::ReloadTraceConfiguration();
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction, "hello\n");
    EXPECT_EQ(capture.text(), "libhorodex.so.1: hello\n");
  }
}

TEST_F(TraceConfig, LogFileFallsBackToTheUsersFolderThenToAPath) {
  // The common folder cannot be made: a file stands where its parent should be.
  ConfigEnvironment::Write(m_env.root() / "var/log", "not a folder");
  ConfigEnvironment::Write(m_env.commonIni(),
                           "[Trace]\nlibhorodex.so.1=2\nlibhorodex.so.1.logfile=user.log\n");
  S::ReloadTraceConfiguration();
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction, "to the user\n");
  const auto userLog = m_env.userLogs() / "user.log";
  EXPECT_EQ(S::TraceLogFilePath(), userLog.string());
  EXPECT_TRUE(ReadFileText(userLog).ends_with(" : libhorodex.so.1: to the user\r\n"));

  const auto path = m_env.scratch() / "elsewhere.log";
  ConfigEnvironment::Write(
      m_env.commonIni(),
      "[Trace]\nlibhorodex.so.1=2\nlibhorodex.so.1.logfile=" + path.string() + "\n");
  S::ReloadTraceConfiguration();
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction, "by path\n");
  EXPECT_TRUE(ReadFileText(path).ends_with(" : libhorodex.so.1: by path\r\n"));
}

TEST_F(TraceConfig, SettingsFileSetsProcessModuleAndCategories) {
  const auto settings = m_env.scratch() / "settings.ini";
  ConfigEnvironment::Write(m_env.commonIni(),
                           "[Trace]\nlibhorodex.so.1=" + settings.string() + "\n");
  ConfigEnvironment::Write(settings,
                           "[Process]\n"
                           "Info=ModuleCount:2, Level:0, Enabled:t, FuncAndCategoryNames:t, "
                           "FileNameAndLineNo:f\n"
                           "Module1=Other\n"
                           "Module2=Ours\n"
                           "[Other]\n"
                           "Name=/usr/lib/libother.so\n"
                           "[Ours]\n"
                           "Name=" +
                               S::TraceModulePath() +
                               "\n"
                               "Settings=CategoryCount:2, Level:1, Status:1\n"
                               "Category1=Level:3, Status:1, Name:VelmoraTraceGeneral\n"
                               "Category2=Level:4, Status:2, Name:VelmoraTraceSnapin\n");
  {
    const StderrCapture capture;
    S::ReloadTraceConfiguration();
    for (unsigned level = 0; level <= 4; ++level) {
      HORODEX_TRACE(VelmoraTraceGeneral, level, kFunction, "general %u\n", level);
      HORODEX_TRACE(VelmoraTraceSnapin, level, kFunction, "snapin %u\n", level);
    }
    std::string expected;
    for (unsigned level = 0; level <= 3; ++level) {
      expected += "libhorodex.so.1: VelmoraTraceGeneral: general " + std::to_string(level) + "\n";
    }
    EXPECT_EQ(capture.text(), expected);
  }

  // The process level reaches a module left to inherit; the module may be named by file name.
  ConfigEnvironment::Write(settings,
                           "[Process]\n"
                           "Info=ModuleCount:1, Level:2, Enabled:t, "
                           "FuncAndCategoryNames:f, FileNameAndLineNo:f\n"
                           "Module1=Ours\n"
                           "[Ours]\n"
                           "Name=LIBHORODEX.SO.1\n"
                           "Settings=CategoryCount:0, Level:4, Status:0\n");
  EXPECT_EQ(EveryLevel(), Lines({0, 1, 2}));

  // A settings file that is missing or does not parse changes nothing: the module keeps level 0
  // and status inherit from its registration, under the process level 0.
  for (const std::string& content :
       {std::string(), std::string("[Process]\nInfo=ModuleCount:1, Level:4, Enabled:t\n"),
        std::string("[Process]\nInfo=ModuleCount:1, Level:4, Enabled:t, FuncAndCategoryNames:f, "
                    "FileNameAndLineNo:f\nModule1=Ours\n[Ours]\nName=libhorodex.so.1\n"
                    "Settings=Level:4\n")}) {
    SCOPED_TRACE(content);
    std::filesystem::remove(settings);
    if (!content.empty()) {
      ConfigEnvironment::Write(settings, content);
    }
    EXPECT_EQ(EveryLevel(), Lines({0}));
  }
  ConfigEnvironment::Write(m_env.commonIni(), "[Trace]\nlibhorodex.so.1=x\n");
  EXPECT_EQ(EveryLevel(), Lines({0}));
}

TEST_F(TraceConfig, BrokenMachineHiveIsNamedAndTheIniStillApplies) {
  ConfigEnvironment::Write(m_env.machineHive(),
                           "Windows Registry Editor Version 5.00\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Trace]\n"
                           "\"libhorodex.so.1\"=\"4\n");
  ConfigEnvironment::Write(m_env.userIni(), "[Trace]\nlibhorodex.so.1=1\n");
  const std::string text = EveryLevel();
  EXPECT_EQ(text,
            "libhorodex.so.1: Trace settings not read: the machine hive cannot be read "
            "(error 1009): " +
                m_env.machineHive().string() +
                ", line 3: a quoted string without its closing quote\n" + Lines({0, 1}));
}

TEST_F(TraceConfig, MessagesKeepErrnoAndLastErrorAndLongLinesEndInALineFeed) {
  ConfigEnvironment::Write(m_env.commonIni(), "[Trace]\nlibhorodex.so.1=2\n");
  const StderrCapture capture;
  S::ReloadTraceConfiguration();
  for (const unsigned level : {2u, 4u}) {
    errno = EDOM;
    Velmora::Platform::SetLastError(1234);
    HORODEX_TRACE(VelmoraTraceGeneral, level, kFunction, "%s\n", std::string(3000, 'x').c_str());
    EXPECT_EQ(errno, EDOM);
    EXPECT_EQ(Velmora::Platform::GetLastError(), 1234u);
  }
  const std::string text = capture.text();
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(text, "libhorodex.so.1: " + std::string(1023 - 18, 'x') + "\n");
}

// The settings are read when the library is loaded: a fresh process of this test program finds
// them in its environment without any reload.
TEST_F(TraceConfig, SettingsAreReadWhenTheLibraryIsLoaded) {
  if (std::getenv("HORODEX_TRACE_LOAD_CHILD") != nullptr) {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction, "written by the child\n");
    HORODEX_TRACE(VelmoraTraceGeneral, 3, kFunction, "filtered in the child\n");
    return;
  }
  Hive("\"libhorodex.so.1\"=\"2\"\n\"libhorodex.so.1.logfile\"=\"child.log\"\n");
  const auto result = Velmora::Testing::RunCommand(
      "HORODEX_TRACE_LOAD_CHILD=1 /proc/" + std::to_string(::getpid()) +
      "/exe --gtest_filter=TraceConfig.SettingsAreReadWhenTheLibraryIsLoaded");
  ASSERT_EQ(result.exitCode, 0) << result.output;
  const std::string log = ReadFileText(m_env.commonLogs() / "child.log");
  EXPECT_TRUE(log.ends_with(" : libhorodex.so.1: written by the child\r\n")) << log;
  EXPECT_EQ(log.find("filtered"), std::string::npos);
}
