// A test run from "Run..." with "Test Run" checked: the memo reports what
// every kind of entry would do, and nothing changes on the host or on disk.
// "quillmar --test-run" prints the same lines.

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <filesystem>

#include "config/ConfigFile.h"
#include "mainwindow/MainUnit.h"
#include "server/Session.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace qm::gui;
using qmtest::ConfigEntry;
using qmtest::Q;
using qmtest::WriteFile;

namespace {

// Names and sizes of every record, and every file below root except the
// host's own database files (their bytes change on every login).
std::string Snapshot(const std::string& root, const std::string& home) {
  std::string text;
  for (int area : {1, 2})
    for (const TFullFileRecord& rec : qmtest::AreaRecords(area))
      text += std::to_string(area) + ":" + rec.Info.Name + ":" +
              std::to_string(rec.Info.Size) + "\n";
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().parent_path() == home) continue;
    text += entry.path().string() + "\n";
  }
  return text;
}

std::string LoggedInSnapshot(const std::string& root, const std::string& home) {
  qmtest::HostLogin login(home);
  return login.ok ? Snapshot(root, home) : "no login";
}

}  // namespace

class TestRunTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qmtest::SetUpGuiApplication(); }
  void init() { qmtest::ResetDialogSeam(); }

  void testRunReportsAndChangesNothing() {
    qmtest::TempDir dir;
    const std::string programDir = dir.path() + "/";
    std::filesystem::copy_file(qmtest::BinDir() + "/libdunzip.so",
                               programDir + "libdunzip.so");
    const std::string home = programDir + "host";
    qmtest::MakeHost(home,
                     {{1, "Uploads", "areas/one"}, {2, "Games", "areas/two"}});
    const std::string one = home + "/areas/one/";
    const std::string two = home + "/areas/two/";
    qmtest::MakeDirs(one);
    qmtest::MakeDirs(two);
    const std::string incoming = dir / "incoming/";
    qmtest::MakeDirs(incoming);
    qmtest::MakeZip(incoming + "GAME.ZIP", {{"FILE_ID.DIZ", "A game"}});
    WriteFile(incoming + "NOTE.TXT", "note");
    WriteFile(two + "LISTED.ZIP", "listed");
    WriteFile(two + "FILES.BBS", "LISTED.ZIP  A listed file\r\n");
    WriteFile(one + "OLD.TXT", "old");
    WriteFile(programDir + "quillmar.ini", "[General]\r\n");

    const std::string cfg = programDir + "nightly.cfg";
    std::string message;
    QVERIFY(qm::WriteConfigFile(
        cfg,
        {ConfigEntry(1, "Add", "Scan For New", incoming + "*.*",
                     "Extract from ZIP", "file_id.diz", one),
         ConfigEntry(2, "Add", "Scan For New", "FILES.BBS", "Extract from ZIP",
                     "file_id.diz", two),
         ConfigEntry(1, "Delete", "Delete and Remove", "*.*", "NA", "NA", one),
         ConfigEntry(1, "Move", "Files and Records >to> 2:Games", "*.*", "NA",
                     "NA", one),
         ConfigEntry(1, "List", "Full", "*.*", "Per File Area", "Files.BBS",
                     one)},
        message));

    qm::TheSession() = qm::Session{};
    QString windowOutput;
    MainFormOptions options;
    options.programDir = programDir;
    options.exeName = "quillmar";
    options.endApplication = [](int) {};
    {
      TMainForm form(std::move(options));
      form.show();
      QVERIFY(qm::TheSession().ServerLoggedIn);
      QVERIFY(qmtest::AddRecord(1, "OLD.TXT"));
      const std::string before = Snapshot(dir.path(), home);

      form.cb_TestRun->setChecked(true);
      form.memo_TestRun->setPlainText(QStringLiteral("earlier run"));
      Seam().fileNames = {Q(cfg)};
      QTest::mouseClick(form.b_RunCfg, Qt::LeftButton);

      const QStringList expected{
          Q("Add to FA# 1: GAME.ZIP from: " + incoming),
          Q("Add to FA# 1: NOTE.TXT from: " + incoming),
          Q("Add to FA# 2: LISTED.ZIP from: " + two),
          QStringLiteral("Delete and Remove From FA# 1: OLD.TXT"),
          QStringLiteral("Move Files and Records From FA# 1 to 2: OLD.TXT"),
          QStringLiteral("Full File Listing for FA# 1")};
      windowOutput = form.memo_TestRun->toPlainText();
      QCOMPARE(windowOutput.split(QLatin1Char('\n')), expected);
      QCOMPARE(Snapshot(dir.path(), home), before);
      QVERIFY(!qmtest::Exists(programDir + "nightly.err"));
      QVERIFY(!qmtest::Exists(one + "Files.BBS"));
    }
    qm::ServerLogout();
    qm::TheSession() = qm::Session{};

    // The same file from the command line prints the window's lines, and
    // changes nothing either.
    std::filesystem::copy_file(qmtest::BinDir() + "/quillmar",
                               programDir + "quillmar");
    const std::string before = LoggedInSnapshot(dir.path(), home);
    const auto printed = qmtest::RunProcess(
        {programDir + "quillmar", "--test-run", "nightly.cfg"},
        {"QT_QPA_PLATFORM=offscreen", "LC_ALL=C"}, 90);
    QCOMPARE(printed.exitCode, 0);
    QCOMPARE(Q(printed.out), windowOutput + QLatin1Char('\n'));
    QCOMPARE(LoggedInSnapshot(dir.path(), home), before);
    QVERIFY(!qmtest::Exists(programDir + "nightly.err"));
  }
};

QTEST_MAIN(TestRunTest)
#include "TestRunTest.moc"
