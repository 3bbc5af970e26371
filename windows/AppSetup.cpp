#include "windows/AppSetup.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "platform/FieldText.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/Archivers.h"
#include "run/Extras.h"
#include "server/WcApi.h"
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

// The Extras page asks for room only while it is shown: on the General page
// the dialog keeps the size it has without the extras.
class PageScroll : public QScrollArea {
 public:
  using QScrollArea::QScrollArea;
  void SetShown(bool shown) {
    shown_ = shown;
    updateGeometry();
  }
  QSize sizeHint() const override {
    if (!shown_ || !widget()) return {0, 0};
    return widget()->sizeHint() + QSize(2 * frameWidth(), 2 * frameWidth());
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 private:
  bool shown_ = false;
};

void SetExtras(RunState& state, ExtrasSettings extras) {
  SetShownCharset(extras.charset);
  state.extras = std::move(extras);
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
    SaveExtras(settings);
  } catch (const SettingsWriteError& error) {
    ShowErrorBox(this, ToText(error.what()));
    return;
  }
  accept();
}

// The "Extras" page.

void TSetupDlg::CreateExtrasPage() {
  Extras = new QWidget(PageControl1);
  Extras->setObjectName(QStringLiteral("Extras"));
  PageControl1->addTab(Extras, QStringLiteral("Extras"));
  auto* scroll = new PageScroll(Extras);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  auto* content = new QWidget;
  scroll->setWidget(content);
  connect(PageControl1, &QTabWidget::currentChanged, scroll, [this, scroll] {
    scroll->SetShown(PageControl1->currentWidget() == Extras);
  });
  auto* outer = new QVBoxLayout(Extras);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(scroll);
  auto* page = new QVBoxLayout(content);
  std::map<std::string, QFormLayout*> groups;
  for (const ExtraKey& row : ExtraKeys()) {
    QFormLayout*& fields = groups[row.group];
    if (!fields) {
      auto* group = new QGroupBox(QLatin1String(row.group), content);
      QString name = QStringLiteral("gb_") + QLatin1String(row.group);
      group->setObjectName(name.remove(QLatin1Char(' ')));
      fields = new QFormLayout(group);
      page->addWidget(group);
    }
    QWidget* control = nullptr;
    switch (row.control) {
      case ExtraControl::Choice: {
        auto* choices = new QComboBox;
        for (const std::string& text : row.choices)
          choices->addItem(ToText(text));
        control = choices;
        break;
      }
      case ExtraControl::Text:
        control = Edit(row.objectName, nullptr);
        break;
      case ExtraControl::Number: {
        auto* number = new QSpinBox;
        number->setRange(row.minimum, row.maximum);
        control = number;
        break;
      }
    }
    control->setObjectName(QLatin1String(row.objectName));
    control->setToolTip(QLatin1String(row.toolTip));
    fields->addRow(QLatin1String(row.label), control);
    extraControls_[row.key] = control;
  }
  // What the names typed and the file's [Archiver NAME] sections give.
  archiversInEffect_ = new QLabel;
  archiversInEffect_->setObjectName(QStringLiteral("l_ArchiversInEffect"));
  archiversInEffect_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  groups.at("Archives")
      ->addRow(QStringLiteral("In effect:"), archiversInEffect_);
  connect(qobject_cast<QLineEdit*>(extraControls_.at("Archivers")),
          &QLineEdit::textChanged, this, [this] { ShowArchivers(); });
  page->addStretch();
}

void TSetupDlg::ShowArchivers() {
  DescriptionExtras extras;
  extras.archivers =
      ToBytes(qobject_cast<QLineEdit*>(extraControls_.at("Archivers"))->text());
  extras.archiverSections = ReadArchiverSections(IniFile(settingsPath_));
  QStringList lines;
  for (const std::string& line : ArchiverStatus(extras))
    lines.append(ToText(line));
  archiversInEffect_->setText(lines.isEmpty() ? QStringLiteral("none")
                                              : lines.join(QLatin1Char('\n')));
}

void TSetupDlg::ShowExtras() {
  const ExtrasSettings extras = ReadExtras(IniFile(settingsPath_));
  for (const ExtraKey& row : ExtraKeys()) {
    QWidget* control = extraControls_.at(row.key);
    const QString text = ToText(row.text(extras));
    if (auto* choices = qobject_cast<QComboBox*>(control))
      choices->setCurrentIndex(choices->findText(text));
    else if (auto* number = qobject_cast<QSpinBox*>(control))
      number->setValue(text.toInt());
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
      edit->setText(text);
  }
  ShowArchivers();
}

void TSetupDlg::SaveExtras(IniFile& settings) {
  ExtrasSettings extras;
  for (const ExtraKey& row : ExtraKeys()) {
    QWidget* control = extraControls_.at(row.key);
    QString text;
    if (auto* choices = qobject_cast<QComboBox*>(control))
      text = choices->currentText();
    else if (auto* number = qobject_cast<QSpinBox*>(control))
      text = QString::number(number->value());
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
      text = edit->text();
    row.take(extras, ToBytes(text));
  }
  // The archivers' own sections are edited in the file, not here.
  extras.archiverSections = ReadArchiverSections(settings);
  WriteExtras(settings, extras);
  SetExtras(state_, std::move(extras));
}

void ApplyExtras(RunState& state, const IniFile& settings) {
  SetExtras(state, ReadExtras(settings));
}

}  // namespace qm::gui
