#include "trim/block_writer.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// A thread put to sleep takes tens of microseconds to wake. Each side first
// spins for about as long as the other takes with a block, and only then
// sleeps. The spin yields now and then: where both threads share one CPU,
// the other side must run for the wait to end.
constexpr auto spin_time = std::chrono::milliseconds(1);

template <class Ready>
void spin_until(Ready ready) {
  if (ready()) return;  // the common case: no clock read
  const auto give_up = std::chrono::steady_clock::now() + spin_time;
  for (unsigned turn = 1; !ready(); ++turn) {
    if (turn % 64 == 0) {
      if (std::chrono::steady_clock::now() > give_up) return;
      std::this_thread::yield();
    }
#ifdef __SSE2__
    _mm_pause();
#endif
  }
}

}  // namespace

block_writer::block_writer(os_file to, size_t slots, bool own_thread)
    : to_(to), limit_(std::clamp<size_t>(slots, 2, max_queued + 1) - 1) {
  if (!own_thread) return;
  try {
    thread_ = std::thread(&block_writer::write_blocks, this);
  } catch (const std::system_error&) {
    // One thread is all it takes to write; the caller's will do.
  }
}

void block_writer::write_oldest(std::unique_lock<std::mutex>& hold) {
  writing_ = true;
  const handed_block next = queue_[first_];
  hold.unlock();
  const bool written = write_all(to_, next.data, next.size);
  hold.lock();
  failed_ = failed_ || !written;
  first_ = (first_ + 1) % max_queued;
  --queued_;
  writing_ = false;
  turn_.notify_all();
}

void block_writer::write_blocks() {
  std::unique_lock<std::mutex> hold(lock_, std::defer_lock);
  for (;;) {
    const auto ready = [this] { return (queued_ > 0 && !writing_) || stopping_; };
    spin_until(ready);
    hold.lock();
    turn_.wait(hold, ready);
    if (queued_ == 0) return;
    if (!writing_) write_oldest(hold);
    hold.unlock();
  }
}

bool block_writer::put(const unsigned char* block, size_t size) {
  if (!thread_.joinable()) {
    failed_ = failed_ || !write_all(to_, block, size);
    return !failed_;
  }
  // A full queue that nobody is writing has a writer thread that is not
  // running: it shares this CPU, or has not woken. The oldest block is then
  // written here rather than waited for.
  const auto room = [this] { return queued_ < limit_ || !writing_; };
  spin_until(room);
  std::unique_lock<std::mutex> hold(lock_);
  turn_.wait(hold, room);
  // Only this thread adds blocks: one written makes room.
  if (queued_ >= limit_) {
    write_oldest(hold);
    ++written_by_caller_;
  }
  if (failed_) return false;
  queue_[(first_ + queued_) % max_queued] = {block, size};
  ++queued_;
  turn_.notify_all();
  return true;
}

bool block_writer::finish() {
  if (thread_.joinable()) {
    {
      // The blocks still queued are written before the thread sees this.
      const std::lock_guard<std::mutex> hold(lock_);
      stopping_ = true;
      turn_.notify_all();
    }
    thread_.join();
  }
  return !failed_;
}
