#include "ui/led_button.h"

#include <QPainter>
#include <QRadialGradient>
#include <QSignalBlocker>

namespace kx {

LedButton::LedButton(const QString& caption, QWidget* parent) : QAbstractButton(parent) {
  setText(caption);
  setCheckable(true);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  // Nor from assistive technology: its Toggle is undone at once, so the
  // checked state it reads is always the LED's.
  connect(this, &QAbstractButton::toggled, this, [this](bool checked) {
    if (checked != isOn_) {
      const QSignalBlocker block(this);
      setChecked(isOn_);
    }
  });
  images_[0] = makeImage(false);
  images_[1] = makeImage(true);
}

QPixmap LedButton::makeImage(bool on) {
  // Drawn once per state: a shaded disc lit toward the upper left with a
  // darker rim toward the lower right; outside the disc the image is
  // transparent, and paintEvent puts the window colour under it.
  QPixmap pixmap(kImageSize, kImageSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor light = on ? QColor(0x94, 0xEF, 0x94) : QColor(0xFF, 0x84, 0x84);
  const QColor mid = on ? QColor(0x21, 0xB5, 0x21) : QColor(0xD6, 0x18, 0x18);
  const QColor dark = on ? QColor(0x10, 0x39, 0x10) : QColor(0x4A, 0x08, 0x08);
  QRadialGradient fill(QPointF(5.0, 5.0), 9.5, QPointF(4.5, 4.5));
  fill.setColorAt(0.0, light);
  fill.setColorAt(0.55, mid);
  fill.setColorAt(1.0, dark);
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawEllipse(QRectF(0.5, 0.5, kImageSize - 1.0, kImageSize - 1.0));
  p.end();
  return pixmap;
}

void LedButton::setState(int on) {
  const bool state = on != 0;
  if (state == isOn_) return;
  isOn_ = state;
  {
    // The check state is what assistive technology reads; keep it in step
    // without the deferred update setChecked would queue.
    const QSignalBlocker block(this);
    setChecked(state);
  }
  repaint();
}

QPoint LedButton::imagePosition() const {
  // Centred on the control's vertical centre, rounded half up, 1 pixel in.
  // NOLINTNEXTLINE(bugprone-incorrect-roundings): the design's formula, truncated toward zero
  const int centre = int(height() * 0.5 + 0.5);
  return QPoint(1, centre - kImageSize / 2);
}

QSize LedButton::sizeHint() const {
  return QSize(kTextOffset + fontMetrics().horizontalAdvance(text()) + 2,
               qMax(kImageSize, fontMetrics().height()));
}

void LedButton::paintEvent(QPaintEvent*) {
  ++paintCount_;
  QPainter p(this);
  // The control is button face; the corners of the image show the window
  // colour, not the button face around them.
  p.fillRect(rect(), palette().button());
  const QPoint at = imagePosition();
  p.fillRect(QRect(at, QSize(kImageSize, kImageSize)), palette().window());
  p.drawPixmap(at, images_[isOn_ ? 1 : 0]);
  const QString caption = text();
  if (caption.isEmpty()) return;
  // Word-wrapped, "&" shown as it is, centred vertically.
  QRect textRect(kTextOffset, 0, width() - 2 - kTextOffset, height());
  const int flags = Qt::TextWordWrap | Qt::AlignLeft;
  const QRect needed = p.fontMetrics().boundingRect(textRect, flags, caption);
  // NOLINTNEXTLINE(bugprone-incorrect-roundings): the design's formula, truncated toward zero
  const int top = int((height() - needed.height()) * 0.5 + 0.5);
  textRect.setTop(top);
  textRect.setHeight(needed.height());
  p.setPen(palette().color(QPalette::ButtonText));
  p.drawText(textRect, flags, caption);
}

}  // namespace kx
