#include "ui/kit/form.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>

#include "ui/kit/twips.h"

namespace plimra::kit {

namespace {
QPointer<Form>& active() {
  static QPointer<Form> f;
  return f;
}
}  // namespace

Form::Form(const QString& name, int clientWidth, int clientHeight)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint) {
  setObjectName(name);
  client_ = new QWidget(this);
  client_->setObjectName(name + QStringLiteral("_client"));
  client_->setFixedSize(TwipsToPixels(clientWidth), TwipsToPixels(clientHeight));
  setCentralWidget(client_);
  menuBar();  // created now, so that the size below counts it
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void Form::Load() {
  if (loaded_) return;
  loaded_ = true;
  onLoad();
}

void Form::Show(int modal) {
  Load();
  const bool wasActive = active() == this && isVisible();
  if (modal) setWindowModality(Qt::ApplicationModal);
  show();
  raise();
  activateWindow();
  if (!wasActive) {
    active() = this;
    onActivate();
  }
}

void Form::hideEvent(QHideEvent* e) {
  // Shown modally once, shown plainly the next time.
  if (windowModality() != Qt::NonModal && !isVisible()) setWindowModality(Qt::NonModal);
  QMainWindow::hideEvent(e);
}

void Form::Hide() {
  hide();
  if (active() == this) active() = nullptr;
}

void Form::Refresh() { repaint(); }

void Form::Unload() { close(); }

void Form::closeEvent(QCloseEvent* e) {
  if (unloading_) {
    e->accept();
    return;
  }
  int16_t cancel = 0;
  unloading_ = true;
  onUnload(cancel);
  unloading_ = false;
  if (cancel) {
    e->ignore();
    return;
  }
  e->accept();
  if (active() == this) active() = nullptr;
}

int Form::Left() const { return PixelsToTwips(frameGeometry().x()); }
int Form::Top() const { return PixelsToTwips(frameGeometry().y()); }

int Form::Width() const { return PixelsToTwips(outerSize().width()); }
int Form::Height() const { return PixelsToTwips(outerSize().height()); }

QSize Form::outerSize() const {
  // Before the window is first shown the frame is not known and the size
  // not yet settled: the layout settles it, the frame adds nothing yet.
  if (!isVisible() && layout()) layout()->activate();
  return frameGeometry().size();
}

void Form::Move(int left, int top) { move(TwipsToPixels(left), TwipsToPixels(top)); }

int Form::WindowState() const {
  const auto s = windowState();
  if (s & Qt::WindowMinimized) return 1;
  if (s & Qt::WindowMaximized) return 2;
  return 0;
}

void Form::setWindowState(int state) {
  auto s = windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
  if (state == 1) s |= Qt::WindowMinimized;
  if (state == 2) s |= Qt::WindowMaximized;
  QMainWindow::setWindowState(s);
}

int ScreenWidth() {
  const QScreen* s = QGuiApplication::primaryScreen();
  return s ? PixelsToTwips(s->geometry().width()) : 0;
}

int ScreenHeight() {
  const QScreen* s = QGuiApplication::primaryScreen();
  return s ? PixelsToTwips(s->geometry().height()) : 0;
}

}  // namespace plimra::kit
