#include "trim/delay_window.h"

delay_window the_window;

int32_t win_next(int32_t i) {
  return (i + 1) % win_slots;
}

int win_is_empty() {
  return the_window.head == the_window.tail ? 1 : 0;
}

int32_t win_count() {
  const delay_window& w = the_window;
  if (w.head < w.tail) return w.tail - w.head;
  if (w.head == w.tail) return 0;
  return w.tail + win_slots - w.head;
}

int win_pop() {
  delay_window& w = the_window;
  if (win_is_empty()) return 2;
  w.slots[w.head] = win_filler;
  w.head = win_next(w.head);
  return 1;
}

int win_push(int32_t v) {
  delay_window& w = the_window;
  if (win_next(w.tail) == w.head) return 3;
  w.slots[w.tail] = v;
  w.tail = win_next(w.tail);
  return 0;
}

void win_clear() {
  for (int32_t n = win_count(); n > 0; --n) win_pop();
}

int32_t win_reset(int32_t n, int32_t f) {
  win_clear();
  for (int32_t i = 0; i < n; ++i) {
    if (win_push(f) != 0) break;
  }
  return win_count();
}

int win_peek(unsigned char* byte) {
  const int32_t v = the_window.slots[the_window.head];
  *byte = static_cast<unsigned char>(v & 0xff);
  return v == win_filler ? 1 : 0;
}
