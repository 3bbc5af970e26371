#include "ui/gui/Dialogs.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>
#include <cstdio>

#include "ui/gui/PasswordDialog.h"

namespace qm::gui {

DialogSeam& Seam() {
  static DialogSeam seam;
  return seam;
}

namespace {

bool Headless() { return Seam().unattended || Seam().testMode; }

void Record(Box kind, const QString& text, const QString& caption) {
  Seam().shown.push_back({kind, text, caption});
  if (Seam().unattended)
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
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

void ShowBox(Box kind, QWidget* parent, const QString& text,
             QMessageBox::Icon icon, const QString& caption) {
  Record(kind, text, caption);
  if (Headless()) return;
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
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

void ShowInformation(QWidget* parent, const QString& text) {
  ShowBox(Box::Information, parent, text, QMessageBox::Information,
          QStringLiteral("Information"));
}

void ShowErrorBox(QWidget* parent, const QString& text) {
  ShowBox(Box::Error, parent, text, QMessageBox::Critical,
          QStringLiteral("Error"));
}

bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
  Record(Box::YesNo, text, caption);
  if (Headless()) return NextAnswer(0) == 1;
  return QMessageBox::question(parent, caption, text,
                               QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

int AskYesNoCancel(QWidget* parent, const QString& text,
                   const QString& caption) {
  Record(Box::YesNoCancel, text, caption);
  if (Headless()) return NextAnswer(-1);
  auto answer = QMessageBox::question(
      parent, caption, text,
      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Yes) return 1;
  if (answer == QMessageBox::No) return 0;
  return -1;
}

QString OpenFileName(QWidget* parent, const QString& title,
                     const QString& filter, const QString& directory) {
  if (Headless()) return NextFileName();
  return QFileDialog::getOpenFileName(parent, title, directory, filter, nullptr,
                                      QFileDialog::DontUseNativeDialog);
}

QString SaveFileName(QWidget* parent, const QString& title,
                     const QString& filter, const QString& preset) {
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
