// A top-level window as the handlers see it: created on first reference
// (which runs onLoad), shown and hidden, moved in twips, with a caption,
// a window state, a menu bar and a client area that holds the controls.
#pragma once

#include <QMainWindow>
#include <cstdint>

class QMenuBar;

namespace plimra::kit {

class Form : public QMainWindow {
  Q_OBJECT
 public:
  // The client area (below the menu bar) has the given size in twips and
  // the window is fixed at that size: it has no maximise button.
  Form(const QString& name, int clientWidth, int clientHeight);

  // Runs onLoad once; the program-wide accessors call it on creation.
  void Load();

  // Shows the window; 1 shows it modally: the other windows take no input
  // until it is hidden. Either way it returns at once (the caller's handler
  // ends; nothing waits in a loop of its own). Showing a window that is not
  // the active form runs onActivate.
  void Show(int modal = 0);
  void Hide();
  void Refresh();
  // Runs onUnload; unless it cancels, the window is hidden.
  void Unload();

  void setCaption(const QString& caption) { setWindowTitle(caption); }

  // The outer window's position and size in twips.
  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  void Move(int left, int top);
  void setLeft(int left) { Move(left, Top()); }
  void setTop(int top) { Move(Left(), top); }

  // 0 normal, 1 minimized, 2 maximized.
  int WindowState() const;
  void setWindowState(int state);

  QWidget* client() const { return client_; }

 protected:
  virtual void onLoad() {}
  virtual void onActivate() {}
  virtual void onUnload(int16_t& /*Cancel*/) {}

  void closeEvent(QCloseEvent* e) override;
  void hideEvent(QHideEvent* e) override;

 private:
  QSize outerSize() const;
  QWidget* client_;
  bool loaded_ = false;
  bool unloading_ = false;
};

// Screen size in twips (the primary screen).
int ScreenWidth();
int ScreenHeight();

}  // namespace plimra::kit
