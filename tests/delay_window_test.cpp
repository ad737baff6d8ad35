#include "trim/delay_window.h"

#include <gtest/gtest.h>

namespace {

TEST(delay_window, count_follows_the_ring) {
  const int32_t cases[][3] = {{0, 0, 0}, {3, 10, 7}, {120, 5, 13}, {127, 126, 127}, {64, 64, 0}};
  for (const auto& [head, tail, count] : cases) {
    the_window.head = head, the_window.tail = tail;
    EXPECT_EQ(win_count(), count) << head << ".." << tail;
    EXPECT_EQ(win_is_empty(), count == 0 ? 1 : 0);
  }
}

TEST(delay_window, pop_on_empty_changes_nothing) {
  the_window.head = the_window.tail = 40, the_window.slots[40] = 'z';
  EXPECT_EQ(win_pop(), 2);
  EXPECT_EQ(the_window.head, 40);
  EXPECT_EQ(the_window.tail, 40);
  EXPECT_EQ(the_window.slots[40], 'z');
}

TEST(delay_window, holds_127_entries_at_most) {
  win_reset(0, win_filler);
  for (int i = 0; i < 127; ++i) ASSERT_EQ(win_push(i), 0) << i;
  EXPECT_EQ(win_push(1), 3);
  EXPECT_EQ(win_count(), 127);
  EXPECT_EQ(win_reset(1000, win_filler), 127);
}

TEST(delay_window, reset_leaves_exactly_n_fillers) {
  for (const int32_t n : {-5, 0, 1, 3, 126}) {
    win_reset(2, win_filler);
    win_push('d');
    EXPECT_EQ(win_reset(n, win_filler), n < 0 ? 0 : n);
    unsigned char byte = 0;
    EXPECT_EQ(n > 0 ? win_peek(&byte) : 1, 1) << n;
  }
}

// Pushed after a pop, each byte value comes out as data; after a reset to two,
// one step later.
TEST(delay_window, every_byte_value_is_data_and_a_reset_to_two_delays_by_one) {
  for (const int32_t fill : {0, 2}) {
    win_reset(fill, win_filler);
    for (int v = 0; v < 256; ++v) {
      win_pop();
      win_push(v);
      unsigned char byte = 0;
      const int filler = win_peek(&byte);
      ASSERT_EQ(filler, fill == 2 && v == 0 ? 1 : 0) << fill << " " << v;
      if (filler == 0) {
        EXPECT_EQ(byte, fill == 0 ? v : v - 1) << fill << " " << v;
      }
    }
  }
}

}  // namespace
