#include "windows/oxForm.h"

#include <qdrawutil.h>

#include <QApplication>
#include <QEvent>
#include <QHelpEvent>
#include <QLayout>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QWhatsThis>
#include <QWindow>
#include <stdexcept>

namespace qm::gui {
namespace {

constexpr int kButtonWidth = 16;
constexpr int kButtonHeight = 15;
constexpr int kButtonGap = 2;
const char* const kFaceProperty = "oxFace";

// The bitmaps of the caption buttons, drawn here rather than shipped.
QIcon Face(const QString& name) {
  QPixmap pixmap(12, 11);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(Qt::black);
  p.setBrush(Qt::black);
  if (name == QLatin1String("RollUpButton")) {
    p.drawLine(1, 1, 10, 1);
    p.drawPolygon(QPolygon({QPoint(2, 8), QPoint(9, 8), QPoint(5, 4)}));
  } else if (name == QLatin1String("RollDownButton")) {
    p.drawLine(1, 9, 10, 9);
    p.drawPolygon(QPolygon({QPoint(2, 3), QPoint(9, 3), QPoint(5, 7)}));
  } else if (name == QLatin1String("StartButton")) {
    p.fillRect(1, 1, 4, 4, QColor(220, 40, 30));
    p.fillRect(6, 1, 4, 4, QColor(40, 160, 40));
    p.fillRect(1, 6, 4, 4, QColor(30, 80, 220));
    p.fillRect(6, 6, 4, 4, QColor(240, 200, 20));
  } else if (name == QLatin1String("OnTopButtonU")) {
    p.drawRect(4, 1, 3, 5);  // a pin standing up
    p.drawLine(2, 6, 9, 6);
    p.drawLine(5, 7, 5, 10);
  } else if (name == QLatin1String("OnTopButtonD")) {
    p.drawRect(1, 4, 5, 3);  // the pin pressed in
    p.drawLine(6, 2, 6, 9);
    p.drawLine(7, 5, 10, 5);
  }
  return QIcon(pixmap);
}

void SetFace(QToolButton* button, const QString& name) {
  button->setProperty(kFaceProperty, name);
  button->setIcon(Face(name));
}

// Draws a rectangle's frame with a 3-D effect.
void DrawFrame(QPainter& p, const QRect& r, T3DEffect effect,
               const QPalette& pal) {
  switch (effect) {
    case ox3Raised:
      qDrawShadeRect(&p, r, pal, false, 1);
      break;
    case ox3Inset:
      qDrawShadeRect(&p, r, pal, true, 1);
      break;
    case ox3Ridged:
      qDrawShadeRect(&p, r, pal, false, 1, 0);
      qDrawShadeRect(&p, r.adjusted(1, 1, -1, -1), pal, true, 1, 0);
      break;
    case ox3Grooved:
      qDrawShadeRect(&p, r, pal, true, 1, 0);
      qDrawShadeRect(&p, r.adjusted(1, 1, -1, -1), pal, false, 1, 0);
      break;
    case ox3Flat:
      p.setPen(pal.color(QPalette::Dark));
      p.setBrush(Qt::NoBrush);
      p.drawRect(r.adjusted(0, 0, -1, -1));
      break;
    case ox3Shadow:
      p.setPen(pal.color(QPalette::Shadow));
      p.drawLine(r.bottomLeft(), r.bottomRight());
      p.drawLine(r.topRight(), r.bottomRight());
      break;
    default:  // ox3Normal: the platform's own border; none and disabled
      qDrawShadePanel(&p, r, pal, false, 1);
      break;
  }
}

}  // namespace

// The painted caption bar; the buttons are its children.
class TCaptionStrip : public QWidget {
 public:
  TCaptionStrip(ToxForm* form, QWidget* owner) : QWidget(owner), form_(form) {
    setObjectName(QStringLiteral("oxCaption"));
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QWidget* owner = form_->owner_;
    const bool active = owner->isActiveWindow();
    const int base = active ? 0 : 3;
    const QPalette pal = palette();
    const QColor caption =
        active ? pal.color(QPalette::Active, QPalette::Highlight)
               : pal.color(QPalette::Inactive, QPalette::Mid);
    const bool gradient = form_->options_.testFlag(
        active ? oxfActiveGradient : oxfInactiveGradient);
    const int frame = form_->FrameWidth();
    const QRect bar = rect().adjusted(frame, frame, -frame, -frame);
    p.fillRect(rect(), pal.color(QPalette::Window));
    if (gradient) {
      // Vertical bands stepping from black to the caption colour.
      constexpr int kBands = 64;
      for (int i = 0; i < kBands; ++i) {
        const int x0 = bar.left() + bar.width() * i / kBands;
        const int x1 = bar.left() + bar.width() * (i + 1) / kBands;
        const QColor band(caption.red() * i / (kBands - 1),
                          caption.green() * i / (kBands - 1),
                          caption.blue() * i / (kBands - 1));
        p.fillRect(QRect(x0, bar.top(), x1 - x0, bar.height()), band);
      }
    } else {
      p.fillRect(bar, caption);
    }
    if (form_->effects_[base] != ox3Normal && form_->effects_[base] != ox3None)
      DrawFrame(p, bar, form_->effects_[base], pal);
    if (form_->effects_[base + 2] != ox3None)
      DrawFrame(p, rect(), form_->effects_[base + 2], pal);
    PaintText(p, bar, form_->effects_[base + 1], active);
  }

