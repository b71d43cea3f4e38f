// The certificate that signed a time-stamp token, as its signed attributes name it.
//
// A token names its signer in one of three signed attributes, each a list of certificate
// identifiers (a hash of the whole DER certificate and, optionally, its issuer and serial number):
//
//   signingCertificate       1.2.840.113549.1.9.16.2.12  ESSCertID, SHA-1     (RFC 2634)   "V1"
//   otherSigningCertificate  1.2.840.113549.1.9.16.2.19  OtherCertID          (ETSI)      "O"
//   signingCertificateV2     1.2.840.113549.1.9.16.2.47  ESSCertIDv2, any hash (RFC 5035)  "V2"
//
// Only the first identifier of an attribute's list is used: it names the signer (RFC 2634, 5.4);
// the others and any policies are ignored. Each is turned into one common form, COtherCertID.
// V2 wins whenever it is present; V1 and O together contradict each other and are refused.
//
// These helpers keep no state. Failures are thrown as Velmora::Platform::CAtlException:
//   - ERROR_BAD_FORMAT (0x8007000B) for an attribute type that occurs twice or an attribute with
//     other than one value;
//   - the codec's CRYPT_E_ASN1_* code for an attribute value that does not decode;
//   - CRYPT_E_NOT_FOUND (0x80092004) from GetSignerCertIdEx when no attribute names a signer;
//   - the platform's code for a hash algorithm it does not know or a certificate that does not
//     decode.
#pragma once

#include <optional>

#include "codec/corekit/blob.h"
#include "platform/capi/wincrypt.h"

// The identifiers are the codec's ASN.1 classes, only declared here: the functions that take or
// return one are for code built with the codec's headers (codec/asnkit/ess.h), which are not
// installed. An application on the installed headers calls FindAttribute, HashCertificate and
// CheckSignerCertIdEx.
namespace Velmora::ASN1 {
class COtherCertID;
class CIssuerSerial;
}  // namespace Velmora::ASN1

namespace Velmora::PKI {

// The attribute of type `oid` (dotted text, compared exactly), or null when there is none. Its
// one value is rgValue[0]. A type that occurs twice, or an attribute found with a value count
// other than 1, throws ERROR_BAD_FORMAT.
const Platform::CRYPT_ATTRIBUTE* FindAttribute(const Platform::CRYPT_ATTRIBUTES& attributes,
                                               const char* oid);

// The identifier that the first entry of each attribute gives, or nullopt when the attribute is
// absent. V1 becomes the SHA-1 algorithm-and-value form with the entry's issuerSerial; O is
// copied as it is; V2 keeps its hash algorithm and issuerSerial.
std::optional<ASN1::COtherCertID> ReadSigningCertificate(
    const Platform::CRYPT_ATTRIBUTES& attributes);
std::optional<ASN1::COtherCertID> ReadOtherSigningCertificate(
    const Platform::CRYPT_ATTRIBUTES& attributes);
std::optional<ASN1::COtherCertID> ReadSigningCertificateV2(
    const Platform::CRYPT_ATTRIBUTES& attributes);

// The hash of the whole DER certificate under the hash algorithm of the dotted OID `oid`
// (through CryptHashCertificate2 with the algorithm's CNG name, else CryptHashCertificate with
// its ALG_ID). An unknown algorithm or a failed hash throws the platform's code.
CBlob HashCertificate(const CBlob& certificate, const char* oid);

// The certificate's issuer (one directoryName, the Name as encoded in the certificate) and serial
// number (as the certificate carries it). A certificate that does not decode throws.
ASN1::CIssuerSerial MakeIssuerSerial(const CBlob& certificate);

// Whether `certificate` is the one `id` names: the same hash under the identifier's algorithm
// (SHA-1 for the bare form) and, when the identifier carries an issuerSerial, the same issuer and
// serial number.
bool CheckCertId(const ASN1::COtherCertID& id, const CBlob& certificate);

// Whether every signing-certificate attribute present names `certificate` (checked in the order
// V2, O, V1). False, with a trace line, when there is none.
bool CheckSignerCertIdEx(const Platform::CRYPT_ATTRIBUTES& attributes, const CBlob& certificate);

// The identifier of the signer: V2 if present, else O, else V1. No attribute throws
// CRYPT_E_NOT_FOUND; V1 together with O throws ERROR_BAD_FORMAT (each after a trace line).
ASN1::COtherCertID GetSignerCertIdEx(const Platform::CRYPT_ATTRIBUTES& attributes);

}  // namespace Velmora::PKI
