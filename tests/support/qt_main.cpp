// The main of every test program that needs an application object: the
// windows and controls run on the platform the test sets (offscreen), with
// the program's name in message-box titles and its Japanese fonts.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/kit/appearance.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Plimra"));
  plimra::kit::installJapaneseFontSubstitutes();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
