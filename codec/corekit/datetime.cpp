#include "codec/corekit/datetime.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>

#include "codec/corekit/civil_calendar.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1000000;
using Calendar::kSecondsPerDay;

using Calendar::CivilDate;
using Calendar::CivilFromDays;
using Calendar::DaysFromCivil;

// The range of a CDateTime: the years a GeneralizedTime can write, 0000 to 9999.
constexpr std::int64_t kMinMicros = DaysFromCivil(0, 1, 1) * kSecondsPerDay * kMicrosPerSecond;
constexpr std::int64_t kMaxMicros =
    DaysFromCivil(10000, 1, 1) * kSecondsPerDay * kMicrosPerSecond - 1;

// FILETIME counts 100-ns intervals from 1601-01-01, 11644473600 s before the Unix epoch.
constexpr std::int64_t kFileTimeEpochMicros =
    DaysFromCivil(1601, 1, 1) * kSecondsPerDay * kMicrosPerSecond;
static_assert(kFileTimeEpochMicros == -Platform::kFileTimeEpochOffsetSeconds * kMicrosPerSecond);

std::int64_t CheckedMicros(std::int64_t micros) {
  if (micros < kMinMicros || micros > kMaxMicros) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  return micros;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

CDateTimeSpan::CDateTimeSpan(unsigned long seconds, unsigned long microseconds) : m_micros(0) {
  constexpr auto kMax = static_cast<unsigned long>(std::numeric_limits<std::int64_t>::max());
  unsigned long total = 0;
  if (__builtin_mul_overflow(seconds, static_cast<unsigned long>(kMicrosPerSecond), &total) ||
      __builtin_add_overflow(total, microseconds, &total) || total > kMax) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  m_micros = static_cast<std::int64_t>(total);
}

CDateTime::CDateTime(std::int64_t seconds, std::uint32_t microseconds) : m_micros(0) {
  std::int64_t total = 0;
  if (microseconds >= kMicrosPerSecond ||
      __builtin_mul_overflow(seconds, kMicrosPerSecond, &total)) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  m_micros = CheckedMicros(total + microseconds);
}

CDateTime CDateTime::FromMicroseconds(std::int64_t micros) {
  CDateTime result;
  result.m_micros = CheckedMicros(micros);
  return result;
}

CDateTime CDateTime::Now() {
  const auto now =
      std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
  return FromMicroseconds(now.time_since_epoch().count());
}

CDateTime CDateTime::FromFileTime(const Platform::FILETIME& fileTime) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
  // Whole microseconds; a FILETIME past year 9999 is refused by the range check.
  const std::uint64_t micros = ticks / 10;
  if (micros > static_cast<std::uint64_t>(kMaxMicros - kFileTimeEpochMicros)) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  return FromMicroseconds(static_cast<std::int64_t>(micros) + kFileTimeEpochMicros);
}

std::int64_t CDateTime::seconds() const noexcept {
  return FloorDiv(m_micros, kMicrosPerSecond);
}

std::uint32_t CDateTime::microseconds() const noexcept {
  return static_cast<std::uint32_t>(m_micros - seconds() * kMicrosPerSecond);
}

CDateTime CDateTime::operator+(const CDateTimeSpan& span) const {
  std::int64_t total = 0;
  if (__builtin_add_overflow(m_micros, span.totalMicroseconds(), &total)) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  return FromMicroseconds(total);
}

CDateTime CDateTime::operator-(const CDateTimeSpan& span) const {
  std::int64_t total = 0;
  if (__builtin_sub_overflow(m_micros, span.totalMicroseconds(), &total)) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  return FromMicroseconds(total);
}

CDateTime& CDateTime::operator+=(const CDateTimeSpan& span) {
  *this = *this + span;
  return *this;
}

CDateTime& CDateTime::operator-=(const CDateTimeSpan& span) {
  *this = *this - span;
  return *this;
}

Platform::FILETIME CDateTime::getFileTime() const {
  if (m_micros < kFileTimeEpochMicros) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  // At most about 2.5e17 ticks in year 9999: no overflow.
  const auto ticks = static_cast<std::uint64_t>(m_micros - kFileTimeEpochMicros) * 10;
  return {static_cast<Platform::DWORD>(ticks & 0xFFFFFFFFu),
          static_cast<Platform::DWORD>(ticks >> 32)};
}

CDateTime CDateTime::utcToLocal() const {
  const auto whole = static_cast<std::time_t>(seconds());
  std::tm local{};
  if (localtime_r(&whole, &local) == nullptr) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  std::int64_t offset = 0;
  if (__builtin_mul_overflow(static_cast<std::int64_t>(local.tm_gmtoff), kMicrosPerSecond,
                             &offset)) {
    Platform::AtlThrow(Platform::E_INVALIDARG);
  }
  return FromMicroseconds(m_micros + offset);
}

CWStringProxy CDateTime::towstring() const {
  const std::int64_t secs = seconds();
  const std::int64_t days = FloorDiv(secs, kSecondsPerDay);
  const std::int64_t inDay = secs - days * kSecondsPerDay;
  const CivilDate date = CivilFromDays(days);
  const std::uint32_t micros = microseconds();
  wchar_t text[48];
  int n = std::swprintf(
      text, std::size(text), L"%02u.%02u.%04lld %02lld:%02lld:%02lld", date.day, date.month,
      static_cast<long long>(date.year), static_cast<long long>(inDay / 3600),
      static_cast<long long>(inDay / 60 % 60), static_cast<long long>(inDay % 60));
  if (n > 0 && micros != 0) {
    std::swprintf(text + n, std::size(text) - static_cast<std::size_t>(n), L".%06u", micros);
  }
  return CWStringProxy(text);
}

}  // namespace Velmora
