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
