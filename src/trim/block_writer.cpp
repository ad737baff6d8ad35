#include "trim/block_writer.h"

#include <chrono>
#include <system_error>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// A thread put to sleep takes tens of microseconds to wake, and twice a block
// that added up to a tenth of a run: each side first spins for about as long
// as the other takes with a block, and only then sleeps.
constexpr auto spin_time = std::chrono::milliseconds(1);

template <class Ready>
void spin_until(Ready ready) {
  const auto give_up = std::chrono::steady_clock::now() + spin_time;
  for (unsigned turn = 1; !ready(); ++turn) {
    if (turn % 64 == 0 && std::chrono::steady_clock::now() > give_up) return;
#ifdef __SSE2__
    _mm_pause();
#endif
  }
}

}  // namespace

block_writer::block_writer(os_file to) : to_(to) {
  try {
    thread_ = std::thread(&block_writer::write_blocks, this);
  } catch (const std::system_error&) {
    // One thread is all it takes to write; the caller's will do.
  }
}

void block_writer::write_blocks() {
  for (uint32_t done = 0;; ++done) {
    spin_until([&] { return handed_.load(std::memory_order_acquire) != done; });
    std::unique_lock<std::mutex> hold(lock_);
    turn_.wait(hold, [&] { return handed_.load(std::memory_order_relaxed) != done; });
    const unsigned char* const block = block_;
    const size_t size = size_;
    if (block == nullptr) return;
    hold.unlock();
    const bool written = write_all(to_, block, size);
    hold.lock();
    failed_ = failed_ || !written;
    written_.store(done + 1, std::memory_order_release);
    turn_.notify_all();
  }
}

bool block_writer::hand_over(const unsigned char* block, size_t size) {
  const uint32_t handed = handed_.load(std::memory_order_relaxed);
  spin_until([&] { return written_.load(std::memory_order_acquire) == handed; });
  std::unique_lock<std::mutex> hold(lock_);
  turn_.wait(hold, [&] { return written_.load(std::memory_order_relaxed) == handed; });
  if (failed_ && block != nullptr) return false;
  block_ = block;
  size_ = size;
  handed_.store(handed + 1, std::memory_order_release);
  turn_.notify_all();
  return true;
}

bool block_writer::put(const unsigned char* block, size_t size) {
  if (!thread_.joinable()) {
    failed_ = failed_ || !write_all(to_, block, size);
    return !failed_;
  }
  return hand_over(block, size);
}

bool block_writer::finish() {
  if (thread_.joinable()) {
    // A block still handed over is written before the thread sees this.
    hand_over(nullptr, 0);
    thread_.join();
  }
  return !failed_;
}