  void mousePressEvent(QMouseEvent* event) override {
    // Dragging the strip moves the window like its own caption does.
    if (event->button() == Qt::LeftButton) {
      if (QWindow* handle = form_->owner_->windowHandle())
        handle->startSystemMove();
    }
  }

 private:
  void PaintText(QPainter& p, const QRect& bar, T3DEffect effect, bool active) {
    if (effect == ox3None) return;
    int right = bar.right() - 4;
    for (QToolButton* button : form_->buttonWidgets_)
      right = std::min(right, button->geometry().left() - 4);
    const QRect area(bar.left() + 4, bar.top(), right - bar.left() - 4,
                     bar.height());
    if (area.width() <= 0) return;
    const QStringList words =
        form_->owner_->windowTitle().split(QLatin1Char(' '));
    const int italic = std::max(0, form_->italicWords_);
    const QString lead = words.mid(0, italic).join(QLatin1Char(' '));
    QString rest = words.mid(italic).join(QLatin1Char(' '));
    if (!lead.isEmpty() && !rest.isEmpty()) rest.prepend(QLatin1Char(' '));
    QFont upright = font();
    upright.setBold(true);
    QFont slanted = upright;
    slanted.setItalic(true);
    const QColor textColour =
        effect == ox3Disabled
            ? palette().color(QPalette::Disabled, QPalette::Text)
        : active ? palette().color(QPalette::Active, QPalette::HighlightedText)
                 : palette().color(QPalette::Inactive, QPalette::Light);
    QColor light = QColor(255, 255, 255, 170);
    QColor dark = QColor(0, 0, 0, 200);
    auto draw = [&](int dx, int dy, const QColor& colour) {
      p.save();
      p.setClipRect(area);
      p.setPen(colour);
      int x = area.left() + dx;
      const int y = area.top() + dy;
      p.setFont(slanted);
      p.drawText(QRect(x, y, area.width(), area.height()),
                 Qt::AlignVCenter | Qt::AlignLeft, lead);
      x += QFontMetrics(slanted).horizontalAdvance(lead);
      p.setFont(upright);
      p.drawText(QRect(x, y, area.right() - x, area.height()),
                 Qt::AlignVCenter | Qt::AlignLeft, rest);
      p.restore();
    };
    switch (effect) {
      case ox3Raised:
        draw(-1, -1, light);
        draw(1, 1, dark);
        break;
      case ox3Inset:
        draw(-1, -1, dark);
        draw(1, 1, light);
        break;
      case ox3Shadow:
        draw(2, 2, dark);
        break;
      case ox3Ridged:
      case ox3Grooved:
        draw(1, 1, effect == ox3Ridged ? dark : light);
        break;
      default:
        break;
    }
    draw(0, 0, textColour);
  }

