#include "windows/AppSetup.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "platform/FieldText.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "server/WcApi.h"
#include "settings/CharsetSetting.h"
#include "settings/Extras.h"
#include "settings/IniFile.h"
#include "windows/Dialogs.h"
#include "windows/TextBytes.h"

namespace qm::gui {

namespace {

constexpr const char* kSection = "General";

QLineEdit* Edit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setMinimumWidth(220);
  return edit;
}

}  // namespace

const char* TSetupDlg::ServerProgramName() {
#ifdef _WIN32
  return "wcserver.exe";
#else
  return "wcserver";
#endif
}

TSetupDlg::TSetupDlg(QWidget* parent, qm::RunState& state, std::string exeName)
    : QDialog(parent), state_(state) {
  settingsPath_ = MainSettingsPath(
      StateFolder(state_), exeName.empty() ? ProgramFileName() : exeName);
  setObjectName(QStringLiteral("SetupDlg"));
  setWindowTitle(QStringLiteral("Setup"));

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  General = new QWidget(PageControl1);
  General->setObjectName(QStringLiteral("General"));
  PageControl1->addTab(General, QStringLiteral("General"));

  GroupBox1 = new QGroupBox(QStringLiteral("Wildcat Properties"), General);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  e_SysopName = Edit("e_SysopName", GroupBox1);
  e_BBSName = Edit("e_BBSName", GroupBox1);
  e_wcHomeDir = Edit("e_wcHomeDir", GroupBox1);
  auto* fields = new QFormLayout(GroupBox1);
  fields->addRow(QStringLiteral("Sysop Name:"), e_SysopName);
  fields->addRow(QStringLiteral("BBS Name:"), e_BBSName);
  fields->addRow(QStringLiteral("Wildcat Home Directory:"), e_wcHomeDir);
  auto* page = new QVBoxLayout(General);
  page->addWidget(GroupBox1);
  page->addStretch();
  CreateExtrasPage();

  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                            QStringLiteral("OK"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setDefault(true);
  BitBtn2 =
      new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                      QStringLiteral("Cancel"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PageControl1);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog border

  connect(BitBtn1, &QPushButton::clicked, this, &TSetupDlg::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TSetupDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  CentreOnScreen(this);
  FormShow();
}

void TSetupDlg::FormShow() {
  PageControl1->setCurrentWidget(General);
  TMakewild makewild{};
  if (GetMakewild(makewild)) {
    const IniFile settings(settingsPath_);
    e_SysopName->setText(ToText(settings.ReadString(
        kSection, "SysopName", FieldText(makewild.SysopName))));
    e_BBSName->setText(ToText(settings.ReadString(
        kSection, "BBSName", FieldText(makewild.SystemName))));
    e_wcHomeDir->setText(
        ToText(settings.ReadString(kSection, "wcHomeDir", state_.homeDir)));
  }
  state_.homeDir = ToBytes(e_wcHomeDir->text());
  LoadCharset(IniFile(settingsPath_));
  ShowExtras();
}

void TSetupDlg::BitBtn1Click() {
  const std::string home = TrailingBackslash(ToBytes(e_wcHomeDir->text()));
  e_wcHomeDir->setText(ToText(home));
  const std::string program = ResolveExisting(home + ServerProgramName());
  if (program.empty() || !FileExists(program)) {
    const QString question =
        QStringLiteral("The path: \r") + ToText(home) +
        QStringLiteral(
            "\r does not appear to be your Wildcat Server home "
            "directory.") +
        QStringLiteral(" Would you like to enter a different path?");
    if (AskYesNo(this, question)) return;
  }
  try {
    IniFile settings(settingsPath_);
    settings.WriteString(kSection, "SysopName",
                         Trim(ToBytes(e_SysopName->text())));
    settings.WriteString(kSection, "BBSName", Trim(ToBytes(e_BBSName->text())));
    settings.WriteString(kSection, "wcHomeDir",
                         Trim(ToBytes(e_wcHomeDir->text())));
    SaveCharset(settings);
    SaveExtras(settings);
  } catch (const SettingsWriteError& error) {
    ShowErrorBox(this, ToText(error.what()));
    return;
  }
  accept();
}

void TSetupDlg::BuildCharsetControl(QWidget* page) {
  cb_Charset = new QComboBox(page);
  cb_Charset->setObjectName(QStringLiteral("cb_Charset"));
  cb_Charset->addItem(QLatin1String(CharsetText(Charset::Windows1252)));
  cb_Charset->addItem(QLatin1String(CharsetText(Charset::Cp437)));
  cb_Charset->setToolTip(
      QStringLiteral("How descriptions that are not UTF-8 are shown in the "
                     "windows and written into the HTML and JSON listings. "
                     "Stored bytes never change."));
  auto* group = new QGroupBox(QStringLiteral("DOS Text"), page);
  group->setObjectName(QStringLiteral("gb_Charset"));
  cb_Charset->setParent(group);
  auto* form = new QFormLayout(group);
  form->addRow(QStringLiteral("Text that is not UTF-8:"), cb_Charset);
  page->layout()->addWidget(group);
}

void TSetupDlg::LoadCharset(const IniFile& settings) {
  cb_Charset->setCurrentIndex(ReadCharset(settings) == Charset::Cp437 ? 1 : 0);
}

void TSetupDlg::SaveCharset(IniFile& settings) {
  const Charset charset =
      cb_Charset->currentIndex() == 1 ? Charset::Cp437 : Charset::Windows1252;
  WriteCharset(settings, charset);
  ApplyCharset(state_, charset);
}

void ApplyCharset(RunState& state, Charset charset) {
  state.charset = charset;
  SetShownCharset(charset);
}

// The "Extras" page.

void TSetupDlg::CreateExtrasPage() {
  Extras = new QWidget(PageControl1);
  Extras->setObjectName(QStringLiteral("Extras"));
  PageControl1->addTab(Extras, QStringLiteral("Extras"));
  auto* uploads = new QGroupBox(QStringLiteral("Uploads"), Extras);
  uploads->setObjectName(QStringLiteral("gb_Uploads"));
  cb_Duplicates = new QComboBox(uploads);
  cb_Duplicates->setObjectName(QStringLiteral("cb_Duplicates"));
  for (const DuplicateMode mode :
       {DuplicateMode::Off, DuplicateMode::Report, DuplicateMode::Refuse})
    cb_Duplicates->addItem(ToText(DuplicateModeText(mode)));
  e_UploadCheck = Edit("e_UploadCheck", uploads);
  e_UploadCheckSeconds = new QSpinBox(uploads);
  e_UploadCheckSeconds->setObjectName(QStringLiteral("e_UploadCheckSeconds"));
  e_UploadCheckSeconds->setRange(1, 86400);
  auto* fields = new QFormLayout(uploads);
  fields->addRow(QStringLiteral("Duplicate uploads:"), cb_Duplicates);
  fields->addRow(QStringLiteral("Upload check (%f: the file):"), e_UploadCheck);
  fields->addRow(QStringLiteral("Upload check time limit (s):"),
                 e_UploadCheckSeconds);
  auto* page = new QVBoxLayout(Extras);
  page->addWidget(uploads);
  BuildCharsetControl(Extras);
  page->addStretch();
}

void TSetupDlg::ShowExtras() {
  const ExtrasSettings extras = ReadExtras(IniFile(settingsPath_));
  cb_Duplicates->setCurrentIndex(static_cast<int>(extras.duplicates));
  e_UploadCheck->setText(ToText(extras.uploadCheck));
  e_UploadCheckSeconds->setValue(extras.uploadCheckSeconds);
}

void TSetupDlg::SaveExtras(IniFile& settings) {
  ExtrasSettings extras;
  extras.duplicates = static_cast<DuplicateMode>(cb_Duplicates->currentIndex());
  extras.uploadCheck = Trim(ToBytes(e_UploadCheck->text()));
  extras.uploadCheckSeconds = e_UploadCheckSeconds->value();
  WriteExtras(settings, extras);
  state_.extras = extras;
}

}  // namespace qm::gui
