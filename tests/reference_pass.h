// The trimming pass a byte at a time through a delay window: the plain reading
// that trim_chunk is checked against. It works out the window's wrap and cap
// itself, so that a fault in the fast pass's shows as a difference.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trim/trim_chunk.h"

// A ring that holds back the newest bytes, so that the ones in front of a
// group-ending line feed can still be dropped. One slot always stays free,
// which caps the window at win_slots - 1 entries.
class delay_window {
 public:
  static constexpr int32_t win_slots = 128;
  // Outside the byte range, so that every input byte (7 included) is data.
  static constexpr int32_t win_filler = 256;

  bool empty() const { return head_ == tail_; }
  bool full() const { return next(tail_) == head_; }
  void pop() {
    if (!empty()) head_ = next(head_);
  }
  // A push into a full window is lost.
  void push(int32_t v) {
    if (full()) return;
    slots_[tail_] = v;
    tail_ = next(tail_);
  }
  int32_t peek() const { return empty() ? win_filler : slots_[head_]; }
  // Empties the window, then fills it with n fillers or as many as fit.
  void reset(int32_t n) {
    head_ = tail_ = 0;
    for (int32_t i = 0; i < n && !full(); ++i) push(win_filler);
  }

 private:
  static int32_t next(int32_t i) { return (i + 1) % win_slots; }

  int32_t slots_[win_slots] = {};
  int32_t head_ = 0;
  int32_t tail_ = 0;
};

class reference_pass {
 public:
  // The window is cut_len + 1 entries long, in 32-bit wrapping arithmetic.
  reference_pass(int32_t group_lines, int32_t cut_len, line_end variant)
      : group_lines_(group_lines),
        window_len_(static_cast<int32_t>(static_cast<uint32_t>(cut_len) + 1u)),
        variant_(variant) {
    window_.reset(window_len_);
  }

  // Trims in[0, n) into out, which has room for 2 * n bytes; returns the bytes
  // written. What the window still holds waits for the next call.
  size_t run(const unsigned char* in, size_t n, unsigned char* out) {
    unsigned char* o = out;
    for (size_t i = 0; i < n; ++i) {
      const unsigned char byte = in[i];
      // Below 1 acts as 1: the first line feed already reaches it.
      const bool group_end = byte == '\n' && ++lines_seen_ >= group_lines_;
      window_.pop();
      window_.push(byte);
      if (group_end) {
        if (variant_ == line_end::crlf) *o++ = '\r';
        *o++ = '\n';
        window_.reset(window_len_);
        lines_seen_ = 0;
      } else if (const int32_t oldest = window_.peek(); oldest != delay_window::win_filler) {
        *o++ = static_cast<unsigned char>(oldest);
      }
    }
    return static_cast<size_t>(o - out);
  }

 private:
  int32_t group_lines_;
  int32_t window_len_;
  line_end variant_;
  int32_t lines_seen_ = 0;
  delay_window window_;
};