  ToxForm* form_;
};

ToxForm::ToxForm(QObject* owner)
    : QObject(owner), owner_(qobject_cast<QWidget*>(owner)) {
  if (!owner_ || !owner_->isWindow())
    throw std::invalid_argument("A Form MUST be the owner");
  int count = 0;
  for (QObject* child : owner_->children())
    if (child != this && qobject_cast<ToxForm*>(child)) ++count;
  if (count >= kAllowed)
    throw std::invalid_argument("Only " + std::to_string(kAllowed) +
                                " ToxForm component(s) are allowed on the "
                                "selected Form");
  setObjectName(QStringLiteral("oxForm1"));
  const QList<QWidget*> placed =
      owner_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  strip_ = new TCaptionStrip(this, owner_);
  const int height = RolledHeight();
  ownerMargins_ = owner_->contentsMargins();
  QMargins margins = ownerMargins_;
  margins.setTop(margins.top() + height);
  owner_->setContentsMargins(margins);
  if (!owner_->layout()) {
    for (QWidget* child : placed)
      if (!child->isWindow()) child->move(child->x(), child->y() + height);
  }
  strip_->setGeometry(0, 0, owner_->width(), height);
  strip_->raise();
  strip_->show();
  owner_->installEventFilter(this);
  RebuildButtons();
}

ToxForm::~ToxForm() {
  if (helpPicking_) {
    qApp->removeEventFilter(this);
    if (QWhatsThis::inWhatsThisMode()) QWhatsThis::leaveWhatsThisMode();
  }
  delete tray_;
}

QWidget* ToxForm::CaptionBar() const { return strip_; }

int ToxForm::CaptionHeight() const {
  QFont bold = owner_->font();
  bold.setBold(true);
  return std::max(kButtonHeight + 4, QFontMetrics(bold).height() + 4);
}

int ToxForm::RolledHeight() const { return CaptionHeight() + 2 * FrameWidth(); }

void ToxForm::SetCaptionButtons(TCaptionButtons buttons) {
  buttons_ = buttons;
  RebuildButtons();
}

void ToxForm::SetCustomButtons(const QStringList& texts) {
  custom_ = texts;
  RebuildButtons();
}

void ToxForm::RebuildButtons() {
  for (QToolButton* button : buttonWidgets_) delete button;
  buttonWidgets_.clear();
  auto add = [this](const QString& name, void (ToxForm::*click)()) {
    auto* button = new QToolButton(strip_);
    button->setObjectName(name);
    button->setFixedSize(kButtonWidth, kButtonHeight);
    button->setIconSize(QSize(12, 11));
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QToolButton::clicked, this, click);
    button->show();
    buttonWidgets_.push_back(button);
    return button;
  };
  if (buttons_ & oxbRollUp)
    add(QStringLiteral("oxbRollUp"), &ToxForm::RollUpClick);
  if (buttons_ & oxbHelp) {
    QToolButton* help = add(QStringLiteral("oxbHelp"), &ToxForm::HelpClick);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    font.setBold(true);
    help->setFont(font);
    help->setText(QStringLiteral("?"));
    help->setProperty(kFaceProperty, QStringLiteral("?"));
  }
  if (buttons_ & oxbStart)
    add(QStringLiteral("oxbStart"), &ToxForm::StartClick);
  if (buttons_ & oxbOnTop) {
    QToolButton* onTop = add(QStringLiteral("oxbOnTop"), &ToxForm::OnTopClick);
    onTop->setCheckable(true);
    onTop->setChecked(onTop_);
  }
  if (buttons_ & oxbCustom) {
    for (const QString& text : custom_) {
      auto* button = new QToolButton(strip_);
      button->setObjectName(QStringLiteral("oxbCustom"));
      button->setText(text);
      button->setProperty(kFaceProperty, text);
      button->setFocusPolicy(Qt::NoFocus);
      button->setFixedSize(
          std::max(kButtonWidth,
                   button->fontMetrics().horizontalAdvance(text) + 8),
          kButtonHeight);
      connect(button, &QToolButton::clicked, this, [this, text] {
        if (OnButtonClick) OnButtonClick(this, text);
      });
      button->show();
      buttonWidgets_.push_back(button);
    }
  }
  UpdateFaces();
  LayoutButtons();
}

