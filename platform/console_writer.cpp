#include "platform/console_writer.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

// Shared by the writer and its thread, which keeps it alive while it may be
// blocked in a write after the writer is gone.
struct ConsoleWriter::State {
  explicit State(Write w) : write(std::move(w)) {}

  const Write write;
  std::mutex mutex;
  std::condition_variable changed;  // text queued, taken, or the writer closing
  std::deque<std::string> queue;
  bool writing = false;  // the thread is in a write
  bool closing = false;  // the writer is gone: drop the rest and end
  bool gone = false;     // the output took no more: drop what comes
  TimePoint lastTaken = Clock::now();
  std::thread thread;
};

namespace {

void writeQueued(const std::shared_ptr<ConsoleWriter::State>& state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->changed.wait(lock, [&] { return state->closing || !state->queue.empty(); });
    if (state->closing) {
      return;
    }
    const std::string text = std::move(state->queue.front());
    state->queue.pop_front();
    state->writing = true;
    lock.unlock();
    const bool written = state->gone || state->write(text);
    lock.lock();
    state->writing = false;
    state->gone = state->gone || !written;
    state->lastTaken = Clock::now();
    state->changed.notify_all();
  }
}

}  // namespace

ConsoleWriter::ConsoleWriter() : ConsoleWriter(writeStandardOutput) {}

ConsoleWriter::ConsoleWriter(Write write) : state_(std::make_shared<State>(std::move(write))) {
  try {
    state_->thread = std::thread(writeQueued, state_);
  } catch (const std::system_error&) {
    // No thread to be had: the text is written as it comes, as it always
    // was, rather than not at all.
  }
}

ConsoleWriter::~ConsoleWriter() {
  bool idle = false;
  {
    const std::lock_guard lock(state_->mutex);
    state_->closing = true;
    state_->queue.clear();
    idle = !state_->writing;
    state_->changed.notify_all();
  }
  // An idle thread ends at once; one blocked in a write may never return.
  if (!state_->thread.joinable()) {
    return;
  }
  if (idle) {
    state_->thread.join();
  } else {
    state_->thread.detach();
  }
}

void ConsoleWriter::write(std::string_view text) {
  if (text.empty()) {
    return;
  }
  if (!state_->thread.joinable()) {
    state_->gone = state_->gone || !state_->write(text);
    return;
  }
  const std::lock_guard lock(state_->mutex);
  if (!state_->gone) {
    state_->queue.emplace_back(text);
    state_->changed.notify_all();
  }
}

bool ConsoleWriter::behind() const {
  const std::lock_guard lock(state_->mutex);
  return state_->writing || !state_->queue.empty();
}

bool ConsoleWriter::drain(TimePoint until) {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_until(lock, until,
                                    [&] { return !state_->writing && state_->queue.empty(); });
}

TimePoint ConsoleWriter::lastTaken() const {
  const std::lock_guard lock(state_->mutex);
  return state_->lastTaken;
}
