// The caption-button decorator on plain windows.
#include <QApplication>
#include <QDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <QtTest>
#include <memory>
#include <stdexcept>

#include "mainwindow/MainUnit.h"
#include "tests/support/GuiTestSupport.h"
#include "windows/oxForm.h"

using namespace qm::gui;
using qmtest::SavePicture;

namespace {

QString Refusal(const std::function<void()>& act) {
  try {
    act();
  } catch (const std::invalid_argument& error) {
    return QString::fromUtf8(error.what());
  }
  return {};
}

// A window with a layout, as the program's dialogs are.
struct Window {
  Window() {
    dialog.setWindowTitle("Quillmar Configuration Tool");
    auto* layout = new QVBoxLayout(&dialog);
    label = new QLabel("Body", &dialog);
    label->setMinimumHeight(150);
    layout->addWidget(label);
    dialog.resize(400, 300);
  }
  QDialog dialog;
  QLabel* label;
};

}  // namespace

class OxFormTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qmtest::SetUpGuiApplication(); }

  void ownerMustBeOneWindow() {
    QObject plain;
    QCOMPARE(Refusal([&] { new ToxForm(&plain); }),
             QStringLiteral("A Form MUST be the owner"));
    QCOMPARE(Refusal([] { new ToxForm(nullptr); }),
             QStringLiteral("A Form MUST be the owner"));
    Window window;
    QCOMPARE(Refusal([&] { new ToxForm(window.label); }),
             QStringLiteral("A Form MUST be the owner"));
    auto* first = new ToxForm(&window.dialog);
    QCOMPARE(Refusal([&] { new ToxForm(&window.dialog); }),
             QStringLiteral("Only 1 ToxForm component(s) are allowed on the "
                            "selected Form"));
    QCOMPARE(window.dialog.findChildren<ToxForm*>().size(), 1);
    QCOMPARE(first->CaptionButtons(),
             oxbRollUp | oxbHelp | oxbStart | oxbOnTop | oxbCustom);
    QCOMPARE(first->ItalicWords(), 1);
    QCOMPARE(first->CustomButtonIndex, -1);
    QVERIFY(!first->TrayEnabled());
    QCOMPARE(first->Options(), oxfActiveGradient | oxfInactiveGradient);
  }

  void buttonsFromTheRightAndCustomClicks() {
    Window window;
    auto* ox = new ToxForm(&window.dialog);
    ox->SetCustomButtons({"About", "Setup"});
    QStringList clicked;
    ox->OnButtonClick = [&](ToxForm* sender, const QString& text) {
      QCOMPARE(sender, ox);
      clicked << text;
    };
    window.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window.dialog));
    const QList<QToolButton*> order{
        ox->Button(oxbRollUp),     ox->Button(oxbHelp),
        ox->Button(oxbStart),      ox->Button(oxbOnTop),
        ox->CustomButton("About"), ox->CustomButton("Setup")};
    for (int i = 1; i < order.size(); ++i) {
      QVERIFY(order[i] && order[i - 1]);
      QVERIFY(order[i]->geometry().right() < order[i - 1]->geometry().left());
    }
    QCOMPARE(ox->Button(oxbRollUp)->size(), QSize(16, 15));
    QVERIFY(ox->Button(oxbRollUp)->geometry().right() < window.dialog.width());
    QCOMPARE(ox->Button(oxbHelp)->text(), QStringLiteral("?"));
    QCOMPARE(ToxForm::FaceName(ox->Button(oxbStart)),
             QStringLiteral("StartButton"));
    // The body sits below the caption strip.
    QVERIFY(window.label->geometry().top() >= ox->CaptionBar()->height());

    QVERIFY(SavePicture(&window.dialog, QStringLiteral("oxForm")));
    QTest::mouseClick(ox->CustomButton("Setup"), Qt::LeftButton);
    QTest::mouseClick(ox->CustomButton("About"), Qt::LeftButton);
    // Released away from the button: no click.
    QTest::mousePress(ox->CustomButton("About"), Qt::LeftButton);
    QTest::mouseRelease(ox->CustomButton("About"), Qt::LeftButton, {},
                        QPoint(-30, 5));
    QCOMPARE(clicked, QStringList({"Setup", "About"}));
    // The start button has no task list to open here.
    QTest::mouseClick(ox->Button(oxbStart), Qt::LeftButton);
    QVERIFY(window.dialog.isVisible());

    ox->SetCaptionButtons(oxbRollUp | oxbStart | oxbOnTop);
    QVERIFY(!ox->Button(oxbHelp));
    QVERIFY(!ox->CustomButton("About"));
    QVERIFY(ox->Button(oxbOnTop));
  }

  void rollUpAndDown() {
    Window window;
    auto* ox = new ToxForm(&window.dialog);
    int rolled = 0;
    ox->OnRollUp = [&](ToxForm*) { ++rolled; };
    window.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window.dialog));
    const int full = window.dialog.height();
    QToolButton* button = ox->Button(oxbRollUp);
    QCOMPARE(ToxForm::FaceName(button), QStringLiteral("RollUpButton"));

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(ox->RollUp());
    QCOMPARE(rolled, 1);
    QCOMPARE(window.dialog.height(),
             ox->CaptionHeight() + 2 * ox->FrameWidth());
    QCOMPARE(ToxForm::FaceName(button), QStringLiteral("RollDownButton"));
    QVERIFY(SavePicture(&window.dialog, QStringLiteral("oxForm-rolled")));

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!ox->RollUp());
    QCOMPARE(rolled, 2);
    QCOMPARE(window.dialog.height(), full);

    // Sized by hand past twice the rolled height: rolled down again.
    ox->SetRollUp(true);
    window.dialog.resize(window.dialog.width(), ox->RolledHeight() * 2);
    QVERIFY(ox->RollUp());
    window.dialog.resize(window.dialog.width(), ox->RolledHeight() * 2 + 1);
    QVERIFY(!ox->RollUp());
    QCOMPARE(ToxForm::FaceName(button), QStringLiteral("RollUpButton"));
    window.dialog.resize(window.dialog.width(), 20);
    QVERIFY(window.dialog.height() > 100);  // the layout's minimum is back
  }

  void onTopKeepsTheWindowShown() {
    Window window;
    auto* ox = new ToxForm(&window.dialog);
    window.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window.dialog));
    const QPoint where = window.dialog.pos();
    QTest::mouseClick(ox->Button(oxbOnTop), Qt::LeftButton);
    QVERIFY(ox->OnTop());
    QVERIFY(window.dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(window.dialog.isVisible());
    QCOMPARE(window.dialog.pos(), where);
    QCOMPARE(ToxForm::FaceName(ox->Button(oxbOnTop)),
             QStringLiteral("OnTopButtonD"));
    QTest::mouseClick(ox->Button(oxbOnTop), Qt::LeftButton);
    QVERIFY(!ox->OnTop());
    QVERIFY(!(window.dialog.windowFlags() & Qt::WindowStaysOnTopHint));
    QVERIFY(window.dialog.isVisible());
  }

  void helpPicksAControl() {
    Window window;
    auto* ox = new ToxForm(&window.dialog);
    window.label->setProperty("helpContext", 7);
    QWidget* picked = nullptr;
    int context = 0;
    ox->OnHelpSelect = [&](ToxForm*, QWidget* control, int help, bool&) {
      picked = control;
      context = help;
    };
    window.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window.dialog));
    QTest::mouseClick(ox->Button(oxbHelp), Qt::LeftButton);
    QVERIFY(QWhatsThis::inWhatsThisMode());
    QHelpEvent pick(QEvent::WhatsThis, QPoint(5, 5),
                    window.label->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(window.label, &pick);
    QCOMPARE(picked, window.label);
    QCOMPARE(context, 7);
    QTRY_VERIFY(!QWhatsThis::inWhatsThisMode());
    // Outside help mode the same event picks nothing.
    picked = nullptr;
    QCoreApplication::sendEvent(window.label, &pick);
    QVERIFY(!picked);
  }

  void sizeLimits() {
    Window window;
    auto* ox = new ToxForm(&window.dialog);
    QCOMPARE(Refusal([&] { ox->SetMinHeight(301); }),
             QStringLiteral("The Minimum Height must not be\ngreater than the "
                            "Maximum Height"));
    QCOMPARE(Refusal([&] { ox->SetMinWidth(401); }),
             QStringLiteral("The Minimum Width must not be\ngreater than the "
                            "Maximum Width"));
    ox->SetMinWidth(200);
    ox->SetMinHeight(100);
    QCOMPARE(Refusal([&] { ox->SetMaxWidth(199); }),
             QStringLiteral("The Maximum Width must not be\nless than the "
                            "Minimum Width"));
    QCOMPARE(Refusal([&] { ox->SetMaxHeight(99); }),
             QStringLiteral("The Maximum Height must not be\nless than the "
                            "Minimum Height"));
    QCOMPARE(ox->MaxHeight(), 300);
    // Only with oxfMinMax do the limits bind the window.
    QVERIFY(window.dialog.maximumWidth() > 400);
    ox->SetOptions(ox->Options() | oxfMinMax);
    QCOMPARE(window.dialog.maximumSize(), QSize(400, 300));
    QCOMPARE(window.dialog.minimumSize(), QSize(200, 100));
    window.dialog.resize(1000, 1000);
    QCOMPARE(window.dialog.size(), QSize(400, 300));
    ox->SetOptions(oxfActiveGradient);
    QVERIFY(window.dialog.maximumWidth() > 400);
  }

  void captionIsPaintedAsAGradient() {
    Window window;
    auto* ox = new ToxForm(&window.dialog);
    ox->SetActiveText(ox3Raised);
    window.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window.dialog));
    const QImage strip = ox->CaptionBar()->grab().toImage();
    const int y = strip.height() - ox->FrameWidth() - 2;
    const QColor left = strip.pixelColor(ox->FrameWidth() + 1, y);
    const QColor right =
        strip.pixelColor(ox->Button(oxbOnTop)->geometry().left() - 3, y);
    const QColor caption = ox->CaptionBar()->palette().color(
        QPalette::Active, QPalette::Highlight);
    QVERIFY(left.lightness() < 30);
    // Near the right end the bands come close to the caption colour.
    QVERIFY(std::abs(right.blue() - caption.blue()) < 40);
    QVERIFY(right.lightness() > left.lightness() + 40);
  }

  void ownerWithoutLayoutMovesItsControlsDown() {
    QWidget window;
    auto* button = new QPushButton("Run...", &window);
    button->move(10, 5);
    auto* ox = new ToxForm(&window);
    QCOMPARE(button->pos(), QPoint(10, 5 + ox->RolledHeight()));
  }
};

QTEST_MAIN(OxFormTest)
#include "OxFormTest.moc"
