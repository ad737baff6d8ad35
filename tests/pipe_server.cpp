// A named pipe server that gives every client a reply of its own, as some
// services do: a reader that opened the pipe twice would see only the second.
//   pipe_server NAME: serves "client 1,\r\n", "client 2,\r\n"... and makes the
//   file "ready" once the pipe exists.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  for (int client = 1;; ++client) {
    HANDLE pipe = CreateNamedPipeA(argv[1], PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                   4096, 4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return 1;
    if (client == 1 && std::fclose(std::fopen("ready", "wb")) != 0) return 1;
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return 1;
    const std::string reply = "client " + std::to_string(client) + ",\r\n";
    DWORD put;
    if (!WriteFile(pipe, reply.data(), static_cast<DWORD>(reply.size()), &put, nullptr)) return 1;
    FlushFileBuffers(pipe);
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
  }
}
