// The platform's error numbers that the library raises or passes on: Win32 codes, generic
// HRESULTs, CryptoAPI, ASN.1 and certificate-trust codes. Values are the platform's own and
// never change.
#pragma once

#include "platform/base/types.h"

namespace Velmora::Platform {

// Win32 error numbers (GetLastError values).
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_BAD_FORMAT = 11;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_OUTOFMEMORY = 14;
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_WRITE_PROTECT = 19;
inline constexpr DWORD ERROR_WRITE_FAULT = 29;
inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_HANDLE_EOF = 38;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_DEV_NOT_EXIST = 55;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BROKEN_PIPE = 109;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_BAD_ARGUMENTS = 160;
inline constexpr DWORD ERROR_BAD_PATHNAME = 161;
inline constexpr DWORD ERROR_BUSY = 170;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_INVALID_ADDRESS = 487;
inline constexpr DWORD ERROR_ARITHMETIC_OVERFLOW = 534;
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;
inline constexpr DWORD ERROR_BADDB = 1009;  // a registry hive file that does not parse
inline constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
inline constexpr DWORD ERROR_IO_DEVICE = 1117;
inline constexpr DWORD ERROR_NOT_FOUND = 1168;
inline constexpr DWORD ERROR_CANCELLED = 1223;
inline constexpr DWORD ERROR_ACCESS_DISABLED_BY_POLICY = 1260;
inline constexpr DWORD ERROR_INTERNAL_ERROR = 1359;
inline constexpr DWORD ERROR_TIMEOUT = 1460;
inline constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;
inline constexpr DWORD ERROR_INVALID_OPERATION = 4317;
inline constexpr DWORD ERROR_INVALID_STATE = 5023;

// WinHTTP error numbers (12000 to 12999), in the Win32 numbering: GetLastError values of the
// HTTP client, 0x80072EE1 and on once wrapped as HRESULTs. 12031 is the connection-reset number
// that the platform's HTTP stacks share; the WinHTTP headers do not name it.
inline constexpr DWORD WINHTTP_ERROR_BASE = 12000;
inline constexpr DWORD ERROR_WINHTTP_OUT_OF_HANDLES = 12001;
inline constexpr DWORD ERROR_WINHTTP_TIMEOUT = 12002;
inline constexpr DWORD ERROR_WINHTTP_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_WINHTTP_INVALID_URL = 12005;
inline constexpr DWORD ERROR_WINHTTP_UNRECOGNIZED_SCHEME = 12006;
inline constexpr DWORD ERROR_WINHTTP_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_WINHTTP_INVALID_OPTION = 12009;
inline constexpr DWORD ERROR_WINHTTP_OPTION_NOT_SETTABLE = 12011;
inline constexpr DWORD ERROR_WINHTTP_SHUTDOWN = 12012;
inline constexpr DWORD ERROR_WINHTTP_LOGIN_FAILURE = 12015;
inline constexpr DWORD ERROR_WINHTTP_OPERATION_CANCELLED = 12017;
inline constexpr DWORD ERROR_WINHTTP_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_WINHTTP_INCORRECT_HANDLE_STATE = 12019;
inline constexpr DWORD ERROR_WINHTTP_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_WINHTTP_CONNECTION_ERROR = 12030;
inline constexpr DWORD ERROR_WINHTTP_CONNECTION_RESET = 12031;
inline constexpr DWORD ERROR_WINHTTP_RESEND_REQUEST = 12032;
inline constexpr DWORD ERROR_WINHTTP_SECURE_CERT_DATE_INVALID = 12037;
inline constexpr DWORD ERROR_WINHTTP_SECURE_CERT_CN_INVALID = 12038;
inline constexpr DWORD ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED = 12044;
inline constexpr DWORD ERROR_WINHTTP_SECURE_INVALID_CA = 12045;
inline constexpr DWORD ERROR_WINHTTP_SECURE_CERT_REV_FAILED = 12057;
inline constexpr DWORD ERROR_WINHTTP_CANNOT_CALL_BEFORE_OPEN = 12100;
inline constexpr DWORD ERROR_WINHTTP_CANNOT_CALL_BEFORE_SEND = 12101;
inline constexpr DWORD ERROR_WINHTTP_CANNOT_CALL_AFTER_SEND = 12102;
inline constexpr DWORD ERROR_WINHTTP_CANNOT_CALL_AFTER_OPEN = 12103;
inline constexpr DWORD ERROR_WINHTTP_HEADER_NOT_FOUND = 12150;
inline constexpr DWORD ERROR_WINHTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr DWORD ERROR_WINHTTP_INVALID_HEADER = 12153;
inline constexpr DWORD ERROR_WINHTTP_INVALID_QUERY_REQUEST = 12154;
inline constexpr DWORD ERROR_WINHTTP_HEADER_ALREADY_EXISTS = 12155;
inline constexpr DWORD ERROR_WINHTTP_REDIRECT_FAILED = 12156;
inline constexpr DWORD ERROR_WINHTTP_SECURE_CHANNEL_ERROR = 12157;
inline constexpr DWORD ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT = 12166;
inline constexpr DWORD ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT = 12167;
inline constexpr DWORD ERROR_WINHTTP_SECURE_INVALID_CERT = 12169;
inline constexpr DWORD ERROR_WINHTTP_SECURE_CERT_REVOKED = 12170;
inline constexpr DWORD ERROR_WINHTTP_NOT_INITIALIZED = 12172;
inline constexpr DWORD ERROR_WINHTTP_SECURE_FAILURE = 12175;
inline constexpr DWORD ERROR_WINHTTP_UNHANDLED_SCRIPT_TYPE = 12176;
inline constexpr DWORD ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR = 12177;
inline constexpr DWORD ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR = 12178;
inline constexpr DWORD ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE = 12179;
inline constexpr DWORD ERROR_WINHTTP_AUTODETECTION_FAILED = 12180;
inline constexpr DWORD ERROR_WINHTTP_HEADER_COUNT_EXCEEDED = 12181;
inline constexpr DWORD ERROR_WINHTTP_HEADER_SIZE_OVERFLOW = 12182;
inline constexpr DWORD ERROR_WINHTTP_CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW = 12183;
inline constexpr DWORD ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW = 12184;
inline constexpr DWORD ERROR_WINHTTP_CLIENT_CERT_NO_PRIVATE_KEY = 12185;
inline constexpr DWORD ERROR_WINHTTP_CLIENT_CERT_NO_ACCESS_PRIVATE_KEY = 12186;
inline constexpr DWORD WINHTTP_ERROR_LAST = 12186;

// Generic HRESULTs.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
inline constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);

