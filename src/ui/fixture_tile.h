// One fixture of the production window, as an operator reads it from two
// metres: its name, then in large text what it is doing ("Waiting for a
// unit", "Programming", "PASS", "FAIL", "Already provisioned", "No port",
// "Stopped") on a colour of its own, and a line below with the step, the
// unit's address and name, or the reason. The words carry the state; the
// colour only repeats it. Its accessible name is the fixture's name and its
// description the state and that line.
//
// Threading: user-interface thread.
#pragma once

#include <QFrame>
#include <QString>

#include "production/station_shift.h"

class QLabel;

namespace kx {

class FixtureTile : public QFrame {
  Q_OBJECT
 public:
  explicit FixtureTile(const QString& fixtureName, QWidget* parent = nullptr);

  // Shows the fixture's status as the station tells it.
  void showStatus(const production::FixtureStatus& status);
  // Shows the tile before any station runs (or after one ended): idle.
  void showIdle();

  QString stateText() const;
  // The line below the state, whole (the tile may show it cut).
  QString detailText() const { return detailText_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void show(const QString& state, const QString& detail, QRgb background, QRgb foreground);
  void elideDetail();

  QString detailText_;

  QLabel* name_;
  QLabel* state_;
  QLabel* detail_;
};

}  // namespace kx
