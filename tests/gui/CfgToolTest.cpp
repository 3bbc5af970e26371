// The configuration tool, the file area setup dialog and the drive letter
// mapping dialog, on a real host, with answers injected for boxes.
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <memory>

#include "config/ConfigFile.h"
#include "configtool/AdvancedUnit.h"
#include "configtool/CfgUnit.h"
#include "configtool/FileAreaUnit.h"
#include "host/HostAdmin.h"
#include "mainwindow/MainUnit.h"
#include "run/ListingExtras.h"
#include "settings/IniFile.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "windows/Dialogs.h"
#include "windows/TextBytes.h"
#include "windows/oxForm.h"

using namespace qm::gui;
using qmtest::CentredOnScreen;
using qmtest::Q;
using qmtest::SavePicture;

namespace {

// What the operator does: picks an item of a combo.
void Choose(QComboBox* combo, const QString& text) {
  const int index = combo->findText(text);
  QVERIFY2(index >= 0, qPrintable(text));
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

bool Shown(const QWidget* widget) { return !widget->isHidden(); }

QStringList ItemTexts(const QComboBox* combo) {
  QStringList texts;
  for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
  return texts;
}

QStringList RowTexts(const QTreeWidgetItem* item) {
  QStringList texts;
  for (int i = 0; i < item->columnCount(); ++i) texts << item->text(i);
  return texts;
}

}  // namespace

class CfgToolTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<qmtest::TempDir> dir_;
  std::string home_, programDir_, gamesDir_;
  std::unique_ptr<qmtest::HostLogin> login_;
  qm::RunState state_;
  char cwd_[4096] = {};

  std::unique_ptr<TCfgForm> ShownForm() {
    auto form = std::make_unique<TCfgForm>(nullptr, state_);
    form->show();
    return form;
  }

  // A form listing the host's areas.
  std::unique_ptr<TCfgForm> FilledForm() {
    auto form = ShownForm();
    form->New1->trigger();
    return form;
  }

  QTreeWidgetItem* RowOfArea(TCfgForm& form, int area) {
    for (int i = 0; i < form.FileListView->topLevelItemCount(); ++i)
      if (form.FileListView->topLevelItem(i)->text(1).toInt() == area)
        return form.FileListView->topLevelItem(i);
    return nullptr;
  }

  void SelectAreas(TCfgForm& form, std::initializer_list<int> areas) {
    form.FileListView->clearSelection();
    for (int area : areas) RowOfArea(form, area)->setSelected(true);
  }

  // Runs the setup dialog through act when the tool opens it; act's
  // result is the dialog's.
  int EditWith(TCfgForm& form, const std::function<void(TFileAreaForm&)>& act) {
    int dialogs = 0;
    Seam().modalHook = [&](QDialog* dialog) {
      auto* setup = qobject_cast<TFileAreaForm*>(dialog);
      if (!setup) return int(QDialog::Rejected);
      ++dialogs;
      setup->show();
      act(*setup);
      return setup->result();
    };
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    Seam().modalHook = nullptr;
    return dialogs;
  }

  // Answers the drive mapping dialog with a letter and OK or Cancel.
  std::function<int(QDialog*)> MapWith(const QString& letter, bool ok,
                                       QStringList* seen = nullptr) {
    return [letter, ok, seen](QDialog* dialog) {
      auto* mapping = qobject_cast<TAdvancedForm*>(dialog);
      if (!mapping) return int(QDialog::Rejected);
      mapping->show();
      if (!CentredOnScreen(mapping)) return int(QDialog::Rejected);
      if (seen)
        *seen << mapping->e_RealPath->text() << mapping->e_DriveLetter->text()
              << mapping->e_ResultingPath->text();
      mapping->e_DriveLetter->clear();
      if (!letter.isEmpty()) QTest::keyClicks(mapping->e_DriveLetter, letter);
      if (seen) *seen << mapping->e_ResultingPath->text();
      QTest::mouseClick(ok ? mapping->b_Ok : mapping->b_Cancel, Qt::LeftButton);
      return mapping->result();
    };
  }

 private slots:
  void initTestCase() { qmtest::SetUpGuiApplication(); }

  void init() {
    qmtest::ResetDialogSeam();
    dir_ = std::make_unique<qmtest::TempDir>();
    // Drive paths such as "D:\..." are plain names here: the storage
    // directories the host makes for them stay in the temporary directory.
    QVERIFY(getcwd(cwd_, sizeof cwd_) != nullptr);
    QVERIFY(chdir(dir_->path().c_str()) == 0);
    home_ = *dir_ / "host";
    programDir_ = *dir_ / "prog/";
    gamesDir_ = *dir_ / "games";
    qmtest::MakeDirs(programDir_);
    qmtest::MakeHost(home_, {{0, "Drive Area", gamesDir_},
                             {2, "Volume Area", "[cdrom1]\\pics"},
                             {3, "Relative Area", "rel"},
                             {4, "Pathless", ""},
                             {5, "Move Target", *dir_ / "target"}});
    std::string error;
    QVERIFY2(qm::host::AddVolume(home_, "CDROM1", *dir_ / "cd/", true, error),
             error.c_str());
    login_ = std::make_unique<qmtest::HostLogin>(home_);
    QVERIFY(login_->ok);
    state_ = qm::RunState{};
    state_.programDir = programDir_;
    state_.homeDir = "/srv/wc5";
  }

  void cleanup() {
    login_.reset();
    QVERIFY(chdir(cwd_) == 0);
    dir_.reset();
  }

