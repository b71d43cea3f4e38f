// The stamp page: rows of stamps made by OpenSSL's TSA, the accuracy text, the signature row with
// a trusted and an untrusted root, certificate rows with button 113, and the save of the bare
// token.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt_chain.h"
#include "support/error_messages.h"
#include "support/errors.h"
#include "tests/common/der_build.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"
#include "tests/ui/viewer_testing.h"
#include "ui/Resources.h"
#include "ui/StampPage.h"

namespace Velmora::Testing::Viewer {
namespace {

using namespace Velmora::PKI::TSP::Client::Viewer;
using Velmora::PKI::TSP::Client::CStamp;

CStamp Imported(const std::string& file) {
  const CBlob der = OpenSslTsaFile(file);
  CStamp stamp;
  stamp.Import(der.pbData(), der.cbData(), nullptr);
  return stamp;
}

void Show(const CStamp& stamp) {
  stamp.Display(nullptr, static_cast<const wchar_t*>(nullptr));
}

TEST(StampPage, ShowsEveryFieldOfAFullStampInOrder) {
  Responder responder;
  responder.onSheet = [](P::HWND, CFieldPage& page) {
    EXPECT_EQ(page.filterBox()->comboItems.size(), 5u);
    EXPECT_EQ(page.filterBox()->comboItems[4], L"Сертификаты");
    const std::vector<std::wstring> names = NamesOf(page);
    const std::vector<std::wstring> expected{L"Версия",
                                             L"Время",
                                             L"Точность",
                                             L"Политика",
                                             L"Поле \"Nonce\"",
                                             L"Серийный номер",
                                             L"Флаг \"Ordering\"",
                                             L"Служба штампов",
                                             L"Алгоритм хэширования",
                                             L"Значение хэша"};
    ASSERT_GE(names.size(), expected.size());
    EXPECT_EQ(std::vector<std::wstring>(names.begin(), names.begin() + 10), expected);
    EXPECT_EQ(RowNamed(page, L"Версия").value, L"V1");
    EXPECT_EQ(RowNamed(page, L"Точность").value, L"Секунд: 1, Миллисекунд: 500, Микросекунд: 100");
    EXPECT_EQ(RowNamed(page, L"Политика").value, L"1.2.3.4.5");
    // The INTEGER's content octets as stored: OpenSSL's TSA gave its first stamp serial 0x80.
    EXPECT_EQ(RowNamed(page, L"Серийный номер").value, L"00 80");
    EXPECT_EQ(RowNamed(page, L"Флаг \"Ordering\"").value, L"Присутствует");
    EXPECT_NE(RowNamed(page, L"Служба штампов").value.find(L"TSA rsa"), std::wstring::npos);
    EXPECT_EQ(RowNamed(page, L"Алгоритм хэширования").value, L"sha256");

    P::UserSelectListItem(page.list(), IndexOf(page, L"Точность"));
    EXPECT_EQ(page.details()->text, L"Секунд: 1\nМиллисекунд: 500\nМикросекунд: 100");
    P::UserSelectListItem(page.list(), IndexOf(page, L"Серийный номер"));
    EXPECT_EQ(FaceOf(page), L"Courier");
    EXPECT_FALSE(P::GetDlgItem(page.window(), IDC_SHOW_CERTIFICATE)->visible);

    // Certificates: the TSA's and the root's, only they under filter 4; filter 1 has none.
    P::UserChooseComboItem(page.filterBox(), FilterCertificates);
    const std::vector<Row> rows = RowsOf(page);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, L"Сертификат");
    EXPECT_EQ(rows[0].icon, kIconCertificate);
    EXPECT_TRUE(page.rowTexts().empty());
    P::UserChooseComboItem(page.filterBox(), FilterProperties);
    for (const Row& row : RowsOf(page)) {
      EXPECT_NE(row.icon, kIconCertificate);
    }
  };
  Show(Imported("rsa-full.tsr"));
  EXPECT_EQ(responder.sheetCaptions, std::vector<std::wstring>{L"Штамп времени"});
}

TEST(StampPage, TheSignatureRowTellsTheVerdictAndOpensTheTsaCertificate) {
  Responder responder;
  std::wstring untrusted;
  int untrustedIcon = -1;
  responder.onSheet = [&](P::HWND, CFieldPage& page) {
    untrusted = RowNamed(page, L"Подпись").value;
    untrustedIcon = RowNamed(page, L"Подпись").icon;
  };
  Show(Imported("rsa-full.tsr"));
  EXPECT_TRUE(responder.boxes.empty());
  EXPECT_EQ(untrusted.rfind(L"Верна, но сертификат не корректен (", 0), 0u) << untrusted;
  EXPECT_EQ(untrustedIcon, kIconSignatureOther);

  ASSERT_EQ(P::CertAddTrustedRootsFromFile((OpenSslTsaDir() / "ca.pem").c_str()), P::S_OK);
  responder.onSheet = [](P::HWND, CFieldPage& page) {
    const int row = IndexOf(page, L"Подпись");
    ASSERT_GE(row, 0);
    EXPECT_EQ(RowsOf(page)[static_cast<std::size_t>(row)].value, L"Верна");
    EXPECT_EQ(RowsOf(page)[static_cast<std::size_t>(row)].icon, kIconSignatureValid);
    P::UserSelectListItem(page.list(), row);
    EXPECT_EQ(FaceOf(page), L"Courier");
    EXPECT_EQ(page.details()->text.size() % 3, 2u);  // "XX XX ... XX"
    P::HWND button = P::GetDlgItem(page.window(), IDC_SHOW_CERTIFICATE);
    EXPECT_TRUE(button->visible && button->enabled);
    P::UserClickButton(button);
  };
  Show(Imported("rsa-full.tsr"));
  ASSERT_EQ(responder.certificateDialogs.size(), 1u);
  EXPECT_EQ(responder.certificateDialogs[0].dwFlags, 0x804u);
  EXPECT_EQ(responder.certificateTitles[0], L"Сертификат службы штампов времени");
  EXPECT_NE(responder.certificateTexts[0].find(L"Состояние цепочки: доверенная"),
            std::wstring::npos)
      << responder.certificateTexts[0];
}

TEST(StampPage, SavesTheBareTokenOfAResponse) {
  TempDir dir;
  Responder responder;
  responder.saveAnswers.push_back(P::SaveDialogAnswer{true, (dir / "s.tsr").wstring(), 1});
  responder.onSheet = [](P::HWND, CFieldPage& page) {
    P::UserClickButton(P::GetDlgItem(page.window(), IDC_SAVE));
  };
  Show(Imported("rsa-full.tsr"));
  const CBlob response = OpenSslTsaFile("rsa-full.tsr");
  const unsigned char* cursor = response.pbData();
  TsRespPtr parsed(d2i_TS_RESP(nullptr, &cursor, static_cast<long>(response.cbData())));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(ReadFileBytes(dir / "s.tsr"),
            DerOf(TS_RESP_get_token(parsed.get()), i2d_PKCS7).bytes());
  ASSERT_EQ(responder.saveDialogs.size(), 1u);
  EXPECT_EQ(responder.saveDialogs[0].filters[0], L"Штамп в кодировке DER (*.tsr)");
}

TEST(StampPage, AStampWithoutATokenHasNoPage) {
  CStamp empty;
  EXPECT_EQ(DerBuild::CodeOf([&] { empty.get_PropPage(); }), P::MakeHResult(0x8007139F));
}

}  // namespace
}  // namespace Velmora::Testing::Viewer
