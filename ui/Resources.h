// The viewer's resources: the string table (ids 202 to 240) and dialog template 209 (the page's
// layout), each in Russian and English, and bitmap 203 (the six row icons), compiled in. The
// user's language chooses the texts, as it chooses the error texts.
#pragma once

#include <string>

#include "platform/text/language.h"
#include "platform/ui/controls.h"

namespace Velmora::PKI::TSP::Client::Viewer {

// String ids.
enum : unsigned {
  IDS_REQUEST_CAPTION = 202,
  IDS_FILTER_ALL = 203,
  IDS_FILTER_PROPERTIES = 204,
  IDS_FILTER_EXTENSIONS = 205,
  IDS_FILTER_CRITICAL = 206,
  IDS_VERSION = 207,
  IDS_COLUMN_VALUE = 208,
  IDS_COLUMN_FIELD = 209,
  IDS_FILE_SAVED = 210,
  IDS_ERROR = 211,
  IDS_POLICY = 212,
  IDS_NONCE = 213,
  IDS_CERTREQ = 214,
  IDS_PRESENT = 215,
  IDS_ABSENT = 216,
  IDS_HASH_ALGORITHM = 217,
  IDS_HASH_VALUE = 218,
  IDS_PRODUCT = 219,
  IDS_STAMP_CAPTION = 220,
  IDS_ORDERING = 221,
  IDS_SERIAL_NUMBER = 222,
  IDS_TSA = 223,
  IDS_TIME = 224,
  IDS_ACCURACY = 225,
  IDS_FILTER_CERTIFICATES = 227,
  IDS_CERTIFICATE = 228,
  IDS_SIGNATURE_VALID = 229,
  IDS_SIGNATURE_INVALID = 230,
  IDS_SIGNER_NOT_FOUND = 231,
  IDS_SIGNATURE = 232,
  IDS_SIGNATURE_ALGORITHM = 233,
  IDS_SECONDS = 234,
  IDS_MILLISECONDS = 235,
  IDS_MICROSECONDS = 236,
  IDS_REQUEST_SAVE_FILTER = 237,
  IDS_STAMP_SAVE_FILTER = 238,
  IDS_TSA_CERTIFICATE = 239,
  IDS_VALID_CERT_INVALID = 240,
};

// Dialog template, its controls and bitmap ids.
enum : int {
  IDD_FIELD_PAGE = 209,
  IDB_ROW_ICONS = 203,
  IDC_LIST = 109,
  IDC_DETAILS = 110,
  IDC_SAVE = 111,
  IDC_FILTER = 112,
  IDC_SHOW_CERTIFICATE = 113,
};

// Row icons (their index in bitmap 203).
enum : int {
  kIconProperty = 0,
  kIconExtension = 1,
  kIconCriticalExtension = 2,
  kIconSignatureValid = 3,
  kIconSignatureOther = 4,
  kIconCertificate = 5,
};

// The text of string `id` in the user's language (or in `language`); empty for an id that the
// table does not hold.
std::wstring LoadUiString(unsigned id);
std::wstring LoadUiString(unsigned id, Platform::Language language);

// Dialog template 209 in the user's language (or in `language`).
const Platform::DLGTEMPLATE& FieldPageTemplate();
const Platform::DLGTEMPLATE& FieldPageTemplate(Platform::Language language);

// Registers bitmap 203 with the platform's image lists (once).
void RegisterRowIcons();

}  // namespace Velmora::PKI::TSP::Client::Viewer
