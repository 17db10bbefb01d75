// The About window: the program's picture and name, and six lines on the
// version, the systems it runs on, the tool it is built with, the
// copyright, where to ask, and the release date. Shown modally from the MIDI
// window; closing it destroys it, and the next use builds it anew.
#pragma once

#include <QString>
#include <cstdint>

#include "ui/kit/controls.h"
#include "ui/kit/form.h"

class QLabel;

namespace plimra::ui {

class AboutWindow : public plimra::kit::Form {
  Q_OBJECT

 public:
  AboutWindow();
  ~AboutWindow() override;

  // Closed for good: it is destroyed and the next use makes a new one.
  bool unloaded() const { return unloaded_; }

  QLabel* picture;
  plimra::kit::Label* nameLabel;
  plimra::kit::CommandButton* okButton;
  plimra::kit::Label* aboutText;

 public slots:
  void onOk();

 protected:
  void onLoad() override;
  void onUnload(int16_t& Cancel) override;

 private:
  void fitAboutText();

  bool unloaded_ = false;
};

}  // namespace plimra::ui
