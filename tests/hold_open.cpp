// Holds a file open for writing, as a program that logs to it does, until it
// is killed: hold_open NAME makes the file "ready" once NAME is open.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const HANDLE h =
      CreateFileA(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE || std::fclose(std::fopen("ready", "wb")) != 0) return 1;
  Sleep(INFINITE);
}
