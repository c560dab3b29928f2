#include "gui/history_graph.h"

#include <algorithm>
#include <vector>

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include "gui/graph_scale.h"

namespace sentrel {

namespace {

// The list's lights (the state images) and its lost mark.
const QColor kLightColours[5] = {QColor(), QColor(0x5c, 0xc8, 0x5f), QColor(0xb6, 0xdc, 0x4e),
                                 QColor(0xff, 0xe0, 0x4a), QColor(0xff, 0xa0, 0x40)};
const QColor kLost(0xf0, 0x56, 0x4f);
const QColor kRange(0x3a, 0x78, 0xc8, 90);
const QColor kAverage(0x1c, 0x3f, 0x8c);
const QColor kUnwatched(0xd8, 0xd8, 0xd8);
// The list's degraded light.
const QColor kDegraded(0x8a, 0x3f, 0xb8);

// Room around the plot for the axis labels, in pixels beyond the labels.
constexpr int kGap = 6;
constexpr int kTop = 10;

}  // namespace

HistoryGraph::HistoryGraph(QWidget* parent) : QWidget(parent) {
  setObjectName("HistoryGraph");
  setAccessibleName("Round trip graph");
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void HistoryGraph::SetEmptyText(const QString& text) {
  emptyText_ = text;
  update();
}

void HistoryGraph::SetData(GraphData shown) {
  data_ = std::move(shown);
  int64_t highest = 0;
  for (const Bucket& b : data_.buckets) {
    if (b.stats.received > 0) highest = std::max(highest, b.stats.rttMax);
  }
  axis_ = RoundTripAxis(static_cast<double>(highest) / 1000.0);
  setAccessibleDescription(
      QString("%1 stretches with data").arg(static_cast<qlonglong>(data_.buckets.size())));
  update();
}

void HistoryGraph::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  // The margins follow the labels in this font: the highest round trip on
  // the left, the time labels below, and half the last one on the right,
  // where it stands centred on the plot's edge.
  const QFontMetrics metrics(font());
  const std::vector<TimeTick> ticks = TimeTicks(data_.fromMinute, data_.toMinute);
  int widestTick = 0;
  for (const TimeTick& tick : ticks) {
    widestTick = std::max(widestTick, metrics.horizontalAdvance(QString::fromStdString(tick.label)));
  }
  const int leftRoom = metrics.horizontalAdvance(QString::number(axis_.topMs) + " ms") + 2 * kGap;
  const int rightRoom = widestTick / 2 + kGap;
  const int bottomRoom = metrics.height() + 2 * kGap;
  const QRectF plot(leftRoom, kTop, std::max(1, width() - leftRoom - rightRoom),
                    std::max(1, height() - kTop - bottomRoom));
  const double span = static_cast<double>(std::max<int64_t>(1, data_.toMinute - data_.fromMinute));
  const auto x = [&](int64_t minute) {
    return plot.left() + plot.width() * static_cast<double>(minute - data_.fromMinute) / span;
  };
  const auto y = [&](double ms) {
    return plot.bottom() - plot.height() * std::clamp(ms / static_cast<double>(axis_.topMs), 0.0, 1.0);
  };

  // The light colours as bands, faint, so that the line reads like the
  // list; time the host was not watched (before it was added, while checks
  // were stopped, still to come) covers them in grey, the same stretches
  // that the figures leave out.
  p.fillRect(plot, palette().base());
  for (const LightBand& band : LightBands(data_.lightTimes, axis_.topMs)) {
    QColor colour = kLightColours[band.light];
    colour.setAlpha(45);
    p.fillRect(QRectF(QPointF(plot.left(), y(static_cast<double>(band.toMs))),
                      QPointF(plot.right(), y(static_cast<double>(band.fromMs)))),
               colour);
  }
  const auto xOfSecond = [&](int64_t second) {
    return plot.left() + plot.width() * (static_cast<double>(second) / 60.0 -
                                         static_cast<double>(data_.fromMinute)) / span;
  };
  for (const TimeStretch& stretch : data_.unwatched) {
    const double left = std::clamp(xOfSecond(stretch.fromSecond), plot.left(), plot.right());
    const double right = std::clamp(xOfSecond(stretch.toSecond), plot.left(), plot.right());
    if (right > left) p.fillRect(QRectF(QPointF(left, plot.top()), QPointF(right, plot.bottom())), kUnwatched);
  }

  // Grid and labels.
  const QColor text = palette().color(QPalette::Text);
  QColor grid = text;
  grid.setAlpha(40);
  p.setFont(font());
  for (int64_t mark = 0; mark <= axis_.topMs; mark += axis_.stepMs) {
    const auto ms = static_cast<double>(mark);
    p.setPen(grid);
    p.drawLine(QPointF(plot.left(), y(ms)), QPointF(plot.right(), y(ms)));
    p.setPen(text);
    p.drawText(QRectF(0, y(ms) - metrics.height(), leftRoom - kGap, 2 * metrics.height()),
               Qt::AlignRight | Qt::AlignVCenter,
               QString::number(mark) + " ms");
  }
  for (const TimeTick& tick : ticks) {
    const double at = x(tick.minute);
    p.setPen(grid);
    p.drawLine(QPointF(at, plot.top()), QPointF(at, plot.bottom()));
    p.setPen(text);
    p.drawText(QRectF(at - widestTick, plot.bottom() + kGap, 2 * widestTick, metrics.height()),
               Qt::AlignHCenter | Qt::AlignTop,
               QString::fromStdString(tick.label));
  }

  // Degraded time: a faint violet wash with a solid strip along the top, so
  // that it reads apart from the lost minutes' red along the bottom.
  for (const TimeStretch& stretch : data_.degraded) {
    const double left = std::clamp(xOfSecond(stretch.fromSecond), plot.left(), plot.right());
    const double right =
        std::clamp(std::max(left + 1.5, xOfSecond(stretch.toSecond)), plot.left(), plot.right());
    QColor wash = kDegraded;
    wash.setAlpha(40);
    p.fillRect(QRectF(QPointF(left, plot.top()), QPointF(right, plot.bottom())), wash);
    p.fillRect(QRectF(QPointF(left, plot.top()), QPointF(right, plot.top() + 4)), kDegraded);
  }

  // Lost minutes: a red mark over the stretch, stronger the more was lost,
  // and a solid strip along the bottom that even a faint mark leaves visible.
  for (const Bucket& b : data_.buckets) {
    if (b.stats.lostMinutes <= 0) continue;
    const double left = x(b.startMinute);
    const double right = std::max(left + 1.5, x(b.EndMinute()));
    const double share = static_cast<double>(b.stats.lostMinutes) /
                         static_cast<double>(std::max<int64_t>(1, b.stats.minutes));
    QColor mark = kLost;
    mark.setAlpha(static_cast<int>(40 + 140 * share));
    p.fillRect(QRectF(QPointF(left, plot.top()), QPointF(right, plot.bottom())), mark);
    p.fillRect(QRectF(QPointF(left, plot.bottom() - 4), QPointF(right, plot.bottom())), kLost);
  }

  // The minimum-maximum band and the average line, broken where a stretch
  // has no reply or no data.
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath range;
  QPainterPath average;
  std::vector<QPointF> upper;
  std::vector<QPointF> lower;
  const auto closeRange = [&] {
    if (upper.empty()) return;
    QPolygonF shape;
    for (const QPointF& point : upper) shape << point;
    for (auto it = lower.rbegin(); it != lower.rend(); ++it) shape << *it;
    range.addPolygon(shape);
    range.closeSubpath();
    upper.clear();
    lower.clear();
  };
  // The end of the stretch before; a stretch that does not start there
  // begins a new piece.
  int64_t joined = data_.fromMinute - 1;
  for (const Bucket& b : data_.buckets) {
    if (b.stats.received <= 0 || b.startMinute != joined) closeRange();
    joined = b.EndMinute();
    if (b.stats.received <= 0) continue;
    const double left = x(b.startMinute);
    const double right = x(b.EndMinute());
    // The average as steps, so that a lone stretch shows as a short line.
    const double mean = y(*b.stats.AverageRttMs());
    if (upper.empty()) {
      average.moveTo(left, mean);
    } else {
      average.lineTo(left, mean);
    }
    average.lineTo(right, mean);
    const double top = y(static_cast<double>(b.stats.rttMax) / 1000.0);
    const double bottom = y(static_cast<double>(b.stats.rttMin) / 1000.0);
    upper.insert(upper.end(), {QPointF(left, top), QPointF(right, top)});
    lower.insert(lower.end(), {QPointF(left, bottom), QPointF(right, bottom)});
  }
  closeRange();
  p.fillPath(range, kRange);
  p.setPen(QPen(kAverage, 1.6));
  p.drawPath(average);

  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(text);
  p.drawRect(plot);
  if (data_.buckets.empty()) {
    p.drawText(plot, Qt::AlignCenter, emptyText_);
  }
}

}  // namespace sentrel
