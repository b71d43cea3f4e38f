// The diagnostic trace: short messages about what the library is doing, written when the
// administrator's trace settings let them through.
//
//   HORODEX_TRACE(VelmoraTraceGeneral, 2, "Velmora::PKI::TSP::Client::CStamp::Import",
//                 "Importing time-stamp...\n");
//
// TraceMessage never throws for a message that is filtered out and never changes errno or the
// thread's last-error code.
#pragma once

#include <string>

namespace Velmora::Support {

// Where a message comes from: the fully qualified function name, the source file and line.
struct TracePoint {
  const char* function;
  const char* file;
  int line;
};

// A registered category of messages. Status: 0 inherit, 1 enabled, 2 disabled.
struct TraceCategory {
  const char* name;
};

// Every message of the library goes to this category; the second is registered but unused.
extern TraceCategory VelmoraTraceGeneral;
extern TraceCategory VelmoraTraceSnapin;

// Levels the library uses: 2 for operations, 4 for the detail of policy reading.
void TraceMessage(const TracePoint& point, const TraceCategory& category, unsigned level,
                  const char* format, ...) __attribute__((format(printf, 4, 5)));

}  // namespace Velmora::Support

#define HORODEX_TRACE(category, level, function, ...)                                            \
  ::Velmora::Support::TraceMessage(::Velmora::Support::TracePoint{function, __FILE__, __LINE__}, \
                                   ::Velmora::Support::category, level, __VA_ARGS__)
