#include "configtool/CfgUnit.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "config/AreaPaths.h"
#include "configtool/FileAreaUnit.h"
#include "platform/Paths.h"
#include "run/ListingExtras.h"
#include "settings/IniFile.h"
#include "windows/AboutUnit.h"
#include "windows/Dialogs.h"
#include "windows/TextBytes.h"
#include "windows/oxForm.h"

namespace qm::gui {

namespace {

constexpr const char* kSection = "Config Window";
constexpr int kDefaultTop = 15, kDefaultLeft = 15;
constexpr int kDefaultHeight = 460, kDefaultWidth = 620;

enum Column {
  kAreaName,
  kNumber,
  kAction,
  kParam,
  kSpec,
  kDescAction,
  kDescSpec,
  kPath,
  kVolume,
  kOffline,
};

QAction* MenuItem(QMenu* menu, const char* name, const QString& text,
                  const QKeySequence& shortcut = {}) {
  QAction* action = menu->addAction(text);
  action->setObjectName(QLatin1String(name));
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  return action;
}

}  // namespace

const QStringList& TCfgForm::ColumnCaptions() {
  static const QStringList captions{
      QStringLiteral("Area Name"),        QStringLiteral("No."),
      QStringLiteral("File Action (FA)"), QStringLiteral("FA Param"),
      QStringLiteral("FA Spec"),          QStringLiteral("Desc Action"),
      QStringLiteral("Desc Spec"),        QStringLiteral("Path"),
      QStringLiteral("Volume"),           QStringLiteral("Offline")};
  return captions;
}

const std::vector<int>& TCfgForm::ColumnWidths() {
  static const std::vector<int> widths{150, 30,  100, 150, 100,
                                       75,  100, 200, 120, 100};
  return widths;
}

const QString& TCfgForm::FileDialogFilter() {
  static const QString filter =
      QStringLiteral("cfg files (*.cfg);;all files (*)");
  return filter;
}

TCfgForm::TCfgForm(QWidget* parent, qm::RunState& state)
    : QDialog(parent), state_(state) {
  setObjectName(QStringLiteral("CfgForm"));
  setWindowTitle(QStringLiteral("Quillmar Configuration Tool"));
  setWindowFlag(Qt::WindowMinMaxButtonsHint, true);
  setSizeGripEnabled(false);

  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  e_CurrentFile = new QLineEdit(panel);
  e_CurrentFile->setObjectName(QStringLiteral("e_CurrentFile"));
  e_CurrentFile->setReadOnly(true);
  Button1 = new QPushButton(QStringLiteral("Edit Selected"), panel);
  Button1->setObjectName(QStringLiteral("Button1"));
  auto* panelRow = new QHBoxLayout(panel);
  panelRow->setContentsMargins(6, 4, 6, 4);
  panelRow->addWidget(new QLabel(QStringLiteral("File:"), panel));
  panelRow->addWidget(e_CurrentFile, 1);
  panelRow->addWidget(Button1);

  FileListView = new QTreeWidget(this);
  FileListView->setObjectName(QStringLiteral("FileListView"));
  FileListView->setRootIsDecorated(false);
  FileListView->setUniformRowHeights(true);
  FileListView->setAllColumnsShowFocus(true);
  FileListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FileListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  FileListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FileListView->setHeaderLabels(ColumnCaptions());
  FileListView->header()->setStretchLastSection(false);
  FileListView->header()->setSectionsMovable(false);
  for (int i = 0; i < ColumnCaptions().size(); ++i)
    FileListView->setColumnWidth(i, ColumnWidths()[i]);
  // The selection stays visible when the list loses the focus.
  QPalette palette = FileListView->palette();
  for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role,
                     palette.color(QPalette::Active, role));
  FileListView->setPalette(palette);
  FileListView->viewport()->installEventFilter(this);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);

  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  QMenu* file = MainMenu1->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  New1 = MenuItem(file, "New1", QStringLiteral("&New"),
                  QKeySequence(Qt::CTRL | Qt::Key_N));
  Open1 = MenuItem(file, "Open1", QStringLiteral("&Open"),
                   QKeySequence(Qt::CTRL | Qt::Key_O));
  Save1 = MenuItem(file, "Save1", QStringLiteral("&Save"),
                   QKeySequence(Qt::CTRL | Qt::Key_S));
  SaveAs1 = MenuItem(file, "SaveAs1", QStringLiteral("Save &As..."));
  file->addSeparator();
  Close1 = MenuItem(file, "Close1", QStringLiteral("&Close"),
                    QKeySequence(Qt::CTRL | Qt::Key_F4));
  QMenu* edit = MainMenu1->addMenu(QStringLiteral("&Edit"));
  edit->setObjectName(QStringLiteral("Edit1"));
  SelectAll1 = MenuItem(edit, "SelectAll1", QStringLiteral("Select &All"),
                        QKeySequence(Qt::CTRL | Qt::Key_A));
  edit->addSeparator();
  EditSelected1 =
      MenuItem(edit, "EditSelected1", QStringLiteral("&Edit Selected"),
               QKeySequence(Qt::CTRL | Qt::Key_E));
  QMenu* help = MainMenu1->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  QuillmarManual1 =
      MenuItem(help, "QuillmarManual1", QStringLiteral("Quillmar &Manual"));
  AboutQuillmar1 =
      MenuItem(help, "AboutQuillmar1", QStringLiteral("&About Quillmar"));
  // Shortcuts work wherever the focus is in the window.
  addActions({New1, Open1, Save1, SaveAs1, Close1, SelectAll1, EditSelected1});

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->setMenuBar(MainMenu1);
  layout->addWidget(panel);
  layout->addWidget(FileListView, 1);
  layout->addWidget(StatusBar1);

  oxForm1 = new ToxForm(this);
  oxForm1->SetCaptionButtons(oxbRollUp | oxbStart | oxbOnTop | oxbCustom);
  oxForm1->SetActiveText(ox3Raised);

  connect(New1, &QAction::triggered, this, &TCfgForm::New1Click);
  connect(Open1, &QAction::triggered, this, &TCfgForm::Open1Click);
  connect(Save1, &QAction::triggered, this, &TCfgForm::Save1Click);
  connect(SaveAs1, &QAction::triggered, this, &TCfgForm::SaveAs1Click);
  connect(Close1, &QAction::triggered, this, &TCfgForm::Close1Click);
  connect(SelectAll1, &QAction::triggered, this, &TCfgForm::SelectAll1Click);
  connect(EditSelected1, &QAction::triggered, this, &TCfgForm::EditEntries);
  connect(Button1, &QPushButton::clicked, this, &TCfgForm::EditEntries);
  connect(FileListView, &QTreeWidget::itemDoubleClicked, this,
          &TCfgForm::EditEntries);
  connect(QuillmarManual1, &QAction::triggered, this,
          &TCfgForm::QuillmarManual1Click);
  connect(AboutQuillmar1, &QAction::triggered, this,
          &TCfgForm::AboutQuillmar1Click);
}

