// "File Area Setup": edits the action settings of one configuration entry,
// or of several at once. Usage: TFileAreaForm dlg(parent);
// dlg.LoadEntry(entry, "12", multiple); if (ExecModal(&dlg) == Accepted)
// ApplyEdit(entry, dlg.Edit());
#pragma once

#include <QDialog>
#include <QString>

#include "config/AreaPaths.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace qm::gui {

class TFileAreaForm : public QDialog {
  Q_OBJECT

 public:
  explicit TFileAreaForm(QWidget* parent = nullptr);

  QLabel* L_FAnum;
  QLineEdit* e_FApath;
  QComboBox* cb_FileAction;
  QComboBox* cb_FileActionParam;
  QLineEdit* e_FileActionSpec;
  QPushButton* b_Browse;
  QLabel* l_to;
  QComboBox* cb_ToFileArea;
  // Shown for "List" when offered, or when the entry holds a number.
  QLabel* l_AddedWithinDays;
  QSpinBox* e_AddedWithinDays;
  QGroupBox* gb_Desc;
  QLabel* L_Action;
  QComboBox* cb_DescAction;
  QLabel* L_DFileSpec;
  QLineEdit* e_DescActionSpec;
  QPushButton* b_Advanced;
  QPushButton* b_OK;
  QPushButton* b_Cancel;
  QLabel* L_DriveLetter;  // hidden

  static constexpr const char* kMultipleText =
      ":\\(Multiple File Areas Selected)";
  static const QString& OpenDialogTitle();
  static const QString& OpenDialogFilter();

  // Fills the controls from the first selected row before showing.
  void LoadEntry(const qm::AreaConfigEntry& entry, const QString& number,
                 bool multiple);
  // The values to write back.
  qm::AreaEdit Edit() const;
  // The drive mapping dialog was confirmed with OK.
  bool DriveMapped() const { return driveMapped_; }
  // The directory the browse dialog starts in.
  QString BrowseDirectory() const { return browseDir_; }

  void FormShow();
  void cb_FileActionChange();
  void cb_FileActionParamChange();
  void b_BrowseClick();
  void b_AdvancedClick();
  void b_OKClick();
  void b_CancelClick();

  // Whether the days box is shown to List entries that hold no number.
  void OfferAddedWithinDays(bool offered);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetDescColour(bool window);
  void ShowAddedWithinDays();

  bool callerTarget_ = false;
  bool driveMapped_ = false;
  bool daysOffered_ = false;
  QString browseDir_;
};

}  // namespace qm::gui
