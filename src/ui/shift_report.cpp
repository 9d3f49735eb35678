#include "ui/shift_report.h"

#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ui/utf8_text.h"

namespace kx {
namespace {

using production::ShiftFigures;

// The page is laid out in pixels at 96 dpi: A4 is about 794 x 1123.
constexpr int kDpi = 96;
constexpr int kMargin = 56;
constexpr QRgb kPassColour = 0xff2e7d32;
constexpr QRgb kFailColour = 0xffc62828;
constexpr QRgb kLineColour = 0xff1f3a93;
constexpr QRgb kGridColour = 0xffd0d0d0;
constexpr QRgb kMutedColour = 0xff606060;
// Failure reasons beyond this many are drawn as one bar, "other reasons".
constexpr std::size_t kMostReasons = 8;

QString number(const std::optional<double>& v, const char* unit = "") {
  return v ? QString::number(*v, 'f', 1) + QString::fromLatin1(unit) : QStringLiteral("\u2013");
}

// A step of 1, 2 or 5 times a power of ten that divides 0..max into at most
// five parts.
int tickStep(int max) {
  for (int power = 1;; power *= 10)
    for (int m : {1, 2, 5})
      if (max <= m * power * 5) return m * power;
}

class ReportPainter {
 public:
  ReportPainter(QPdfWriter& writer, const ShiftFigures& f)
      : writer_(writer), f_(f), painter_(&writer) {
    page_ = QRect(kMargin, kMargin, writer.width() - 2 * kMargin, writer.height() - 2 * kMargin);
    y_ = page_.top();
  }

  bool ok() const { return painter_.isActive(); }

  void draw() {
    heading();
    counts();
    section(f_.byDay ? QStringLiteral("Units per day") : QStringLiteral("Units per hour"));
    unitsChart(QRect(page_.left(), y_, page_.width(), 250));
    y_ += 262;
    section(QStringLiteral("Failure reasons (Pareto)"));
    if (f_.reasons.empty()) {
      text(QStringLiteral("No unit failed in this span."), 10, false, kMutedColour);
    } else {
      paretoChart(QRect(page_.left(), y_, page_.width(), 250));
      y_ += 262;
    }
    table(QStringLiteral("Operators"), QStringLiteral("Operator"), f_.operators);
    table(QStringLiteral("Fixtures"), QStringLiteral("Fixture"), f_.fixtures);
    painter_.end();
  }

 private:
  QFont font(int points, bool bold) const {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(points);
    font.setBold(bold);
    return font;
  }

  void room(int height) {
    if (y_ + height <= page_.bottom()) return;
    writer_.newPage();
    y_ = page_.top();
  }

  void text(const QString& t, int points, bool bold, QRgb colour = 0xff000000) {
    painter_.setFont(font(points, bold));
    painter_.setPen(QColor::fromRgba(colour));
    const int height = QFontMetrics(painter_.font(), &writer_).height();
    room(height);
    painter_.drawText(QRect(page_.left(), y_, page_.width(), height), Qt::AlignLeft | Qt::AlignVCenter, t);
    y_ += height + 4;
  }

  void section(const QString& title) {
    room(300);
    y_ += 10;
    text(title, 13, true);
  }

  void heading() {
    text(QStringLiteral("KX627 Shift Report"), 20, true);
    text(QStringLiteral("From %1 to %2").arg(utf8(f_.from), utf8(f_.to)), 11, false, kMutedColour);
    y_ += 8;
  }

