// Until the trace settings are read, every message is filtered out.
#include "support/trace.h"

namespace Velmora::Support {

TraceCategory VelmoraTraceGeneral{"VelmoraTraceGeneral"};
TraceCategory VelmoraTraceSnapin{"VelmoraTraceSnapin"};

void TraceMessage(const TracePoint& /*point*/, const TraceCategory& /*category*/,
                  unsigned /*level*/, const char* /*format*/, ...) {}

}  // namespace Velmora::Support
