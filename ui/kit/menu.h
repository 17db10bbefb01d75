// Menu items with captions ("&" marks the access key), check marks and a
// Click event. An item with children opens its submenu and has no Click.
#pragma once

#include <QObject>
#include <QString>
#include <cstddef>

class QAction;
class QMenu;
class QMenuBar;

namespace plimra::kit {

class MenuItem : public QObject {
  Q_OBJECT
 public:
  // A top-level menu on `bar`.
  MenuItem(QMenuBar* bar, const QString& name, const QString& caption);
  // An item of `parent`'s submenu.
  MenuItem(MenuItem* parent, const QString& name, const QString& caption);

  void setCaption(const QString& caption);
  void setChecked(bool on);
  void setEnabled(bool on);
  void setVisible(bool on);

 signals:
  void Click();

 private:
  QMenu* ensureMenu();
  void onTriggered();

  QMenu* menu_ = nullptr;
  QAction* action_ = nullptr;
  bool checked_ = false;
};

// One item of a window's menus: the member that holds it, the member that
// holds the menu it opens from (none: the menu bar), its name and caption,
// and the handler its click runs (none: it opens a submenu).
template <class Window>
struct MenuEntry {
  MenuItem* Window::*item;
  MenuItem* Window::*parent;
  const char* name;
  const char16_t* caption;
  void (Window::*click)() = nullptr;
};

// Builds a window's menus from its table, parents before their items.
template <class Window, size_t N>
void buildMenus(Window* window, QMenuBar* bar, const MenuEntry<Window> (&entries)[N]) {
  for (const MenuEntry<Window>& e : entries) {
    const QString name = QLatin1String(e.name);
    const QString caption = QString::fromUtf16(e.caption);
    MenuItem* item = e.parent ? new MenuItem(window->*e.parent, name, caption)
                              : new MenuItem(bar, name, caption);
    window->*e.item = item;
    if (e.click) QObject::connect(item, &MenuItem::Click, window, e.click);
  }
}

}  // namespace plimra::kit
