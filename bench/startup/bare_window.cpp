// The peer: the least a Qt Widgets program does to show a window of the same
// size with a menu bar.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow w;
  w.setWindowTitle(QStringLiteral("Bare Window"));
  w.menuBar()->addMenu(QStringLiteral("&File"));
  w.resize(277, 177);
  w.show();
  return QApplication::exec();
}
