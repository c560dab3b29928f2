#include "core/job_lane.h"

#include <thread>
#include <utility>

namespace sentrel {

JobLane::JobLane(UiThread& ui) : ui_(ui) {}

JobLane::~JobLane() { Close(); }

bool JobLane::Busy() const {
  std::lock_guard lock(mutex_);
  return flight_ && !flight_->Done();
}

bool JobLane::Run(Job job) {
  // A job asked for from within another job's wait waits for that job's
  // thread, never for its caller's frame below us on the stack.
  if (!ui_.ServeUntil([this] { return closed_.load() || !Busy(); }) || closed_.load())
    return false;
  auto flight = std::make_shared<Flight>();
  {
    std::lock_guard lock(mutex_);
    flight_ = flight;
  }
  std::thread helper([this, flight, job = std::move(job)] {
    job(flight->stop.get_token());
    flight->ended.Bump();
    flight->ended.Wake();
    ui_.Post([] {});  // the waiting loop looks again
  });
  const bool served = ui_.ServeUntil([&flight] { return flight->Done(); });
  if (!served) flight->stop.request_stop();
  helper.join();
  {
    std::lock_guard lock(mutex_);
    if (flight_ == flight) flight_.reset();
  }
  // Another job of this lane may be waiting for this one.
  ui_.Post([] {});
  return !flight->stop.stop_requested();
}

void JobLane::Abort() {
  std::lock_guard lock(mutex_);
  if (flight_) flight_->stop.request_stop();
}

void JobLane::WaitForJob() const {
  std::shared_ptr<Flight> flight;
  {
    std::lock_guard lock(mutex_);
    flight = flight_;
  }
  if (!flight) return;
  for (uint32_t seen = flight->ended.Value(); seen == 0; seen = flight->ended.Value()) {
    flight->ended.Wait(seen);
  }
}

void JobLane::Close() {
  closed_.store(true);
  Abort();
  ui_.Post([] {});
}

}  // namespace sentrel