TCfgForm::~TCfgForm() = default;

std::string TCfgForm::SettingsPath() const {
  return ConfigToolSettingsPath(StateFolder(state_));
}

QString TCfgForm::ProgramDirText() const { return ToText(StateFolder(state_)); }

void TCfgForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TCfgForm::FormShow() {
  e_CurrentFile->clear();
  FileListView->clear();
  modified_ = false;
  const IniFile settings(SettingsPath());
  const int top = settings.ReadInteger(kSection, "Top", kDefaultTop);
  const int left = settings.ReadInteger(kSection, "Left", kDefaultLeft);
  const int height = settings.ReadInteger(kSection, "Height", kDefaultHeight);
  const int width = settings.ReadInteger(kSection, "Width", kDefaultWidth);
  resize(width, height);
  PlaceFrame(this, QPoint(left, top), oxForm1->CaptionBar()->height());
  for (int i = 0; i < ColumnCaptions().size(); ++i)
    FileListView->setColumnWidth(
        i, settings.ReadInteger(kSection, ToBytes(ColumnCaptions()[i]),
                                FileListView->columnWidth(i)));
  recordFile_ = std::make_unique<RecordFile>(kConfigRecordSize);
}

bool TCfgForm::SavePrompt() {
  if (!modified_) return true;
  const int answer =
      AskYesNoCancel(this, QStringLiteral("Save changes before closing?"),
                     QStringLiteral("Confirm"));
  if (answer < 0) return false;
  if (answer == 1) {
    Save1Click();
    return !modified_;
  }
  return true;
}