// CryptoAPI provider codes.
inline constexpr HRESULT NTE_BAD_UID = MakeHResult(0x80090001);
inline constexpr HRESULT NTE_BAD_HASH = MakeHResult(0x80090002);
inline constexpr HRESULT NTE_BAD_KEY = MakeHResult(0x80090003);
inline constexpr HRESULT NTE_BAD_LEN = MakeHResult(0x80090004);
inline constexpr HRESULT NTE_BAD_DATA = MakeHResult(0x80090005);
inline constexpr HRESULT NTE_BAD_SIGNATURE = MakeHResult(0x80090006);
inline constexpr HRESULT NTE_BAD_VER = MakeHResult(0x80090007);
inline constexpr HRESULT NTE_BAD_ALGID = MakeHResult(0x80090008);
inline constexpr HRESULT NTE_BAD_FLAGS = MakeHResult(0x80090009);
inline constexpr HRESULT NTE_BAD_TYPE = MakeHResult(0x8009000A);
inline constexpr HRESULT NTE_BAD_KEY_STATE = MakeHResult(0x8009000B);
inline constexpr HRESULT NTE_BAD_HASH_STATE = MakeHResult(0x8009000C);
inline constexpr HRESULT NTE_NO_KEY = MakeHResult(0x8009000D);
inline constexpr HRESULT NTE_NO_MEMORY = MakeHResult(0x8009000E);
inline constexpr HRESULT NTE_EXISTS = MakeHResult(0x8009000F);
inline constexpr HRESULT NTE_PERM = MakeHResult(0x80090010);
inline constexpr HRESULT NTE_NOT_FOUND = MakeHResult(0x80090011);
inline constexpr HRESULT NTE_BAD_PROVIDER = MakeHResult(0x80090013);
inline constexpr HRESULT NTE_BAD_PROV_TYPE = MakeHResult(0x80090014);
inline constexpr HRESULT NTE_BAD_PUBLIC_KEY = MakeHResult(0x80090015);
inline constexpr HRESULT NTE_BAD_KEYSET = MakeHResult(0x80090016);
inline constexpr HRESULT NTE_PROV_TYPE_NOT_DEF = MakeHResult(0x80090017);
inline constexpr HRESULT NTE_PROV_TYPE_ENTRY_BAD = MakeHResult(0x80090018);
inline constexpr HRESULT NTE_KEYSET_NOT_DEF = MakeHResult(0x80090019);
inline constexpr HRESULT NTE_KEYSET_ENTRY_BAD = MakeHResult(0x8009001A);
inline constexpr HRESULT NTE_PROV_TYPE_NO_MATCH = MakeHResult(0x8009001B);
inline constexpr HRESULT NTE_SIGNATURE_FILE_BAD = MakeHResult(0x8009001C);
inline constexpr HRESULT NTE_PROVIDER_DLL_FAIL = MakeHResult(0x8009001D);
inline constexpr HRESULT NTE_PROV_DLL_NOT_FOUND = MakeHResult(0x8009001E);
inline constexpr HRESULT NTE_BAD_KEYSET_PARAM = MakeHResult(0x8009001F);
inline constexpr HRESULT NTE_FAIL = MakeHResult(0x80090020);
inline constexpr HRESULT NTE_SYS_ERR = MakeHResult(0x80090021);
inline constexpr HRESULT NTE_INVALID_HANDLE = MakeHResult(0x80090026);
inline constexpr HRESULT NTE_INVALID_PARAMETER = MakeHResult(0x80090027);
inline constexpr HRESULT NTE_BUFFER_TOO_SMALL = MakeHResult(0x80090028);
inline constexpr HRESULT NTE_NOT_SUPPORTED = MakeHResult(0x80090029);
inline constexpr HRESULT NTE_NO_MORE_ITEMS = MakeHResult(0x8009002A);