  // Six figures in large print, two rows of three.
  void counts() {
    const QString figures[][2] = {
        {QStringLiteral("Passed"), QString::number(f_.passed)},
        {QStringLiteral("Failed"), QString::number(f_.failed)},
        {QStringLiteral("First-pass yield"), number(f_.firstPassYield(), " %")},
        {QStringLiteral("Already provisioned"), QString::number(f_.alreadyProvisioned)},
        {QStringLiteral("Units in the last hour"), QString::number(f_.lastHour)},
        {QStringLiteral("Seconds per unit"), number(f_.secondsPerUnit)},
    };
    const int cellWidth = page_.width() / 3, cellHeight = 64;
    for (int i = 0; i < 6; ++i) {
      const QRect cell(page_.left() + (i % 3) * cellWidth, y_ + (i / 3) * cellHeight, cellWidth - 8,
                       cellHeight - 8);
      painter_.setPen(QColor::fromRgba(kGridColour));
      painter_.drawRect(cell);
      painter_.setPen(QColor::fromRgba(kMutedColour));
      painter_.setFont(font(9, false));
      painter_.drawText(cell.adjusted(8, 4, -8, 0), Qt::AlignLeft | Qt::AlignTop, figures[i][0]);
      painter_.setPen(Qt::black);
      painter_.setFont(font(20, true));
      painter_.drawText(cell.adjusted(8, 0, -8, -4), Qt::AlignLeft | Qt::AlignBottom, figures[i][1]);
    }
    y_ += 2 * cellHeight;
    painter_.setFont(font(9, false));
    painter_.setPen(QColor::fromRgba(kMutedColour));
    painter_.drawText(QRect(page_.left(), y_, page_.width(), 20), Qt::AlignLeft,
                      QStringLiteral("First-pass yield: %1 of %2 units first tried in this span "
                                     "passed at their first attempt.")
                          .arg(f_.firstPassUnits)
                          .arg(f_.units));
    y_ += 24;
  }

  // The value axis on the left of `plot`, from 0 to `max` (rounded up to a
  // tick); the scale's top.
  int valueAxis(const QRect& plot, int max) {
    const int step = tickStep(std::max(max, 1));
    const int top = (std::max(max, 1) + step - 1) / step * step;
    painter_.setFont(font(8, false));
    for (int v = 0; v <= top; v += step) {
      const int y = plot.bottom() - plot.height() * v / top;
      painter_.setPen(QColor::fromRgba(kGridColour));
      painter_.drawLine(plot.left(), y, plot.right(), y);
      painter_.setPen(QColor::fromRgba(kMutedColour));
      painter_.drawText(QRect(plot.left() - 44, y - 8, 38, 16), Qt::AlignRight | Qt::AlignVCenter,
                        QString::number(v));
    }
    return top;
  }

  // Labels under slots of `plot`, every `every`-th one, elided to the room.
  void slotLabels(const QRect& plot, const std::vector<QString>& labels, int every) {
    painter_.setFont(font(8, false));
    painter_.setPen(QColor::fromRgba(kMutedColour));
    const double slot = double(plot.width()) / double(labels.size());
    const int width = int(slot * every) - 2;
    const QFontMetrics metrics(painter_.font(), &writer_);
    for (std::size_t i = 0; i < labels.size(); i += std::size_t(every)) {
      const int centre = plot.left() + int(slot * (double(i) + 0.5));
      painter_.drawText(QRect(centre - width / 2, plot.bottom() + 4, width, 18),
                        Qt::AlignHCenter | Qt::AlignTop,
                        metrics.elidedText(labels[i], Qt::ElideRight, width));
    }
  }

  void legend(int x, int y, const std::vector<std::pair<QRgb, QString>>& items) {
    painter_.setFont(font(8, false));
    const QFontMetrics metrics(painter_.font(), &writer_);
    for (const auto& [colour, label] : items) {
      painter_.fillRect(QRect(x, y + 3, 10, 10), QColor::fromRgba(colour));
      painter_.setPen(Qt::black);
      painter_.drawText(QPoint(x + 14, y + 12), label);
      x += 24 + metrics.horizontalAdvance(label);
    }
  }