bool TCfgForm::FormCloseQuery() { return SavePrompt(); }

void TCfgForm::FormClose() {
  if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) return;
  // The full height is what the next showing should get.
  if (oxForm1->RollUp()) oxForm1->SetRollUp(false);
  try {
    IniFile settings(SettingsPath());
    const QPoint place = FramePlace(this);
    settings.WriteInteger(kSection, "Top", place.y());
    settings.WriteInteger(kSection, "Left", place.x());
    settings.WriteInteger(kSection, "Height", height());
    settings.WriteInteger(kSection, "Width", width());
    for (int i = 0; i < ColumnCaptions().size(); ++i)
      settings.WriteInteger(kSection, ToBytes(ColumnCaptions()[i]),
                            FileListView->columnWidth(i));
  } catch (const SettingsWriteError& error) {
    ShowErrorBox(this, ToText(error.what()));
  }
  recordFile_.reset();
}

void TCfgForm::closeEvent(QCloseEvent* event) {
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
  QDialog::done(QDialog::Rejected);
}

void TCfgForm::reject() {
  // Escape and the window's close button both go through the save prompt.
  close();
}

bool TCfgForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FileListView->viewport() &&
      event->type() == QEvent::MouseButtonPress)
    FileListViewMouseDown();
  return QDialog::eventFilter(watched, event);
}

void TCfgForm::FileListViewMouseDown() { StatusBar1->clearMessage(); }

void TCfgForm::SetRow(QTreeWidgetItem* item, const AreaConfigEntry& entry) {
  item->setText(kAreaName, ToText(entry.AreaName));
  item->setText(kNumber, QString::number(entry.AreaNum));
  item->setText(kAction, ToText(entry.FileAction));
  item->setText(kParam, ToText(entry.FileActionParam));
  item->setText(kSpec, ToText(entry.FileActionSpec));
  item->setText(kDescAction, ToText(entry.DescAction));
  item->setText(kDescSpec, ToText(entry.DescActionSpec));
  item->setText(kPath, ToText(entry.Path));
  item->setText(kVolume, ToText(entry.Volume));
  item->setText(kOffline, ToText(OfflineText(entry.Offline)));
  // Shown by no column: the dialog edits it.
  item->setData(kParam, Qt::UserRole, entry.AddedWithinDays);
}

AreaConfigEntry TCfgForm::RowEntry(const QTreeWidgetItem* item) const {
  AreaConfigEntry entry;
  entry.AreaName = ToBytes(item->text(kAreaName));
  entry.AreaNum = item->text(kNumber).toInt();
  entry.FileAction = ToBytes(item->text(kAction));
  entry.FileActionParam = ToBytes(item->text(kParam));
  entry.FileActionSpec = ToBytes(item->text(kSpec));
  entry.DescAction = ToBytes(item->text(kDescAction));
  entry.DescActionSpec = ToBytes(item->text(kDescSpec));
  entry.Path = ToBytes(item->text(kPath));
  entry.Volume = ToBytes(item->text(kVolume));
  entry.Offline = OfflineFromText(ToBytes(item->text(kOffline)));
  entry.AddedWithinDays = item->data(kParam, Qt::UserRole).toInt();
  return entry;
}

void TCfgForm::AddRow(const AreaConfigEntry& entry) {
  SetRow(new QTreeWidgetItem(FileListView), entry);
}

std::vector<AreaConfigEntry> TCfgForm::Entries() const {
  std::vector<AreaConfigEntry> entries;
  for (int i = 0; i < FileListView->topLevelItemCount(); ++i)
    entries.push_back(RowEntry(FileListView->topLevelItem(i)));
  return entries;
}

void TCfgForm::FillFromHost() {
  for (const AreaConfigEntry& entry : qm::FillFromHost(state_.homeDir))
    AddRow(entry);
}

void TCfgForm::New1Click() {
  if (!SavePrompt()) return;
  e_CurrentFile->clear();
  FileListView->clear();
  FillFromHost();
}

