// The about window: picture, version, maker and the maker's web address.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace qm::gui {

inline constexpr char kBrowserFailed[] =
    "Unable to start web browser. Make sure you have it properly setup on "
    "your system.";

class TAboutForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutForm(QWidget* parent = nullptr);

  QFrame* Bevel1;
  QLabel* Image1;
  QLabel* Label1;  // "Version 1.1"
  QLabel* Label2;  // the maker
  QLabel* Label3;  // the maker's web address, a link
  QPushButton* Button1;

  void Label3Click();
  void Button1Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace qm::gui
