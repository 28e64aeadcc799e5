// The window module's entry point: starts Qt on a display and gives the
// desktop view, or nothing when no display can be used.
#include "ui/desktop_module.h"

#include <QApplication>
#include <QByteArray>
#include <QGuiApplication>
#include <QString>
#include <exception>
#include <memory>

#include "ui/qt/qt_view.h"

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

extern "C" __attribute__((visibility("default"))) morvane::View* MorvaneCreateDesktopView() {
  try {
    if (QCoreApplication::instance() != nullptr) return new morvane::QtView();
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
    if (QGuiApplication::platformName() == QStringLiteral("offscreen")) return nullptr;
    return new morvane::QtView(std::move(application));
  } catch (...) {  // nothing may cross this C entry point: no window then
    return nullptr;
  }
}
