// The standard helper functions of proxy auto-configuration scripts, as the script sees them.
#pragma once

namespace Horodex::ProxyHelper {

// The functions written in the script language itself (isPlainHostName, dnsDomainIs,
// localHostOrDomainIs, isInNet, dnsDomainLevels, shExpMatch, weekdayRange, dateRange, timeRange
// and the "Ex" forms); they call the native dnsResolve, dnsResolveEx and myIpAddress(Ex).
extern const char kPacFunctions[];

}  // namespace Horodex::ProxyHelper
