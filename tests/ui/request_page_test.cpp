// The request page: its rows for requests made by OpenSSL and by hand, the filters, the save of
// the request's DER, and get_PropPage's refusals.
#include <gtest/gtest.h>

#include "horodex/TSPRequest.h"
#include "support/errors.h"
#include "tests/common/der_build.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"
#include "tests/ui/viewer_testing.h"
#include "ui/Resources.h"

namespace Velmora::Testing::Viewer {
namespace {

using namespace Velmora::PKI::TSP::Client::Viewer;
using Velmora::PKI::TSP::Client::CRequest;
namespace D = DerBuild;

CRequest Imported(const CBlob& der) {
  CRequest request;
  request.Import(der.pbData(), der.cbData());
  return request;
}

std::wstring Hex(const std::vector<unsigned char>& bytes) {
  std::wstring text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    wchar_t part[4];
    std::swprintf(part, 4, i + 1 < bytes.size() ? L"%02X " : L"%02X", bytes[i]);
    text += part;
  }
  return text;
}

// A request with two extensions, one of them critical, built by hand.
CBlob RequestWithExtensions() {
  const D::V imprint =
      D::Seq({D::Seq({D::Oid("2.16.840.1.101.3.4.2.1")}), D::Octets(D::V(32, 0xAB))});
  const D::V extensions = D::Tlv(
      ASN1::Der::ContextTag(0, true),
      D::Join({D::Seq({D::Oid("1.2.3.4.5.6"), D::Octets({0x05, 0x00})}),
               D::Seq({D::Oid("1.2.3.4.5.7"), D::Bool(true), D::Octets({0x02, 0x01, 0x07})})}));
  return CBlob(D::Seq({D::Int(1), imprint, extensions}));
}

TEST(RequestPage, ShowsTheFieldsOpenSslPutInTheRequest) {
  const CBlob der = OpenSslTsaFile("q-full.tsq");
  const unsigned char* cursor = der.pbData();
  TsReqPtr parsed(d2i_TS_REQ(nullptr, &cursor, static_cast<long>(der.cbData())));
  ASSERT_TRUE(parsed);
  Responder responder;
  responder.onSheet = [&](P::HWND, CFieldPage& page) {
    EXPECT_EQ(NamesOf(page), (std::vector<std::wstring>{
                                 L"Версия", L"Политика", L"Поле \"Nonce\"", L"Флаг \"CertReq\"",
                                 L"Алгоритм хэширования", L"Значение хэша"}));
    EXPECT_EQ(RowNamed(page, L"Версия").value, L"V1");
    EXPECT_EQ(RowNamed(page, L"Политика").value, L"1.2.3.4.5");
    EXPECT_EQ(RowNamed(page, L"Флаг \"CertReq\"").value, L"Присутствует");
    EXPECT_EQ(RowNamed(page, L"Алгоритм хэширования").value, L"sha256");
    const ASN1_OCTET_STRING* hash = TS_MSG_IMPRINT_get_msg(TS_REQ_get_msg_imprint(parsed.get()));
    EXPECT_EQ(RowNamed(page, L"Значение хэша").value, Hex(Bytes(hash)));
    BignumPtr nonce(ASN1_INTEGER_to_BN(TS_REQ_get_nonce(parsed.get()), nullptr));
    std::vector<unsigned char> nonceBytes(static_cast<std::size_t>(BN_num_bytes(nonce.get())));
    BN_bn2bin(nonce.get(), nonceBytes.data());
    const std::wstring shownNonce = RowNamed(page, L"Поле \"Nonce\"").value;
    EXPECT_NE(shownNonce.find(Hex(nonceBytes)), std::wstring::npos) << shownNonce;
    for (const Row& row : RowsOf(page)) {
      EXPECT_EQ(row.icon, kIconProperty);
    }
  };
  Imported(der).Display(nullptr, static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(responder.sheetCaptions, std::vector<std::wstring>{L"Запрос на штамп времени"});

  const P::WCHAR16 caption[] = {u'Q', 0};
  responder.onSheet = [](P::HWND, CFieldPage& page) {
    EXPECT_EQ(NamesOf(page),
              (std::vector<std::wstring>{L"Версия", L"Флаг \"CertReq\"", L"Алгоритм хэширования",
                                         L"Значение хэша"}));
    EXPECT_EQ(RowNamed(page, L"Флаг \"CertReq\"").value, L"Отсутствует");
  };
  Imported(OpenSslTsaFile("q-nononce.tsq")).Display(nullptr, caption);
  EXPECT_EQ(responder.sheetCaptions.back(), L"Q");
  EXPECT_TRUE(responder.boxes.empty());
}

TEST(RequestPage, FiltersChooseRowGroupsAndLeaveOneTextPerRow) {
  Responder responder;
  responder.onSheet = [](P::HWND, CFieldPage& page) {
    EXPECT_EQ(page.rowCount(), 6);
    EXPECT_EQ(RowNamed(page, L"1.2.3.4.5.6").icon, kIconExtension);
    EXPECT_EQ(RowNamed(page, L"1.2.3.4.5.7").icon, kIconCriticalExtension);
    EXPECT_EQ(RowNamed(page, L"1.2.3.4.5.7").value, L"02 01 07");
    const std::size_t expected[] = {6, 4, 2, 1};
    for (int round = 0; round < 3; ++round) {
      for (int filter : {1, 2, 3, 0, 3, 1}) {
        P::UserChooseComboItem(page.filterBox(), filter);
        ASSERT_EQ(page.filter(), filter);
        EXPECT_EQ(RowsOf(page).size(), expected[filter]);
        EXPECT_EQ(page.rowTexts().size(), RowsOf(page).size());
        EXPECT_TRUE(page.details()->text.empty());
      }
    }
    P::UserChooseComboItem(page.filterBox(), 3);
    EXPECT_EQ(NamesOf(page), std::vector<std::wstring>{L"1.2.3.4.5.7"});
    P::UserSelectListItem(page.list(), 0);
    EXPECT_EQ(page.details()->text, L"02 01 07");
    EXPECT_EQ(FaceOf(page), L"Courier");
  };
  Imported(RequestWithExtensions()).Display(nullptr, static_cast<const wchar_t*>(nullptr));
  EXPECT_TRUE(responder.boxes.empty());
}

TEST(RequestPage, SavesTheEncodingAsItIs) {
  TempDir dir;
  const CBlob der = OpenSslTsaFile("q-full.tsq");
  Responder responder;
  responder.saveAnswers.push_back(P::SaveDialogAnswer{true, (dir / "r.tsq").wstring(), 1});
  responder.onSheet = [](P::HWND, CFieldPage& page) {
    P::UserClickButton(P::GetDlgItem(page.window(), IDC_SAVE));
  };
  Imported(der).Display(nullptr, static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(ReadFileBytes(dir / "r.tsq"), der.bytes());
}

TEST(RequestPage, AHashIsNeededAndASetHashIsEncodedFirst) {
  CRequest empty;
  EXPECT_EQ(D::CodeOf([&] { empty.get_PropPage(); }), Support::HORODEX_E_NO_DATA_HASH);

  CRequest request;
  request.put_DataHashAlg("2.16.840.1.101.3.4.2.1");
  const std::vector<unsigned char> hash(32, 0x5A);
  request.put_DataHash(hash.data(), 32);
  Responder responder;
  responder.onSheet = [&](P::HWND, CFieldPage& page) {
    EXPECT_EQ(RowNamed(page, L"Значение хэша").value, Hex(hash));
  };
  request.Display(nullptr, static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(responder.sheetCaptions.size(), 1u);
}

}  // namespace
}  // namespace Velmora::Testing::Viewer
