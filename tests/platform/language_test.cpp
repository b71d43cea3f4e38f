// The choice of the texts' language from locale names and from the environment.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/text/language.h"
#include "tests/common/saved_environment.h"

namespace P = Velmora::Platform;

namespace {

// Clears the locale variables for one test and puts the old values back.
class LocaleEnvironment : Velmora::Testing::SavedEnvironment {
 public:
  LocaleEnvironment() : SavedEnvironment({"LC_ALL", "LC_MESSAGES", "LANG"}, true) {}
  void Set(const char* name, const char* value) { setenv(name, value, 1); }
};

}  // namespace

TEST(Language, FromLocaleName) {
  for (const char* name : {"ru", "ru_RU", "ru_RU.UTF-8", "RU_ru.koi8r", "ru.CP1251", "ru@latin",
                           "ru-RU", "ru_UA.UTF-8"}) {
    EXPECT_EQ(P::LanguageFromLocaleName(name), P::Language::Russian) << name;
  }
  for (const char* name :
       {"", "C", "POSIX", "C.UTF-8", "en_US.UTF-8", "de_DE", "r", "run", "rus", "ur_PK", "br_FR"}) {
    EXPECT_EQ(P::LanguageFromLocaleName(name), P::Language::English) << name;
  }
}

TEST(Language, EnvironmentDecidesWhileTheProgramLocaleIsNeutral) {
  ASSERT_STREQ(std::setlocale(LC_MESSAGES, nullptr), "C");
  LocaleEnvironment env;
  EXPECT_EQ(P::UserLanguage(), P::Language::English);

  // The environment names a Russian locale, installed or not: the program's own locale stays
  // neutral (it is never set here), so the name alone decides.
  env.Set("LANG", "ru_RU.UTF-8");
  EXPECT_EQ(P::UserLanguage(), P::Language::Russian);
  ASSERT_STREQ(std::setlocale(LC_MESSAGES, nullptr), "C");

  // POSIX precedence: LC_ALL, then LC_MESSAGES, then LANG; empty values do not count.
  env.Set("LC_MESSAGES", "en_GB.UTF-8");
  EXPECT_EQ(P::UserLanguage(), P::Language::English);
  env.Set("LC_ALL", "ru_RU.KOI8-R");
  EXPECT_EQ(P::UserLanguage(), P::Language::Russian);
  env.Set("LC_ALL", "");
  EXPECT_EQ(P::UserLanguage(), P::Language::English);
  env.Set("LC_MESSAGES", "");
  EXPECT_EQ(P::UserLanguage(), P::Language::Russian);
}
