// UTF-8 text (the unit log's rows, the station's events, the shift's figures)
// for the widgets. The adapter's own 8-bit text goes through toQt() instead.
#pragma once

#include <QString>
#include <string>

namespace kx {

inline QString utf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace kx
