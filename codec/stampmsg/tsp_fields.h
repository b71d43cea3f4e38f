// Codec-internal readers and writers of the fields that the TSP messages share.
#pragma once

#include "codec/asnkit/algorithm_identifier.h"
#include "codec/asnkit/extensions.h"
#include "codec/corekit/blob.h"
#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"

namespace Velmora::PKI::TSP::Fields {

// MessageImprint ::= SEQUENCE { hashAlgorithm AlgorithmIdentifier, hashedMessage OCTET STRING }
void ReadMessageImprint(const ASN1::Der::Element& element, ASN1::CAlgorithmIdentifierEx& algorithm,
                        CBlob& hashedMessage);
void WriteMessageImprint(ASN1::Der::Writer& writer, const ASN1::CAlgorithmIdentifierEx& algorithm,
                         const CBlob& hashedMessage);

// Extensions under an IMPLICIT context tag ([0] of a TimeStampReq, [1] of a TSTInfo).
void ReadImplicitExtensions(const ASN1::Der::Element& element, ASN1::CExtensions& extensions);
void WriteImplicitExtensions(ASN1::Der::Writer& writer, std::uint32_t tagNumber,
                             const ASN1::CExtensions& extensions);

// A BOOLEAN DEFAULT FALSE field (certReq, ordering): read when present. DER leaves FALSE out;
// FALSE written out is BER that some clients and TSAs send, and it reads as FALSE.
bool ReadDefaultFalse(ASN1::Der::Reader& fields);

// The version INTEGER of a TimeStampReq or TSTInfo: only v1 (1) exists; another value is
// refused with CRYPT_E_ASN1_ERROR, since its structure would be unknown.
std::uint32_t ReadVersion1(ASN1::Der::Reader& fields);

CBlob Copy(ASN1::Der::Bytes bytes);

}  // namespace Velmora::PKI::TSP::Fields