  void listShowsHostAreasResolved() {
    auto form = FilledForm();
    QTreeWidget* list = form->FileListView;
    // The specified columns in order, with their built-in widths.
    const std::pair<const char*, int> columns[] = {
        {"Area Name", 150}, {"No.", 30},      {"File Action (FA)", 100},
        {"FA Param", 150},  {"FA Spec", 100}, {"Desc Action", 75},
        {"Desc Spec", 100}, {"Path", 200},    {"Volume", 120},
        {"Offline", 100}};
    QCOMPARE(list->columnCount(), int(std::size(columns)));
    for (int i = 0; i < list->columnCount(); ++i) {
      QCOMPARE(list->headerItem()->text(i), QString(columns[i].first));
      QCOMPARE(list->columnWidth(i), columns[i].second);
    }
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(list->palette().color(QPalette::Inactive, QPalette::Highlight),
             list->palette().color(QPalette::Active, QPalette::Highlight));

    QCOMPARE(list->topLevelItemCount(), 4);  // the pathless area is left out
    QCOMPARE(RowTexts(list->topLevelItem(0)),
             QStringList({"Drive Area", "0", "NA", "NA", "NA", "NA", "NA",
                          Q(gamesDir_), "NA", "No"}));
    QCOMPARE(RowTexts(list->topLevelItem(1)).mid(7),
             QStringList({Q(*dir_ / "cd/pics"), "CDROM1", "Yes"}));
    QCOMPARE(list->topLevelItem(2)->text(7), QStringLiteral("/srv/wc5/rel"));
    QCOMPARE(list->topLevelItem(3)->text(1), QStringLiteral("5"));
    QCOMPARE(state_.homeDir, std::string("/srv/wc5/"));
    QVERIFY(!form->Modified());
    form->SelectAll1->trigger();
    QCOMPARE(list->selectedItems().size(), 4);
    QVERIFY(SavePicture(form.get(), "CfgForm"));
    form->close();
  }

