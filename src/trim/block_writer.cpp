#include "trim/block_writer.h"

#include <system_error>

block_writer::block_writer(os_file to) : to_(to) {
  try {
    thread_ = std::thread(&block_writer::write_blocks, this);
  } catch (const std::system_error&) {
    // One thread is all it takes to write; the caller's will do.
  }
}

void block_writer::write_blocks() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    turn_.wait(hold, [this] { return full_ || stopping_; });
    if (!full_) return;
    hold.unlock();
    const bool written = write_all(to_, block_, size_);
    hold.lock();
    failed_ = failed_ || !written;
    full_ = false;
    turn_.notify_all();
  }
}

bool block_writer::put(const unsigned char* block, size_t size) {
  if (!thread_.joinable()) {
    failed_ = failed_ || !write_all(to_, block, size);
    return !failed_;
  }
  std::unique_lock<std::mutex> hold(lock_);
  turn_.wait(hold, [this] { return !full_; });
  if (failed_) return false;
  block_ = block;
  size_ = size;
  full_ = true;
  turn_.notify_all();
  return true;
}

bool block_writer::finish() {
  if (thread_.joinable()) {
    {
      // A block still handed over is written before the thread sees this.
      const std::lock_guard<std::mutex> hold(lock_);
      stopping_ = true;
      turn_.notify_all();
    }
    thread_.join();
  }
  return !failed_;
}
