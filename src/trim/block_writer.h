// Writes blocks to a file, in order, on a thread of its own, so that the next
// block is read and trimmed while the last one is written. Where no thread
// can be had, each block is written when it is handed over.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "trim/platform.h"

class block_writer {
 public:
  explicit block_writer(os_file to);
  block_writer(const block_writer&) = delete;
  block_writer& operator=(const block_writer&) = delete;
  ~block_writer() { finish(); }
  // Waits until the block before is written, then hands this one over; the
  // caller leaves it alone until the next call. False once a write has failed.
  bool put(const unsigned char* block, size_t size);
  // Writes what was handed over and ends the thread; false if any write failed.
  bool finish();

 private:
  void write_blocks();
  // Hands over a block, or with none tells the thread to end.
  bool hand_over(const unsigned char* block, size_t size);

  os_file to_;
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable turn_;
  // Counted under lock_; read without it only to spin on.
  std::atomic<uint32_t> handed_{0};
  std::atomic<uint32_t> written_{0};
  const unsigned char* block_ = nullptr;  // handed over, not yet written
  size_t size_ = 0;
  bool failed_ = false;
};
