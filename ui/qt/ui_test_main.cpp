// The widget tests run on Qt's offscreen platform in one QApplication.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The folder chooser keeps its history in the user's Qt settings; test
  // processes running side by side each get settings of their own.
  QTemporaryDir config_home;
  if (config_home.isValid()) qputenv("XDG_CONFIG_HOME", config_home.path().toUtf8());
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