// CryptoAPI message and object codes.
inline constexpr HRESULT CRYPT_E_MSG_ERROR = MakeHResult(0x80091001);
inline constexpr HRESULT CRYPT_E_UNKNOWN_ALGO = MakeHResult(0x80091002);
inline constexpr HRESULT CRYPT_E_OID_FORMAT = MakeHResult(0x80091003);
inline constexpr HRESULT CRYPT_E_INVALID_MSG_TYPE = MakeHResult(0x80091004);
inline constexpr HRESULT CRYPT_E_UNEXPECTED_ENCODING = MakeHResult(0x80091005);
inline constexpr HRESULT CRYPT_E_AUTH_ATTR_MISSING = MakeHResult(0x80091006);
inline constexpr HRESULT CRYPT_E_HASH_VALUE = MakeHResult(0x80091007);
inline constexpr HRESULT CRYPT_E_INVALID_INDEX = MakeHResult(0x80091008);
inline constexpr HRESULT CRYPT_E_ALREADY_DECRYPTED = MakeHResult(0x80091009);
inline constexpr HRESULT CRYPT_E_NOT_DECRYPTED = MakeHResult(0x8009100A);
inline constexpr HRESULT CRYPT_E_RECIPIENT_NOT_FOUND = MakeHResult(0x8009100B);
inline constexpr HRESULT CRYPT_E_CONTROL_TYPE = MakeHResult(0x8009100C);
inline constexpr HRESULT CRYPT_E_ISSUER_SERIALNUMBER = MakeHResult(0x8009100D);
inline constexpr HRESULT CRYPT_E_SIGNER_NOT_FOUND = MakeHResult(0x8009100E);
inline constexpr HRESULT CRYPT_E_ATTRIBUTES_MISSING = MakeHResult(0x8009100F);
inline constexpr HRESULT CRYPT_E_STREAM_MSG_NOT_READY = MakeHResult(0x80091010);
inline constexpr HRESULT CRYPT_E_STREAM_INSUFFICIENT_DATA = MakeHResult(0x80091011);
inline constexpr HRESULT CRYPT_E_BAD_LEN = MakeHResult(0x80092001);
inline constexpr HRESULT CRYPT_E_BAD_ENCODE = MakeHResult(0x80092002);
inline constexpr HRESULT CRYPT_E_FILE_ERROR = MakeHResult(0x80092003);
inline constexpr HRESULT CRYPT_E_NOT_FOUND = MakeHResult(0x80092004);
inline constexpr HRESULT CRYPT_E_EXISTS = MakeHResult(0x80092005);
inline constexpr HRESULT CRYPT_E_NO_PROVIDER = MakeHResult(0x80092006);
inline constexpr HRESULT CRYPT_E_SELF_SIGNED = MakeHResult(0x80092007);
inline constexpr HRESULT CRYPT_E_DELETED_PREV = MakeHResult(0x80092008);
inline constexpr HRESULT CRYPT_E_NO_MATCH = MakeHResult(0x80092009);
inline constexpr HRESULT CRYPT_E_UNEXPECTED_MSG_TYPE = MakeHResult(0x8009200A);
inline constexpr HRESULT CRYPT_E_NO_KEY_PROPERTY = MakeHResult(0x8009200B);
inline constexpr HRESULT CRYPT_E_NO_DECRYPT_CERT = MakeHResult(0x8009200C);
inline constexpr HRESULT CRYPT_E_BAD_MSG = MakeHResult(0x8009200D);
inline constexpr HRESULT CRYPT_E_NO_SIGNER = MakeHResult(0x8009200E);
inline constexpr HRESULT CRYPT_E_PENDING_CLOSE = MakeHResult(0x8009200F);
inline constexpr HRESULT CRYPT_E_REVOKED = MakeHResult(0x80092010);
inline constexpr HRESULT CRYPT_E_NO_REVOCATION_DLL = MakeHResult(0x80092011);
inline constexpr HRESULT CRYPT_E_NO_REVOCATION_CHECK = MakeHResult(0x80092012);
inline constexpr HRESULT CRYPT_E_REVOCATION_OFFLINE = MakeHResult(0x80092013);
inline constexpr HRESULT CRYPT_E_NOT_IN_REVOCATION_DATABASE = MakeHResult(0x80092014);
inline constexpr HRESULT CRYPT_E_INVALID_NUMERIC_STRING = MakeHResult(0x80092020);
inline constexpr HRESULT CRYPT_E_INVALID_PRINTABLE_STRING = MakeHResult(0x80092021);
inline constexpr HRESULT CRYPT_E_INVALID_IA5_STRING = MakeHResult(0x80092022);
inline constexpr HRESULT CRYPT_E_INVALID_X500_STRING = MakeHResult(0x80092023);
inline constexpr HRESULT CRYPT_E_NOT_CHAR_STRING = MakeHResult(0x80092024);
inline constexpr HRESULT CRYPT_E_SECURITY_SETTINGS = MakeHResult(0x80092026);
inline constexpr HRESULT CRYPT_E_NO_TRUSTED_SIGNER = MakeHResult(0x8009202B);
inline constexpr HRESULT CRYPT_E_MISSING_PUBKEY_PARA = MakeHResult(0x8009202C);

