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

namespace plimra::about {

class FrmAbout : public plimra::kit::Form {
  Q_OBJECT

 public:
  FrmAbout();
  ~FrmAbout() override;

  // Closed for good: it is destroyed and the next use makes a new one.
  bool unloaded() const { return unloaded_; }

  QLabel* Image1;
  plimra::kit::Label* Label1;
  plimra::kit::CommandButton* Command1;
  plimra::kit::Label* lblAbout;

 public slots:
  void Command1_Click();

 protected:
  void Form_Load() override;
  void Form_Unload(int16_t& Cancel) override;

 private:
  void FitAboutText();

  bool unloaded_ = false;
};

}  // namespace plimra::about
