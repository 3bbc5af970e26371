// Seams for everything that waits for a person: message boxes, questions,
// file dialogs, the password prompt, modal windows and the shell. Tests
// queue the next answers; an unattended start refuses every box and writes
// its text to standard error instead.
#pragma once

#include <QPoint>
#include <QString>
#include <deque>
#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace qm::gui {

enum class Box { Plain, Warning, Error, YesNo, YesNoCancel };

struct ShownBox {
  Box kind;
  QString text;
  QString caption;
};

// Test control. Answers are taken in order; a box with no queued answer in
// a test is answered with OK / Cancel.
struct DialogSeam {
  bool unattended = false;        // no box is shown; texts go to stderr
  bool testMode = false;          // never show anything; use queued answers
  std::deque<int> answers;        // for questions: 1 Yes, 0 No, -1 Cancel
  std::deque<QString> fileNames;  // for file dialogs; "" = cancel
  std::vector<QString> fileDialogStarts;  // where each file dialog opened
  std::deque<std::optional<QString>> passwords;  // nullopt = cancel
  std::vector<ShownBox> shown;                   // every box, in order
  // Called instead of exec() for modal windows in test mode; returns the
  // dialog's result. Unset: the dialog is rejected.
  std::function<int(QDialog*)> modalHook;
  std::function<int(const QString&)> shellHook;  // result of ShellOpen
  std::vector<QString> opened;                   // every ShellOpen target
};
DialogSeam& Seam();

void ShowMessage(QWidget* parent, const QString& text);   // plain box
void ShowWarning(QWidget* parent, const QString& text);   // warning, OK
void ShowErrorBox(QWidget* parent, const QString& text);  // error box
bool AskYesNo(QWidget* parent, const QString& text,
              const QString& caption = QStringLiteral("Confirm"));
int AskYesNoCancel(QWidget* parent, const QString& text,
                   const QString& caption = QStringLiteral("Confirm"));

// Empty when cancelled. Each starts in a directory, or at a file (preset).
QString OpenFileName(QWidget* parent, const QString& title,
                     const QString& filter, const QString& directory);
QString SaveFileName(QWidget* parent, const QString& title,
                     const QString& filter, const QString& preset);

// The modal password prompt; true on OK with value set.
bool PasswordQuery(QWidget* parent, const QString& title, const QString& prompt,
                   QString& value, QChar passwordChar = QLatin1Char('*'));

int ExecModal(QDialog* dialog);

// Places a window's frame in the middle of its screen (dialogs open there,
// not over the small window that opened them).
void CentreOnScreen(QWidget* window);

// Where a window was closed, as it is stored: the frame's top-left corner.
QPoint FramePlace(const QWidget* window);
// Reopens a window with its frame at a stored place, kept exactly unless
// that would leave the title bar out of reach on every screen. The title bar
// is the frame's top edge and the window's own caption strip (its height
// given) that also moves it. Call once the size is set.
void PlaceFrame(QWidget* window, QPoint place, int captionStrip);

// Opens a file or address with the desktop; above 32 is success.
int ShellOpen(const QString& target);

}  // namespace qm::gui