  // Passed and failed units stacked, bucket by bucket.
  void unitsChart(const QRect& area) {
    const QRect plot = area.adjusted(48, 8, -8, -40);
    int max = 0;
    for (const auto& b : f_.buckets) max = std::max(max, b.passed + b.failed);
    const int top = valueAxis(plot, max);
    const std::size_t n = std::max<std::size_t>(f_.buckets.size(), 1);
    const double slot = double(plot.width()) / double(n);
    const int barWidth = std::clamp(int(slot * 0.7), 2, 90);
    painter_.setFont(font(7, false));
    for (std::size_t i = 0; i < f_.buckets.size(); ++i) {
      const auto& b = f_.buckets[i];
      const int x = plot.left() + int(slot * double(i) + (slot - barWidth) / 2);
      const int passed = plot.height() * b.passed / top, failed = plot.height() * b.failed / top;
      painter_.fillRect(QRect(x, plot.bottom() - passed, barWidth, passed), QColor::fromRgba(kPassColour));
      painter_.fillRect(QRect(x, plot.bottom() - passed - failed, barWidth, failed),
                        QColor::fromRgba(kFailColour));
      if (b.passed + b.failed > 0 && barWidth >= 14) {
        painter_.setPen(Qt::black);
        painter_.drawText(QRect(x - 10, plot.bottom() - passed - failed - 14, barWidth + 20, 14),
                          Qt::AlignHCenter | Qt::AlignBottom, QString::number(b.passed + b.failed));
      }
    }
    painter_.setPen(Qt::black);
    painter_.drawLine(plot.bottomLeft(), plot.bottomRight());
    std::vector<QString> labels;
    for (const auto& b : f_.buckets) labels.push_back(utf8(b.label));
    if (!labels.empty()) slotLabels(plot, labels, int((labels.size() + 11) / 12));
    legend(plot.left(), area.bottom() - 16,
           {{kPassColour, QStringLiteral("Passed")}, {kFailColour, QStringLiteral("Failed")}});
  }

  // The failure reasons, most frequent first, with their cumulative share.
  void paretoChart(const QRect& area) {
    const QRect plot = area.adjusted(48, 8, -48, -40);
    std::vector<ShiftFigures::Reason> reasons(f_.reasons.begin(), f_.reasons.end());
    if (reasons.size() > kMostReasons) {
      int other = 0;
      for (std::size_t i = kMostReasons - 1; i < reasons.size(); ++i) other += reasons[i].count;
      reasons.resize(kMostReasons - 1);
      reasons.push_back({"other reasons", other});
    }
    int total = 0;
    for (const auto& r : reasons) total += r.count;
    const int top = valueAxis(plot, reasons.front().count);
    // The share axis on the right, 0 to 100 %.
    painter_.setFont(font(8, false));
    painter_.setPen(QColor::fromRgba(kLineColour));
    for (int share = 0; share <= 100; share += 25) {
      const int y = plot.bottom() - plot.height() * share / 100;
      painter_.drawText(QRect(plot.right() + 6, y - 8, 40, 16), Qt::AlignLeft | Qt::AlignVCenter,
                        QStringLiteral("%1 %").arg(share));
    }
    const double slot = double(plot.width()) / double(reasons.size());
    const int barWidth = std::clamp(int(slot * 0.6), 2, 90);
    QPainterPath line;
    int cumulative = 0;
    std::vector<QString> labels;
    for (std::size_t i = 0; i < reasons.size(); ++i) {
      const auto& r = reasons[i];
      const int x = plot.left() + int(slot * double(i) + (slot - barWidth) / 2);
      const int height = plot.height() * r.count / top;
      painter_.fillRect(QRect(x, plot.bottom() - height, barWidth, height), QColor::fromRgba(kFailColour));
      painter_.setPen(Qt::black);
      painter_.setFont(font(7, false));
      painter_.drawText(QRect(x - 10, plot.bottom() - height - 14, barWidth + 20, 14),
                        Qt::AlignHCenter | Qt::AlignBottom, QString::number(r.count));
      cumulative += r.count;
      const QPointF point(plot.left() + slot * (double(i) + 0.5),
                          plot.bottom() - double(plot.height()) * cumulative / total);
      if (i == 0) line.moveTo(point);
      else line.lineTo(point);
      labels.push_back(utf8(r.reason));
    }
    painter_.setPen(QPen(QColor::fromRgba(kLineColour), 2));
    painter_.drawPath(line);
    painter_.setBrush(QColor::fromRgba(kLineColour));
    for (int i = 0; i < line.elementCount(); ++i) painter_.drawEllipse(QPointF(line.elementAt(i)), 3, 3);
    painter_.setBrush(Qt::NoBrush);
    painter_.setPen(Qt::black);
    painter_.drawLine(plot.bottomLeft(), plot.bottomRight());
    slotLabels(plot, labels, 1);
    legend(plot.left(), area.bottom() - 16,
           {{kFailColour, QStringLiteral("Failed units")},
            {kLineColour, QStringLiteral("Cumulative share")}});
  }