void TCfgForm::OpenConfigFile() {
  if (!SavePrompt()) return;
  const QString name = OpenFileName(this, QStringLiteral("Open Config File..."),
                                    FileDialogFilter(), ProgramDirText());
  if (name.isEmpty()) return;
  e_CurrentFile->setText(name);
  const std::string fileName = ToBytes(name);
  // Opening only reads: a name that does not exist is not created.
  if (!recordFile_) recordFile_ = std::make_unique<RecordFile>();
  std::vector<AreaConfigEntry> entries;
  const ReadResult result = ReadConfigFile(
      *recordFile_, fileName, [&entries](const AreaConfigEntry& entry, int) {
        entries.push_back(entry);
        return true;
      });
  if (!result.opened) {
    StatusBar1->showMessage(QStringLiteral("Could not open ") + name);
    return;
  }
  FileListView->clear();
  QCoreApplication::processEvents();
  FileListView->setUpdatesEnabled(false);
  for (const AreaConfigEntry& entry : entries) AddRow(entry);
  FileListView->setUpdatesEnabled(true);
  if (result.entriesRead == result.recordCount)
    StatusBar1->showMessage(QStringLiteral("Successfully Loaded FileAreas."));
  else
    StatusBar1->showMessage(QStringLiteral("Only loaded %1 FileAreas out of %2")
                                .arg(result.entriesRead)
                                .arg(result.recordCount));
}

namespace {

// A name without ".cfg" anywhere in it gets the extension.
QString WithConfigExtension(const QString& name) {
  if (name.toUpper().contains(QLatin1String(".CFG"))) return name;
  return name + QStringLiteral(".cfg");
}

}  // namespace

void TCfgForm::Save1Click() {
  if (FileListView->topLevelItemCount() == 0) return;
  if (e_CurrentFile->text().isEmpty()) {
    const QString name =
        SaveFileName(this, QStringLiteral("Save Config File..."),
                     FileDialogFilter(), ProgramDirText());
    if (name.isEmpty()) return;
    e_CurrentFile->setText(WithConfigExtension(name));
  }
  SaveToFile(e_CurrentFile->text());
}

void TCfgForm::SaveAs1Click() {
  const QString current = e_CurrentFile->text();
  const QString name = SaveFileName(
      this, QStringLiteral("Save Config File..."), FileDialogFilter(),
      current.isEmpty() ? ProgramDirText() : current);
  if (name.isEmpty()) return;
  e_CurrentFile->setText(WithConfigExtension(name));
  SaveToFile(e_CurrentFile->text());
}

bool TCfgForm::SaveToFile(const QString& fileName) {
  std::string message;
  if (!WriteConfigFile(ToBytes(fileName), Entries(), message)) {
    ShowWarning(this, ToText(message));
    return false;
  }
  modified_ = false;
  return true;
}

void TCfgForm::Close1Click() { close(); }

void TCfgForm::SelectAll1Click() {
  for (int i = 0; i < FileListView->topLevelItemCount(); ++i)
    FileListView->topLevelItem(i)->setSelected(true);
}

void TCfgForm::EditEntries() {
  std::vector<QTreeWidgetItem*> selected;
  for (int i = 0; i < FileListView->topLevelItemCount(); ++i)
    if (FileListView->topLevelItem(i)->isSelected())
      selected.push_back(FileListView->topLevelItem(i));
  if (selected.empty()) return;
  const bool multiple = selected.size() > 1;
  QTreeWidgetItem* first = selected.front();

  TFileAreaForm dialog(this);
  dialog.OfferAddedWithinDays(state_.listingExtras.newFilesListings);
  dialog.LoadEntry(RowEntry(first), first->text(kNumber), multiple);
  if (ExecModal(&dialog) != QDialog::Accepted) return;
  modified_ = true;
  const AreaEdit edit = dialog.Edit();
  for (QTreeWidgetItem* item : selected) {
    AreaConfigEntry entry = RowEntry(item);
    if (multiple)
      ApplyEditToMany(entry, edit, dialog.DriveMapped());
    else
      ApplyEdit(entry, edit);
    SetRow(item, entry);
  }
}

void TCfgForm::QuillmarManual1Click() {
  if (ShellOpen(ToText(state_.programDir + "Help/Manual.htm")) <= 32)
    ShowMessage(this, QLatin1String(kBrowserFailed));
}

void TCfgForm::AboutQuillmar1Click() {
  TAboutForm about(this);
  ExecModal(&about);
}

}  // namespace qm::gui
