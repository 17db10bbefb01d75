// Menu items with captions ("&" marks the access key), check marks and a
// Click event. An item with children opens its submenu and has no Click.
#pragma once

#include <QObject>
#include <QString>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;

namespace plimra::rt {

class MenuItem : public QObject {
  Q_OBJECT
 public:
  // A top-level menu on `bar`.
  MenuItem(QMenuBar* bar, const QString& name, const QString& caption);
  // An item of `parent`'s submenu.
  MenuItem(MenuItem* parent, const QString& name, const QString& caption);

  QString Name() const { return objectName(); }
  QString Caption() const;
  void setCaption(const QString& caption);
  bool Checked() const { return checked_; }
  void setChecked(bool on);
  bool Enabled() const;
  void setEnabled(bool on);
  bool Visible() const;
  void setVisible(bool on);

  const std::vector<MenuItem*>& children() const { return children_; }
  MenuItem* parentItem() const { return parent_; }
  QAction* action() const { return action_; }
  // The submenu; created with the first child.
  QMenu* menu() const { return menu_; }

  // Chooses the item, as a click on it would.
  void trigger();

 signals:
  void Click();

 private:
  QMenu* ensureMenu();
  void onTriggered();

  MenuItem* parent_ = nullptr;
  QMenuBar* bar_ = nullptr;
  QMenu* menu_ = nullptr;
  QAction* action_ = nullptr;
  std::vector<MenuItem*> children_;
  bool checked_ = false;
};

}  // namespace plimra::rt
