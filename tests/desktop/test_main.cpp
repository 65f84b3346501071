// The Qt tests share one QApplication on the offscreen platform. Started with --stop-child, the
// program is instead the desktop program of one stop scenario (desktop_stop_test.cpp).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <exception>

#include "desktop_stop_test.h"
#include "platform/signals.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc == 4 && std::strcmp(argv[1], qv::desktop::kStopChildFlag) == 0) {
    int signalFd = -1;
    try {
      signalFd = qv::platform::OpenTerminationSignals();  // before Qt starts any thread
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 3;
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    return qv::desktop::RunStopChild(signalFd, argv[2], argv[3]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