void ToxForm::LayoutButtons() {
  if (!strip_) return;
  strip_->setGeometry(0, 0, owner_->width(), RolledHeight());
  int x = strip_->width() - FrameWidth() - kButtonGap;
  const int y = (strip_->height() - kButtonHeight) / 2;
  for (QToolButton* button : buttonWidgets_) {
    x -= button->width();
    button->move(x, y);
    x -= kButtonGap;
  }
  strip_->update();
}

void ToxForm::UpdateFaces() {
  if (QToolButton* rollUp = Button(oxbRollUp))
    SetFace(rollUp, rolled_ ? QStringLiteral("RollDownButton")
                            : QStringLiteral("RollUpButton"));
  if (QToolButton* start = Button(oxbStart))
    SetFace(start, QStringLiteral("StartButton"));
  if (QToolButton* onTop = Button(oxbOnTop)) {
    SetFace(onTop, onTop_ ? QStringLiteral("OnTopButtonD")
                          : QStringLiteral("OnTopButtonU"));
    onTop->setChecked(onTop_);
  }
}

QToolButton* ToxForm::Button(TCaptionButton kind) const {
  const char* name = kind == oxbRollUp  ? "oxbRollUp"
                     : kind == oxbHelp  ? "oxbHelp"
                     : kind == oxbStart ? "oxbStart"
                     : kind == oxbOnTop ? "oxbOnTop"
                                        : "oxbCustom";
  for (QToolButton* button : buttonWidgets_)
    if (button->objectName() == QLatin1String(name)) return button;
  return nullptr;
}

QToolButton* ToxForm::CustomButton(const QString& text) const {
  for (QToolButton* button : buttonWidgets_)
    if (button->objectName() == QLatin1String("oxbCustom") &&
        button->text() == text)
      return button;
  return nullptr;
}

QString ToxForm::FaceName(const QToolButton* button) {
  return button ? button->property(kFaceProperty).toString() : QString();
}

void ToxForm::SetRollUp(bool rolled) {
  if (rolled == rolled_) return;
  if (rolled) {
    savedHeight_ = owner_->height();
    savedMinHeight_ = owner_->minimumHeight();
    rolled_ = true;
    owner_->setMinimumHeight(RolledHeight());
    owner_->resize(owner_->width(), RolledHeight());
    strip_->raise();
  } else {
    rolled_ = false;
    owner_->setMinimumHeight(savedMinHeight_);
    owner_->resize(owner_->width(), savedHeight_);
  }
  UpdateFaces();
}

void ToxForm::SetOnTop(bool onTop) {
  onTop_ = onTop;
  // Changing the flags through the window handle keeps the window where
  // it is; setWindowFlags would hide it (and end a modal loop).
  Qt::WindowFlags flags = owner_->windowFlags();
  flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
  owner_->overrideWindowFlags(flags);
  if (QWindow* handle = owner_->windowHandle()) handle->setFlags(flags);
  UpdateFaces();
}

void ToxForm::SetEffect(int index, T3DEffect effect) {
  effects_[index] = effect;
  strip_->update();
}

void ToxForm::SetOptions(TOxOptions options) {
  options_ = options;
  ApplyLimits();
  strip_->update();
}

void ToxForm::SetItalicWords(int words) {
  italicWords_ = words;
  strip_->update();
}

void ToxForm::SetMinWidth(int value) {
  if (value > maxWidth_)
    throw std::invalid_argument(
        "The Minimum Width must not be\ngreater than the Maximum Width");
  minWidth_ = value;
  ApplyLimits();
}

void ToxForm::SetMinHeight(int value) {
  if (value > maxHeight_)
    throw std::invalid_argument(
        "The Minimum Height must not be\ngreater than the Maximum Height");
  minHeight_ = value;
  ApplyLimits();
}

