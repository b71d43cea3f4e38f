// The viewer's compiled-in resources.
#include "ui/Resources.h"

#include <mutex>

#include "platform/text/language.h"

namespace Velmora::PKI::TSP::Client::Viewer {

namespace {

struct StringEntry {
  unsigned id;
  const wchar_t* russian;
  const wchar_t* english;
};

constexpr StringEntry kStrings[] = {
    {202, L"Запрос на штамп времени", L"Time-stamp request"},
    {203, L"<Все>", L"<All>"},
    {204, L"Только свойства", L"Properties only"},
    {205, L"Только расширения", L"Extensions only"},
    {206, L"Только критические расширения", L"Critical extensions only"},
    {207, L"Версия", L"Version"},
    {208, L"Значение", L"Value"},
    {209, L"Поле", L"Field"},
    {210, L"Файл успешно сохранен.", L"The file was saved."},
    {211, L"Ошибка", L"Error"},
    {212, L"Политика", L"Policy"},
    {213, L"Поле \"Nonce\"", L"Nonce"},
    {214, L"Флаг \"CertReq\"", L"Certificate requested"},
    {215, L"Присутствует", L"Present"},
    {216, L"Отсутствует", L"Absent"},
    {217, L"Алгоритм хэширования", L"Hash algorithm"},
    {218, L"Значение хэша", L"Hash value"},
    {219, L"Velmora TSP Client", L"Velmora TSP Client"},
    {220, L"Штамп времени", L"Time stamp"},
    {221, L"Флаг \"Ordering\"", L"Ordering"},
    {222, L"Серийный номер", L"Serial number"},
    {223, L"Служба штампов", L"TSA"},
    {224, L"Время", L"Time"},
    {225, L"Точность", L"Accuracy"},
    {227, L"Сертификаты", L"Certificates"},
    {228, L"Сертификат", L"Certificate"},
    {229, L"Верна", L"Valid"},
    {230, L"Не верна", L"Not valid"},
    {231, L"Сертификат подписи не найден", L"Signing certificate not found"},
    {232, L"Подпись", L"Signature"},
    {233, L"Алгоритм подписи", L"Signature algorithm"},
    {234, L"Секунд: %d", L"Seconds: %d"},
    {235, L"Миллисекунд: %d", L"Milliseconds: %d"},
    {236, L"Микросекунд: %d", L"Microseconds: %d"},
    {237, L"Запрос в кодировке DER (*%)\n*%\nЗапрос в кодировке BASE64 (*%)\n*%\n\n",
     L"DER-encoded request (*%)\n*%\nBase64-encoded request (*%)\n*%\n\n"},
    {238, L"Штамп в кодировке DER (*%)\n*%\nШтамп в кодировке BASE64 (*%)\n*%\n\n",
     L"DER-encoded time stamp (*%)\n*%\nBase64-encoded time stamp (*%)\n*%\n\n"},
    {239, L"Сертификат службы штампов времени", L"Time-stamping authority certificate"},
    {240, L"Верна, но сертификат не корректен", L"Valid, but the certificate is not valid"},
};

}  // namespace

std::wstring LoadUiString(unsigned id, Platform::Language language) {
  for (const StringEntry& entry : kStrings) {
    if (entry.id == id) {
      return language == Platform::Language::Russian ? entry.russian : entry.english;
    }
  }
  return {};
}

std::wstring LoadUiString(unsigned id) {
  return LoadUiString(id, Platform::UserLanguage());
}

namespace {

// Dialog 209 with the texts of one language.
Platform::DLGTEMPLATE MakeFieldPageTemplate(const wchar_t* caption, const wchar_t* show,
                                            const wchar_t* showCertificate,
                                            const wchar_t* copyToFile) {
  using namespace Platform;
  using K = WindowKind;
  return DLGTEMPLATE{
      caption,
      L"MS Shell Dlg",
      8,
      255,
      234,
      {
          {K::Static, -1, show, 5, 10, 36, 8, WS_VISIBLE},
          {K::ComboBox, IDC_FILTER, nullptr, 46, 8, 130, 70,
           WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_NOINTEGRALHEIGHT},
          {K::ListView, IDC_LIST, nullptr, 6, 29, 242, 97,
           WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
               LVS_NOLABELWRAP | LVS_NOSORTHEADER},
          {K::RichEdit, IDC_DETAILS, nullptr, 6, 135, 242, 75,
           WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL},
          {K::Button, IDC_SHOW_CERTIFICATE, showCertificate, 6, 216, 93, 14, 0},
          {K::Button, IDC_SAVE, copyToFile, 155, 216, 93, 14, WS_VISIBLE},
      },
  };
}

}  // namespace

const Platform::DLGTEMPLATE& FieldPageTemplate(Platform::Language language) {
  static const Platform::DLGTEMPLATE kRussian = MakeFieldPageTemplate(
      L"Состав", L"Показать:", L"Показать сертификат...", L"Копировать в файл...");
  static const Platform::DLGTEMPLATE kEnglish =
      MakeFieldPageTemplate(L"Details", L"Show:", L"View Certificate...", L"Copy to File...");
  return language == Platform::Language::Russian ? kRussian : kEnglish;
}

const Platform::DLGTEMPLATE& FieldPageTemplate() {
  return FieldPageTemplate(Platform::UserLanguage());
}

void RegisterRowIcons() {
  static std::once_flag once;
  std::call_once(once, [] { Platform::RegisterBitmapResource(IDB_ROW_ICONS, 16, 6); });
}

}  // namespace Velmora::PKI::TSP::Client::Viewer
