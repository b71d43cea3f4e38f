// Dates of the proleptic Gregorian calendar as days since 1970-01-01 and back (H. Hinnant's
// algorithms): the one conversion under CDateTime, the DER time types and the policy dates.
#pragma once

#include <cstdint>

namespace Velmora::Calendar {

inline constexpr std::int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of year `y`, month `m` (1-12), day `d` (1-31); negative before.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

// The date `days` after 1970-01-01 (before it when negative).
constexpr CivilDate CivilFromDays(std::int64_t days) {
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

static_assert(DaysFromCivil(1970, 1, 1) == 0 && DaysFromCivil(1601, 1, 1) == -134774);
static_assert(CivilFromDays(-134774).year == 1601 && CivilFromDays(11016).month == 2);

}  // namespace Velmora::Calendar
