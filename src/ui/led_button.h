// An indicator: a small round LED, red when off and green when on, followed
// by its caption. It shows state only and takes no input (no focus, mouse
// clicks pass through). Screen readers see it as a check box named by its
// caption, checked while the LED is on.
#pragma once

#include <QAbstractButton>
#include <QPixmap>

namespace kx {

class LedButton : public QAbstractButton {
  Q_OBJECT
 public:
  static constexpr int kImageSize = 15;    // each LED image is 15 x 15 pixels
  static constexpr int kTextOffset = 26;   // caption's distance from the left edge

  explicit LedButton(const QString& caption, QWidget* parent = nullptr);

  // Any non-zero value is on. Repaints at once, and only when the state
  // changes.
  void setState(int on);
  bool isOn() const { return isOn_; }

  // Where the LED image lies within the control.
  QPoint imagePosition() const;

  // How many times the control has painted itself (for tests and tracing).
  int paintCount() const { return paintCount_; }

  // The two images: the red (off) and green (on) shaded discs with
  // transparent corners.
  static QPixmap makeImage(bool on);
  const QPixmap& image(bool on) const { return images_[on ? 1 : 0]; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap images_[2];  // made once per LED, so a repaint is one copy
  bool isOn_ = false;
  int paintCount_ = 0;
};

}  // namespace kx
