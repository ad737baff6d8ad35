// The delay window: a ring of at most 127 entries that holds back the most
// recent bytes so the ones in front of a group-ending line feed can still be
// dropped. It is the byte-at-a-time reference that the block-wise pass in
// trim_chunk.h must match exactly.
#pragma once

#include <cstdint>

inline constexpr int32_t win_slots = 128;
// Outside the byte range, so that every input byte (7 included) is data.
inline constexpr int32_t win_filler = 256;

struct delay_window {
  int32_t slots[win_slots];
  int32_t head;
  int32_t tail;
  int32_t window_len;
};

// The one window the reference pass uses; zero-initialised at start-up.
extern delay_window the_window;

int32_t win_next(int32_t i);
int win_is_empty();
int32_t win_count();
int win_pop();            // 1 removed, 2 window was empty
int win_push(int32_t v);  // 0 stored, 3 window full
void win_clear();
int32_t win_reset(int32_t n, int32_t f);  // returns win_count() after filling
int win_peek(unsigned char* byte);        // 1 if the oldest entry is a filler
