// Helpers of the shell's GUI tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QTest>
#include <QWidget>
#include <string>

#include "shell/uDialogs.h"

namespace kelvor::test {

inline QString U(const char* Utf8) {
  return QString::fromUtf8(Utf8);
}

// Shows Window and makes it the active window, so that focus moves and
// activation handlers run as they do for an operator.
inline void ShowActive(QWidget& Window) {
  Window.show();
  QApplication::setActiveWindow(&Window);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&Window, 2000));
  QApplication::processEvents();
}

// Message boxes and file choosers answered in advance for the length of a
// test; every box shown is recorded.
class DialogHooks {
 public:
  DialogHooks() {
    TDialogs::ResetTestHooks();
    TDialogs::SetTestMode(true);
  }
  ~DialogHooks() { TDialogs::ResetTestHooks(); }
};

}  // namespace kelvor::test