// ASN.1 encode and decode codes.
inline constexpr HRESULT CRYPT_E_ASN1_ERROR = MakeHResult(0x80093100);     // corrupt encoding
inline constexpr HRESULT CRYPT_E_ASN1_INTERNAL = MakeHResult(0x80093101);  // internal error
inline constexpr HRESULT CRYPT_E_ASN1_EOD = MakeHResult(0x80093102);       // data ends too soon
inline constexpr HRESULT CRYPT_E_ASN1_CORRUPT = MakeHResult(0x80093103);
inline constexpr HRESULT CRYPT_E_ASN1_LARGE =
    MakeHResult(0x80093104);  // value or nesting too large
inline constexpr HRESULT CRYPT_E_ASN1_CONSTRAINT = MakeHResult(0x80093105);
inline constexpr HRESULT CRYPT_E_ASN1_MEMORY = MakeHResult(0x80093106);
inline constexpr HRESULT CRYPT_E_ASN1_OVERFLOW = MakeHResult(0x80093107);
inline constexpr HRESULT CRYPT_E_ASN1_BADPDU = MakeHResult(0x80093108);
inline constexpr HRESULT CRYPT_E_ASN1_BADARGS = MakeHResult(0x80093109);
inline constexpr HRESULT CRYPT_E_ASN1_BADREAL = MakeHResult(0x8009310A);
inline constexpr HRESULT CRYPT_E_ASN1_BADTAG = MakeHResult(0x8009310B);
inline constexpr HRESULT CRYPT_E_ASN1_CHOICE = MakeHResult(0x8009310C);
inline constexpr HRESULT CRYPT_E_ASN1_RULE = MakeHResult(0x8009310D);
inline constexpr HRESULT CRYPT_E_ASN1_UTF8 = MakeHResult(0x8009310E);
inline constexpr HRESULT CRYPT_E_ASN1_PDU_TYPE = MakeHResult(0x80093133);
inline constexpr HRESULT CRYPT_E_ASN1_NYI = MakeHResult(0x80093134);
inline constexpr HRESULT CRYPT_E_ASN1_EXTENDED = MakeHResult(0x80093201);
inline constexpr HRESULT CRYPT_E_ASN1_NOEOD = MakeHResult(0x80093202);

