// The field list page common to requests and stamps, through a page of the test's own rows: row
// texts and formats, a refill that fails half-way, selection, the save with its file formats,
// and the sheet's single button.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "support/error_messages.h"
#include "support/errors.h"
#include "tests/common/scratch.h"
#include "tests/ui/viewer_testing.h"
#include "ui/Resources.h"

namespace Velmora::Testing::Viewer {
namespace {

using namespace Velmora::PKI::TSP::Client::Viewer;

class TestPage : public CFieldPage {
 public:
  TestPage(std::function<void(TestPage&)> rows, CBlob saved)
      : m_rows(std::move(rows)), m_saved(std::move(saved)) {}

  using CFieldPage::AddExtensionRows;
  using CFieldPage::AddHexRow;
  using CFieldPage::AddTextRow;
  using CFieldPage::InsertRow;

 protected:
  int FilterEntryCount() const override { return 4; }
  void AddRows() override { m_rows(*this); }
  void OnSave() override { SaveToFile(IDS_REQUEST_SAVE_FILTER, L".tsq", m_saved); }

 private:
  std::function<void(TestPage&)> m_rows;
  CBlob m_saved;
};

void Show(std::function<void(TestPage&)> rows, CBlob saved = CBlob()) {
  ShowPropertySheet(
      nullptr, nullptr, IDS_REQUEST_CAPTION,
      CreatePageHandle(std::make_unique<TestPage>(std::move(rows), std::move(saved))));
}

CBlob Bytes(std::size_t count) {
  std::vector<unsigned char> bytes(count);
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<unsigned char>(i * 7 + 1);
  }
  return CBlob(std::move(bytes));
}

TEST(FieldPage, ARefillThatFailsHalfWayKeepsItsRowsAndShowsTheErrorBox) {
  Responder responder;
  responder.onSheet = [](P::HWND, CFieldPage& page) {
    EXPECT_EQ(NamesOf(page), (std::vector<std::wstring>{L"Версия", L"Политика"}));
    EXPECT_EQ(page.rowTexts().size(), 2u);
    // A row tag that names no text is refused with E_INVALIDARG, shown as the same box.
    P::ListView_InsertItem(page.list(), 2, L"stray", 0, 77);
    P::UserSelectListItem(page.list(), 2);
  };
  Show([](TestPage& page) {
    page.AddTextRow(IDS_VERSION, std::wstring(L"V1"), false);
    page.AddTextRow(IDS_POLICY, std::wstring(L"1.2.3"), false);
    Support::ThrowHResult(Support::HORODEX_E_NO_DATA_HASH);
  });
  ASSERT_EQ(responder.boxes.size(), 2u);
  EXPECT_EQ(responder.boxes[0].text, Support::GetErrorMessage(Support::HORODEX_E_NO_DATA_HASH));
  EXPECT_EQ(responder.boxes[0].caption, L"Ошибка");
  EXPECT_EQ(responder.boxes[0].type, P::MB_OK | P::MB_ICONERROR);
  EXPECT_EQ(responder.boxes[1].text, Support::GetErrorMessage(P::E_INVALIDARG));
}

TEST(FieldPage, SaveWritesDerOrBase64UnderTheTrimmedNameAndSaysSo) {
  TempDir dir;
  struct Case {
    std::size_t size;
    P::DWORD filterIndex;
    std::size_t fileSize;
  };
  for (const Case& c : {Case{57, 2, 78}, Case{58, 2, 82}, Case{2, 2, 4}, Case{58, 1, 58}}) {
    SCOPED_TRACE(c.size);
    const auto path =
        dir / ("saved" + std::to_string(c.size) + "-" + std::to_string(c.filterIndex));
    Responder responder;
    responder.saveAnswers.push_back(
        P::SaveDialogAnswer{true, L"  " + path.wstring() + L" \t", c.filterIndex});
    responder.onSheet = [](P::HWND, CFieldPage& page) {
      P::UserClickButton(P::GetDlgItem(page.window(), IDC_SAVE));
    };
    const CBlob saved = Bytes(c.size);
    Show([](TestPage&) {}, saved);
    const std::vector<unsigned char> written = ReadFileBytes(path);
    ASSERT_EQ(written.size(), c.fileSize);
    if (c.filterIndex == 1) {
      EXPECT_EQ(written, saved.bytes());
    } else {
      const std::string text(written.begin(), written.end());
      EXPECT_EQ(text.find_first_not_of(
                    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\r\n"),
                std::string::npos);
      EXPECT_EQ(text.size() >= 78 ? text.substr(76, 2) : std::string("\r\n"), "\r\n");
      EXPECT_EQ(c.size == 2 ? text.back() : '=', '=');
    }
    ASSERT_EQ(responder.saveDialogs.size(), 1u);
    const SaveDialogSeen& seen = responder.saveDialogs[0];
    EXPECT_EQ(seen.filters,
              (std::vector<std::wstring>{L"Запрос в кодировке DER (*.tsq)", L"*.tsq",
                                         L"Запрос в кодировке BASE64 (*.tsq)", L"*.tsq"}));
    EXPECT_EQ(seen.filterIndex, 1u);
    EXPECT_EQ(seen.defaultExtension, L"tsq");
    EXPECT_EQ(seen.flags, P::OFN_OVERWRITEPROMPT | P::OFN_HIDEREADONLY);
    EXPECT_EQ(seen.ownerId, IDC_SAVE);
    ASSERT_EQ(responder.boxes.size(), 1u);
    EXPECT_EQ(responder.boxes[0].text, L"Файл успешно сохранен.");
    EXPECT_EQ(responder.boxes[0].caption, L"Velmora TSP Client");
    EXPECT_EQ(responder.boxes[0].type, P::MB_OK | P::MB_ICONINFORMATION);
  }
}

TEST(FieldPage, ACancelledSaveWritesNothingAndAFailedOneShowsTheError) {
  TempDir dir;
  Responder responder;
  responder.saveAnswers.push_back(P::SaveDialogAnswer{false, L"", 1});
  responder.saveAnswers.push_back(
      P::SaveDialogAnswer{true, (dir / "missing" / "x.tsq").wstring(), 1});
  responder.onSheet = [](P::HWND, CFieldPage& page) {
    P::UserClickButton(P::GetDlgItem(page.window(), IDC_SAVE));
    P::UserClickButton(P::GetDlgItem(page.window(), IDC_SAVE));
  };
  Show([](TestPage&) {}, Bytes(3));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  ASSERT_EQ(responder.boxes.size(), 1u);
  EXPECT_EQ(responder.boxes[0].caption, L"Ошибка");
  EXPECT_EQ(responder.boxes[0].type, P::MB_OK | P::MB_ICONERROR);
}

TEST(ViewerTexts, EveryStringAndDialogTextExistsInBothLanguages) {
  for (unsigned id = IDS_REQUEST_CAPTION; id <= IDS_VALID_CERT_INVALID; ++id) {
    if (id == 226) {
      continue;  // not an id of the table
    }
    const std::wstring russian = LoadUiString(id, P::Language::Russian);
    const std::wstring english = LoadUiString(id, P::Language::English);
    EXPECT_FALSE(russian.empty()) << id;
    EXPECT_FALSE(english.empty()) << id;
    EXPECT_TRUE(id == IDS_PRODUCT || russian != english) << id;
    EXPECT_EQ(english.find_first_of(
                  L"абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"),
              std::wstring::npos)
        << id;
  }
  EXPECT_TRUE(LoadUiString(226, P::Language::English).empty());
  const P::DLGTEMPLATE& russian = FieldPageTemplate(P::Language::Russian);
  const P::DLGTEMPLATE& english = FieldPageTemplate(P::Language::English);
  EXPECT_EQ(std::wstring(english.caption), L"Details");
  ASSERT_EQ(russian.items.size(), english.items.size());
  for (std::size_t i = 0; i < russian.items.size(); ++i) {
    EXPECT_EQ(russian.items[i].id, english.items[i].id);
    EXPECT_EQ(russian.items[i].text == nullptr, english.items[i].text == nullptr) << i;
  }
}

}  // namespace
}  // namespace Velmora::Testing::Viewer
