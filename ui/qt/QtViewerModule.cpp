// The module's table, the application scope, message boxes, the save dialog and the certificate
// dialog.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTranslator>
#include <QVBoxLayout>
#include <cstdlib>
#include <cwchar>
#include <memory>

#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/ui/viewer_module.h"
#include "ui/qt/QtViewer.h"

namespace Velmora::Platform::QtView {

namespace {

int g_argc = 1;
char g_argv0[] = "horodex";
char* g_argv[] = {g_argv0, nullptr};
QApplication* g_ownedApplication = nullptr;
int g_scopeDepth = 0;

bool CanMakeApplication() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0') {
    return true;
  }
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Qt's own texts (the save dialog, standard buttons) in the user's language, Russian being the
// one besides English that the viewer speaks (the locale's language, as the viewer's own texts
// follow it). An application that already has Qt's texts translated keeps its own.
void LoadQtTranslations() {
  if (QLocale::system().language() != QLocale::Russian ||
      QCoreApplication::translate("QPlatformTheme", "Cancel") != QLatin1String("Cancel")) {
    return;
  }
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(translator);
  } else {
    delete translator;  // Qt's translations are not installed: its texts stay English
  }
}

}  // namespace

ApplicationScope::ApplicationScope() {
  if (QApplication::instance() != nullptr) {
    m_ok = qobject_cast<QApplication*>(QApplication::instance()) != nullptr;
    if (!m_ok) {
      SetLastError(ERROR_NOT_SUPPORTED);  // a QCoreApplication cannot show widgets
    } else {
      LoadQtTranslations();
    }
    ++g_scopeDepth;
    return;
  }
  if (!CanMakeApplication()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return;
  }
  g_ownedApplication = new QApplication(g_argc, g_argv);
  LoadQtTranslations();
  m_owned = true;
  m_ok = true;
  ++g_scopeDepth;
}

ApplicationScope::~ApplicationScope() {
  if (m_ok || m_owned) {
    --g_scopeDepth;
  }
  if (m_owned && g_scopeDepth == 0) {
    delete g_ownedApplication;
    g_ownedApplication = nullptr;
  }
}

QString ToQString(const std::wstring& text) {
  return QString::fromStdWString(text);
}
QString ToQString(const wchar_t* text) {
  return text != nullptr ? QString::fromWCharArray(text) : QString();
}
std::wstring FromQString(const QString& text) {
  return text.toStdWString();
}

QWidget* OwnerQWidget(HWND owner) {
  return static_cast<QWidget*>(Platform::OwnerWidget(owner));
}

