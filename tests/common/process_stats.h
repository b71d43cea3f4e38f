// What the test process holds, from /proc/self: resident memory (now and at its peak) and open
// file descriptors. Tests and the soak use them to show that nothing grows.
#pragma once

#include <cstddef>

namespace Velmora::Testing {

// VmRSS and VmHWM of /proc/self/status, in KiB; 0 when they cannot be read.
std::size_t ResidentKiB();
std::size_t PeakResidentKiB();
// The entries of /proc/self/fd, less the one the count itself opens.
std::size_t OpenDescriptors();

}  // namespace Velmora::Testing
