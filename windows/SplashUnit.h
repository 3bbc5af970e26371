// The splash window shown while the program logs in at start-up, and the
// product's picture and maker that the splash and about windows show.
#pragma once

#include <QPixmap>
#include <QWidget>

class QFrame;
class QLabel;

namespace qm::gui {

inline constexpr char kMakerName[] = "Quillmar Software";
inline constexpr char kWebAddress[] = "https://quillmar.example/";

// The product picture, drawn at the given size.
QPixmap ProductPicture(const QSize& size);

class TSplashForm : public QWidget {
  Q_OBJECT
 public:
  explicit TSplashForm(QWidget* parent = nullptr);

  QFrame* Panel1;
  QFrame* Panel2;  // raised frame around the picture
  QLabel* Image1;
  QLabel* l_version;
  QLabel* Label1;  // "For more information goto:"
  QLabel* Label2;  // web address
  QLabel* Label3;  // logging-in line

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow
};

}  // namespace qm::gui
