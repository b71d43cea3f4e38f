// Walks any input as a tree of DER elements with the reader's tolerances, and checks that the
// writer gives back the bytes of every primitive element that was in DER form.
#include <cstddef>
#include <cstdint>

#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"
#include "platform/errors/atl_exception.h"

namespace Der = Velmora::ASN1::Der;

namespace {

void Walk(const Der::Element& e) {
  if (e.tag.constructed) {
    Der::Reader members = e.children();
    while (!members.empty()) {
      Walk(members.next());
    }
    return;
  }
  if (e.tag == Der::Tags::Oid) {
    const std::string text = Der::ReadOid(e);
    Der::Writer w;
    w.oid(text);
    if (w.bytes().size() != e.encoded.size() ||
        !std::equal(w.bytes().begin(), w.bytes().end(), e.encoded.begin())) {
      __builtin_trap();  // an OID that reads must write back to the same bytes
    }
  } else if (e.tag == Der::Tags::GeneralizedTime) {
    Der::ReadGeneralizedTime(e);
  } else if (e.tag == Der::Tags::UtcTime) {
    Der::ReadUtcTime(e);
  } else if (e.tag == Der::Tags::BitString) {
    Der::ReadBitString(e);
  } else if (e.tag == Der::Tags::Integer) {
    Der::ReadSmallUnsigned(e, UINT64_MAX);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    Der::Reader reader(Der::Bytes(data, size));
    while (!reader.empty()) {
      Walk(reader.next());
    }
  } catch (const Velmora::Platform::CAtlException&) {
    // Refusals are the expected outcome for most inputs; anything else escapes and is a finding.
  }
  return 0;
}
