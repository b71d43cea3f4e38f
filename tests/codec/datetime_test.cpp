// CDateTime and CDateTimeSpan: exact arithmetic, the range limits, FILETIME, local time and text;
// the byte buffer's less obvious operations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

#include "codec/corekit/blob.h"
#include "codec/corekit/datetime.h"
#include "codec/corekit/datetime_der.h"
#include "codec/corekit/linked_list.h"
#include "codec/der/der_writer.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "tests/common/der_build.h"
#include "tests/common/saved_environment.h"

using Velmora::CBlob;
using Velmora::CDateTime;
using Velmora::CDateTimeSpan;
namespace P = Velmora::Platform;
namespace Der = Velmora::ASN1::Der;

using Velmora::Testing::DerBuild::CodeOf;

namespace {

std::uint64_t Ticks(const P::FILETIME& ft) {
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

P::FILETIME FileTime(std::uint64_t ticks) {
  return {static_cast<P::DWORD>(ticks & 0xFFFFFFFFu), static_cast<P::DWORD>(ticks >> 32)};
}

CDateTimeSpan Micros(unsigned long n) {
  return CDateTimeSpan(0, n);
}

// The first and last instants a CDateTime holds.
const CDateTime kFirst(-62167219200, 0);      // 0000-01-01 00:00:00
const CDateTime kLast(253402300799, 999999);  // 9999-12-31 23:59:59.999999

// Sets TZ for one test and puts the old value back.
class ScopedTz : Velmora::Testing::SavedEnvironment {
 public:
  explicit ScopedTz(const char* tz) : SavedEnvironment({"TZ"}) {
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTz() {
    restore();
    tzset();
  }
};

}  // namespace

TEST(DateTime, ArithmeticCarriesAcrossSecondsAndTheEpoch) {
  EXPECT_EQ(CDateTime(10, 999999) + Micros(1), CDateTime(11, 0));
  EXPECT_EQ(CDateTime(11, 0) - Micros(1), CDateTime(10, 999999));
  EXPECT_EQ(CDateTime(0, 0) - Micros(1), CDateTime(-1, 999999));
  EXPECT_EQ(CDateTime(-1, 999999) + Micros(2), CDateTime(0, 1));
  // Microsecond counts above one second, as the library passes accuracies.
  EXPECT_EQ(CDateTime(0, 0) + Micros(2500000), CDateTime(2, 500000));
  EXPECT_EQ(CDateTime(0, 0) - CDateTimeSpan(1, 250000), CDateTime(-2, 750000));

  CDateTime t(100, 0);
  t += Micros(3000001);
  EXPECT_EQ(t, CDateTime(103, 1));
  t -= Micros(3000002);
  EXPECT_EQ(t, CDateTime(99, 999999));

  EXPECT_TRUE(CDateTime(-1, 999999) < CDateTime(0, 0));
  EXPECT_TRUE(CDateTime(5, 1) > CDateTime(5, 0));
  EXPECT_FALSE(CDateTime(5, 0) < CDateTime(5, 0));
}

TEST(DateTime, ResultsOutsideTheRangeAreRefusedAndLeaveTheValue) {
  EXPECT_EQ(kLast - Micros(0), kLast);
  EXPECT_EQ(CodeOf([] { (void)(kLast + Micros(1)); }), P::E_INVALIDARG);
  EXPECT_EQ(CodeOf([] { (void)(kFirst - Micros(1)); }), P::E_INVALIDARG);
  EXPECT_EQ(CodeOf([] { CDateTime(253402300800, 0); }), P::E_INVALIDARG);
  EXPECT_EQ(CodeOf([] { CDateTime(std::numeric_limits<std::int64_t>::max(), 0); }),
            P::E_INVALIDARG);
  EXPECT_EQ(CodeOf([] { CDateTime(std::numeric_limits<std::int64_t>::min(), 0); }),
            P::E_INVALIDARG);
  // A span too long to count in microseconds, and one that only overflows the addition.
  const auto maxUl = std::numeric_limits<unsigned long>::max();
  EXPECT_EQ(CodeOf([&] { CDateTimeSpan(maxUl, 0); }), P::E_INVALIDARG);
  EXPECT_EQ(CodeOf([&] { CDateTimeSpan(0, maxUl); }), P::E_INVALIDARG);
  const CDateTimeSpan huge(0, static_cast<unsigned long>(std::numeric_limits<std::int64_t>::max()));
  EXPECT_EQ(CodeOf([&] { (void)(kLast + huge); }), P::E_INVALIDARG);
  EXPECT_EQ(CodeOf([&] { (void)(kFirst - huge); }), P::E_INVALIDARG);

  CDateTime t = kLast;
  EXPECT_EQ(CodeOf([&] { t += Micros(1); }), P::E_INVALIDARG);
  EXPECT_EQ(t, kLast);
}

TEST(DateTime, FileTimeOfKnownInstants) {
  EXPECT_EQ(Ticks(CDateTime(0, 0).getFileTime()), 116444736000000000u);
  EXPECT_EQ(Ticks(CDateTime(946684800, 0).getFileTime()), 125911584000000000u);  // 2000-01-01
  EXPECT_EQ(Ticks(CDateTime(0, 1).getFileTime()), 116444736000000010u);
  EXPECT_EQ(Ticks(CDateTime(-11644473600, 0).getFileTime()), 0u);  // 1601-01-01
  EXPECT_EQ(CodeOf([] { (void)CDateTime::FromMicroseconds(-11644473600000001).getFileTime(); }),
            P::E_INVALIDARG);
  EXPECT_EQ(Ticks(kLast.getFileTime()), 2650467743999999990u);
}

TEST(DateTime, FromFileTimeRoundTripsAndDropsSubMicroseconds) {
  for (const CDateTime t : {CDateTime(0, 0), CDateTime(-11644473600, 0),
                            CDateTime(1700000000, 123456), CDateTime(-5, 999999), kLast}) {
    EXPECT_EQ(CDateTime::FromFileTime(t.getFileTime()), t);
  }
  EXPECT_EQ(CDateTime::FromFileTime(FileTime(116444736000000019u)), CDateTime(0, 1));
  EXPECT_EQ(CDateTime::FromFileTime(FileTime(0)), CDateTime(-11644473600, 0));
  EXPECT_EQ(CodeOf([] { (void)CDateTime::FromFileTime(FileTime(2650467744000000000u)); }),
            P::E_INVALIDARG);
  EXPECT_EQ(CodeOf([] { (void)CDateTime::FromFileTime(FileTime(~0ull)); }), P::E_INVALIDARG);
}

TEST(DateTime, RoundTripsThroughGeneralizedTime) {
  for (const CDateTime t : {CDateTime(1700000000, 120000), CDateTime(-1, 1), kFirst, kLast}) {
    Der::Writer w;
    w.generalizedTime(Velmora::ToDerTime(t));
    EXPECT_EQ(Velmora::FromDerTime(Der::ReadGeneralizedTime(Der::ReadSingle(w.bytes()))), t);
  }
  const Der::Time tooEarly{-62167219201, 0};
  EXPECT_EQ(CodeOf([&] { (void)Velmora::FromDerTime(tooEarly); }), P::E_INVALIDARG);
  const Der::Time badMicros{0, 1000000};
  EXPECT_EQ(CodeOf([&] { (void)Velmora::FromDerTime(badMicros); }), P::E_INVALIDARG);
}

TEST(Blob, ResizeKeepsLeadingBytesAndAppendGathers) {
  const unsigned char bytes[] = {0x30, 0x82, 0x01, 0x0A};
  CBlob blob(bytes, 4);
  blob.resize_to(2);
  EXPECT_EQ(blob, CBlob(bytes, 2));
  blob.resize_to(3);
  EXPECT_EQ(blob.pbData()[2], 0);
  blob += CBlob(bytes + 2, 2);
  EXPECT_EQ(blob.writeToHexString(1).str(), "30 82 00 01 0A");
  EXPECT_EQ(blob.writeToHexString(2).str(), "3082 0001 0A");
  EXPECT_EQ(blob.writeToHexString(0).str(), "308200010A");
  EXPECT_NE(blob, CBlob(bytes, 4));
  CBlob self = blob;
  self += self;
  EXPECT_EQ(self.cbData(), 10u);
  EXPECT_EQ(self.writeToHexString(0).str(), "308200010A308200010A");
  EXPECT_EQ(CBlob().pbData(), nullptr);
  EXPECT_EQ(CodeOf([] { CBlob(nullptr, 1); }), P::E_INVALIDARG);
}
