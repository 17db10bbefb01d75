#include "ui/kit/menu.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace plimra::kit {

MenuItem::MenuItem(QMenuBar* bar, const QString& name, const QString& caption)
    : QObject(bar) {
  setObjectName(name);
  menu_ = new QMenu(caption, bar);
  menu_->setObjectName(name);
  action_ = bar->addMenu(menu_);
}

MenuItem::MenuItem(MenuItem* parent, const QString& name, const QString& caption)
    : QObject(parent) {
  setObjectName(name);
  QMenu* m = parent->ensureMenu();
  action_ = m->addAction(caption);
  action_->setObjectName(name);
  connect(action_, &QAction::triggered, this, &MenuItem::onTriggered);
}

QMenu* MenuItem::ensureMenu() {
  if (menu_) return menu_;
  // Becoming a submenu: the plain action is replaced by the menu's own one
  // at the same place.
  QMenu* owner = qobject_cast<QMenu*>(action_->parent());
  menu_ = new QMenu(action_->text(), owner);
  menu_->setObjectName(objectName());
  QAction* sub = menu_->menuAction();
  sub->setObjectName(objectName());
  if (owner) {
    owner->insertAction(action_, sub);
    owner->removeAction(action_);
  }
  action_->deleteLater();
  action_ = sub;
  return menu_;
}

void MenuItem::setCaption(const QString& caption) {
  action_->setText(caption);
  if (menu_) menu_->setTitle(caption);
}

void MenuItem::setChecked(bool on) {
  checked_ = on;
  // Only a checked item is checkable, so that unchecked items show no empty
  // box in styles that draw one.
  action_->setCheckable(on);
  action_->setChecked(on);
}

void MenuItem::setEnabled(bool on) { action_->setEnabled(on); }
void MenuItem::setVisible(bool on) { action_->setVisible(on); }

void MenuItem::onTriggered() {
  // Qt toggles a checkable action by itself; the mark is the handler's to set.
  action_->setChecked(checked_);
  if (!menu_) emit Click();
}

}  // namespace plimra::kit
