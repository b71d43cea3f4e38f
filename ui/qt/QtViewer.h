// The pieces of the Qt view shared by its files.
#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>
#include <string>

#include "platform/ui/viewer_module.h"
#include "platform/ui/winuser.h"

namespace Velmora::Platform::QtView {

// Takes the host's table that every call of the layer's functions goes through (QtHost.cpp).
void SetHost(const ViewerHost* host) noexcept;

// Makes a QApplication for the length of a call when the process has none. `ok()` is false when no
// application can be made (no display and no platform plug-in asked for); the last error is then
// ERROR_NOT_SUPPORTED.
class ApplicationScope {
 public:
  ApplicationScope();
  ApplicationScope(const ApplicationScope&) = delete;
  ApplicationScope& operator=(const ApplicationScope&) = delete;
  ~ApplicationScope();
  bool ok() const noexcept { return m_ok; }

 private:
  bool m_ok = false;
  bool m_owned = false;
};

QString ToQString(const std::wstring& text);
QString ToQString(const wchar_t* text);
std::wstring FromQString(const QString& text);

// The widget to own a dialog shown for `owner`.
QWidget* OwnerQWidget(HWND owner);

// The six row icons, drawn here: 0 property, 1 extension, 2 critical extension, 3 signature
// verified with a valid certificate, 4 signature with any other outcome, 5 certificate.
QIcon RowIcon(int index);

// Brings every sheet being shown up to date with its windows' data (before a modal box opens over
// it, so that it shows the rows made so far).
void SyncVisibleSheets();

}  // namespace Velmora::Platform::QtView
