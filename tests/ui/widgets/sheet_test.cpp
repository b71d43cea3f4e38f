// The viewer module's real dialogs on Qt's offscreen platform, driven with Qt Test: the sheet's
// single "OK" button and captions, a filter change, a row selection and the pane's font, a save
// through the save dialog answered at the dialog boundary, the certificate button and its dialog;
// and screenshots of the request and stamp pages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>
#include <filesystem>
#include <memory>

#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"
#include "tests/ui/viewer_testing.h"

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
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Запрос на штамп времени"));
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
    EXPECT_EQ(tabs->tabText(0), QString::fromUtf8("Состав"));
    EXPECT_FALSE(Child<QPushButton>(dialog, "control113")->isVisible());

    QTreeWidget* tree = Child<QTreeWidget>(dialog, "control109");
    EXPECT_EQ(tree->headerItem()->text(0), QString::fromUtf8("Поле"));
    EXPECT_EQ(tree->topLevelItemCount(), 6);
    Choose(Child<QComboBox>(dialog, "control112"), 2);
    EXPECT_EQ(tree->topLevelItemCount(), 0);  // OpenSSL's requests carry no extensions
    Choose(Child<QComboBox>(dialog, "control112"), 0);
    ASSERT_EQ(tree->topLevelItemCount(), 6);

    QTextEdit* pane = Child<QTextEdit>(dialog, "control110");
    EXPECT_TRUE(pane->isReadOnly());
    ClickRow(tree, RowNamed(tree, QString::fromUtf8("Значение хэша")));
    EXPECT_EQ(pane->toPlainText().size(), 32 * 3 - 1);
    EXPECT_EQ(pane->font().family(), "Courier");
    ClickRow(tree, RowNamed(tree, QString::fromUtf8("Версия")));
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
  EXPECT_EQ(responder.boxes[0].text, L"Файл успешно сохранен.");
}

TEST(ViewerWidgets, TheCertificateButtonOpensTheCertificateDialog) {
  Responder responder;
  responder.showSheets = true;
  bool certificateShown = false;
  responder.onShown = [&](P::HWND widget) {
    auto* dialog = reinterpret_cast<QDialog*>(widget);
    if (dialog->objectName() == "certificateDialog") {
      certificateShown = true;
      const QString text = Child<QPlainTextEdit>(dialog, "certificateFields")->toPlainText();
      EXPECT_TRUE(text.contains("CN=TSA rsa")) << text.toStdString();
      EXPECT_TRUE(text.contains(QString::fromUtf8("Отпечаток SHA-256")));
      EXPECT_TRUE(Child<QPlainTextEdit>(dialog, "certificateFields")->isReadOnly());
      dialog->reject();
      return;
    }
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Штамп времени"));
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

TEST(ViewerWidgets, ScreenshotsOfTheRequestAndStampPages) {
  const std::filesystem::path folder = std::filesystem::path(HORODEX_BINARY_DIR) / "screenshots";
  std::filesystem::create_directories(folder);
  Responder responder;
  responder.showSheets = true;
  std::filesystem::path target;
  const char* selected = nullptr;
  responder.onShown = [&](P::HWND widget) {
    auto* dialog = reinterpret_cast<QDialog*>(widget);
    QTreeWidget* tree = Child<QTreeWidget>(dialog, "control109");
    ClickRow(tree, RowNamed(tree, QString::fromUtf8(selected)));
    EXPECT_TRUE(dialog->grab().save(QString::fromStdString(target.string()), "PNG"));
    dialog->reject();
  };
  target = folder / "request-page.png";
  selected = "Значение хэша";
  Request().Display(nullptr, static_cast<const wchar_t*>(nullptr));
  target = folder / "stamp-page.png";
  selected = "Точность";
  Stamp().Display(nullptr, static_cast<const wchar_t*>(nullptr));
  for (const char* name : {"request-page.png", "stamp-page.png"}) {
    ASSERT_TRUE(std::filesystem::exists(folder / name)) << name;
    EXPECT_GT(std::filesystem::file_size(folder / name), 1000u);
  }
}

}  // namespace
}  // namespace Velmora::Testing::Viewer
