#include "support/error_messages.h"

#include <algorithm>
#include <array>
#include <cwchar>

#include "platform/text/messages.h"

namespace Velmora::Support {
namespace {

#define OWN(code, english, russian) \
  OwnErrorCode {                    \
    code, #code, english, russian   \
  }

constexpr std::array kOwnCodes = {
    OWN(HORODEX_E_HTTP_ERROR, L"HTTP error occurred while sending request\r\n",
        L"При попытке отправки запроса возникла ошибка HTTP\r\n"),
    OWN(HORODEX_E_AUTH_TYPE_PROHIBITED,
        L"Specified authentication type is prohibited by group policy\r\n",
        L"Указанный тип аутентификации запрещен групповой политикой\r\n"),
    OWN(HORODEX_E_PROXY_AUTH_TYPE_PROHIBITED,
        L"Specified proxy authentication type is prohibited by group policy\r\n",
        L"Указанный тип аутентификации прокси-сервера запрещен групповой политикой\r\n"),
    OWN(HORODEX_E_TSA_PROHIBITED,
        L"Specified time-stamp authority is prohibited by group policy\r\n",
        L"Указанная служба штампов запрещена групповой политикой\r\n"),
    OWN(HORODEX_E_NONCE_PROHIBITED, L"Nonce usage is prohibited by group policy\r\n",
        L"Использование поля Nonce запрещено групповой политикой\r\n"),
    OWN(HORODEX_E_HASH_ALG_PROHIBITED,
        L"Specified hash algorithm is prohibited by group policy\r\n",
        L"Указанный алгоритм хэширования запрещен групповой политикой\r\n"),
    OWN(HORODEX_E_POLICY_ID_PROHIBITED, L"Specified PolicyID is prohibited by group policy\r\n",
        L"Указанный \"PolicyID\" запрещен групповой политикой\r\n"),
    OWN(HORODEX_E_NONCE_MISMATCH,
        L"The values of request's and stamp's \"Nonce\" fields are not equal.\r\n",
        L"Значение полей \"Nonce\" запроса и штампа не совпадают\r\n"),
    OWN(HORODEX_E_NO_TSA_URL, L"The URL of TSP service is not specified\r\n",
        L"Не задан адрес службы штампов времени\r\n"),
    OWN(HORODEX_E_STAMP_EXPIRED, L"The time stamp is expired (ProducedAt value)\r\n",
        L"Штамп времени просрочен (выдан слишком давно)\r\n"),
    OWN(HORODEX_E_NO_DATA_HASH, L"Request does not contain data hash\r\n",
        L"В запросе отсутствует хэш-значение\r\n"),
    OWN(HORODEX_E_TSA_UNSUCCESSFUL, L"TSA response is unsuccessfull\r\n",
        L"Получен ответ службы штампов времени с ошибкой\r\n"),
    OWN(HORODEX_E_EVIDENCE_ORDER,
        L"A time stamp of the evidence record is not later than the one it renews\r\n",
        L"Штамп времени доказательства не позднее штампа, который он продлевает\r\n"),
    OWN(HORODEX_E_SIGNATURE_STAMP_MISMATCH,
        L"The time stamp is not over the signature value of this signer\r\n",
        L"Штамп времени выдан не на значение подписи этого подписанта\r\n"),
};

#undef OWN

static_assert(std::ranges::adjacent_find(kOwnCodes, [](const auto& a, const auto& b) {
                return static_cast<DWORD>(a.code) >= static_cast<DWORD>(b.code);
              }) == kOwnCodes.end());

// The code that CSPs raise for a container name in the wrong format; its text is fixed.
constexpr DWORD kCspNameFormatCode = 0x8010001C;
constexpr std::wstring_view kCspNameFormatText =
    L"Wrong name format or an attempt is made to open container of another CSP.";

struct AdsiName {
  DWORD code;
  const wchar_t* name;
};

// The ADSI codes known by name; 0x80005011 to 0x80005013 have none.
constexpr std::array kAdsiNames = {
    AdsiName{0x80005000, L"E_ADS_BAD_PATHNAME"},
    AdsiName{0x80005001, L"E_ADS_INVALID_DOMAIN_OBJECT"},
    AdsiName{0x80005002, L"E_ADS_INVALID_USER_OBJECT"},
    AdsiName{0x80005003, L"E_ADS_INVALID_COMPUTER_OBJECT"},
    AdsiName{0x80005004, L"E_ADS_UNKNOWN_OBJECT"},
    AdsiName{0x80005005, L"E_ADS_PROPERTY_NOT_SET"},
    AdsiName{0x80005006, L"E_ADS_PROPERTY_NOT_SUPPORTED"},
    AdsiName{0x80005007, L"E_ADS_PROPERTY_INVALID"},
    AdsiName{0x80005008, L"E_ADS_BAD_PARAMETER"},
    AdsiName{0x80005009, L"E_ADS_OBJECT_UNBOUND"},
    AdsiName{0x8000500A, L"E_ADS_PROPERTY_NOT_MODIFIED"},
    AdsiName{0x8000500B, L"E_ADS_PROPERTY_MODIFIED"},
    AdsiName{0x8000500C, L"E_ADS_CANT_CONVERT_DATATYPE"},
    AdsiName{0x8000500D, L"E_ADS_PROPERTY_NOT_FOUND"},
    AdsiName{0x8000500E, L"E_ADS_OBJECT_EXISTS"},
    AdsiName{0x8000500F, L"E_ADS_SCHEMA_VIOLATION"},
    AdsiName{0x80005010, L"E_ADS_COLUMN_NOT_SET"},
    AdsiName{0x80005014, L"E_ADS_INVALID_FILTER"},
};

// WinHTTP numbers, bare and wrapped as HRESULTs of facility 7.
constexpr DWORD kWinHttpFirst = 12000;
constexpr DWORD kWinHttpLast = 12287;
constexpr DWORD kWin32Failure = 0x80070000;

const wchar_t* OwnText(DWORD code, Language language) {
  const auto* it = std::ranges::find(
      kOwnCodes, code, [](const OwnErrorCode& entry) { return static_cast<DWORD>(entry.code); });
  if (it == kOwnCodes.end()) {
    return nullptr;
  }
  return language == Language::Russian ? it->russian : it->english;
}

const wchar_t* WinHttpText(DWORD code, Language language) {
  const DWORD number = code >= kWin32Failure ? code - kWin32Failure : code;
  if (number < kWinHttpFirst || number > kWinHttpLast) {
    return nullptr;  // also refuses every other facility: their difference is far larger
  }
  return Platform::PlatformMessageText(Platform::MessageSource::WinHttp, number, language);
}

const wchar_t* AdsiText(DWORD code) {
  const auto* it = std::ranges::find(kAdsiNames, code, &AdsiName::code);
  return it != kAdsiNames.end() ? it->name : nullptr;
}

// The text for `hr` with its line breaks still on, or an empty view.
std::wstring_view FindText(HRESULT hr, Language language) {
  const auto code = static_cast<DWORD>(hr);
  if (code == kCspNameFormatCode) {
    return kCspNameFormatText;
  }
  const wchar_t* text = nullptr;
  if (Platform::HRESULT_FACILITY(hr) == FACILITY_HORODEX) {
    text = OwnText(code, language);
  }
  if (text == nullptr) {
    text = Platform::PlatformMessageText(Platform::MessageSource::System, code, language);
  }
  if (text == nullptr) {
    text = WinHttpText(code, language);
  }
  if (text == nullptr) {
    text = AdsiText(code);
  }
  return text != nullptr ? std::wstring_view(text) : std::wstring_view();
}

}  // namespace

std::span<const OwnErrorCode> OwnErrorCodes() noexcept {
  return kOwnCodes;
}

std::wstring_view StripTrailingLineBreaks(std::wstring_view text) noexcept {
  const std::size_t end = text.find_last_not_of(L"\r\n");
  return end == std::wstring_view::npos ? std::wstring_view() : text.substr(0, end + 1);
}

bool LookupErrorMessage(HRESULT hr, std::span<wchar_t> buffer, Language language) {
  if (buffer.empty()) {
    return false;
  }
  buffer[0] = L'\0';
  const std::wstring_view found = FindText(hr, language);
  if (found.empty()) {
    return false;
  }
  const std::wstring_view text = StripTrailingLineBreaks(found);
  const std::size_t length = std::min(text.size(), buffer.size() - 1);
  std::copy_n(text.begin(), length, buffer.begin());
  buffer[length] = L'\0';
  return true;
}

bool LookupErrorMessage(HRESULT hr, std::span<wchar_t> buffer) {
  return LookupErrorMessage(hr, buffer, Platform::UserLanguage());
}

std::wstring GetErrorMessage(HRESULT hr, Language language) {
  std::wstring message(kErrorMessageChars, L'\0');
  if (LookupErrorMessage(hr, message, language)) {
    message.resize(std::wcslen(message.c_str()));
    return message;
  }
  std::array<wchar_t, 64> unknown{};
  std::swprintf(unknown.data(), unknown.size(), L"Unknown error code (0x%08X)",
                static_cast<unsigned int>(hr));
  return std::wstring(unknown.data());
}

std::wstring GetErrorMessage(HRESULT hr) {
  return GetErrorMessage(hr, Platform::UserLanguage());
}

std::string GetErrorMessageNarrow(HRESULT hr) {
  return Platform::WideToNarrow(GetErrorMessage(hr));
}

Platform::Utf16String GetErrorMessageUtf16(HRESULT hr, Language language) {
  return Platform::WideToUtf16(GetErrorMessage(hr, language));
}

Platform::Utf16String GetErrorMessageUtf16(HRESULT hr) {
  return GetErrorMessageUtf16(hr, Platform::UserLanguage());
}

}  // namespace Velmora::Support