void ToxForm::SetMaxWidth(int value) {
  if (value < minWidth_)
    throw std::invalid_argument(
        "The Maximum Width must not be\nless than the Minimum Width");
  maxWidth_ = value;
  ApplyLimits();
}

void ToxForm::SetMaxHeight(int value) {
  if (value < minHeight_)
    throw std::invalid_argument(
        "The Maximum Height must not be\nless than the Minimum Height");
  maxHeight_ = value;
  ApplyLimits();
}

void ToxForm::ApplyLimits() {
  if (options_.testFlag(oxfMinMax)) {
    owner_->setMinimumSize(minWidth_, minHeight_);
    owner_->setMaximumSize(maxWidth_, maxHeight_);
    limitsApplied_ = true;
  } else if (limitsApplied_) {
    owner_->setMinimumSize(0, 0);
    owner_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    limitsApplied_ = false;
  }
}

void ToxForm::SetTrayEnabled(bool enabled) {
  trayEnabled_ = enabled;
  if (!enabled) {
    delete tray_;
    return;
  }
  if (!tray_) {
    tray_ = new QSystemTrayIcon(this);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
              if (reason == QSystemTrayIcon::Trigger && OnTrayClick)
                OnTrayClick(this);
              if (reason == QSystemTrayIcon::DoubleClick && OnTrayDblClk)
                OnTrayDblClk(this);
            });
  }
  tray_->setIcon(TrayIcon.isNull() ? owner_->windowIcon() : TrayIcon);
  tray_->setToolTip(TrayHint);
  tray_->setContextMenu(TrayMenu);
  tray_->show();
}

void ToxForm::RollUpClick() {
  SetRollUp(!rolled_);
  if (OnRollUp) OnRollUp(this);
}

void ToxForm::HelpClick() {
  if (helpPicking_) return;
  helpPicking_ = true;
  qApp->installEventFilter(this);
  QWhatsThis::enterWhatsThisMode();
}

void ToxForm::StartClick() {
  // This platform has no task list for the start button to open.
}

void ToxForm::OnTopClick() { SetOnTop(!onTop_); }

void ToxForm::EndHelpPick() {
  if (!helpPicking_) return;
  helpPicking_ = false;
  qApp->removeEventFilter(this);
  // Leaving from inside the help mode's own event handling would delete
  // it under its feet.
  QTimer::singleShot(0, [] {
    if (QWhatsThis::inWhatsThisMode()) QWhatsThis::leaveWhatsThisMode();
  });
}

bool ToxForm::OwnsWidget(QObject* object) const {
  auto* widget = qobject_cast<QWidget*>(object);
  return widget && (widget == owner_ || owner_->isAncestorOf(widget));
}

bool ToxForm::eventFilter(QObject* watched, QEvent* event) {
  if (helpPicking_) {
    switch (event->type()) {
      case QEvent::QueryWhatsThis:
        if (OwnsWidget(watched)) {
          event->accept();
          return true;
        }
        break;
      case QEvent::WhatsThis:
        if (OwnsWidget(watched)) {
          auto* picked = static_cast<QWidget*>(watched);
          bool cancel = false;
          const int context = picked->property("helpContext").toInt();
          EndHelpPick();
          if (OnHelpSelect) OnHelpSelect(this, picked, context, cancel);
          return true;
        }
        break;
      case QEvent::LeaveWhatsThisMode:
        helpPicking_ = false;
        qApp->removeEventFilter(this);
        break;
      default:
        break;
    }
  }
  if (watched != owner_) return false;
  switch (event->type()) {
    case QEvent::Resize:
      if (rolled_ && owner_->height() > 2 * RolledHeight()) {
        // Sized by hand past the caption: it counts as rolled down.
        rolled_ = false;
        owner_->setMinimumHeight(savedMinHeight_);
        UpdateFaces();
      }
      LayoutButtons();
      break;
    case QEvent::WindowTitleChange:
    case QEvent::ActivationChange:
    case QEvent::FontChange:
      strip_->update();
      break;
    case QEvent::ChildAdded:
      strip_->raise();
      break;
    default:
      break;
  }
  return false;
}

}  // namespace qm::gui
