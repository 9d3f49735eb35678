#include "ui/fixture_tile.h"

#include <QLabel>
#include <QResizeEvent>
#include <algorithm>
#include <QVBoxLayout>

#include "ui/utf8_text.h"

namespace kx {
namespace {

using production::FixtureStatus;
using production::StationEvent;
using production::UnitOutcome;

// Background and text colours; the state's word says the same.
constexpr QRgb kIdle = 0xffeeeeee, kWaiting = 0xffdfe6ee, kProgramming = 0xffffca28,
               kPass = 0xff2e7d32, kFail = 0xffc62828, kAlready = 0xff1565c0,
               kNoPort = 0xff616161, kDark = 0xff1a1a1a, kLight = 0xffffffff;

QFont sized(const QFont& base, int points, bool bold) {
  QFont font = base;
  font.setPointSize(points);
  font.setBold(bold);
  return font;
}

QString unitLine(const StationEvent& u) {
  switch (u.outcome) {
    case UnitOutcome::Passed:
      return utf8(u.address + "  " + u.name);
    case UnitOutcome::AlreadyProvisioned:
      return utf8(u.address);
    default:
      return utf8(u.address + ": " + u.reason);
  }
}

QString outcomeWord(const StationEvent& u) {
  switch (u.outcome) {
    case UnitOutcome::Passed:
      return QStringLiteral("PASS");
    case UnitOutcome::AlreadyProvisioned:
      return QStringLiteral("Already provisioned");
    default:
      return QStringLiteral("FAIL");
  }
}

}  // namespace

FixtureTile::FixtureTile(const QString& fixtureName, QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  setMinimumSize(260, 150);
  setAccessibleName(fixtureName);
  auto* layout = new QVBoxLayout(this);
  name_ = new QLabel(fixtureName, this);
  state_ = new QLabel(this);
  detail_ = new QLabel(this);
  name_->setFont(sized(font(), 14, true));
  state_->setFont(sized(font(), 28, true));
  detail_->setFont(sized(font(), 12, false));
  // One line: a long reason is cut with "..." (the tooltip and the
  // accessible description hold all of it).
  detail_->setWordWrap(false);
  detail_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  for (QLabel* label : {name_, state_, detail_}) {
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    layout->addWidget(label);
  }
  layout->addStretch(1);
  showIdle();
}

void FixtureTile::showIdle() { show(QStringLiteral("Not running"), {}, kIdle, kDark); }

void FixtureTile::showStatus(const FixtureStatus& status) {
  const StationEvent& e = status.event;
  const QString last = status.lastUnit
                           ? QStringLiteral("Last: %1 %2").arg(outcomeWord(*status.lastUnit),
                                                                unitLine(*status.lastUnit))
                           : QString();
  switch (status.state) {
    case FixtureStatus::State::Starting:
      return show(QStringLiteral("Starting"), {}, kWaiting, kDark);
    case FixtureStatus::State::Waiting:
      return show(QStringLiteral("Waiting for a unit"), last, kWaiting, kDark);
    case FixtureStatus::State::NoPort:
      return show(QStringLiteral("No port"), utf8(e.reason), kNoPort, kLight);
    case FixtureStatus::State::Programming:
      return show(QStringLiteral("Programming"), utf8(e.address + ": " + e.step), kProgramming, kDark);
    case FixtureStatus::State::Done: {
      const StationEvent& u = *status.lastUnit;
      const QRgb colour = u.outcome == UnitOutcome::Passed   ? kPass
                          : u.outcome == UnitOutcome::Failed ? kFail
                                                             : kAlready;
      return show(outcomeWord(u), unitLine(u), colour, kLight);
    }
    case FixtureStatus::State::Stopped:
      return show(QStringLiteral("Stopped"), last, kIdle, kDark);
    case FixtureStatus::State::Broken:
      return show(QStringLiteral("Stopped"),
                  status.errorLines.empty() ? QStringLiteral("exit code %1").arg(status.exitCode)
                                            : utf8(status.errorLines.back()),
                  kNoPort, kLight);
  }
}

void FixtureTile::show(const QString& state, const QString& detail, QRgb background, QRgb foreground) {
  QPalette p = palette();
  p.setColor(QPalette::Window, QColor::fromRgba(background));
  p.setColor(QPalette::WindowText, QColor::fromRgba(foreground));
  setPalette(p);
  for (QLabel* label : {name_, state_, detail_}) label->setPalette(p);
  state_->setText(state);
  detailText_ = detail;
  elideDetail();
  detail_->setToolTip(detail);
  setAccessibleDescription(detail.isEmpty() ? state : state + QStringLiteral(": ") + detail);
}

QString FixtureTile::stateText() const { return state_->text(); }

void FixtureTile::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  elideDetail();
}

void FixtureTile::elideDetail() {
  detail_->setText(detail_->fontMetrics().elidedText(detailText_, Qt::ElideRight,
                                                      std::max(detail_->width(), 40)));
}

}  // namespace kx
