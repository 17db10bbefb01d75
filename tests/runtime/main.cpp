// The runtime's controls need an application object; the tests run on the
// offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("PlimraTest"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