  // The shortcuts, the button and a double-click reach what they stand
  // for: the setup dialog opens for the selected rows or the clicked one.
  void shortcutsButtonAndDoubleClick() {
    auto form = ShownForm();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    // Away from the list and the edit field, which take Ctrl+A themselves.
    form->Button1->setFocus();
    QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier);
    QTreeWidget* list = form->FileListView;
    QCOMPARE(list->topLevelItemCount(), 4);
    QCOMPARE(list->selectedItems().size(), 0);
    QTest::keyClick(form.get(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(list->selectedItems().size(), 4);

    QStringList edited;  // the area number each setup dialog shows
    Seam().modalHook = [&edited](QDialog* dialog) {
      auto* setup = qobject_cast<TFileAreaForm*>(dialog);
      if (!setup) return int(QDialog::Rejected);
      edited << setup->L_FAnum->text();
      return int(QDialog::Rejected);
    };
    QTest::keyClick(form.get(), Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(edited, QStringList({"0"}));
    SelectAreas(*form, {3});
    QTest::mouseClick(form->Button1, Qt::LeftButton);
    QCOMPARE(edited, QStringList({"0", "3"}));
    const QRect row = list->visualItemRect(RowOfArea(*form, 5));
    QVERIFY(row.isValid());
    // What a double-click is: a click, then the second press and release.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, row.center());
    QCOMPARE(edited, QStringList({"0", "3", "5"}));
    QCOMPARE(list->selectedItems().size(), 1);
    Seam().modalHook = nullptr;

    QTest::keyClick(form.get(), Qt::Key_F4, Qt::ControlModifier);
    QVERIFY(!form->isVisible());
    QVERIFY(Seam().shown.empty());  // nothing changed: no save prompt
  }

  void menuAndCaption() {
    auto form = ShownForm();
    QCOMPARE(form->windowTitle(),
             QStringLiteral("Quillmar Configuration Tool"));
    QCOMPARE(form->New1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    QCOMPARE(form->Close1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F4));
    QCOMPARE(form->EditSelected1->shortcut(),
             QKeySequence(Qt::CTRL | Qt::Key_E));
    QCOMPARE(form->SaveAs1->text(), QStringLiteral("Save &As..."));
    QVERIFY(form->SaveAs1->shortcut().isEmpty());
    QCOMPARE(form->Button1->text(), QStringLiteral("Edit Selected"));
    // The decorator: roll-up, start, on-top; no help button.
    QVERIFY(form->oxForm1->Button(oxbRollUp));
    QVERIFY(form->oxForm1->Button(oxbStart));
    QVERIFY(form->oxForm1->Button(oxbOnTop));
    QVERIFY(!form->oxForm1->Button(oxbHelp));
    QCOMPARE(form->oxForm1->ActiveText(), ox3Raised);
    form->close();
  }

  void geometryComesFromAndGoesToTheSettings() {
    const std::string ini = programDir_ + "quillmar.ini";
    qmtest::WriteFile(ini,
                      "[Config Window]\r\nTop=40\r\nLeft=50\r\nHeight=500\r\n"
                      "Width=700\r\nPath=321\r\nNo.=0x20\r\n");
    auto form = ShownForm();
    QTRY_COMPARE(form->frameGeometry().topLeft(), QPoint(50, 40));
    QCOMPARE(form->size(), QSize(700, 500));
    QCOMPARE(form->FileListView->columnWidth(7), 321);
    QCOMPARE(form->FileListView->columnWidth(1), 32);
    QCOMPARE(form->FileListView->columnWidth(0), 150);

    // Closed while rolled up: the full height is stored.
    form->oxForm1->Button(oxbRollUp)->click();
    QVERIFY(form->oxForm1->RollUp());
    QVERIFY(form->height() < 100);
    form->resize(640, form->height());
    form->FileListView->setColumnWidth(0, 177);
    QVERIFY(form->close());
    QVERIFY(!form->oxForm1->RollUp());
    const qm::IniFile settings(ini);
    QCOMPARE(settings.ReadInteger("Config Window", "Height", 0), 500);
    QCOMPARE(settings.ReadInteger("Config Window", "Width", 0), 640);
    QCOMPARE(settings.ReadInteger("Config Window", "Area Name", 0), 177);
    QCOMPARE(settings.ReadInteger("Config Window", "Offline", 0), 100);
    // The frame's place, stored as it was restored.
    QCOMPARE(settings.ReadInteger("Config Window", "Top", 0), 40);
    QCOMPARE(settings.ReadInteger("Config Window", "Left", 0), 50);

    // Maximised: nothing is written.
    auto again = ShownForm();
    QCOMPARE(again->FileListView->columnWidth(0), 177);
    QTRY_COMPARE(again->frameGeometry().topLeft(), QPoint(50, 40));
    QVERIFY(again->geometry().top() > 40);
    again->FileListView->setColumnWidth(0, 99);
    again->showMaximized();
    QVERIFY(again->close());
    QCOMPARE(qm::IniFile(ini).ReadInteger("Config Window", "Area Name", 0),
             177);
  }

  void saveRules() {
    auto form = ShownForm();
    // "Save" on an empty list does nothing at all.
    Seam().fileNames = {Q(*dir_ / "empty")};
    form->Save1->trigger();
    QCOMPARE(Seam().fileNames.size(), size_t(1));
    QVERIFY(!qmtest::Exists(*dir_ / "empty.cfg"));
    // "Save As..." writes it: 0 bytes, with ".cfg" added.
    form->SaveAs1->trigger();
    QVERIFY(qmtest::Exists(*dir_ / "empty.cfg"));
    QCOMPARE(qmtest::ReadFile(*dir_ / "empty.cfg").size(), size_t(0));
    QCOMPARE(form->e_CurrentFile->text(), Q(*dir_ / "empty.cfg"));

    form->New1->trigger();
    form->e_CurrentFile->clear();
    Seam().fileNames = {Q(*dir_ / "my.CFG.old")};
    form->Save1->trigger();
    QCOMPARE(form->e_CurrentFile->text(), Q(*dir_ / "my.CFG.old"));
    QCOMPARE(qmtest::ReadFile(*dir_ / "my.CFG.old").size(),
             size_t(4 * qm::kConfigRecordSize));
    // Cancelled dialog: nothing changes.
    form->SaveAs1->trigger();
    QCOMPARE(form->e_CurrentFile->text(), Q(*dir_ / "my.CFG.old"));
    // The next "Save" uses the current name without asking.
    qmtest::WriteFile(*dir_ / "my.CFG.old", "x");
    form->Save1->trigger();
    QCOMPARE(qmtest::ReadFile(*dir_ / "my.CFG.old").size(),
             size_t(4 * qm::kConfigRecordSize));
    QVERIFY(Seam().shown.empty());
    // Dialogs start where configuration files are kept, not in the
    // directory the program was started from; "Save As..." at the file.
    QCOMPARE(Seam().fileDialogStarts,
             (std::vector<QString>{Q(programDir_), Q(programDir_),
                                   Q(*dir_ / "my.CFG.old")}));
    form->Open1->trigger();
    QCOMPARE(Seam().fileDialogStarts.back(), Q(programDir_));
    form->close();
  }

  void saveFailureKeepsRowsAndFlag() {
    auto form = FilledForm();
    SelectAreas(*form, {0});
    EditWith(*form, [](TFileAreaForm& dialog) { dialog.b_OK->click(); });
    QVERIFY(form->Modified());
    Seam().fileNames = {Q(*dir_ / "missing/dir/x.cfg")};
    form->Save1->trigger();
    QCOMPARE(Seam().shown.size(), size_t(1));
    QCOMPARE(Seam().shown[0].kind, Box::Warning);
    QVERIFY(Seam().shown[0].text.startsWith("Could not save config file: "));
    QVERIFY(form->Modified());
    QCOMPARE(form->FileListView->topLevelItemCount(), 4);
    Seam().answers = {0};  // do not save on close
    QVERIFY(form->close());
  }

  void openReportsWhatItLoaded() {
    auto form = FilledForm();
    // Opening only reads: a name that does not exist is not created and
    // the list keeps its rows.
    Seam().fileNames = {Q(*dir_ / "new.cfg")};
    form->Open1->trigger();
    QVERIFY(!qmtest::Exists(*dir_ / "new.cfg"));
    QCOMPARE(form->FileListView->topLevelItemCount(), 4);
    QCOMPARE(form->StatusBar1->currentMessage(),
             QStringLiteral("Could not open ") + Q(*dir_ / "new.cfg"));
    QCOMPARE(form->e_CurrentFile->text(), Q(*dir_ / "new.cfg"));

    // An empty file loads as an empty list.
    std::string message;
    QVERIFY(qm::WriteConfigFile(*dir_ / "empty.cfg", {}, message));
    Seam().fileNames = {Q(*dir_ / "empty.cfg")};
    form->Open1->trigger();
    QCOMPARE(form->FileListView->topLevelItemCount(), 0);
    QCOMPARE(form->StatusBar1->currentMessage(),
             QStringLiteral("Successfully Loaded FileAreas."));

    // An entry for an area the host no longer has is skipped.
    form->New1->trigger();
    std::vector<qm::AreaConfigEntry> entries = form->Entries();
    entries[1].AreaNum = 77;
    QVERIFY(qm::WriteConfigFile(*dir_ / "three.cfg", entries, message));
    Seam().fileNames = {Q(*dir_ / "three.cfg")};
    form->Open1->trigger();
    QCOMPARE(form->FileListView->topLevelItemCount(), 3);
    QCOMPARE(form->StatusBar1->currentMessage(),
             QStringLiteral("Only loaded 3 FileAreas out of 4"));
    QCOMPARE(RowTexts(form->FileListView->topLevelItem(1)).mid(0, 2),
             QStringList({"Relative Area", "3"}));
    // A click in the list clears the status text.
    QTest::mouseClick(form->FileListView->viewport(), Qt::LeftButton);
    QVERIFY(form->StatusBar1->currentMessage().isEmpty());

    // A file that cannot be read leaves the list as it is.
    qmtest::MakeDirs(*dir_ / "adir.cfg");
    Seam().fileNames = {Q(*dir_ / "adir.cfg")};
    form->Open1->trigger();
    QCOMPARE(form->FileListView->topLevelItemCount(), 3);
    QCOMPARE(form->e_CurrentFile->text(), Q(*dir_ / "adir.cfg"));
    QCOMPARE(form->StatusBar1->currentMessage(),
             QStringLiteral("Could not open ") + Q(*dir_ / "adir.cfg"));
    form->close();
  }

  // Opening and saving a file rewrites none of its bytes, whatever code
  // page its texts are in: every field holds every byte 0x80-0xFF.
  void openAndSaveKeepEveryByte() {
    const auto bytes = [](int entry, size_t length) {
      std::string text;
      for (size_t i = 0; i < length; ++i)
        text.push_back(char(0x80 + (entry * length + i) % 0x80));
      return text;
    };
    std::vector<qm::AreaConfigEntry> entries;
    const int areas[] = {0, 2, 3, 5};
    for (int k = 0; k < 8; ++k) {
      qm::AreaConfigEntry entry;
      entry.AreaNum = areas[k % 4];
      entry.AreaName = bytes(k, 32);
      entry.FileAction = bytes(k, 32);
      entry.FileActionParam = bytes(k, 32);
      entry.FileActionSpec = bytes(k, 128);
      entry.DescAction = bytes(k, 32);
      entry.DescActionSpec = bytes(k, 128);
      entry.Path = bytes(k, 128);
      entry.Volume = bytes(k, 16);
      entry.Offline = k % 2;
      entries.push_back(entry);
    }
    const std::string cfg = *dir_ / "areas\xE9.cfg";
    std::string message;
    QVERIFY(qm::WriteConfigFile(cfg, entries, message));
    const std::string written = qmtest::ReadFile(cfg);

    // Shown as Windows Latin-1 or as DOS text, the bytes stay.
    for (const qm::Charset charset :
         {qm::Charset::Windows1252, qm::Charset::Cp437}) {
      qm::gui::SetShownCharset(charset);
      auto form = ShownForm();
      form->activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(form.get()));
      Seam().fileNames = {Q(cfg)};
      QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
      QCOMPARE(form->FileListView->topLevelItemCount(), 8);
      QCOMPARE(form->StatusBar1->currentMessage(),
               QStringLiteral("Successfully Loaded FileAreas."));
      QVERIFY(!RowTexts(form->FileListView->topLevelItem(0))
                   .join(QString())
                   .contains(QChar::ReplacementCharacter));
      qmtest::WriteFile(cfg, "");
      QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
      QVERIFY(qmtest::ReadFile(cfg) == written);
      form->close();
    }
    qm::gui::SetShownCharset(qm::Charset::Windows1252);
  }

  // A host area named in Latin-1, listed by New and saved: the name and
  // the path are the host's bytes.
  void newAndSaveKeepHostBytes() {
    login_.reset();
    std::string every;
    for (int byte = 0x80; byte < 0x100; ++byte) every.push_back(char(byte));
    const std::string path = *dir_ / every;
    std::string error;
    QVERIFY2(qm::host::AddArea(home_, 6, "Caf\xE9 Files", path, error),
             error.c_str());
    login_ = std::make_unique<qmtest::HostLogin>(home_);
    QVERIFY(login_->ok);

    auto form = ShownForm();
    form->New1->trigger();
    QTreeWidgetItem* row = RowOfArea(*form, 6);
    QVERIFY(row);
    QVERIFY(row->text(0).startsWith(QStringLiteral("Café")));
    Seam().fileNames = {Q(*dir_ / "areas")};
    form->Save1->trigger();
    QVERIFY(!form->Modified());
    qm::RecordFile file;
    std::vector<qm::AreaConfigEntry> saved;
    qm::ReadConfigFile(file, *dir_ / "areas.cfg",
                       [&saved](const qm::AreaConfigEntry& entry, int) {
                         saved.push_back(entry);
                         return true;
                       });
    QCOMPARE(saved.size(), size_t(5));
    QCOMPARE(saved.back().AreaName, std::string("Caf\xE9 Files"));
    QCOMPARE(saved.back().Path, path);
    form->close();
  }

  void savePromptBeforeOpenAndClose() {
    std::string message;
    QVERIFY(qm::WriteConfigFile(*dir_ / "other.cfg", {}, message));
    auto form = FilledForm();
    SelectAreas(*form, {3});
    EditWith(*form, [](TFileAreaForm& dialog) { dialog.b_OK->click(); });
    QVERIFY(form->Modified());

    // Cancel stops before the file dialog.
    Seam().answers = {-1};
    Seam().fileNames = {Q(*dir_ / "other.cfg")};
    form->Open1->trigger();
    QCOMPARE(Seam().shown.back().text,
             QStringLiteral("Save changes before closing?"));
    QCOMPARE(Seam().shown.back().caption, QStringLiteral("Confirm"));
    QCOMPARE(Seam().shown.back().kind, Box::YesNoCancel);
    QCOMPARE(Seam().fileNames.size(), size_t(1));
    QCOMPARE(form->FileListView->topLevelItemCount(), 4);

    // No goes on; the loaded list still counts as modified.
    Seam().answers = {0};
    form->Open1->trigger();
    QVERIFY(Seam().fileNames.empty());
    QCOMPARE(form->FileListView->topLevelItemCount(), 0);
    QVERIFY(form->Modified());

    // Closing asks again; Cancel keeps the window open.
    const size_t asked = Seam().shown.size();
    Seam().answers = {-1};
    QVERIFY(!form->close());
    QVERIFY(form->isVisible());
    QCOMPARE(Seam().shown.size(), asked + 1);
    // Yes with nothing to save (empty list) keeps it open too.
    Seam().answers = {1};
    QVERIFY(!form->close());

    // Yes saves, then New goes on.
    form->New1->trigger();  // asked: no answer queued means Cancel
    QCOMPARE(form->FileListView->topLevelItemCount(), 0);
    Seam().answers = {0};
    form->New1->trigger();
    QCOMPARE(form->FileListView->topLevelItemCount(), 4);
    form->e_CurrentFile->setText(Q(*dir_ / "saved.cfg"));
    Seam().answers = {1};
    QVERIFY(form->close());
    QCOMPARE(qmtest::ReadFile(*dir_ / "saved.cfg").size(),
             size_t(4 * qm::kConfigRecordSize));
  }

  void setupDialogFollowsTheActionTable() {
    auto form = FilledForm();
    SelectAreas(*form, {0});
    EditWith(*form, [&](TFileAreaForm& d) {
      QCOMPARE(d.windowTitle(), QStringLiteral("File Area Setup"));
      QVERIFY(CentredOnScreen(&d));  // not over the tool at the top left
      QCOMPARE(d.L_FAnum->text(), QStringLiteral("0"));
      QCOMPARE(d.e_FApath->text(), Q(gamesDir_));
      QCOMPARE(d.cb_FileAction->currentText(), QStringLiteral("NA"));
      QVERIFY(!d.gb_Desc->isEnabled());
      QVERIFY(!Shown(d.b_Browse));
      QVERIFY(!Shown(d.cb_ToFileArea));
      QCOMPARE(d.cb_DescAction->palette().color(QPalette::Base),
               d.palette().color(QPalette::Button));

      Choose(d.cb_FileAction, "Add");
      QCOMPARE(d.cb_FileActionParam->currentText(),
               QStringLiteral("Scan For New"));
      QCOMPARE(d.cb_FileActionParam->count(), 2);
      QCOMPARE(d.e_FileActionSpec->text(), QStringLiteral("*.*"));
      QVERIFY(d.gb_Desc->isEnabled());
      QCOMPARE(d.cb_DescAction->currentText(),
               QStringLiteral("Extract from ZIP"));
      QCOMPARE(d.e_DescActionSpec->text(), QStringLiteral("file_id.diz"));
      QCOMPARE(d.cb_DescAction->palette().color(QPalette::Base),
               d.palette().color(QPalette::Base));

      Choose(d.cb_FileAction, "List");
      QCOMPARE(d.gb_Desc->title(), QStringLiteral("Output File"));
      QCOMPARE(d.L_DFileSpec->text(), QStringLiteral("File:"));
      QCOMPARE(d.cb_DescAction->currentText(), QStringLiteral("Per File Area"));
      QCOMPARE(d.cb_DescAction->itemText(1), QStringLiteral("All Files List"));
      QCOMPARE(d.e_DescActionSpec->text(), QStringLiteral("Files.BBS"));
      QCOMPARE(d.cb_FileActionParam->currentText(), QStringLiteral("Single"));
      QCOMPARE(ItemTexts(d.cb_FileActionParam),
               QStringList({"Single", "Double", "Full", "HTML", "JSON"}));
      QVERIFY(!Shown(d.b_Browse));
      // Listings of new files are not offered unless the sysop chose them.
      QVERIFY(!Shown(d.e_AddedWithinDays));
      QVERIFY(SavePicture(&d, "FileAreaForm-List"));

      // Delete shows the browse button; Add keeps it until the parameter
      // says otherwise.
      Choose(d.cb_FileAction, "Delete");
      QVERIFY(Shown(d.b_Browse));
      QVERIFY(!Shown(d.e_AddedWithinDays));
      QCOMPARE(d.gb_Desc->title(), QStringLiteral("Description"));
      QCOMPARE(d.cb_DescAction->currentText(), QStringLiteral("NA"));
      QCOMPARE(d.e_DescActionSpec->text(), QStringLiteral("NA"));
      // Clean-up: the description fields narrow what a delete selects.
      QVERIFY(d.gb_Desc->isEnabled());
      QCOMPARE(ItemTexts(d.cb_DescAction),
               QStringList({"NA", "Only Missing Files", "Only Older Than"}));
      Choose(d.cb_FileAction, "Add");
      QVERIFY(Shown(d.b_Browse));
      Choose(d.cb_FileActionParam, "From File List");
      QVERIFY(Shown(d.b_Browse));
      QCOMPARE(d.BrowseDirectory(), Q(gamesDir_));
      Seam().fileNames = {Q(*dir_ / "list.qls")};
      d.b_Browse->click();
      QCOMPARE(d.e_FileActionSpec->text(), Q(*dir_ / "list.qls"));
      Choose(d.cb_FileActionParam, "Scan For New");
      QVERIFY(!Shown(d.b_Browse));

      // Move keeps the file spec and offers the other areas as targets.
      d.e_FileActionSpec->setText("*.zip");
      Choose(d.cb_FileAction, "Move");
      QCOMPARE(d.e_FileActionSpec->text(), QStringLiteral("*.zip"));
      QVERIFY(Shown(d.l_to));
      QVERIFY(Shown(d.cb_ToFileArea));
      QVERIFY(Shown(d.b_Browse));
      QCOMPARE(d.cb_ToFileArea->currentText(), QStringLiteral("2:Volume Area"));
      QCOMPARE(d.cb_ToFileArea->findText("0:Drive Area"), -1);
      QCOMPARE(d.cb_ToFileArea->findText("4:Pathless"), 2);
      Choose(d.cb_ToFileArea, "5:Move Target");
      QVERIFY(SavePicture(&d, "FileAreaForm-Move"));
      // A typed action that names no item changes nothing else.
      d.cb_FileAction->setEditText("Mov");
      emit d.cb_FileAction->lineEdit()->textEdited("Mov");
      QVERIFY(Shown(d.cb_ToFileArea));
      d.cb_FileAction->setEditText("Move");
      d.b_OK->click();
    });
    const QTreeWidgetItem* row = RowOfArea(*form, 0);
    QCOMPARE(RowTexts(row).mid(2, 6),
             QStringList({"Move", "Files and Records >to> 5:Move Target",
                          "*.zip", "NA", "NA", Q(gamesDir_)}));
    QVERIFY(form->Modified());

    // Opened again, the stored target stays and OK writes the same back.
    EditWith(*form, [](TFileAreaForm& d) {
      QCOMPARE(d.cb_FileActionParam->currentText(),
               QStringLiteral("Files and Records"));
      QCOMPARE(d.cb_ToFileArea->currentText(), QStringLiteral("5:Move Target"));
      d.b_OK->click();
    });
    // Shown again, a move keeps no description settings.
    QCOMPARE(row->text(5), QString());
    QCOMPARE(row->text(3),
             QStringLiteral("Files and Records >to> 5:Move Target"));
    form->close();
  }

  void setupDialogKeepsStoredSettings() {
    auto form = FilledForm();
    qm::AreaConfigEntry add = form->Entries()[2];
    add.FileAction = "add";  // matched without regard to case on show
    add.FileActionParam = "From File List";
    add.FileActionSpec = "mylist.qls";
    add.DescAction = "NA";
    add.DescActionSpec = "readme.diz";
    form->FileListView->clear();
    form->AddRow(add);
    form->FileListView->topLevelItem(0)->setSelected(true);
    EditWith(*form, [](TFileAreaForm& d) {
      QCOMPARE(d.cb_FileAction->currentText(), QStringLiteral("Add"));
      QCOMPARE(d.cb_FileActionParam->currentText(),
               QStringLiteral("From File List"));
      QCOMPARE(d.e_FileActionSpec->text(), QStringLiteral("mylist.qls"));
      QCOMPARE(d.cb_DescAction->currentText(), QStringLiteral("NA"));
      QCOMPARE(d.e_DescActionSpec->text(), QStringLiteral("readme.diz"));
      QVERIFY(Shown(d.b_Browse));
      d.b_OK->click();
    });
    QCOMPARE(RowTexts(form->FileListView->topLevelItem(0)).mid(2, 5),
             QStringList(
                 {"Add", "From File List", "mylist.qls", "NA", "readme.diz"}));

    // Texts in any code page come back from the dialog as they were.
    std::string every;
    for (int byte = 0x80; byte < 0x100; ++byte) every.push_back(char(byte));
    add.FileAction = "Add";
    add.FileActionSpec = add.DescActionSpec = add.Path = every;
    add.DescAction = "Extract from ZIP";
    form->FileListView->clear();
    form->AddRow(add);
    form->FileListView->topLevelItem(0)->setSelected(true);
    EditWith(*form, [](TFileAreaForm& d) { d.b_OK->click(); });
    const qm::AreaConfigEntry back = form->Entries()[0];
    QCOMPARE(back.FileActionSpec, every);
    QCOMPARE(back.DescActionSpec, every);
    QCOMPARE(back.Path, every);

    // Cancel writes nothing back.
    form->New1->trigger();  // no save answer queued: Cancel
    EditWith(*form, [](TFileAreaForm& d) {
      Choose(d.cb_FileAction, "Delete");
      d.b_Cancel->click();
    });
    QCOMPARE(form->FileListView->topLevelItem(0)->text(2),
             QStringLiteral("Add"));
    Seam().answers = {0};
    form->close();
  }

  // Typed, an action that is no item is stored as typed: the combo does
  // not take "add" for "Add" when OK takes the focus, nor reset the fields.
  void typedActionKeptAsTyped() {
    auto form = FilledForm();
    SelectAreas(*form, {0});
    EditWith(*form, [](TFileAreaForm& d) {
      d.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&d));
      d.cb_FileAction->setFocus();
      d.cb_FileAction->lineEdit()->selectAll();
      QTest::keyClicks(d.cb_FileAction, "add");
      QCOMPARE(d.cb_FileAction->currentText(), QStringLiteral("add"));
      QTest::mouseClick(d.b_OK, Qt::LeftButton);
    });
    QCOMPARE(RowTexts(RowOfArea(*form, 0)).mid(2, 5),
             QStringList({"add", "NA", "NA", "", ""}));
    Seam().answers = {0};
    form->close();
  }

  // A delete's clean-up survives reopening; other description texts of a
  // delete row are dropped as for any action that has none.
  void deleteKeepsItsCleanUpOnly() {
    auto form = FilledForm();
    SelectAreas(*form, {3});
    EditWith(*form, [](TFileAreaForm& d) {
      Choose(d.cb_FileAction, "Delete");
      Choose(d.cb_DescAction, "Only Older Than");
      d.e_DescActionSpec->setText("365");
      d.b_OK->click();
    });
    const QStringList cleanUp{"Delete", "Delete and Remove", "*.*",
                              "Only Older Than", "365"};
    QCOMPARE(RowTexts(RowOfArea(*form, 3)).mid(2, 5), cleanUp);
    EditWith(*form, [](TFileAreaForm& d) {
      QVERIFY(d.gb_Desc->isEnabled());
      d.b_OK->click();
    });
    QCOMPARE(RowTexts(RowOfArea(*form, 3)).mid(2, 5), cleanUp);

    qm::AreaConfigEntry stale;
    stale.AreaNum = 3;
    stale.FileAction = "Delete";
    stale.FileActionParam = "Just Remove Records";
    stale.FileActionSpec = "*.*";
    stale.DescAction = stale.DescActionSpec = "NA";
    form->FileListView->clear();
    form->AddRow(stale);
    form->FileListView->topLevelItem(0)->setSelected(true);
    EditWith(*form, [](TFileAreaForm& d) { d.b_OK->click(); });
    QCOMPARE(RowTexts(form->FileListView->topLevelItem(0)).mid(2, 5),
             QStringList({"Delete", "Just Remove Records", "*.*", "", ""}));
    Seam().answers = {0};
    form->close();
  }

  void freshNaRowWritesEmptyDescription() {
    auto form = FilledForm();
    SelectAreas(*form, {3});
    QCOMPARE(EditWith(*form, [](TFileAreaForm& d) { d.b_OK->click(); }), 1);
    QCOMPARE(RowTexts(RowOfArea(*form, 3)).mid(2, 5),
             QStringList({"NA", "NA", "NA", "", ""}));
    // Nothing selected: no dialog.
    form->FileListView->clearSelection();
    QCOMPARE(EditWith(*form, [](TFileAreaForm&) {}), 0);
    Seam().answers = {0};
    form->close();
  }

  void driveMappingOfOneRow() {
    // The host's raw path is what the letter replaces.
    login_.reset();
    std::string error;
    QVERIFY(
        qm::host::AddArea(home_, 9, "Drive D", "D:\\WinApps\\Games", error));
    login_ = std::make_unique<qmtest::HostLogin>(home_);
    auto form = FilledForm();
    QStringList seen;
    SelectAreas(*form, {9});
    EditWith(*form, [&](TFileAreaForm& d) {
      Seam().modalHook = MapWith("t", true, &seen);
      d.b_Advanced->click();
      Seam().modalHook = nullptr;
      QCOMPARE(d.e_FApath->text(), QStringLiteral("T:\\WinApps\\Games"));
      d.b_OK->click();
    });
    QCOMPARE(seen, QStringList({"D:\\WinApps\\Games", "D", "D:\\WinApps\\Games",
                                "T:\\WinApps\\Games"}));
    QCOMPARE(RowOfArea(*form, 9)->text(7),
             QStringLiteral("T:\\WinApps\\Games"));

    // An empty letter maps to the real path without its first character.
    EditWith(*form, [&](TFileAreaForm& d) {
      Seam().modalHook = MapWith("", true);
      d.b_Advanced->click();
      Seam().modalHook = nullptr;
      QCOMPARE(d.e_FApath->text(), QStringLiteral(":\\WinApps\\Games"));
      // Cancel leaves the path as it is.
      Seam().modalHook = MapWith("Q", false);
      d.b_Advanced->click();
      Seam().modalHook = nullptr;
      QCOMPARE(d.e_FApath->text(), QStringLiteral(":\\WinApps\\Games"));
      d.b_OK->click();
    });
    QCOMPARE(RowOfArea(*form, 9)->text(7), QStringLiteral(":\\WinApps\\Games"));

    // A volume area: the letter replaces the first character of "[...".
    SelectAreas(*form, {2});
    EditWith(*form, [&](TFileAreaForm& d) {
      seen.clear();
      Seam().modalHook = MapWith("X", true, &seen);
      d.b_Advanced->click();
      Seam().modalHook = nullptr;
      QCOMPARE(seen.first(), QStringLiteral("[cdrom1]\\pics"));
      QCOMPARE(d.e_FApath->text(), QStringLiteral("Xcdrom1]\\pics"));
      d.b_Cancel->click();
    });
    Seam().answers = {0};
    form->close();
  }

  void driveMappingOfManyRows() {
    login_.reset();
    std::string error;
    QVERIFY(qm::host::AddArea(home_, 9, "Drive D", "D:\\one", error));
    QVERIFY(qm::host::AddArea(home_, 10, "Drive E", "E:\\two\\dir", error));
    login_ = std::make_unique<qmtest::HostLogin>(home_);
    state_.listingExtras.newFilesListings = true;
    auto form = FilledForm();
    SelectAreas(*form, {9, 10});

    // OK without mapping: actions change, paths stay.
    EditWith(*form, [&](TFileAreaForm& d) {
      QCOMPARE(d.e_FApath->text(),
               QStringLiteral("D:\\(Multiple File Areas Selected)"));
      QCOMPARE(d.L_DriveLetter->text(), QStringLiteral("D"));
      Choose(d.cb_FileAction, "List");
      QVERIFY(Shown(d.e_AddedWithinDays));
      QCOMPARE(d.e_AddedWithinDays->text(), QStringLiteral("all files"));
      d.e_AddedWithinDays->setValue(7);
      d.b_OK->click();
    });
    QCOMPARE(RowOfArea(*form, 9)->text(7), QStringLiteral("D:\\one"));
    QCOMPARE(RowOfArea(*form, 10)->text(7), QStringLiteral("E:\\two\\dir"));
    QCOMPARE(RowOfArea(*form, 10)->text(2), QStringLiteral("List"));
    QCOMPARE(RowOfArea(*form, 10)->text(6), QStringLiteral("Files.BBS"));

    // A mapping confirmed with Cancel changes no path either.
    EditWith(*form, [&](TFileAreaForm& d) {
      Seam().modalHook = MapWith("T", false);
      d.b_Advanced->click();
      Seam().modalHook = nullptr;
      d.b_OK->click();
    });
    QCOMPARE(RowOfArea(*form, 10)->text(7), QStringLiteral("E:\\two\\dir"));

    QStringList seen;
    EditWith(*form, [&](TFileAreaForm& d) {
      Seam().modalHook = MapWith("T", true, &seen);
      d.b_Advanced->click();
      Seam().modalHook = nullptr;
      QCOMPARE(d.e_FApath->text(),
               QStringLiteral("T:\\(Multiple File Areas Selected)"));
      d.b_OK->click();
    });
    QCOMPARE(seen.first(),
             QStringLiteral("D:\\(Multiple File Areas Selected)"));
    QCOMPARE(RowOfArea(*form, 9)->text(7), QStringLiteral("T:\\one"));
    QCOMPARE(RowOfArea(*form, 10)->text(7), QStringLiteral("T:\\two\\dir"));
    QCOMPARE(RowOfArea(*form, 0)->text(7), Q(gamesDir_));

    // A List entry's day count rides with its row into the file, and is
    // shown while the entry holds it even when not offered.
    state_.listingExtras.newFilesListings = false;
    EditWith(*form, [&](TFileAreaForm& d) {
      QVERIFY(Shown(d.e_AddedWithinDays));
      QCOMPARE(d.e_AddedWithinDays->value(), 7);
      d.b_Cancel->click();
    });
    Seam().fileNames = {Q(*dir_ / "days")};
    form->SaveAs1->trigger();
    qm::RecordFile file;
    std::vector<int> days;
    qm::ReadConfigFile(file, *dir_ / "days.cfg",
                       [&days](const qm::AreaConfigEntry& entry, int) {
                         days.push_back(entry.AddedWithinDays);
                         return true;
                       });
    QCOMPARE(std::count(days.begin(), days.end(), 7), 2);
    QCOMPARE(std::count(days.begin(), days.end(), 0), long(days.size()) - 2);
    Seam().answers = {0};
    form->close();
  }

  void mappingDialogOnItsOwn() {
    TAdvancedForm dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Advanced File Area Config"));
    QCOMPARE(dialog.Memo1->toPlainText().split('\n').size(), 8);
    QCOMPARE(
        dialog.Memo1->toPlainText().split('\n')[4],
        QStringLiteral("T:\\WinApps\\Games instead of D:\\WinApps\\Games.  "));
    QVERIFY(dialog.Memo1->isReadOnly());
    QCOMPARE(dialog.e_DriveLetter->maxLength(), 1);
    dialog.e_RealPath->setText("D:\\WinApps\\Games");
    dialog.e_DriveLetter->setText("t");  // set by the program: still mapped
    QCOMPARE(dialog.e_DriveLetter->text(), QStringLiteral("T"));
    QCOMPARE(dialog.e_ResultingPath->text(),
             QStringLiteral("T:\\WinApps\\Games"));
    dialog.show();
    QVERIFY(SavePicture(&dialog, "AdvancedForm"));
  }

  void mappingDoesNothingWhenTheHostLostTheArea() {
    TFileAreaForm dialog;
    qm::AreaConfigEntry entry;
    entry.AreaNum = 55;
    entry.FileAction = "NA";
    entry.Path = "D:\\gone";
    dialog.LoadEntry(entry, "55", false);
    dialog.show();
    int opened = 0;
    Seam().modalHook = [&](QDialog*) {
      ++opened;
      return int(QDialog::Accepted);
    };
    dialog.b_Advanced->click();
    QCOMPARE(opened, 0);
    QCOMPARE(dialog.e_FApath->text(), QStringLiteral("D:\\gone"));
    QVERIFY(!dialog.DriveMapped());
  }

  void manualAndAbout() {
    auto form = ShownForm();
    Seam().shellHook = [](const QString&) { return 42; };
    form->QuillmarManual1->trigger();
    QCOMPARE(Seam().opened.back(), Q(programDir_ + "Help/Manual.htm"));
    QVERIFY(Seam().shown.empty());
    Seam().shellHook = [](const QString&) { return 2; };
    form->QuillmarManual1->trigger();
    QCOMPARE(Seam().shown.back().text,
             QStringLiteral("Unable to start web browser. Make sure you have "
                            "it properly setup on your system."));
    QCOMPARE(Seam().shown.back().kind, Box::Plain);
    QString about;
    Seam().modalHook = [&](QDialog* dialog) {
      about = dialog->windowTitle();
      return int(QDialog::Accepted);
    };
    form->AboutQuillmar1->trigger();
    QCOMPARE(about, QStringLiteral("About Quillmar"));
    form->close();
  }

  // A configuration made in the tool, run by the real program.
  void madeInTheToolRunByTheProgram() {
    login_.reset();
    qmtest::TempDir run;
    const std::string bin = qmtest::CopyProgramDir(run.path());
    QVERIFY2(qmtest::Exists(bin + "/quillmar"), "build the quillmar target");
    const std::string home = bin + "/host";
    const std::string incoming = run / "incoming";
    qmtest::MakeHost(home, {{1, "Uploads", incoming}, {2, "Other", "other"}});
    qmtest::WriteFile(incoming + "/first.txt", "one");
    qmtest::WriteFile(incoming + "/second.txt", "two");
    login_ = std::make_unique<qmtest::HostLogin>(home);
    QVERIFY(login_->ok);

    state_.programDir = bin + "/";
    state_.homeDir = home;
    auto form = FilledForm();
    QCOMPARE(form->FileListView->topLevelItemCount(), 2);
    SelectAreas(*form, {1});
    EditWith(*form, [](TFileAreaForm& d) {
      Choose(d.cb_FileAction, "Add");
      d.b_OK->click();
    });
    Seam().fileNames = {Q(run / "nightly")};
    form->SaveAs1->trigger();
    QVERIFY(!form->Modified());
    QVERIFY(form->close());
    login_.reset();

    const qmtest::ProcessResult result = qmtest::RunProcess(
        {bin + "/quillmar", run / "nightly.cfg"},
        {"QT_QPA_PLATFORM=offscreen", "LC_ALL=C"}, 90, run.path());
    QVERIFY2(result.exitCode == 0, result.err.c_str());
    login_ = std::make_unique<qmtest::HostLogin>(home);
    QVERIFY(login_->ok);
    QStringList names;
    for (const TFullFileRecord& record : qmtest::AreaRecords(1))
      names << QString::fromLatin1(record.Info.Name);
    QCOMPARE(names, QStringList({"first.txt", "second.txt"}));
    QVERIFY(qmtest::AreaRecords(2).empty());
  }
};

QTEST_MAIN(CfgToolTest)
#include "CfgToolTest.moc"
