#include "trim/block_writer.h"

#include <system_error>

namespace {

void write_blocks(block_writer* w) {
  std::unique_lock<std::mutex> hold(w->lock);
  for (;;) {
    w->turn.wait(hold, [w] { return w->full || w->stopping; });
    if (!w->full) return;
    hold.unlock();
    const bool written = write_all(w->to, w->block, w->size);
    hold.lock();
    w->failed = w->failed || !written;
    w->full = false;
    w->turn.notify_all();
  }
}

}  // namespace

void writer_start(block_writer* w, os_file to) {
  w->to = to;
  try {
    w->thread = std::thread(write_blocks, w);
  } catch (const std::system_error&) {
    // One thread is all it takes to write; the caller's will do.
  }
}

bool writer_put(block_writer* w, const unsigned char* block, size_t size) {
  if (!w->thread.joinable()) {
    w->failed = w->failed || !write_all(w->to, block, size);
    return !w->failed;
  }
  std::unique_lock<std::mutex> hold(w->lock);
  w->turn.wait(hold, [w] { return !w->full; });
  if (w->failed) return false;
  w->block = block;
  w->size = size;
  w->full = true;
  w->turn.notify_all();
  return true;
}

bool writer_stop(block_writer* w) {
  if (w->thread.joinable()) {
    {
      // A block still handed over is written before the thread sees this.
      const std::lock_guard<std::mutex> hold(w->lock);
      w->stopping = true;
      w->turn.notify_all();
    }
    w->thread.join();
  }
  return !w->failed;
}
