#include "ui/options.h"

#include "ui/kit/menu.h"

namespace plimra::ui {

void Options::setFlag(Flag f, bool on) {
  bool& flag = flags_[static_cast<int>(f)];
  if (flag == on) return;
  flag = on;
  emit changed();
}

void Options::setPlayMode(bool single, bool inOrder, bool random) {
  const QSignalBlocker once(this);
  setFlag(Flag::Single, single);
  setFlag(Flag::InOrder, inOrder);
  setFlag(Flag::Random, random);
  emit changed();
}

void Options::setReset(const QString& kind) {
  if (reset_ == kind) return;
  reset_ = kind;
  emit changed();
}

bool Options::resetMarked(const QString& kind) const {
  if (reset_.left(3) == QLatin1String("NON")) return kind == QLatin1String("NON");
  return kind != QLatin1String("NON") && reset_.left(2) == kind;
}

void Options::setSoundFont(const QString& path) {
  if (soundFont_ == path) return;
  soundFont_ = path;
  emit changed();
}

void Options::setPort(const Port& port) {
  if (port_ == port) return;
  port_ = port;
  emit changed();
}

void Options::setDefaults() {
  const QSignalBlocker once(this);
  setFlag(Flag::StopOnSwitch, true);
  setFlag(Flag::Random, true);
  setFlag(Flag::Iconize, false);
  setFlag(Flag::ShowTime, false);
  setFlag(Flag::Single, false);
  setFlag(Flag::InOrder, false);
  setFlag(Flag::Loop, false);
  setFlag(Flag::Lyrics, false);
  setReset(QStringLiteral("GM"));
  setSoundFont({});
  emit changed();
}

void Options::bind(kit::MenuItem* item, Flag f) {
  item->setChecked(flag(f));
  connect(this, &Options::changed, item, [this, item, f] { item->setChecked(flag(f)); });
}

void Options::bindReset(kit::MenuItem* item, const QString& kind) {
  item->setChecked(resetMarked(kind));
  connect(this, &Options::changed, item,
          [this, item, kind] { item->setChecked(resetMarked(kind)); });
}

Options& options() {
  static Options o;
  return o;
}

}  // namespace plimra::ui
