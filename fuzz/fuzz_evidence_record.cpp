// An evidence record: decode, walk its chains and trees, encode it back unchanged; each part
// re-read on its own must also give its bytes back.
#include "codec/evidence/evidence_record.h"
#include "fuzz/fuzz_harness.h"

namespace ERS = Velmora::PKI::ERS;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzHarness::Run([&] {
    const Velmora::CBlob input(data, static_cast<unsigned long>(size));
    ERS::CEvidenceRecord record;
    record.decode(input);
    if (!(record.encode() == input)) {
      __builtin_trap();  // a decoded record gives back the bytes it was read from
    }
    for (const ERS::CArchiveTimeStampChain& chain : record.get_sequence().get_chains()) {
      for (const ERS::CArchiveTimeStamp& stamp : chain.get_items()) {
        ERS::CArchiveTimeStamp again;
        again.decode(stamp.encode());
        if (!(again.encode() == stamp.encode())) {
          __builtin_trap();
        }
        stamp.get_timeStamp().get_genTime();
      }
    }
  });
  return 0;
}
