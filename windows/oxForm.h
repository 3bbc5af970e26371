// Caption-bar decorator: paints a caption strip across the top of its
// owner window (gradient, caption text with a 3-D effect) and puts the
// caption buttons on it: roll-up, help, start, on-top and custom buttons,
// in that order from the right.
// Usage: auto* ox = new ToxForm(window); ox->SetCustomButtons({"About"});
//        ox->OnButtonClick = [](ToxForm*, const QString& text) { ... };
// An owner that places its controls by hand should create the decorator
// after them: they are moved down below the strip.
#pragma once

#include <QFlags>
#include <QIcon>
#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <vector>

class QMenu;
class QSystemTrayIcon;
class QToolButton;
class QWidget;

namespace qm::gui {

enum TCaptionButton {
  oxbRollUp = 0x1,
  oxbHelp = 0x2,
  oxbStart = 0x4,
  oxbOnTop = 0x8,
  oxbCustom = 0x10,
};
Q_DECLARE_FLAGS(TCaptionButtons, TCaptionButton)
Q_DECLARE_OPERATORS_FOR_FLAGS(TCaptionButtons)

enum T3DEffect {
  ox3Normal,
  ox3Flat,
  ox3Raised,
  ox3Inset,
  ox3Ridged,
  ox3Grooved,
  ox3Shadow,
  ox3None,
  ox3Disabled,
};

enum TOxOption {
  oxfActiveGradient = 0x1,
  oxfInactiveGradient = 0x2,
  oxfMinMax = 0x4,
};
Q_DECLARE_FLAGS(TOxOptions, TOxOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TOxOptions)

class TCaptionStrip;

class ToxForm : public QObject {
  Q_OBJECT

 public:
  // Throws std::invalid_argument when owner is not a window or already
  // carries a decorator.
  explicit ToxForm(QObject* owner);
  ~ToxForm() override;

  static constexpr int kAllowed = 1;  // decorators per window

  TCaptionButtons CaptionButtons() const { return buttons_; }
  void SetCaptionButtons(TCaptionButtons buttons);
  QStringList CustomButtons() const { return custom_; }
  void SetCustomButtons(const QStringList& texts);
  int CustomButtonIndex = -1;  // kept with the window; nothing depends on it

  bool RollUp() const { return rolled_; }
  void SetRollUp(bool rolled);
  bool OnTop() const { return onTop_; }
  void SetOnTop(bool onTop);

  T3DEffect ActiveCaption() const { return effects_[0]; }
  T3DEffect ActiveText() const { return effects_[1]; }
  T3DEffect ActiveBorder() const { return effects_[2]; }
  T3DEffect InactiveCaption() const { return effects_[3]; }
  T3DEffect InactiveText() const { return effects_[4]; }
  T3DEffect InactiveBorder() const { return effects_[5]; }
  void SetActiveCaption(T3DEffect effect) { SetEffect(0, effect); }
  void SetActiveText(T3DEffect effect) { SetEffect(1, effect); }
  void SetActiveBorder(T3DEffect effect) { SetEffect(2, effect); }
  void SetInactiveCaption(T3DEffect effect) { SetEffect(3, effect); }
  void SetInactiveText(T3DEffect effect) { SetEffect(4, effect); }
  void SetInactiveBorder(T3DEffect effect) { SetEffect(5, effect); }

  TOxOptions Options() const { return options_; }
  void SetOptions(TOxOptions options);
  int ItalicWords() const { return italicWords_; }
  void SetItalicWords(int words);

  // Size limits, in force with oxfMinMax. Each setter throws
  // std::invalid_argument when a minimum would exceed its maximum.
  int MinWidth() const { return minWidth_; }
  int MinHeight() const { return minHeight_; }
  int MaxWidth() const { return maxWidth_; }
  int MaxHeight() const { return maxHeight_; }
  void SetMinWidth(int value);
  void SetMinHeight(int value);
  void SetMaxWidth(int value);
  void SetMaxHeight(int value);

  // The tray icon (shown only while TrayEnabled).
  bool TrayEnabled() const { return trayEnabled_; }
  void SetTrayEnabled(bool enabled);
  QIcon TrayIcon;
  QString TrayHint;
  QMenu* TrayMenu = nullptr;

  std::function<void(ToxForm*, const QString&)> OnButtonClick;
  // sender, picked control, its help context, cancel flag
  std::function<void(ToxForm*, QWidget*, int, bool&)> OnHelpSelect;
  std::function<void(ToxForm*)> OnRollUp;
  std::function<void(ToxForm*)> OnTrayClick;
  std::function<void(ToxForm*)> OnTrayDblClk;

  QWidget* Owner() const { return owner_; }
  QWidget* CaptionBar() const;
  int CaptionHeight() const;  // the caption bar without its frame
  int FrameWidth() const { return 2; }
  int RolledHeight() const;  // the owner's height while rolled up
  // The button of a kind (nullptr when not shown); custom ones by text.
  QToolButton* Button(TCaptionButton kind) const;
  QToolButton* CustomButton(const QString& text) const;
  // The name of the face a button shows ("RollUpButton", ...).
  static QString FaceName(const QToolButton* button);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class TCaptionStrip;
  void SetEffect(int index, T3DEffect effect);
  void RebuildButtons();
  void LayoutButtons();
  void UpdateFaces();
  void ApplyLimits();
  void RollUpClick();
  void HelpClick();
  void StartClick();
  void OnTopClick();
  void EndHelpPick();
  bool OwnsWidget(QObject* object) const;

  QWidget* owner_;
  TCaptionStrip* strip_ = nullptr;
  std::vector<QToolButton*> buttonWidgets_;
  TCaptionButtons buttons_ =
      oxbRollUp | oxbHelp | oxbStart | oxbOnTop | oxbCustom;
  QStringList custom_;
  bool rolled_ = false;
  int savedHeight_ = 0;
  int savedMinHeight_ = 0;
  bool onTop_ = false;
  T3DEffect effects_[6] = {ox3Normal, ox3Normal, ox3Normal,
                           ox3Normal, ox3Normal, ox3Normal};
  TOxOptions options_ = oxfActiveGradient | oxfInactiveGradient;
  bool limitsApplied_ = false;
  int italicWords_ = 1;
  int minWidth_ = 0, minHeight_ = 0, maxWidth_ = 400, maxHeight_ = 300;
  bool trayEnabled_ = false;
  QPointer<QSystemTrayIcon> tray_;
  bool helpPicking_ = false;
  QMargins ownerMargins_;
};

}  // namespace qm::gui
