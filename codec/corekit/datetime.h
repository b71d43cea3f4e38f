// CDateTime: a point in time in UTC, to the microsecond. CDateTimeSpan: a duration.
#pragma once

#include <cstdint>

#include "codec/corekit/string_proxy.h"
#include "platform/base/types.h"

namespace Velmora {

class CDateTimeSpan {
 public:
  // A duration of `seconds` plus `microseconds` (the library passes 0 and a microsecond count).
  CDateTimeSpan(unsigned long seconds, unsigned long microseconds);
  std::int64_t totalMicroseconds() const noexcept { return m_micros; }

 private:
  std::int64_t m_micros;
};

// Every CDateTime lies in the years a GeneralizedTime can carry, 0000-01-01 00:00:00 to
// 9999-12-31 23:59:59.999999 UTC (proleptic Gregorian calendar); any operation whose result would
// leave that range throws E_INVALIDARG.
class CDateTime {
 public:
  // The epoch, as CDateTime(0, 0).
  CDateTime() noexcept : m_micros(0) {}
  // `seconds` since 1970-01-01 00:00:00 UTC plus `microseconds` (0 to 999999; more throws
  // E_INVALIDARG). (0, 0) is the epoch itself; negative seconds are times before it.
  CDateTime(std::int64_t seconds, std::uint32_t microseconds);
  // Microseconds since the epoch, negative before it.
  static CDateTime FromMicroseconds(std::int64_t micros);
  // The current UTC time, to the microsecond.
  static CDateTime Now();
  // The instant of a FILETIME; a fraction of a microsecond is dropped, a time after 9999 throws
  // E_INVALIDARG.
  static CDateTime FromFileTime(const Platform::FILETIME& fileTime);

  std::int64_t seconds() const noexcept;        // floor of the time in whole seconds
  std::uint32_t microseconds() const noexcept;  // 0 to 999999
  std::int64_t totalMicroseconds() const noexcept { return m_micros; }

  friend bool operator==(const CDateTime& a, const CDateTime& b) noexcept {
    return a.m_micros == b.m_micros;
  }
  friend bool operator<(const CDateTime& a, const CDateTime& b) noexcept {
    return a.m_micros < b.m_micros;
  }
  friend bool operator>(const CDateTime& a, const CDateTime& b) noexcept { return b < a; }
  friend bool operator<=(const CDateTime& a, const CDateTime& b) noexcept { return !(b < a); }
  friend bool operator>=(const CDateTime& a, const CDateTime& b) noexcept { return !(a < b); }

  // Exact arithmetic to the microsecond; a result outside the representable range throws
  // E_INVALIDARG.
  CDateTime operator+(const CDateTimeSpan& span) const;
  CDateTime operator-(const CDateTimeSpan& span) const;
  CDateTime& operator+=(const CDateTimeSpan& span);
  CDateTime& operator-=(const CDateTimeSpan& span);

  // The same instant as a FILETIME (100-ns intervals since 1601-01-01 UTC); a time before 1601
  // throws E_INVALIDARG.
  Platform::FILETIME getFileTime() const;
  // The wall-clock time of the local time zone (TZ) at this instant, as a value of the same type:
  // this instant moved by the zone's offset from UTC then in force (daylight saving included).
  CDateTime utcToLocal() const;
  // Display text "DD.MM.YYYY HH:MM:SS", with ".ffffff" when the microseconds are not zero.
  CWStringProxy towstring() const;

 private:
  std::int64_t m_micros;  // since 1970-01-01 00:00:00 UTC
};

}  // namespace Velmora
