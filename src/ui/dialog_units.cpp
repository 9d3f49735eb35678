#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace kx {

QFont dialogFont() {
  QFont font(QStringLiteral("Arial"), 10);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width over the 52 letters, rounded to the nearest pixel.
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = (letters / 26 + 1) / 2;
  baseY_ = metrics.height();
  if (baseX_ < 1) baseX_ = 1;
  if (baseY_ < 1) baseY_ = 1;
}

// Rounded like the platform's MulDiv: units * base / divisor, to the nearest.
int DialogUnits::x(int units) const { return (units * baseX_ + 2) / 4; }
int DialogUnits::y(int units) const { return (units * baseY_ + 4) / 8; }

QRect DialogUnits::rect(int ux, int uy, int uw, int uh) const {
  const int left = x(ux);
  const int top = y(uy);
  return QRect(left, top, x(ux + uw) - left, y(uy + uh) - top);
}

}  // namespace kx
