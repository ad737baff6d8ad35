#include "trim/delay_window.h"

#include <gtest/gtest.h>

namespace {

void place(int32_t head, int32_t tail) {
  the_window.head = head;
  the_window.tail = tail;
}

TEST(delay_window, count_follows_the_ring) {
  const struct {
    int32_t head, tail, count;
  } cases[] = {{0, 0, 0}, {3, 10, 7}, {120, 5, 13}, {127, 126, 127}, {64, 64, 0}};
  for (const auto& c : cases) {
    place(c.head, c.tail);
    EXPECT_EQ(win_count(), c.count) << c.head << ".." << c.tail;
    EXPECT_EQ(win_is_empty(), c.count == 0 ? 1 : 0);
  }
}

TEST(delay_window, pop_on_empty_changes_nothing) {
  place(40, 40);
  the_window.slots[40] = 'z';
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
    if (n > 0) {
      EXPECT_EQ(win_peek(&byte), 1) << n;
    }
  }
}

TEST(delay_window, every_byte_value_is_data) {
  win_reset(0, win_filler);
  for (int v = 0; v < 256; ++v) {
    win_pop();
    win_push(v);
    unsigned char byte = 0;
    ASSERT_EQ(win_peek(&byte), 0) << v;
    EXPECT_EQ(byte, v);
  }
}

TEST(delay_window, a_reset_to_two_delays_by_one) {
  win_reset(2, win_filler);
  const char* expected[] = {nullptr, "a", "b"};
  const char pushed[] = {'a', 'b', 'c'};
  for (int step = 0; step < 3; ++step) {
    win_pop();
    win_push(pushed[step]);
    unsigned char byte = 0;
    const int filler = win_peek(&byte);
    if (expected[step] == nullptr) {
      EXPECT_EQ(filler, 1);
    } else {
      EXPECT_EQ(filler, 0);
      EXPECT_EQ(byte, expected[step][0]);
    }
  }
}

}  // namespace
