// What every fuzz target shares: only the codec's own exception is an expected outcome; anything
// else escapes to libFuzzer and is a finding. Values that decode must encode, and the encoding
// must decode again to the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/corekit/blob.h"
#include "platform/errors/atl_exception.h"

namespace FuzzHarness {

template <typename Body>
void Run(Body&& body) {
  try {
    body();
  } catch (const Velmora::Platform::CAtlException&) {
    // A refusal with an HRESULT: the expected outcome for bad input.
  }
}

// decode -> encode -> decode -> encode must settle: the second encoding equals the first.
template <typename T>
void RoundTrip(const Velmora::CBlob& input) {
  T value;
  value.decode(input);
  const Velmora::CBlob first = value.encode();
  T again;
  again.decode(first);
  if (!(again.encode() == first)) {
    __builtin_trap();
  }
}

}  // namespace FuzzHarness
