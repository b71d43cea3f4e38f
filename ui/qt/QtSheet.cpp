// The modal sheet: a QDialog with one tab per page, each page's controls placed as its template
// says (dialog units scaled to the font), and the sheet's buttons. The windows of platform/ui are
// the model; this view draws them again whenever their version moves, and reports a person's
// actions back through the platform's User* calls.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cwchar>
#include <map>
#include <set>
#include <vector>

#include "platform/ui/prsht.h"
#include "platform/ui/viewer_module.h"
#include "ui/qt/QtViewer.h"

namespace Velmora::Platform::QtView {

namespace {

QFont FaceFont(const CHARFORMATW& format, const QFont& base) {
  const std::wstring face(format.szFaceName, wcsnlen(format.szFaceName, LF_FACESIZE));
  QFont font = base;
  if (face == L"Courier") {
    font.setFamily(QStringLiteral("Courier"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
  }
  return font;
}

// Lays a page's controls out again when the page grows beyond its template's size: the list and
// the details pane share the extra height and take the extra width, the buttons stay below them
// (the one on the right keeps to the right edge).
class PageStretcher : public QObject {
 public:
  PageStretcher(QWidget* page, QSize base) : QObject(page), m_base(base) {
    page->installEventFilter(this);
  }

  void Add(QWidget* control, WindowKind kind) {
    m_controls.push_back({control, control->geometry(), kind});
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize) {
      const QSize now = static_cast<QWidget*>(watched)->size();
      Stretch(std::max(0, now.width() - m_base.width()),
              std::max(0, now.height() - m_base.height()));
    }
    return false;
  }

 private:
  struct Control {
    QWidget* widget;
    QRect base;
    WindowKind kind;
  };

  void Stretch(int dx, int dy) {
    const int listShare = dy / 2;
    for (const Control& control : m_controls) {
      QRect place = control.base;
      switch (control.kind) {
        case WindowKind::ListView:
          place.setWidth(place.width() + dx);
          place.setHeight(place.height() + listShare);
          break;
        case WindowKind::RichEdit:
          place.translate(0, listShare);
          place.setWidth(place.width() + dx);
          place.setHeight(place.height() + dy - listShare);
          break;
        case WindowKind::Button:
          place.translate(place.center().x() > m_base.width() / 2 ? dx : 0, dy);
          break;
        default:
          break;
      }
      control.widget->setGeometry(place);
    }
  }

  QSize m_base;
  std::vector<Control> m_controls;
};

class SheetView;
std::set<SheetView*>& Visible() {
  static std::set<SheetView*> visible;
  return visible;
}

class SheetView {
 public:
  SheetView(HWND sheet, QWidget* parent) : m_sheet(sheet), m_dialog(parent) {
    m_dialog.setObjectName("propertySheet");
    m_dialog.setWindowTitle(ToQString(sheet->text));
    m_dialog.setSizeGripEnabled(true);
    const QFont font = QApplication::font();
    const QFontMetrics metrics(font);
    m_baseX = std::max(
        1,
        static_cast<int>(std::lround(metrics.horizontalAdvance(QStringLiteral(
                                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                                     52.0)));
    m_baseY = std::max(1, metrics.height());

    auto* layout = new QVBoxLayout(&m_dialog);
    auto* tabs = new QTabWidget(&m_dialog);
    tabs->setObjectName("pages");
    layout->addWidget(tabs);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    layout->addLayout(buttonRow);

    for (auto& child : sheet->children) {
      HWND window = child.get();
      if (window->kind == WindowKind::Button) {
        auto* button = new QPushButton(&m_dialog);
        button->setObjectName(QStringLiteral("sheetButton%1").arg(window->id));
        buttonRow->addWidget(button);
        Bind(window, button);
        QObject::connect(button, &QPushButton::clicked, &m_dialog, [this] { m_dialog.reject(); });
      } else if (window->kind == WindowKind::Page) {
        QWidget* page = MakePage(window);
        tabs->addTab(page, ToQString(window->text));
      }
    }
    Bind(sheet, &m_dialog);
    SheetInternals::Initialize(sheet, m_baseX, m_baseY);
    Sync();
    Visible().insert(this);
  }
  SheetView(const SheetView&) = delete;
  SheetView& operator=(const SheetView&) = delete;
  ~SheetView() {
    Visible().erase(this);
    for (auto& [hwnd, widget] : m_widgets) {
      RegisterWidget(hwnd, nullptr);
    }
  }

  QDialog& dialog() { return m_dialog; }

  // Draws again every window whose data changed since it was last drawn.
  void Sync() {
    for (auto& [hwnd, widget] : m_widgets) {
      if (!IsWindow(hwnd)) {
        continue;
      }
      unsigned& drawn = m_versions[hwnd];
      if (drawn == hwnd->version + 1) {
        continue;
      }
      drawn = hwnd->version + 1;
      Draw(hwnd, widget);
    }
    if (PropSheet_IsClosing(m_sheet)) {
      m_dialog.reject();
    }
  }

 private:
  void Bind(HWND hwnd, QWidget* widget) {
    m_widgets[hwnd] = widget;
    RegisterWidget(hwnd, widget);
  }

  QRect Place(const RECT& r) const {
    return QRect(r.left * m_baseX / 4, r.top * m_baseY / 8, (r.right - r.left) * m_baseX / 4,
                 (r.bottom - r.top) * m_baseY / 8);
  }

  // What a person does, then the page's answer drawn.
  template <typename Action>
  void Act(Action action) {
    if (m_acting) {
      return;  // a change made while drawing is not a person's action
    }
    m_acting = true;
    action();
    m_acting = false;
    Sync();
  }

  QWidget* MakePage(HWND page) {
    auto* widget = new QWidget;
    widget->setObjectName(QStringLiteral("page"));
    const QRect size = Place(page->dialogRect);
    // The template's size is the smallest the page may take; a larger sheet gives the list and
    // the details pane the room.
    widget->setMinimumSize(size.width(), size.height());
    auto* stretcher = new PageStretcher(widget, size.size());
    Bind(page, widget);
    for (auto& child : page->children) {
      HWND control = child.get();
      QWidget* made = nullptr;
      switch (control->kind) {
        case WindowKind::Static:
          made = new QLabel(widget);
          break;
        case WindowKind::ComboBox: {
          auto* combo = new QComboBox(widget);
          QObject::connect(combo, qOverload<int>(&QComboBox::activated), combo,
                           [this, control](int index) {
                             Act([control, index] { UserChooseComboItem(control, index); });
                           });
          made = combo;
          // The template's height is that of the open list; the closed box keeps its own.
          QRect place = Place(control->dialogRect);
          place.setHeight(combo->sizeHint().height());
          combo->setGeometry(place);
          break;
        }
        case WindowKind::ListView: {
          auto* tree = new QTreeWidget(widget);
          tree->setRootIsDecorated(false);
          tree->setColumnCount(2);
          tree->setSelectionMode(QAbstractItemView::SingleSelection);
          tree->setSelectionBehavior(QAbstractItemView::SelectRows);
          tree->setSortingEnabled(false);
          tree->setWordWrap(false);
          tree->setUniformRowHeights(true);
          tree->header()->setSectionsClickable(false);
          // The value column takes whatever width the window gives the list.
          tree->header()->setStretchLastSection(true);
          QObject::connect(tree, &QTreeWidget::currentItemChanged, tree,
                           [this, control, tree](QTreeWidgetItem* current, QTreeWidgetItem*) {
                             if (current == nullptr) {
                               return;
                             }
                             const int index = tree->indexOfTopLevelItem(current);
                             Act([control, index] { UserSelectListItem(control, index); });
                           });
          made = tree;
          break;
        }
        case WindowKind::RichEdit: {
          auto* edit = new QTextEdit(widget);
          edit->setReadOnly(true);
          edit->setAcceptRichText(false);
          edit->setLineWrapMode(QTextEdit::WidgetWidth);
          made = edit;
          break;
        }
        case WindowKind::Button: {
          auto* button = new QPushButton(widget);
          QObject::connect(button, &QPushButton::clicked, button,
                           [this, control] { Act([control] { UserClickButton(control); }); });
          made = button;
          break;
        }
        default:
          continue;
      }
      made->setObjectName(QStringLiteral("control%1").arg(control->id));
      if (control->kind != WindowKind::ComboBox) {
        made->setGeometry(Place(control->dialogRect));
      }
      stretcher->Add(made, control->kind);
      Bind(control, made);
    }
    return widget;
  }

  void Draw(HWND hwnd, QWidget* widget) {
    const bool wasActing = m_acting;
    m_acting = true;
    if (hwnd->kind != WindowKind::Sheet && hwnd->kind != WindowKind::Page) {
      widget->setVisible(hwnd->visible);
      widget->setEnabled(hwnd->enabled);
    }
    switch (hwnd->kind) {
      case WindowKind::Sheet:
        m_dialog.setWindowTitle(ToQString(hwnd->text));
        break;
      case WindowKind::Static:
        static_cast<QLabel*>(widget)->setText(ToQString(hwnd->text));
        break;
      case WindowKind::Button:
        static_cast<QPushButton*>(widget)->setText(ToQString(hwnd->text));
        break;
      case WindowKind::ComboBox: {
        auto* combo = static_cast<QComboBox*>(widget);
        combo->clear();
        for (const std::wstring& item : hwnd->comboItems) {
          combo->addItem(ToQString(item));
        }
        combo->setCurrentIndex(hwnd->comboSelection);
        break;
      }
      case WindowKind::ListView:
        DrawList(hwnd, static_cast<QTreeWidget*>(widget));
        break;
      case WindowKind::RichEdit: {
        auto* edit = static_cast<QTextEdit*>(widget);
        edit->setCurrentFont(FaceFont(hwnd->textFormat, QApplication::font()));
        edit->setFont(FaceFont(hwnd->textFormat, QApplication::font()));
        edit->setPlainText(ToQString(hwnd->text));
        break;
      }
      default:
        break;
    }
    m_acting = wasActing;
  }

  void DrawList(HWND list, QTreeWidget* tree) {
    QStringList headers;
    for (const LVCOLUMN_DATA& column : list->columns) {
      headers << ToQString(column.text);
    }
    while (headers.size() < 2) {
      headers << QString();
    }
    tree->setHeaderLabels(headers);
    // The last column stretches to the list's edge; the others keep the page's widths.
    for (int i = 0; i + 1 < static_cast<int>(list->columns.size()); ++i) {
      tree->setColumnWidth(i, list->columns[static_cast<std::size_t>(i)].width);
    }
    tree->clear();
    QTreeWidgetItem* selected = nullptr;
    for (const LVITEM_DATA& item : list->items) {
      auto* row = new QTreeWidgetItem(tree);
      row->setText(0, ToQString(item.text[0]));
      row->setText(1, ToQString(item.text[1]));
      row->setToolTip(1, row->text(1));  // the whole value where the column elides it
      if (list->smallImages != nullptr && item.image >= 0 &&
          item.image < list->smallImages->count) {
        row->setIcon(0, RowIcon(item.image));
      }
      if ((item.state & LVIS_SELECTED) != 0) {
        selected = row;
      }
    }
    if (selected != nullptr) {
      tree->setCurrentItem(selected);
    }
  }

  HWND m_sheet;
  QDialog m_dialog;
  int m_baseX = 6;
  int m_baseY = 13;
  bool m_acting = false;
  std::map<HWND, QWidget*> m_widgets;
  std::map<HWND, unsigned> m_versions;
};

}  // namespace

void SyncVisibleSheets() {
  for (SheetView* view : Visible()) {
    view->Sync();
  }
}

namespace {

// Widens the dialog so that every list shows its longest value whole, up to the screen's width.
void WidenForLongestValue(QDialog& dialog) {
  int wanted = 0;
  for (QTreeWidget* tree : dialog.findChildren<QTreeWidget*>()) {
    const QFontMetrics metrics(tree->font());
    int longest = 0;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
      longest = std::max(longest, metrics.horizontalAdvance(tree->topLevelItem(i)->text(1)));
    }
    // The value, its cell's margins, the list's frame and a vertical scroll bar.
    const int needed = tree->columnWidth(0) + longest + 4 * metrics.averageCharWidth() +
                       2 * tree->frameWidth() +
                       tree->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    wanted = std::max(wanted, needed - tree->width());
  }
  if (wanted <= 0) {
    return;
  }
  int width = dialog.width() + wanted;
  if (const QScreen* screen = dialog.screen()) {
    width = std::min(width, screen->availableGeometry().width());
  }
  dialog.resize(std::max(width, dialog.width()), dialog.height());
}

}  // namespace

INT_PTR RunSheet(HWND sheet, DialogResponder* responder) {
  SheetView view(sheet, OwnerQWidget(reinterpret_cast<HWND>(sheet->userData)));
  view.dialog().adjustSize();
  WidenForLongestValue(view.dialog());
  if (responder != nullptr) {
    QMetaObject::invokeMethod(
        &view.dialog(),
        [responder, &view] { responder->OnSheetShown(reinterpret_cast<HWND>(&view.dialog())); },
        Qt::QueuedConnection);
  }
  view.dialog().exec();
  return 1;
}

}  // namespace Velmora::Platform::QtView
