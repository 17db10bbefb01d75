#include <gtest/gtest.h>

#include <QApplication>

#include "runtime/appearance.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Plimra"));
  plimra::rt::installJapaneseFontSubstitutes();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
