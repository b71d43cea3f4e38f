// The viewer module's real dialogs on Qt's offscreen platform, driven with Qt Test: the sheet's
// single "OK" button and captions, a filter change, a row selection and the pane's font, a save
// through the save dialog answered at the dialog boundary, the certificate button and its dialog,
// the GOST algorithms named in words; the sheet as wide as its longest value, the value column
// filling the list, an elided value whole in its tooltip, Qt's own texts in the run's language;
// and screenshots of the request and stamp pages. CTest runs it once in Russian and once in
// English (LANG); every visible text is checked in the language of the run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>
#include <filesystem>
#include <memory>
#include <utility>

#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "platform/text/language.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"
#include "tests/ui/viewer_testing.h"
#include "ui/FieldPage.h"

namespace Velmora::Testing::Viewer {
namespace {

using Velmora::PKI::TSP::Client::CRequest;
using Velmora::PKI::TSP::Client::CStamp;

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { m_app = std::make_unique<QApplication>(m_argc, m_argv); }
  void TearDown() override { m_app.reset(); }

 private:
  int m_argc = 1;
  char m_name[16] = "test_ui_widgets";
  char* m_argv[2] = {m_name, nullptr};
  std::unique_ptr<QApplication> m_app;
};
::testing::Environment* const g_qt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

bool Russian() {
  return P::UserLanguage() == P::Language::Russian;
}

// The text of the run's language.
QString Text(const char* russian, const char* english) {
  return QString::fromUtf8(Russian() ? russian : english);
}

template <typename T>
T* Child(QWidget* parent, const char* name) {
  T* found = parent->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

void ClickRow(QTreeWidget* tree, int row) {
  QTreeWidgetItem* item = tree->topLevelItem(row);
  ASSERT_NE(item, nullptr);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}

int RowNamed(QTreeWidget* tree, const QString& name) {
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    if (tree->topLevelItem(i)->text(0) == name) {
      return i;
    }
  }
  return -1;
}

void Choose(QComboBox* combo, int index) {
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

CRequest Request() {
  const CBlob der = OpenSslTsaFile("q-full.tsq");
  CRequest request;
  request.Import(der.pbData(), der.cbData());
  return request;
}

CStamp Stamp() {
  const CBlob der = OpenSslTsaFile("rsa-full.tsr");
  CStamp stamp;
  stamp.Import(der.pbData(), der.cbData(), nullptr);
  return stamp;
}

TEST(ViewerWidgets, TheRequestSheetFiltersSelectsAndSaves) {
  TempDir dir;
  Responder responder;
  responder.showSheets = true;
  responder.saveAnswers.push_back(P::SaveDialogAnswer{true, (dir / "w.tsq").wstring(), 2});
  bool shown = false;
  responder.onShown = [&](P::HWND widget) {
    shown = true;
    auto* dialog = reinterpret_cast<QDialog*>(widget);
    EXPECT_EQ(dialog->windowTitle(), Text("Запрос на штамп времени", "Time-stamp request"));
    int visibleButtons = 0;
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
      if (button->objectName().startsWith("sheetButton") && button->isVisible()) {
        ++visibleButtons;
        EXPECT_EQ(button->text(), "OK");
      }
    }
    EXPECT_EQ(visibleButtons, 1);
    QTabWidget* tabs = Child<QTabWidget>(dialog, "pages");
    EXPECT_EQ(tabs->count(), 1);
    EXPECT_EQ(tabs->tabText(0), Text("Состав", "Details"));
    EXPECT_EQ(dialog->findChild<QLabel*>()->text(), Text("Показать:", "Show:"));
    EXPECT_EQ(Child<QPushButton>(dialog, "control111")->text(),
              Text("Копировать в файл...", "Copy to File..."));
    EXPECT_EQ(Child<QComboBox>(dialog, "control112")->itemText(3),
              Text("Только критические расширения", "Critical extensions only"));
    EXPECT_FALSE(Child<QPushButton>(dialog, "control113")->isVisible());

    QTreeWidget* tree = Child<QTreeWidget>(dialog, "control109");
    EXPECT_EQ(tree->headerItem()->text(0), Text("Поле", "Field"));
    EXPECT_EQ(tree->headerItem()->text(1), Text("Значение", "Value"));
    ASSERT_EQ(tree->topLevelItemCount(), 6);
    const char* const russianFields[] = {
        "Версия",       "Политика", "Поле \"Nonce\"", "Флаг \"CertReq\"", "Алгоритм хэширования",
        "Значение хэша"};
    const char* const englishFields[] = {
        "Version", "Policy", "Nonce", "Certificate requested", "Hash algorithm", "Hash value"};
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(tree->topLevelItem(i)->text(0), Text(russianFields[i], englishFields[i]));
    }
    // The pane opens on the first field.
    EXPECT_EQ(Child<QTextEdit>(dialog, "control110")->toPlainText(), "V1");
    // It opens as wide as the screen lets it for the longest value (the hash), the value column
    // reaches the list's edge, and an elided value is whole in its tooltip.
    EXPECT_EQ(dialog->width(), dialog->screen()->availableGeometry().width());
    const auto valuesFill = [tree] {
      return tree->header()->sectionPosition(1) + tree->header()->sectionSize(1) ==
             tree->viewport()->width();
    };
    EXPECT_TRUE(valuesFill());
    const QTreeWidgetItem* hash =
        tree->topLevelItem(RowNamed(tree, Text("Значение хэша", "Hash value")));
    EXPECT_EQ(hash->toolTip(1), hash->text(1));
    EXPECT_EQ(hash->toolTip(1).size(), 32 * 3 - 1);
    // The sheet can be made larger; the list and the pane take the room.
    const int listWidth = tree->width();
    dialog->resize(dialog->width() + 200, dialog->height() + 100);
    QApplication::processEvents();
    EXPECT_EQ(tree->width(), listWidth + 200);
    EXPECT_TRUE(valuesFill());
    Choose(Child<QComboBox>(dialog, "control112"), 2);
    EXPECT_EQ(tree->topLevelItemCount(), 0);  // OpenSSL's requests carry no extensions
    Choose(Child<QComboBox>(dialog, "control112"), 0);
    ASSERT_EQ(tree->topLevelItemCount(), 6);

    QTextEdit* pane = Child<QTextEdit>(dialog, "control110");
    EXPECT_TRUE(pane->isReadOnly());
    ClickRow(tree, RowNamed(tree, Text("Значение хэша", "Hash value")));
    EXPECT_EQ(pane->toPlainText().size(), 32 * 3 - 1);
    EXPECT_EQ(pane->font().family(), "Courier");
    ClickRow(tree, RowNamed(tree, Text("Версия", "Version")));
    EXPECT_EQ(pane->toPlainText(), "V1");
    EXPECT_NE(pane->font().family(), "Courier");

    QTest::mouseClick(Child<QPushButton>(dialog, "control111"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(dialog, "sheetButton2"), Qt::LeftButton);
  };
  Request().Display(nullptr, static_cast<const wchar_t*>(nullptr));
  EXPECT_TRUE(shown);
  const std::string saved = ReadFileText(dir / "w.tsq");
  EXPECT_EQ(saved.substr(0, 1), "M");  // BASE64 of a DER SEQUENCE
  EXPECT_EQ(saved.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\r\n"),
            std::string::npos);
  ASSERT_EQ(responder.boxes.size(), 1u);
  EXPECT_EQ(responder.boxes[0].text,
            Russian() ? L"Файл успешно сохранен." : L"The file was saved.");
}

TEST(ViewerWidgets, TheCertificateButtonOpensTheCertificateDialog) {
  Responder responder;
  responder.showSheets = true;
  bool certificateShown = false;
  responder.onShown = [&](P::HWND widget) {
    auto* dialog = reinterpret_cast<QDialog*>(widget);
    if (dialog->objectName() == "certificateDialog") {
      certificateShown = true;
      // Qt's own texts are in the run's language too.
      EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), Text("Отмена", "Cancel"));
      const QString text = Child<QPlainTextEdit>(dialog, "certificateFields")->toPlainText();
      EXPECT_TRUE(text.contains("CN=TSA rsa")) << text.toStdString();
      EXPECT_TRUE(text.contains(Text("Отпечаток SHA-256", "SHA-256 fingerprint")));
      EXPECT_TRUE(Child<QPlainTextEdit>(dialog, "certificateFields")->isReadOnly());
      dialog->reject();
      return;
    }
    EXPECT_EQ(dialog->windowTitle(), Text("Штамп времени", "Time stamp"));
    QTreeWidget* fields = Child<QTreeWidget>(dialog, "control109");
    for (const auto& [russian, english] :
         {std::pair{"Серийный номер", "Serial number"}, std::pair{"Время", "Time"},
          std::pair{"Точность", "Accuracy"}, std::pair{"Служба штампов", "TSA"},
          std::pair{"Подпись", "Signature"}}) {
      EXPECT_GE(RowNamed(fields, Text(russian, english)), 0) << english;
    }
    Choose(Child<QComboBox>(dialog, "control112"), 4);
    QTreeWidget* tree = Child<QTreeWidget>(dialog, "control109");
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    QPushButton* button = Child<QPushButton>(dialog, "control113");
    EXPECT_FALSE(button->isVisible());
    ClickRow(tree, 0);
    EXPECT_TRUE(button->isVisible());
    EXPECT_TRUE(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    dialog->reject();
  };
  Stamp().Display(nullptr, static_cast<const wchar_t*>(nullptr));
  EXPECT_TRUE(certificateShown);
}

