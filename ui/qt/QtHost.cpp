// The layer's functions as the module sees them: each calls the host's table, handed over by the
// library that loaded the module. They are hidden in the module, so the module's own calls bind to
// them and never to another copy of the layer in the process.
#include "platform/errors/last_error.h"
#include "platform/ui/commdlg.h"
#include "platform/ui/controls.h"
#include "platform/ui/prsht.h"
#include "platform/ui/viewer_module.h"
#include "platform/ui/winuser.h"
#include "ui/qt/QtViewer.h"

namespace Velmora::Platform {

namespace {
const ViewerHost* g_host = nullptr;
}  // namespace

namespace QtView {
void SetHost(const ViewerHost* host) noexcept {
  g_host = host;
}
}  // namespace QtView

void SetLastError(DWORD code) noexcept {
  g_host->setLastError(code);
}
bool IsWindow(HWND hwnd) noexcept {
  return g_host->isWindow(hwnd);
}
void* OwnerWidget(HWND owner) noexcept {
  return g_host->ownerWidget(owner);
}
void RegisterWidget(HWND hwnd, void* widget) noexcept {
  g_host->registerWidget(hwnd, widget);
}
DialogResponder* GetDialogResponder() noexcept {
  return g_host->getDialogResponder();
}
std::vector<std::wstring> SplitFilterList(const wchar_t* filter) {
  return g_host->splitFilterList(filter);
}
void SheetInternals::Initialize(HWND sheet, int baseUnitX, int baseUnitY) {
  g_host->initializeSheet(sheet, baseUnitX, baseUnitY);
}
bool PropSheet_IsClosing(HWND sheet) noexcept {
  return g_host->sheetIsClosing(sheet);
}
BOOL UserChooseComboItem(HWND combo, int index) {
  return g_host->userChooseComboItem(combo, index);
}
BOOL UserSelectListItem(HWND list, int index) {
  return g_host->userSelectListItem(list, index);
}
BOOL UserClickButton(HWND button) {
  return g_host->userClickButton(button);
}

}  // namespace Velmora::Platform
