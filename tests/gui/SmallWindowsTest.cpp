// The small windows: gauge, progress, splash, about and password prompt.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "mainwindow/MainUnit.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "windows/AboutUnit.h"
#include "windows/Dialogs.h"
#include "windows/Gauge.h"
#include "windows/PasswordDialog.h"
#include "windows/ProgressUnit.h"
#include "windows/SplashUnit.h"
#include "windows/TextBytes.h"

using namespace qm::gui;
using qmtest::SavePicture;

namespace {

// The label's text fits inside the label.
bool TextFits(const QLabel* label) {
  return label->fontMetrics().horizontalAdvance(label->text()) <=
         label->width();
}

}  // namespace

class SmallWindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qmtest::SetUpGuiApplication(); }
  void init() { qmtest::ResetDialogSeam(); }

  // Every stored byte comes back from the window text; valid UTF-8 and any
  // other byte are shown as characters.
  void storedBytesThroughWindowText() {
    std::string every;
    for (int byte = 0; byte < 256; ++byte) every.push_back(char(byte));
    const std::string cases[] = {
        every,
        "Caf\xE9 Files",
        "\xE9\xC3\xA9\xE9",                  // Latin-1 around UTF-8
        "\xEF\xB8\x80\xC3\xA9\xEF\xB8\x80",  // the mark itself, stored
        "\xE2\x82 \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xF0\x9F\x98",
        "\xF0\x9F\x98\x80 \xE2\x82\xAC \xC2\xA0",
    };
    // Shown as Windows Latin-1 or as DOS text.
    for (const qm::Charset charset :
         {qm::Charset::Cp437, qm::Charset::Windows1252}) {
      qm::gui::SetShownCharset(charset);
      for (const std::string& bytes : cases)
        QCOMPARE(ToBytes(ToText(bytes)), bytes);
      for (int a = 0; a < 0x100; ++a) {
        for (int b = 0x80; b < 0x100; ++b) {
          const std::string pair{char(a), char(b)};
          if (ToBytes(ToText(pair)) != pair)
            QFAIL(qPrintable(QString::asprintf("%02X %02X", a, b)));
        }
      }
    }
    QCOMPARE(ToText("Caf\xC3\xA9 \xE2\x82\xAC"), QStringLiteral("Café €"));
    QVERIFY(ToText("Caf\xE9 Files").startsWith(QStringLiteral("Café")));
    QVERIFY(!ToText(every).contains(QChar::ReplacementCharacter));
    // What the operator types is stored as UTF-8.
    QCOMPARE(ToBytes(QStringLiteral("Café €")), "Caf\xC3\xA9 \xE2\x82\xAC");

    // DOS text: a text that is not UTF-8 is drawn in code page 437 (the
    // web listings draw it alike, but keep line breaks), valid UTF-8 stays
    // as it is.
    qm::gui::SetShownCharset(qm::Charset::Cp437);
    const auto visible = [](std::string_view bytes) {
      return ToText(bytes).remove(QChar(0xFE00));
    };
    QCOMPARE(visible("\xC9\xCD\xBB\x01\xDB\xB0 Caf\x82"),
             QStringLiteral("╔═╗☺█░ Café"));
    QCOMPARE(visible("Caf\xC3\xA9"), QStringLiteral("Café"));
    const std::string dos = every.substr(1);
    QCOMPARE(visible(dos), QString::fromStdString(qm::ShownToUtf8(
                               qm::ShowStored(dos, qm::Charset::Cp437))));
    QCOMPARE(ToBytes(QStringLiteral("╔═╗")),
             "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97");
    qm::gui::SetShownCharset(qm::Charset::Windows1252);
  }

  void gaugePercent() {
    TGauge gauge;
    gauge.resize(233, 21);
    gauge.SetMaxValue(4);
    gauge.SetProgress(1);
    QCOMPARE(gauge.Text(), QStringLiteral("25%"));
    gauge.SetProgress(4);
    QCOMPARE(gauge.Text(), QStringLiteral("100%"));
    // A run over a host without areas: maximum 0 must not divide by zero.
    gauge.SetMaxValue(0);
    gauge.SetProgress(0);
    QCOMPARE(gauge.Text(), QStringLiteral("0%"));
    gauge.SetProgress(3);
    QCOMPARE(gauge.PercentDone(), 0);
    // Positions beyond the range stay within 0..100.
    gauge.SetMaxValue(10);
    gauge.SetProgress(25);
    QCOMPARE(gauge.PercentDone(), 100);
    gauge.SetProgress(-5);
    QCOMPARE(gauge.PercentDone(), 0);
    // Painting an empty range works too.
    gauge.SetMaxValue(0);
    QVERIFY(!gauge.grab().isNull());
  }

  void progressWindow() {
    TProgressForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Progress"));
    QCOMPARE(form.Bar->minimum(), 0);
    QCOMPARE(form.Bar->maximum(), 100);
    QCOMPARE(form.b_Cancel->text(), QStringLiteral("&Cancel"));
    QVERIFY(!form.isModal());

    form.cancelled = true;
    form.show();
    QVERIFY(!form.cancelled);  // showing clears the flag
    QTest::mouseClick(form.b_Cancel, Qt::LeftButton);
    QVERIFY(form.cancelled);
    QVERIFY(form.isVisible());  // cancelling does not close it
    QVERIFY(SavePicture(&form, QStringLiteral("ProgressForm")));
  }

  void splashWindow() {
    TSplashForm splash;
    QCOMPARE(splash.size(), QSize(281, 261));
    QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(splash.l_version->text().isEmpty());
    splash.show();
    QCOMPARE(splash.l_version->text(), QStringLiteral("Version: 1.1"));
    QCOMPARE(splash.Label1->text(),
             QStringLiteral("For more information goto:"));
    QCOMPARE(splash.Label2->text(), QLatin1String(kWebAddress));
    QVERIFY(splash.Label2->font().bold());
    QCOMPARE(splash.Label2->palette().color(QPalette::WindowText),
             QColor(0, 0, 255));
    QCOMPARE(splash.Label3->text(),
             QStringLiteral("Logging into Wildcat NETServer... stand by."));
    QVERIFY(splash.Label3->font().bold());
    QCOMPARE(splash.Label3->palette().color(QPalette::WindowText),
             QColor(128, 0, 128));
    QVERIFY(!splash.Image1->pixmap().isNull());
    for (QLabel* label :
         {splash.l_version, splash.Label1, splash.Label2, splash.Label3})
      QVERIFY2(TextFits(label), qPrintable(label->text()));
    QVERIFY(SavePicture(&splash, QStringLiteral("SplashForm")));
  }

  void aboutWindow() {
    TAboutForm about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About Quillmar"));
    QCOMPARE(about.Label1->text(), QStringLiteral("Version 1.1"));
    QVERIFY(about.Label1->font().bold());
    QVERIFY(QFontInfo(about.Label1->font()).family().contains("Serif"));
    QVERIFY(about.Label2->text().contains(QLatin1String(kMakerName)));
    QCOMPARE(about.Label3->text(), QLatin1String(kWebAddress));
    QVERIFY(about.Label3->font().underline());
    QCOMPARE(about.Label3->cursor().shape(), Qt::UpArrowCursor);
    QCOMPARE(about.Button1->text(), QStringLiteral("OK"));
    QVERIFY(!about.Image1->pixmap().isNull());
    about.show();
    for (QLabel* label : {about.Label1, about.Label2, about.Label3})
      QVERIFY2(TextFits(label), qPrintable(label->text()));
    QVERIFY(SavePicture(&about, QStringLiteral("AboutForm")));

    // The link opens the maker's page; a failure says so.
    Seam().shellHook = [](const QString&) { return 42; };
    QTest::mouseClick(about.Label3, Qt::LeftButton);
    QCOMPARE(Seam().opened.size(), size_t{1});
    QCOMPARE(Seam().opened[0], QLatin1String(kWebAddress));
    QVERIFY(Seam().shown.empty());
    Seam().shellHook = [](const QString&) { return 2; };
    QTest::mouseClick(about.Label3, Qt::LeftButton);
    QCOMPARE(Seam().shown.size(), size_t{1});
    QCOMPARE(Seam().shown[0].text, QLatin1String(kBrowserFailed));

    QTest::mouseClick(about.Button1, Qt::LeftButton);
    QVERIFY(!about.isVisible());
    QCOMPARE(about.result(), int(QDialog::Accepted));
  }

  void passwordDialogLayout() {
    TPasswordDialog dialog(
        nullptr, QStringLiteral("Quillmar Login"),
        QStringLiteral("Please enter your wcConfig Password:"),
        QStringLiteral("old"), QLatin1Char('*'));
    const QFontMetrics metrics(dialog.font());
    const int unitX =
        metrics.horizontalAdvance(QStringLiteral(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
        52;
    const int unitY = metrics.height();
    auto x = [&](int units) { return (units * unitX + 2) / 4; };
    auto y = [&](int units) { return (units * unitY + 4) / 8; };

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Quillmar Login"));
    QCOMPARE(dialog.size(), QSize(x(180), y(63)));
    QCOMPARE(dialog.Prompt->pos(), QPoint(x(8), y(8)));
    QCOMPARE(dialog.Edit->pos(), QPoint(x(8), y(19)));
    QCOMPARE(dialog.Edit->width(), x(164));
    QCOMPARE(dialog.b_OK->geometry(), QRect(x(38), y(41), x(50), y(14)));
    QCOMPARE(dialog.b_Cancel->geometry(), QRect(x(92), y(41), x(50), y(14)));
    QCOMPARE(dialog.b_OK->text(), QStringLiteral("&OK"));
    QCOMPARE(dialog.b_Cancel->text(), QStringLiteral("&Cancel"));
    QVERIFY(dialog.b_OK->isDefault());
    QCOMPARE(dialog.Edit->maxLength(), 255);
    QCOMPARE(dialog.Edit->echoMode(), QLineEdit::Password);
    QCOMPARE(dialog.Edit->selectedText(), QStringLiteral("old"));
    dialog.show();
    QVERIFY(TextFits(dialog.Prompt));
    QVERIFY(SavePicture(&dialog, QStringLiteral("PasswordDialog")));
  }

  void passwordDialogAnswers() {
    // Typing replaces the selected value; OK accepts.
    TPasswordDialog dialog(nullptr, QStringLiteral("T"), QStringLiteral("P"),
                           QStringLiteral("old"));
    QTimer::singleShot(0, &dialog, [&dialog] {
      QTest::keyClicks(dialog.Edit, QStringLiteral("secret"));
      QTest::mouseClick(dialog.b_OK, Qt::LeftButton);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.Value(), QStringLiteral("secret"));

    // Longer input is cut at 255 characters.
    TPasswordDialog longer(nullptr, QStringLiteral("T"), QStringLiteral("P"),
                           QString());
    QTest::keyClicks(longer.Edit, QString(300, QLatin1Char('x')));
    QCOMPARE(longer.Value().size(), 255);

    TPasswordDialog cancelled(nullptr, QStringLiteral("T"), QStringLiteral("P"),
                              QStringLiteral("kept"));
    QTimer::singleShot(0, &cancelled, [&cancelled] {
      QTest::mouseClick(cancelled.b_Cancel, Qt::LeftButton);
    });
    QCOMPARE(cancelled.exec(), int(QDialog::Rejected));
  }
};

QTEST_MAIN(SmallWindowsTest)
#include "SmallWindowsTest.moc"
