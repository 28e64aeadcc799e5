// The window module's entry point: starts Qt on a display and gives its
// toolkit through the C interface, or nothing when no display can be used.
#include "ui/desktop_module.h"

#include <QApplication>
#include <QByteArray>
#include <QGuiApplication>
#include <QString>
#include <memory>

#include "ui/qt/qt_toolkit.h"

namespace {

// Desktop platforms first, the one the environment names before the other;
// offscreen last, so that a display that cannot be reached never aborts the
// program. A platform the user asked for keeps its place at the front.
QByteArray PlatformList() {
  QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
  if (platforms.isEmpty()) {
    platforms = qEnvironmentVariableIsEmpty("DISPLAY") ? "wayland;xcb" : "xcb;wayland";
  }
  if (!platforms.split(';').contains("offscreen")) platforms += ";offscreen";
  return platforms;
}

// Qt reports each platform that it cannot start; a run that falls back to
// the console has its own message. (A fatal message still ends the process
// after this returns.)
void QuietWhileStarting(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

extern "C" __attribute__((visibility("default"))) int MorvaneOpenDesktopToolkit(
    MorvaneToolkit* toolkit) {
  try {
    if (QCoreApplication::instance() != nullptr) {
      morvane::OpenQtToolkit(*toolkit, nullptr);
      return 1;
    }
    qputenv("QT_QPA_PLATFORM", PlatformList());
    // QApplication keeps references to both for its lifetime.
    static int argc = 1;
    static char program_name[] = "morvane";
    static char* argv[] = {program_name, nullptr};
    // The desktop entry's name: Wayland shells match the window to its
    // launcher, icon and name by it (X11 ones by StartupWMClass there).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.morvane.morvane"));
    const QtMessageHandler previous = qInstallMessageHandler(&QuietWhileStarting);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    if (QGuiApplication::platformName() == QStringLiteral("offscreen")) return 0;
    morvane::OpenQtToolkit(*toolkit, std::move(application));
    return 1;
  } catch (...) {
    return 0;
  }
}
