// CryptEncodeObject for the Authenticode time-stamp request and multi-byte integers, on our DER
// writer; LocalAlloc and LocalFree.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "codec/der/der_writer.h"
#include "platform/capi/capi_util.h"
#include "platform/capi/wincrypt_encode.h"

namespace Velmora::Platform {

namespace {

namespace Der = ASN1::Der;
using Encoding = std::vector<std::uint8_t>;

Der::Bytes BlobBytes(const CRYPT_DATA_BLOB& blob) {
  if (blob.cbData != 0 && blob.pbData == nullptr) {
    throw CAtlException(E_INVALIDARG);
  }
  return {blob.pbData, blob.cbData};
}

// A DER SET OF: the members' encodings in ascending order, then concatenated.
void WriteSetOf(Der::Writer& out, std::vector<Encoding> members) {
  std::sort(members.begin(), members.end());
  Encoding content;
  for (const Encoding& member : members) {
    content.insert(content.end(), member.begin(), member.end());
  }
  out.tlv(Der::Tags::Set, content);
}

Encoding EncodeAttribute(const CRYPT_ATTRIBUTE& attribute) {
  if (attribute.pszObjId == nullptr || (attribute.cValue != 0 && attribute.rgValue == nullptr)) {
    throw CAtlException(E_INVALIDARG);
  }
  Der::Writer out;
  out.sequence([&](Der::Writer& seq) {
    seq.oid(attribute.pszObjId);
    std::vector<Encoding> values;
    for (DWORD i = 0; i < attribute.cValue; ++i) {
      const Der::Bytes value = BlobBytes(attribute.rgValue[i]);
      values.emplace_back(value.begin(), value.end());
    }
    WriteSetOf(seq, std::move(values));
  });
  return out.take();
}

Encoding EncodeTimeRequest(const CRYPT_TIME_STAMP_REQUEST_INFO& info) {
  if (info.pszTimeStampAlgorithm == nullptr || info.pszContentType == nullptr ||
      (info.cAttribute != 0 && info.rgAttribute == nullptr)) {
    throw CAtlException(E_INVALIDARG);
  }
  Der::Writer out;
  out.sequence([&](Der::Writer& request) {
    request.oid(info.pszTimeStampAlgorithm);
    if (info.cAttribute != 0) {
      std::vector<Encoding> attributes;
      for (DWORD i = 0; i < info.cAttribute; ++i) {
        attributes.push_back(EncodeAttribute(info.rgAttribute[i]));
      }
      WriteSetOf(request, std::move(attributes));
    }
    request.sequence([&](Der::Writer& content) {
      content.oid(info.pszContentType);
      content.constructed(Der::Tag{Der::TagClass::Context, true, 0},
                          [&](Der::Writer& explicitContent) {
                            explicitContent.octetString(BlobBytes(info.Content));
                          });
    });
  });
  return out.take();
}

Encoding EncodeMultiByteInteger(const CRYPT_INTEGER_BLOB& value) {
  const Der::Bytes littleEndian = BlobBytes(value);
  Encoding bigEndian(littleEndian.rbegin(), littleEndian.rend());
  Der::Writer out;
  out.integer(bigEndian);
  return out.take();
}

}  // namespace

BOOL CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
                       BYTE* pbEncoded, DWORD* pcbEncoded) {
  return Capi::Guard(FALSE, [&]() -> BOOL {
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 || pvStructInfo == nullptr ||
        pcbEncoded == nullptr) {
      return Capi::Fail(E_INVALIDARG, FALSE);
    }
    Encoding encoded;
    if (lpszStructType == PKCS_TIME_REQUEST) {
      encoded = EncodeTimeRequest(*static_cast<const CRYPT_TIME_STAMP_REQUEST_INFO*>(pvStructInfo));
    } else if (lpszStructType == X509_MULTI_BYTE_INTEGER) {
      encoded = EncodeMultiByteInteger(*static_cast<const CRYPT_INTEGER_BLOB*>(pvStructInfo));
    } else {
      return Capi::FailWin32(ERROR_FILE_NOT_FOUND, FALSE);
    }
    if (encoded.size() > std::numeric_limits<DWORD>::max()) {
      return Capi::Fail(E_INVALIDARG, FALSE);
    }
    const DWORD room = *pcbEncoded;
    *pcbEncoded = static_cast<DWORD>(encoded.size());
    if (pbEncoded == nullptr) {
      return TRUE;
    }
    if (room < encoded.size()) {
      return Capi::FailWin32(ERROR_MORE_DATA, FALSE);
    }
    std::memcpy(pbEncoded, encoded.data(), encoded.size());
    return TRUE;
  });
}

HLOCAL LocalAlloc(UINT uFlags, std::size_t uBytes) noexcept {
  // malloc(0) may answer null; a zero-byte block is still a block the caller frees.
  void* block = (uFlags & LMEM_ZEROINIT) != 0 ? std::calloc(uBytes == 0 ? 1 : uBytes, 1)
                                              : std::malloc(uBytes == 0 ? 1 : uBytes);
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  return block;
}

HLOCAL LocalFree(HLOCAL hMem) noexcept {
  std::free(hMem);
  return nullptr;
}

}  // namespace Velmora::Platform
