// Writes blocks to a file, in order, on a thread of its own, so that the next
// block is read and trimmed while the last one is written. Where no thread
// can be had, each block is written when it is handed over.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "trim/platform.h"

struct block_writer {
  os_file to;
  std::thread thread;
  std::mutex lock;
  std::condition_variable turn;
  const unsigned char* block = nullptr;  // handed over, not yet written
  size_t size = 0;
  bool full = false;
  bool stopping = false;
  bool failed = false;
};

void writer_start(block_writer* w, os_file to);
// Waits until the block before is written, then hands this one over; the
// caller leaves it alone until the next call. False once a write has failed.
bool writer_put(block_writer* w, const unsigned char* block, size_t size);
// Waits for the last block and ends the thread; false if any write failed.
bool writer_stop(block_writer* w);
