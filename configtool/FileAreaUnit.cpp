#include "configtool/FileAreaUnit.h"

#include <QComboBox>
#include <QCompleter>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>

#include "configtool/AdvancedUnit.h"
#include "platform/FieldText.h"
#include "run/ListModes.h"
#include "windows/Dialogs.h"
#include "windows/TextBytes.h"

namespace qm::gui {

namespace {

QComboBox* Combo(const char* name, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QLatin1String(name));
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  // A case-insensitive completer would take "add" for the item "Add" when
  // the edit loses the focus, and choosing an item resets the dialog.
  combo->completer()->setCaseSensitivity(Qt::CaseSensitive);
  return combo;
}

// Keeps the row's place in the layout while the control is hidden.
void KeepPlace(QWidget* widget) {
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
}

void FillItems(QComboBox* combo, const std::vector<std::string>& items) {
  combo->clear();
  for (const std::string& item : items) combo->addItem(ToText(item));
}

}  // namespace

const QString& TFileAreaForm::OpenDialogTitle() {
  static const QString title = QStringLiteral("Choose a File List...");
  return title;
}

const QString& TFileAreaForm::OpenDialogFilter() {
  static const QString filter = QStringLiteral(
      "Quillmar Lists (*.qls);;Text Files (*.txt);;All Files (*)");
  return filter;
}

