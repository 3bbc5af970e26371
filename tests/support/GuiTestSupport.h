// Helpers shared by the window tests. Header-only: qm_test_support has no Qt.
#pragma once

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalBlocker>
#include <QString>
#include <QWidget>
#include <string>
#include <utility>
#include <vector>

#include "mainwindow/MainUnit.h"
#include "tests/support/TestSupport.h"
#include "windows/Dialogs.h"
#include "windows/TextBytes.h"

namespace qmtest {

inline QString Q(const std::string& text) { return qm::gui::ToText(text); }

// Where window pictures go: QM_SCREENS_DIR, else screens/ in the build.
inline QString ScreensDir() {
  QString dir = qEnvironmentVariable("QM_SCREENS_DIR");
  if (dir.isEmpty()) dir = Q(BinDir()) + QStringLiteral("/../screens");
  QDir().mkpath(dir);
  return dir;
}

// Saves a picture of the window as <name>.png in ScreensDir(). The manual
// shows its examples under /srv/bbs: a test's own temporary folder is shown
// as that in the picture, and only there.
inline bool SavePicture(QWidget* window, const QString& name) {
  static const QRegularExpression kTemporary(
      QStringLiteral("/[^ ]*/qmtest\\.[^/ ]+"));
  std::vector<std::pair<QLineEdit*, QString>> shown;
  for (QLineEdit* edit : window->findChildren<QLineEdit*>()) {
    if (!edit->text().contains(kTemporary)) continue;
    shown.emplace_back(edit, edit->text());
    const QSignalBlocker quiet(edit);
    edit->setText(
        QString(edit->text()).replace(kTemporary, QStringLiteral("/srv/bbs")));
  }
  // As a person sees it: after the layout has followed the last change.
  QCoreApplication::sendPostedEvents();
  const bool saved = window->grab().save(ScreensDir() + "/" + name + ".png");
  for (const auto& [edit, text] : shown) {
    const QSignalBlocker quiet(edit);
    edit->setText(text);
  }
  return saved;
}

// The window's frame sits in the middle of its screen, give or take a pixel.
inline bool CentredOnScreen(const QWidget* window) {
  const QPoint off = window->frameGeometry().center() -
                     window->screen()->availableGeometry().center();
  return off.manhattanLength() <= 2;
}

// Once per test executable: the program's font, and no quitting when a
// window under test closes.
inline void SetUpGuiApplication() {
  qm::gui::UseApplicationFont();
  QApplication::setQuitOnLastWindowClosed(false);
}

// Before each test: boxes and dialogs answered by the test, none seen yet.
inline void ResetDialogSeam() {
  qm::gui::Seam() = qm::gui::DialogSeam{};
  qm::gui::Seam().testMode = true;
}

}  // namespace qmtest