// Certificate trust codes.
inline constexpr HRESULT TRUST_E_PROVIDER_UNKNOWN = MakeHResult(0x800B0001);
inline constexpr HRESULT TRUST_E_ACTION_UNKNOWN = MakeHResult(0x800B0002);
inline constexpr HRESULT TRUST_E_SUBJECT_FORM_UNKNOWN = MakeHResult(0x800B0003);
inline constexpr HRESULT TRUST_E_SUBJECT_NOT_TRUSTED = MakeHResult(0x800B0004);
inline constexpr HRESULT TRUST_E_NOSIGNATURE = MakeHResult(0x800B0100);
inline constexpr HRESULT CERT_E_EXPIRED = MakeHResult(0x800B0101);
inline constexpr HRESULT CERT_E_VALIDITYPERIODNESTING = MakeHResult(0x800B0102);
inline constexpr HRESULT CERT_E_ROLE = MakeHResult(0x800B0103);
inline constexpr HRESULT CERT_E_PATHLENCONST = MakeHResult(0x800B0104);
inline constexpr HRESULT CERT_E_CRITICAL = MakeHResult(0x800B0105);
inline constexpr HRESULT CERT_E_PURPOSE = MakeHResult(0x800B0106);
inline constexpr HRESULT CERT_E_ISSUERCHAINING = MakeHResult(0x800B0107);
inline constexpr HRESULT CERT_E_MALFORMED = MakeHResult(0x800B0108);
inline constexpr HRESULT CERT_E_UNTRUSTEDROOT = MakeHResult(0x800B0109);
inline constexpr HRESULT CERT_E_CHAINING = MakeHResult(0x800B010A);
inline constexpr HRESULT TRUST_E_FAIL = MakeHResult(0x800B010B);
inline constexpr HRESULT CERT_E_REVOKED = MakeHResult(0x800B010C);
inline constexpr HRESULT CERT_E_UNTRUSTEDTESTROOT = MakeHResult(0x800B010D);
inline constexpr HRESULT CERT_E_REVOCATION_FAILURE = MakeHResult(0x800B010E);
inline constexpr HRESULT CERT_E_CN_NO_MATCH = MakeHResult(0x800B010F);
inline constexpr HRESULT CERT_E_WRONG_USAGE = MakeHResult(0x800B0110);
inline constexpr HRESULT TRUST_E_EXPLICIT_DISTRUST = MakeHResult(0x800B0111);
inline constexpr HRESULT CERT_E_UNTRUSTEDCA = MakeHResult(0x800B0112);
inline constexpr HRESULT CERT_E_INVALID_POLICY = MakeHResult(0x800B0113);
inline constexpr HRESULT CERT_E_INVALID_NAME = MakeHResult(0x800B0114);
inline constexpr HRESULT TRUST_E_SYSTEM_ERROR = MakeHResult(0x80096001);
inline constexpr HRESULT TRUST_E_NO_SIGNER_CERT = MakeHResult(0x80096002);
inline constexpr HRESULT TRUST_E_COUNTER_SIGNER = MakeHResult(0x80096003);
inline constexpr HRESULT TRUST_E_CERT_SIGNATURE = MakeHResult(0x80096004);
inline constexpr HRESULT TRUST_E_TIME_STAMP = MakeHResult(0x80096005);
inline constexpr HRESULT TRUST_E_BAD_DIGEST = MakeHResult(0x80096010);
inline constexpr HRESULT TRUST_E_BASIC_CONSTRAINTS = MakeHResult(0x80096019);

// The code whose text the error lookup gives without asking any table: the smart-card
// "card unsupported" number that CSPs use for a malformed container name.
inline constexpr HRESULT SCARD_E_CARD_UNSUPPORTED = MakeHResult(0x8010001C);
inline constexpr HRESULT SCARD_E_INVALID_CHV_NAME_FORMAT = SCARD_E_CARD_UNSUPPORTED;

// Facilities of HRESULTs (bits 16 to 28).
inline constexpr DWORD FACILITY_ITF = 4;
inline constexpr DWORD FACILITY_WIN32 = 7;
inline constexpr DWORD FACILITY_MSMQ = 14;

// The HRESULT of a Win32 error number: 0 and values that are already negative as signed 32-bit
// numbers pass unchanged, any other value keeps its low 16 bits under facility 7 with the
// failure bit set (5 gives 0x80070005, 0x12345 gives 0x80072345).
constexpr HRESULT HRESULT_FROM_WIN32(DWORD code) {
  const auto asSigned = static_cast<HRESULT>(code);
  return asSigned <= 0 ? asSigned
                       : MakeHResult(0x80000000u | (FACILITY_WIN32 << 16) | (code & 0xFFFFu));
}

}  // namespace Velmora::Platform
