#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <QWidget>

#include "gui/graph_scale.h"
#include "history/period_figures.h"

namespace sentrel {

// What the graph shows: the buckets of a period (missing ones are gaps), the
// stretches in which the host was not watched (PeriodHistory::unmonitored and
// what is still to come) and the host's light limits.
struct GraphData {
  std::vector<Bucket> buckets;
  int64_t fromMinute = 0;
  int64_t toMinute = 0;
  std::vector<TimeStretch> unwatched;  // in history seconds
  std::vector<TimeStretch> degraded;   // in history seconds
  std::array<int32_t, 4> lightTimes{};
};

// The round-trip graph of the history window, drawn with QPainter: the
// light colours of the host's limits as bands behind, the minimum-maximum
// band and the average line of every stretch with replies, red marks
// where minutes were lost (stronger the more of the stretch was lost) and
// violet ones where the host was degraded.
class HistoryGraph final : public QWidget {
 public:
  explicit HistoryGraph(QWidget* parent = nullptr);

  void SetData(GraphData shown);
  // What the graph says when the period holds no data.
  void SetEmptyText(const QString& text);
  const GraphData& Data() const { return data_; }
  // The round-trip axis in ms.
  AxisScale Axis() const { return axis_; }

  QSize minimumSizeHint() const override { return {320, 160}; }
  QSize sizeHint() const override { return {760, 280}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  GraphData data_;
  AxisScale axis_;
  QString emptyText_;
};

}  // namespace sentrel
