// The viewer's compiled-in resources.
#include "ui/Resources.h"

#include <mutex>

namespace Velmora::PKI::TSP::Client::Viewer {

namespace {

struct StringEntry {
  unsigned id;
  const wchar_t* text;
};

constexpr StringEntry kStrings[] = {
    {202, L"Запрос на штамп времени"},
    {203, L"<Все>"},
    {204, L"Только свойства"},
    {205, L"Только расширения"},
    {206, L"Только критические расширения"},
    {207, L"Версия"},
    {208, L"Значение"},
    {209, L"Поле"},
    {210, L"Файл успешно сохранен."},
    {211, L"Ошибка"},
    {212, L"Политика"},
    {213, L"Поле \"Nonce\""},
    {214, L"Флаг \"CertReq\""},
    {215, L"Присутствует"},
    {216, L"Отсутствует"},
    {217, L"Алгоритм хэширования"},
    {218, L"Значение хэша"},
    {219, L"Velmora TSP Client"},
    {220, L"Штамп времени"},
    {221, L"Флаг \"Ordering\""},
    {222, L"Серийный номер"},
    {223, L"Служба штампов"},
    {224, L"Время"},
    {225, L"Точность"},
    {227, L"Сертификаты"},
    {228, L"Сертификат"},
    {229, L"Верна"},
    {230, L"Не верна"},
    {231, L"Сертификат подписи не найден"},
    {232, L"Подпись"},
    {233, L"Алгоритм подписи"},
    {234, L"Секунд: %d"},
    {235, L"Миллисекунд: %d"},
    {236, L"Микросекунд: %d"},
    {237, L"Запрос в кодировке DER (*%)\n*%\nЗапрос в кодировке BASE64 (*%)\n*%\n\n"},
    {238, L"Штамп в кодировке DER (*%)\n*%\nШтамп в кодировке BASE64 (*%)\n*%\n\n"},
    {239, L"Сертификат службы штампов времени"},
    {240, L"Верна, но сертификат не корректен"},
};

}  // namespace

std::wstring LoadUiString(unsigned id) {
  for (const StringEntry& entry : kStrings) {
    if (entry.id == id) {
      return entry.text;
    }
  }
  return {};
}

const Platform::DLGTEMPLATE& FieldPageTemplate() {
  using namespace Platform;
  using K = WindowKind;
  static const DLGTEMPLATE kTemplate{
      L"Состав",
      L"MS Shell Dlg",
      8,
      255,
      234,
      {
          {K::Static, -1, L"Показать:", 5, 10, 36, 8, WS_VISIBLE},
          {K::ComboBox, IDC_FILTER, nullptr, 46, 8, 130, 70,
           WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_NOINTEGRALHEIGHT},
          {K::ListView, IDC_LIST, nullptr, 6, 29, 242, 97,
           WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
               LVS_NOLABELWRAP | LVS_NOSORTHEADER},
          {K::RichEdit, IDC_DETAILS, nullptr, 6, 135, 242, 75,
           WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL},
          {K::Button, IDC_SHOW_CERTIFICATE, L"Показать сертификат...", 6, 216, 93, 14, 0},
          {K::Button, IDC_SAVE, L"Копировать в файл...", 155, 216, 93, 14, WS_VISIBLE},
      },
  };
  return kTemplate;
}

void RegisterRowIcons() {
  static std::once_flag once;
  std::call_once(once, [] { Platform::RegisterBitmapResource(IDB_ROW_ICONS, 16, 6); });
}

}  // namespace Velmora::PKI::TSP::Client::Viewer