TEST(ViewerWidgets, GostAlgorithmsAreNamedInWordsInTheRunsLanguage) {
  using Velmora::PKI::TSP::Client::Viewer::CFieldPage;
  EXPECT_EQ(CFieldPage::OidDisplayName("1.2.643.2.2.9"),
            Russian() ? L"ГОСТ Р 34.11-94" : L"GOST R 34.11-94");
  EXPECT_EQ(CFieldPage::OidDisplayName("1.2.643.7.1.1.3.2"),
            Russian() ? L"ГОСТ Р 34.11-2012/34.10-2012 256 бит"
                      : L"GOST R 34.11-2012/34.10-2012 256 bit");
}

TEST(ViewerWidgets, ScreenshotsOfTheRequestAndStampPages) {
  const std::filesystem::path folder = std::filesystem::path(HORODEX_BINARY_DIR) / "screenshots";
  std::filesystem::create_directories(folder);
  Responder responder;
  responder.showSheets = true;
  std::filesystem::path target;
  QString selected;
  responder.onShown = [&](P::HWND widget) {
    auto* dialog = reinterpret_cast<QDialog*>(widget);
    QTreeWidget* tree = Child<QTreeWidget>(dialog, "control109");
    ClickRow(tree, RowNamed(tree, selected));
    EXPECT_TRUE(dialog->grab().save(QString::fromStdString(target.string()), "PNG"));
    dialog->reject();
  };
  const std::string suffix = Russian() ? ".png" : "-en.png";
  target = folder / ("request-page" + suffix);
  selected = Text("Значение хэша", "Hash value");
  Request().Display(nullptr, static_cast<const wchar_t*>(nullptr));
  target = folder / ("stamp-page" + suffix);
  selected = Text("Точность", "Accuracy");
  Stamp().Display(nullptr, static_cast<const wchar_t*>(nullptr));
  for (const std::string& name : {"request-page" + suffix, "stamp-page" + suffix}) {
    ASSERT_TRUE(std::filesystem::exists(folder / name)) << name;
    EXPECT_GT(std::filesystem::file_size(folder / name), 1000u);
    // The README shows the committed pictures: they must still be what the pages look like.
    const QImage committed(QString::fromStdString(
        (std::filesystem::path(HORODEX_SOURCE_DIR) / "docs/screenshots" / name).string()));
    EXPECT_EQ(committed.size(), QImage(QString::fromStdString((folder / name).string())).size())
        << name << ": copy " << (folder / name) << " to docs/screenshots/";
  }
}

}  // namespace
}  // namespace Velmora::Testing::Viewer