QIcon RowIcon(int index) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  switch (index) {
    case 0: {  // property: a sheet with lines
      painter.setPen(QColor(40, 70, 140));
      painter.setBrush(QColor(225, 235, 255));
      painter.drawRect(3, 1, 10, 14);
      for (int y = 4; y <= 11; y += 3) {
        painter.drawLine(5, y, 11, y);
      }
      break;
    }
    case 1:    // extension: a green plug
    case 2: {  // critical extension: the same in red with a mark
      const QColor colour = index == 1 ? QColor(40, 140, 60) : QColor(200, 40, 40);
      painter.setPen(colour.darker());
      painter.setBrush(colour);
      painter.drawRoundedRect(2, 5, 12, 9, 2, 2);
      painter.drawRect(4, 2, 2, 3);
      painter.drawRect(10, 2, 2, 3);
      if (index == 2) {
        painter.setPen(QPen(Qt::white, 2));
        painter.drawLine(8, 7, 8, 10);
        painter.drawPoint(8, 12);
      }
      break;
    }
    case 3: {  // signature, valid: a green tick
      painter.setPen(QPen(QColor(20, 150, 40), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      QPainterPath tick;
      tick.moveTo(2, 9);
      tick.lineTo(6, 13);
      tick.lineTo(14, 3);
      painter.drawPath(tick);
      break;
    }
    case 4: {  // signature, anything else: a red cross
      painter.setPen(QPen(QColor(210, 30, 30), 3, Qt::SolidLine, Qt::RoundCap));
      painter.drawLine(3, 3, 13, 13);
      painter.drawLine(13, 3, 3, 13);
      break;
    }
    default: {  // certificate: a card with a seal
      painter.setPen(QColor(120, 90, 20));
      painter.setBrush(QColor(255, 245, 200));
      painter.drawRect(1, 2, 14, 10);
      painter.drawLine(3, 5, 9, 5);
      painter.drawLine(3, 8, 8, 8);
      painter.setBrush(QColor(220, 160, 20));
      painter.drawEllipse(QPoint(12, 11), 3, 3);
      break;
    }
  }
  return QIcon(pixmap);
}

namespace {

int MessageBoxImpl(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  try {
    ApplicationScope scope;
    if (!scope.ok()) {
      return 0;
    }
    SyncVisibleSheets();
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & 0xF0) {
      case MB_ICONERROR:
        icon = QMessageBox::Critical;
        break;
      case MB_ICONWARNING:
        icon = QMessageBox::Warning;
        break;
      case MB_ICONINFORMATION:
        icon = QMessageBox::Information;
        break;
      default:
        break;
    }
    QMessageBox box(icon, ToQString(caption), ToQString(text), QMessageBox::Ok,
                    OwnerQWidget(owner));
    box.exec();
    return IDOK;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

BOOL GetSaveFileNameImpl(OPENFILENAMEW* dialog) {
  try {
    ApplicationScope scope;
    if (!scope.ok()) {
      return FALSE;
    }
    SyncVisibleSheets();
    // Each pair's display text names its pattern already ("... (*.tsq)"); Qt takes it as it is.
    const std::vector<std::wstring> parts = SplitFilterList(dialog->lpstrFilter);
    QStringList filters;
    for (std::size_t i = 0; i < parts.size(); i += 2) {
      filters << ToQString(parts[i]);
    }
    QFileDialog files(OwnerQWidget(dialog->hwndOwner));
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.setFileMode(QFileDialog::AnyFile);
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setOption(QFileDialog::DontConfirmOverwrite, (dialog->Flags & OFN_OVERWRITEPROMPT) == 0);
    files.setNameFilters(filters);
    if (dialog->nFilterIndex >= 1 && dialog->nFilterIndex <= static_cast<DWORD>(filters.size())) {
      files.selectNameFilter(filters[static_cast<int>(dialog->nFilterIndex - 1)]);
    }
    if (dialog->lpstrDefExt != nullptr) {
      files.setDefaultSuffix(ToQString(dialog->lpstrDefExt));
    }
    if (dialog->lpstrFile[0] != L'\0') {
      files.selectFile(ToQString(dialog->lpstrFile));
    }
    if (files.exec() != QDialog::Accepted || files.selectedFiles().isEmpty()) {
      SetLastError(ERROR_SUCCESS);
      return FALSE;
    }
    const std::wstring chosen = FromQString(files.selectedFiles().first());
    if (chosen.size() + 1 > dialog->nMaxFile) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::wmemcpy(dialog->lpstrFile, chosen.c_str(), chosen.size() + 1);
    const auto index = filters.indexOf(files.selectedNameFilter());
    dialog->nFilterIndex = index >= 0 ? static_cast<DWORD>(index + 1) : 1;
    return TRUE;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL ShowCertificateImpl(HWND owner, const wchar_t* title, const wchar_t* text) {
  try {
    ApplicationScope scope;
    if (!scope.ok()) {
      return FALSE;
    }
    SyncVisibleSheets();
    QDialog dialog(OwnerQWidget(owner));
    dialog.setObjectName("certificateDialog");
    dialog.setWindowTitle(ToQString(title));
    auto* layout = new QVBoxLayout(&dialog);
    auto* fields = new QPlainTextEdit(&dialog);
    fields->setObjectName("certificateFields");
    fields->setReadOnly(true);
    fields->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    fields->setPlainText(ToQString(text));
    layout->addWidget(fields);
    // Qt's own OK button: its text follows Qt's translations.
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("certificateOk"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(620, 480);
    if (DialogResponder* responder = GetDialogResponder()) {
      QMetaObject::invokeMethod(
          &dialog,
          [responder, &dialog] { responder->OnSheetShown(reinterpret_cast<HWND>(&dialog)); },
          Qt::QueuedConnection);
    }
    dialog.exec();
    return TRUE;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

int SystemMetricsImpl(int index) {
  if (index != SM_CXHSCROLL) {
    return 0;
  }
  if (qobject_cast<QApplication*>(QApplication::instance()) != nullptr) {
    return QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  }
  return 17;
}

INT_PTR RunSheetEntry(HWND sheet, DialogResponder* responder);

const ViewerModule kModule{
    kViewerModuleVersion, &MessageBoxImpl,      &GetSaveFileNameImpl,
    &RunSheetEntry,       &ShowCertificateImpl, &SystemMetricsImpl,
};

}  // namespace

INT_PTR RunSheet(HWND sheet, DialogResponder* responder);

namespace {
INT_PTR RunSheetEntry(HWND sheet, DialogResponder* responder) {
  try {
    ApplicationScope scope;
    if (!scope.ok()) {
      return -1;
    }
    return RunSheet(sheet, responder);
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
}
}  // namespace

}  // namespace Velmora::Platform::QtView

extern "C" __attribute__((visibility("default"))) const Velmora::Platform::ViewerModule*
HorodexViewerModule(const Velmora::Platform::ViewerHost* host) {
  if (host == nullptr) {
    return nullptr;
  }
  Velmora::Platform::QtView::SetHost(host);
  return &Velmora::Platform::QtView::kModule;
}