  void table(const QString& title, const QString& firstColumn,
             const std::vector<ShiftFigures::Group>& rows) {
    if (rows.empty()) return;
    room(80);
    y_ += 10;
    text(title, 13, true);
    const int columns[] = {0, page_.width() / 2, page_.width() * 2 / 3, page_.width() * 5 / 6};
    auto row = [&](const QString (&cells)[4], bool bold) {
      painter_.setFont(font(9, bold));
      painter_.setPen(Qt::black);
      const int height = QFontMetrics(painter_.font(), &writer_).height() + 4;
      room(height);
      for (int c = 0; c < 4; ++c) {
        const int right = c < 3 ? columns[c + 1] : page_.width();
        painter_.drawText(QRect(page_.left() + columns[c], y_, right - columns[c] - 8, height),
                          static_cast<int>((c == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter),
                          cells[c]);
      }
      y_ += height;
    };
    const QString head[4] = {firstColumn, QStringLiteral("Passed"), QStringLiteral("Failed"),
                             QStringLiteral("Seconds per unit")};
    row(head, true);
    for (const auto& g : rows) {
      const QString cells[4] = {utf8(g.name), QString::number(g.passed), QString::number(g.failed),
                                number(g.secondsPerUnit)};
      row(cells, false);
    }
  }

  QPdfWriter& writer_;
  const ShiftFigures& f_;
  QPainter painter_;
  QRect page_;
  int y_ = 0;
};

}  // namespace

bool writeShiftReport(const ShiftFigures& figures, const QString& path, QString* error) {
  {
    QPdfWriter writer(path);
    writer.setResolution(kDpi);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setTitle(QStringLiteral("KX627 Shift Report %1 to %2").arg(utf8(figures.from), utf8(figures.to)));
    writer.setCreator(QStringLiteral("KX627 Configuration Tool"));
    ReportPainter painter(writer, figures);
    if (!painter.ok()) {
      *error = QStringLiteral("cannot write %1").arg(path);
      return false;
    }
    painter.draw();
  }
  // QPdfWriter says nothing of a file it could not write: look at it.
  QFile written(path);
  if (!written.open(QIODevice::ReadOnly) || written.size() == 0 || !written.read(5).startsWith("%PDF")) {
    *error = QStringLiteral("cannot write %1").arg(path);
    return false;
  }
  return true;
}

int drawShiftReportCommand(int argc, char** argv, const std::string& figuresPath,
                           const std::string& pdfPath) {
#ifndef Q_OS_WIN
  // No display is needed to draw a PDF (Windows' own platform needs none).
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  QGuiApplication app(argc, argv);
  QFile file(QString::fromLocal8Bit(figuresPath.c_str()));
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "kx627-config: cannot read %s\n", figuresPath.c_str());
    return 6;
  }
  const QByteArray json = file.readAll();
  const auto figures = production::parseFiguresJson(std::string_view(json.constData(), std::size_t(json.size())));
  if (!figures) {
    std::fprintf(stderr, "kx627-config: %s holds no shift figures\n", figuresPath.c_str());
    return 6;
  }
  QString error;
  if (!writeShiftReport(*figures, QString::fromLocal8Bit(pdfPath.c_str()), &error)) {
    std::fprintf(stderr, "kx627-config: %s\n", error.toLocal8Bit().constData());
    return 6;
  }
  return 0;
}

}  // namespace kx
