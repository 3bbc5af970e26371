#include "windows/Dialogs.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <cstdio>

#include "windows/PasswordDialog.h"
#include "windows/TextBytes.h"

namespace qm::gui {

DialogSeam& Seam() {
  static DialogSeam seam;
  return seam;
}

namespace {

bool Headless() { return Seam().unattended || Seam().testMode; }

void Record(Box kind, const QString& text, const QString& caption) {
  Seam().shown.push_back({kind, text, caption});
  if (Seam().unattended) std::fprintf(stderr, "%s\n", ToBytes(text).c_str());
}

int NextAnswer(int fallback) {
  auto& answers = Seam().answers;
  if (answers.empty()) return fallback;
  int answer = answers.front();
  answers.pop_front();
  return answer;
}

QString NextFileName() {
  auto& names = Seam().fileNames;
  if (names.empty()) return {};
  QString name = names.front();
  names.pop_front();
  return name;
}

// A box opens over its window; while that is not shown yet (at start-up,
// under the splash) it opens in the middle of the screen, as a box without
// a parent does, rather than over the hidden window's corner.
QWidget* BoxParent(QWidget* parent) {
  return parent && parent->window()->isVisible() ? parent : nullptr;
}

void ShowBox(Box kind, QWidget* parent, const QString& text,
             QMessageBox::Icon icon, const QString& caption) {
  Record(kind, text, caption);
  if (Headless()) return;
  QMessageBox box(icon, caption, text, QMessageBox::Ok, BoxParent(parent));
  box.setTextFormat(Qt::PlainText);  // names in it are shown as they are
  box.exec();
}

}  // namespace

void ShowMessage(QWidget* parent, const QString& text) {
  ShowBox(Box::Plain, parent, text, QMessageBox::NoIcon,
          QStringLiteral("Quillmar"));
}

void ShowWarning(QWidget* parent, const QString& text) {
  ShowBox(Box::Warning, parent, text, QMessageBox::Warning,
          QStringLiteral("Warning"));
}

void ShowErrorBox(QWidget* parent, const QString& text) {
  ShowBox(Box::Error, parent, text, QMessageBox::Critical,
          QStringLiteral("Error"));
}

bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
  Record(Box::YesNo, text, caption);
  if (Headless()) return NextAnswer(0) == 1;
  return QMessageBox::question(BoxParent(parent), caption, text,
                               QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

int AskYesNoCancel(QWidget* parent, const QString& text,
                   const QString& caption) {
  Record(Box::YesNoCancel, text, caption);
  if (Headless()) return NextAnswer(-1);
  auto answer = QMessageBox::question(
      BoxParent(parent), caption, text,
      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Yes) return 1;
  if (answer == QMessageBox::No) return 0;
  return -1;
}

QString OpenFileName(QWidget* parent, const QString& title,
                     const QString& filter, const QString& directory) {
  Seam().fileDialogStarts.push_back(directory);
  if (Headless()) return NextFileName();
  return QFileDialog::getOpenFileName(parent, title, directory, filter, nullptr,
                                      QFileDialog::DontUseNativeDialog);
}

QString SaveFileName(QWidget* parent, const QString& title,
                     const QString& filter, const QString& preset) {
  Seam().fileDialogStarts.push_back(preset);
  if (Headless()) return NextFileName();
  return QFileDialog::getSaveFileName(parent, title, preset, filter, nullptr,
                                      QFileDialog::DontUseNativeDialog);
}

bool PasswordQuery(QWidget* parent, const QString& title, const QString& prompt,
                   QString& value, QChar passwordChar) {
  if (Headless()) {
    auto& queue = Seam().passwords;
    if (queue.empty() || !queue.front()) {
      if (!queue.empty()) queue.pop_front();
      return false;
    }
    value = *queue.front();
    queue.pop_front();
    return true;
  }
  TPasswordDialog dialog(parent, title, prompt, value, passwordChar);
  if (dialog.exec() != QDialog::Accepted) return false;
  value = dialog.Value();
  return true;
}

int ExecModal(QDialog* dialog) {
  if (Headless()) {
    if (Seam().modalHook) return Seam().modalHook(dialog);
    return QDialog::Rejected;
  }
  return dialog->exec();
}

void CentreOnScreen(QWidget* window) {
  window->move(window->pos() + window->screen()->availableGeometry().center() -
               window->frameGeometry().center());
}

QPoint FramePlace(const QWidget* window) {
  return window->frameGeometry().topLeft();
}

namespace {

// How much of a title bar must lie on one screen for it to be grabbed.
constexpr int kGripWidth = 40;
constexpr int kGripHeight = 8;

bool InReach(const QRect& bar, const QRect& area) {
  const QRect common = area.intersected(bar);
  return common.width() >= std::min(bar.width(), kGripWidth) &&
         common.height() >= std::min(bar.height(), kGripHeight);
}

int Distance(const QRect& bar, const QRect& area) {
  const int dx =
      std::max({area.left() - bar.right(), bar.left() - area.right(), 0});
  const int dy =
      std::max({area.top() - bar.bottom(), bar.top() - area.bottom(), 0});
  return dx + dy;
}

// The stored place, unless the title bar (the frame's top edge and the
// window's own caption strip below it) would be out of reach on every
// screen: only then is it pulled onto the nearest screen.
QPoint TitleBarOnScreen(const QWidget* window, QPoint place, int captionStrip) {
  const QMargins frame = window->windowHandle()->frameMargins();
  const QRect bar(place, QSize(window->width() + frame.left() + frame.right(),
                               std::max(frame.top() + captionStrip, 1)));
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (screens.isEmpty()) return place;
  const QScreen* nearest = screens.front();
  for (const QScreen* screen : screens) {
    const QRect area = screen->availableGeometry();
    if (InReach(bar, area)) return place;
    if (Distance(bar, area) < Distance(bar, nearest->availableGeometry()))
      nearest = screen;
  }
  const QRect area = nearest->availableGeometry();
  const int grip = std::min(bar.width(), kGripWidth);
  return {std::clamp(place.x(), area.left() + grip - bar.width(),
                     std::max(area.left(), area.right() + 1 - grip)),
          std::clamp(place.y(), area.top(),
                     std::max(area.top(), area.bottom() + 1 - bar.height()))};
}

}  // namespace

void PlaceFrame(QWidget* window, QPoint place, int captionStrip) {
  window->winId();  // the native window, which takes a frame position
  // Screens that no one sees (a start without a display) say nothing about
  // the sysop's: the place is kept for the next start that has them.
  const bool unseen = Seam().unattended && QGuiApplication::platformName() ==
                                               QLatin1String("offscreen");
  const QPoint at =
      unseen ? place : TitleBarOnScreen(window, place, captionStrip);
  // The widget's own idea first, so that showing it moves nothing after;
  // then the native window's, which is the frame's even before the window
  // manager has framed it: nothing creeps by the frame's size.
  window->move(at);
  window->windowHandle()->setFramePosition(at);
}

int ShellOpen(const QString& target) {
  Seam().opened.push_back(target);
  if (Seam().shellHook) return Seam().shellHook(target);
  if (Seam().unattended) return 0;
  QUrl url = target.startsWith(QLatin1String("http"))
                 ? QUrl(target)
                 : QUrl::fromLocalFile(target);
  bool ok = QDesktopServices::openUrl(url);
  return ok ? 33 : 0;
}

}  // namespace qm::gui
