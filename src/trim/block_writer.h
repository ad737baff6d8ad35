// Writes blocks to a file, in order, on a thread of its own, so that the next
// block is read and trimmed while the ones before are written. When that
// thread gets no turn to run, the caller writes the oldest block itself
// rather than wait. Where the process may use only one CPU, a thread could
// not run beside the caller and its hand-offs would only cost: then, as
// where no thread can be had, each block is written when it is handed over.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "trim/platform.h"

class block_writer {
 public:
  // Blocks handed over and not yet written, at most.
  static constexpr size_t max_queued = 4;

  // The caller's blocks take turns over `slots` buffers (2 to max_queued + 1):
  // one is filled while the others wait to be written. By default a thread
  // of its own is started where the system says the process may use two
  // CPUs; timings play no part.
  block_writer(os_file to, size_t slots, bool own_thread = usable_cpus() > 1);
  block_writer(const block_writer&) = delete;
  block_writer& operator=(const block_writer&) = delete;
  ~block_writer() { finish(); }
  // Waits while the other slots all wait to be written, then hands this one
  // over; once this returns, the slot handed over `slots` - 1 blocks ago is
  // written and free to fill. False once a write has failed.
  bool put(const unsigned char* block, size_t size);
  // Writes what was handed over and ends the thread; false if any write failed.
  bool finish();
  // False when each block is written as it is handed over.
  bool threaded() const { return thread_.joinable(); }
  // Blocks the caller wrote itself while a thread of its own was there.
  size_t written_by_caller() const { return written_by_caller_; }

 private:
  struct handed_block {
    const unsigned char* data;
    size_t size;
  };
  // Writes the oldest block queued; lock_ is held, and no other block is
  // being written.
  void write_oldest(std::unique_lock<std::mutex>& hold);
  void write_blocks();

  os_file to_;
  size_t limit_;
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable turn_;
  handed_block queue_[max_queued] = {};
  size_t first_ = 0;  // the oldest block not yet written
  // Changed under lock_; read without it only to spin on.
  std::atomic<size_t> queued_{0};  // blocks handed over, not yet written
  std::atomic<bool> stopping_{false};
  std::atomic<bool> writing_{false};  // a block is being written, by either thread
  bool failed_ = false;
  size_t written_by_caller_ = 0;
};
