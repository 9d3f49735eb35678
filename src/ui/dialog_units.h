// Dialog units: the page and main-window layouts are given in units of the
// dialog font ("Arial" 10 pt). One horizontal unit is a quarter of the
// font's average character width, one vertical unit an eighth of its
// height, so the layout scales with the font as the original dialogs did.
#pragma once

#include <QFont>
#include <QRect>

namespace kx {

// The font every page and the main window are drawn with.
QFont dialogFont();

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font = dialogFont());

  int x(int units) const;  // horizontal units to pixels
  int y(int units) const;  // vertical units to pixels
  QRect rect(int x, int y, int w, int h) const;

  int baseX() const { return baseX_; }  // average character width in pixels
  int baseY() const { return baseY_; }  // character height in pixels

 private:
  int baseX_;
  int baseY_;
};

}  // namespace kx