TFileAreaForm::TFileAreaForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FileAreaForm"));
  setWindowTitle(QStringLiteral("File Area Setup"));

  L_FAnum = new QLabel(this);
  L_FAnum->setObjectName(QStringLiteral("L_FAnum"));
  L_FAnum->setMinimumWidth(40);
  e_FApath = new QLineEdit(this);
  e_FApath->setObjectName(QStringLiteral("e_FApath"));
  e_FApath->setReadOnly(true);
  L_DriveLetter = new QLabel(this);
  L_DriveLetter->setObjectName(QStringLiteral("L_DriveLetter"));
  L_DriveLetter->hide();

  auto* header = new QGridLayout;
  header->addWidget(new QLabel(QStringLiteral("File Area:"), this), 0, 0);
  header->addWidget(L_FAnum, 0, 1);
  header->addWidget(new QLabel(QStringLiteral("Path:"), this), 1, 0);
  header->addWidget(e_FApath, 1, 1);
  header->setColumnStretch(1, 1);

  auto* fileGroup = new QGroupBox(QStringLiteral("File"), this);
  fileGroup->setObjectName(QStringLiteral("gb_File"));
  cb_FileAction = Combo("cb_FileAction", fileGroup);
  for (const std::string& action : qm::FileActions())
    cb_FileAction->addItem(ToText(action));
  cb_FileActionParam = Combo("cb_FileActionParam", fileGroup);
  cb_FileActionParam->setMinimumWidth(150);
  e_FileActionSpec = new QLineEdit(fileGroup);
  e_FileActionSpec->setObjectName(QStringLiteral("e_FileActionSpec"));
  b_Browse = new QPushButton(QStringLiteral("..."), fileGroup);
  b_Browse->setObjectName(QStringLiteral("b_Browse"));
  b_Browse->setFixedWidth(24);
  KeepPlace(b_Browse);
  b_Browse->hide();
  l_to = new QLabel(QStringLiteral("to"), fileGroup);
  l_to->setObjectName(QStringLiteral("l_to"));
  KeepPlace(l_to);
  l_to->hide();
  cb_ToFileArea = Combo("cb_ToFileArea", fileGroup);
  cb_ToFileArea->setMinimumWidth(170);
  KeepPlace(cb_ToFileArea);
  cb_ToFileArea->hide();

  l_AddedWithinDays =
      new QLabel(QStringLiteral("Added in the last (days):"), fileGroup);
  l_AddedWithinDays->setObjectName(QStringLiteral("l_AddedWithinDays"));
  e_AddedWithinDays = new QSpinBox(fileGroup);
  e_AddedWithinDays->setObjectName(QStringLiteral("e_AddedWithinDays"));
  e_AddedWithinDays->setRange(0, qm::kMostAddedWithinDays);
  e_AddedWithinDays->setSpecialValueText(QStringLiteral("all files"));
  e_AddedWithinDays->setToolTip(
      QStringLiteral("Lists only the files added within this many days "
                     "before the run starts."));
  l_AddedWithinDays->hide();
  e_AddedWithinDays->hide();

  auto* fileGrid = new QGridLayout(fileGroup);
  fileGrid->addWidget(new QLabel(QStringLiteral("Action:"), fileGroup), 0, 0);
  fileGrid->addWidget(cb_FileAction, 0, 1);
  fileGrid->addWidget(new QLabel(QStringLiteral("Parameter:"), fileGroup), 1,
                      0);
  fileGrid->addWidget(cb_FileActionParam, 1, 1);
  fileGrid->addWidget(l_to, 1, 2);
  fileGrid->addWidget(cb_ToFileArea, 1, 3);
  fileGrid->addWidget(new QLabel(QStringLiteral("File Spec:"), fileGroup), 2,
                      0);
  auto* specRow = new QHBoxLayout;
  specRow->addWidget(e_FileActionSpec, 1);
  specRow->addWidget(b_Browse);
  fileGrid->addLayout(specRow, 2, 1, 1, 3);
  fileGrid->addWidget(l_AddedWithinDays, 3, 0);
  fileGrid->addWidget(e_AddedWithinDays, 3, 1);
  fileGrid->setColumnStretch(3, 1);

  gb_Desc = new QGroupBox(QStringLiteral("Description"), this);
  gb_Desc->setObjectName(QStringLiteral("gb_Desc"));
  gb_Desc->setEnabled(false);
  L_Action = new QLabel(QStringLiteral("Action:"), gb_Desc);
  L_Action->setObjectName(QStringLiteral("L_Action"));
  cb_DescAction = Combo("cb_DescAction", gb_Desc);
  cb_DescAction->addItems(
      {QStringLiteral("NA"), QStringLiteral("Extract from ZIP")});
  L_DFileSpec = new QLabel(QStringLiteral("File Spec:"), gb_Desc);
  L_DFileSpec->setObjectName(QStringLiteral("L_DFileSpec"));
  e_DescActionSpec = new QLineEdit(gb_Desc);
  e_DescActionSpec->setObjectName(QStringLiteral("e_DescActionSpec"));
  auto* descGrid = new QGridLayout(gb_Desc);
  descGrid->addWidget(L_Action, 0, 0);
  descGrid->addWidget(cb_DescAction, 0, 1);
  descGrid->addWidget(L_DFileSpec, 1, 0);
  descGrid->addWidget(e_DescActionSpec, 1, 1);
  descGrid->setColumnStretch(1, 1);
  SetDescColour(false);

  b_Advanced = new QPushButton(QStringLiteral("&Advanced"), this);
  b_Advanced->setObjectName(QStringLiteral("b_Advanced"));
  b_OK = new QPushButton(QStringLiteral("&OK"), this);
  b_OK->setObjectName(QStringLiteral("b_OK"));
  b_OK->setDefault(true);
  b_Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
  b_Cancel->setObjectName(QStringLiteral("b_Cancel"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(b_Advanced);
  buttons->addStretch();
  buttons->addWidget(b_OK);
  buttons->addWidget(b_Cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(header);
  layout->addWidget(fileGroup);
  layout->addWidget(gb_Desc);
  layout->addLayout(buttons);
  setMinimumWidth(500);

  // Only the operator's choices and typing run the change handlers, as
  // setting texts from code does not.
  connect(cb_FileAction, &QComboBox::activated, this,
          &TFileAreaForm::cb_FileActionChange);
  connect(cb_FileAction->lineEdit(), &QLineEdit::textEdited, this,
          &TFileAreaForm::cb_FileActionChange);
  connect(cb_FileActionParam, &QComboBox::activated, this,
          &TFileAreaForm::cb_FileActionParamChange);
  connect(cb_FileActionParam->lineEdit(), &QLineEdit::textEdited, this,
          &TFileAreaForm::cb_FileActionParamChange);
  connect(b_Browse, &QPushButton::clicked, this, &TFileAreaForm::b_BrowseClick);
  connect(b_Advanced, &QPushButton::clicked, this,
          &TFileAreaForm::b_AdvancedClick);
  connect(b_OK, &QPushButton::clicked, this, &TFileAreaForm::b_OKClick);
  connect(b_Cancel, &QPushButton::clicked, this, &TFileAreaForm::b_CancelClick);
}

void TFileAreaForm::LoadEntry(const qm::AreaConfigEntry& entry,
                              const QString& number, bool multiple) {
  L_FAnum->setText(number);
  cb_FileAction->setEditText(ToText(entry.FileAction));
  callerTarget_ = false;
  if (entry.FileAction != "Move") {
    cb_FileActionParam->setEditText(ToText(entry.FileActionParam));
  } else {
    const qm::MoveParam move = qm::SplitMoveParam(entry.FileActionParam);
    cb_FileActionParam->setEditText(ToText(move.mode));
    if (move.hasTarget) {
      cb_ToFileArea->setEditText(ToText(move.target));
      callerTarget_ = true;
    }
  }
  e_FileActionSpec->setText(ToText(entry.FileActionSpec));
  cb_DescAction->setEditText(ToText(entry.DescAction));
  e_DescActionSpec->setText(ToText(entry.DescActionSpec));
  e_AddedWithinDays->setValue(entry.AddedWithinDays);
  ShowAddedWithinDays();
  L_DriveLetter->setText(ToText(entry.Path.substr(0, 1)));
  e_FApath->setText(multiple
                        ? L_DriveLetter->text() + QLatin1String(kMultipleText)
                        : ToText(entry.Path));
}

qm::AreaEdit TFileAreaForm::Edit() const {
  qm::AreaEdit edit;
  edit.action = ToBytes(cb_FileAction->currentText());
  edit.param = ToBytes(cb_FileActionParam->currentText());
  edit.target = ToBytes(cb_ToFileArea->currentText());
  edit.spec = ToBytes(e_FileActionSpec->text());
  edit.descAction = ToBytes(cb_DescAction->currentText());
  edit.descSpec = ToBytes(e_DescActionSpec->text());
  edit.path = ToBytes(e_FApath->text());
  edit.addedWithinDays = e_AddedWithinDays->value();
  return edit;
}

void TFileAreaForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  CentreOnScreen(this);
  FormShow();
}

void TFileAreaForm::SetDescColour(bool window) {
  for (QWidget* control : {static_cast<QWidget*>(cb_DescAction),
                           static_cast<QWidget*>(e_DescActionSpec)}) {
    QPalette palette = control->palette();
    const QPalette standard = QDialog::palette();
    palette.setColor(QPalette::Base, window ? standard.color(QPalette::Base)
                                            : standard.color(QPalette::Button));
    control->setPalette(palette);
  }
}

void TFileAreaForm::FormShow() {
  const QString param = cb_FileActionParam->currentText();
  const QString spec = e_FileActionSpec->text();
  const int index = cb_FileAction->findText(cb_FileAction->currentText(),
                                            Qt::MatchFixedString);
  cb_FileAction->setCurrentIndex(index);
  if (index < 0) cb_FileAction->setEditText(QString());
  QString descAction, descSpec;
  const QString action = cb_FileAction->currentText();
  if (qm::KeepsDescription(ToBytes(action),
                           ToBytes(cb_DescAction->currentText()))) {
    descAction = cb_DescAction->currentText();
    descSpec = e_DescActionSpec->text();
  }
  cb_FileActionChange();
  cb_FileActionParam->setEditText(param);
  e_FileActionSpec->setText(spec);
  cb_DescAction->setEditText(descAction);
  e_DescActionSpec->setText(descSpec);
  cb_FileActionParamChange();

  const QString target = cb_ToFileArea->currentText();
  cb_ToFileArea->clear();
  for (const std::string& item : qm::MoveTargets(L_FAnum->text().toInt()))
    cb_ToFileArea->addItem(ToText(item));
  if (callerTarget_)
    cb_ToFileArea->setEditText(target);
  else
    cb_ToFileArea->setCurrentIndex(cb_ToFileArea->count() > 0 ? 0 : -1);
}

void TFileAreaForm::cb_FileActionChange() {
  // Only an action that names one of the items sets the dialog up.
  const int index = cb_FileAction->findText(
      cb_FileAction->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (index < 0) return;
  auto setup = qm::SetupForAction(ToBytes(cb_FileAction->itemText(index)));
  if (!setup) return;

  cb_FileActionParam->clear();
  l_to->hide();
  cb_ToFileArea->hide();
  SetDescColour(false);
  gb_Desc->setTitle(QStringLiteral("Description"));
  L_Action->show();
  L_DFileSpec->setText(QStringLiteral("File Spec:"));
  FillItems(cb_DescAction, setup->descActions);
  cb_DescAction->setEditText(ToText(setup->descAction));
  e_DescActionSpec->setText(ToText(setup->descSpec));

  FillItems(cb_FileActionParam, setup->params);
  if (setup->spec) e_FileActionSpec->setText(ToText(*setup->spec));
  gb_Desc->setEnabled(setup->descEnabled);
  SetDescColour(setup->descEnabled);
  if (setup->outputFile) {
    gb_Desc->setTitle(QStringLiteral("Output File"));
    L_DFileSpec->setText(QStringLiteral("File:"));
    cb_DescAction->setCurrentIndex(0);
  }
  using Browse = qm::ActionSetup::Browse;
  if (setup->browse == Browse::Shown) b_Browse->show();
  if (setup->browse == Browse::Hidden) b_Browse->hide();
  if (setup->target) {
    l_to->show();
    cb_ToFileArea->show();
  }
  ShowAddedWithinDays();
  cb_FileActionParam->setCurrentIndex(0);
}

void TFileAreaForm::OfferAddedWithinDays(bool offered) {
  daysOffered_ = offered;
  ShowAddedWithinDays();
}

void TFileAreaForm::ShowAddedWithinDays() {
  const auto setup = qm::SetupForAction(ToBytes(cb_FileAction->currentText()));
  const bool shown = setup && setup->addedWithinDays &&
                     (daysOffered_ || e_AddedWithinDays->value() != 0);
  l_AddedWithinDays->setVisible(shown);
  e_AddedWithinDays->setVisible(shown);
}

void TFileAreaForm::cb_FileActionParamChange() {
  const bool offered =
      qm::BrowseOffered(ToBytes(cb_FileAction->currentText()),
                        ToBytes(cb_FileActionParam->currentText()));
  b_Browse->setVisible(offered);
  if (offered) browseDir_ = e_FApath->text();
}

void TFileAreaForm::b_BrowseClick() {
  const QString name =
      OpenFileName(this, OpenDialogTitle(), OpenDialogFilter(), browseDir_);
  if (!name.isEmpty()) e_FileActionSpec->setText(name);
}

void TFileAreaForm::b_AdvancedClick() {
  auto area = qm::HostArea(L_FAnum->text().toInt());
  if (!area) return;
  TAdvancedForm dialog(this);
  const QString path = e_FApath->text();
  dialog.e_RealPath->setText(path.contains(QLatin1String("Areas Selected)"))
                                 ? path
                                 : ToText(qm::FieldText(area->Path)));
  dialog.e_DriveLetter->setText(path.left(1));
  dialog.e_ResultingPath->setText(path);
  if (ExecModal(&dialog) == QDialog::Accepted) {
    e_FApath->setText(dialog.e_ResultingPath->text());
    driveMapped_ = true;
  }
}

void TFileAreaForm::b_OKClick() { accept(); }

void TFileAreaForm::b_CancelClick() { reject(); }

}  // namespace qm::gui
