// The diagnostic trace: short messages about what the library is doing, written when the
// administrator's trace settings let them through.
//
//   HORODEX_TRACE(VelmoraTraceGeneral, 2, "Velmora::PKI::TSP::Client::CStamp::Import",
//                 "Importing time-stamp...\n");
//
// TraceMessage never throws for a message that is filtered out and never changes errno or the
// thread's last-error code. A filtered-out message costs one atomic load: the decision is taken
// before any argument is formatted.
//
// Settings are read once, when the library is loaded (support/trace_config.cpp says from where):
// a level and a status for the library's module, two process flags, and a log file. A written
// message is one line:
//
//   libhorodex.so.1: {tid:stackbase} /function/ file(line) : VelmoraTraceGeneral: message
//
// where the location appears with process flag FileNameAndLineNo (bit 1 of "ProcessFlags") and
// the category with FuncAndCategoryNames (bit 0). A line is at most 1023 characters; a longer one
// is cut and still ends with its line feed. Lines go to the log file, each after the local date
// and time "YYYY/MM/DD HH:MM:SS : " and with every LF written as CR LF, or, without a log file,
// to standard error as they are. Each line is one write(), so lines of several threads never mix.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace Velmora::Support {

// Where a message comes from: the fully qualified function name, the source file and line.
struct TracePoint {
  const char* function;
  const char* file;
  int line;
};

// Status of a module or category.
inline constexpr unsigned kTraceInherit = 0;
inline constexpr unsigned kTraceEnabled = 1;
inline constexpr unsigned kTraceDisabled = 2;

// A registered category of messages with its own level and status (at registration: level 0,
// inherit). `threshold` is derived from every setting that bears on the category: the highest
// level written, or -1 for none; only the trace facility sets it.
struct TraceCategory {
  const char* name;  // at most 63 characters
  std::atomic<unsigned> level{0};
  std::atomic<unsigned> status{kTraceInherit};
  std::atomic<int> threshold{-1};
};

// Every message of the library goes to this category; the second is registered but unused.
extern TraceCategory VelmoraTraceGeneral;
extern TraceCategory VelmoraTraceSnapin;

// Whether a message of `level` in `category` would be written now. For callers whose arguments
// cost something to prepare (texts to convert).
inline bool TraceIsEnabled(const TraceCategory& category, unsigned level) noexcept {
  const int threshold = category.threshold.load(std::memory_order_relaxed);
  return threshold >= 0 && level <= static_cast<unsigned>(threshold);
}

// Levels the library uses: 2 for operations, 4 for the detail of policy reading, 1 for a
// configuration that cannot be read. A format that vsnprintf refuses throws CAtlException
// (E_INVALIDARG, E_OUTOFMEMORY or E_FAIL), and then too errno and the last error are kept.
void TraceMessage(const TracePoint& point, const TraceCategory& category, unsigned level,
                  const char* format, ...) __attribute__((format(printf, 4, 5)));

// A wide text for a "%s" of a trace message: in the code set of the thread's locale, or in UTF-8
// when that code set cannot hold it; a character that is not valid at all is written as \x{...}.
// Never throws (a trace message must not make its caller fail).
std::string TraceText(std::wstring_view text) noexcept;

}  // namespace Velmora::Support

#define HORODEX_TRACE(category, level, function, ...)                                            \
  ::Velmora::Support::TraceMessage(::Velmora::Support::TracePoint{function, __FILE__, __LINE__}, \
                                   ::Velmora::Support::category, level, __VA_ARGS__)
