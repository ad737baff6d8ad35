// Why a step of the run failed: the message the run shows for it.
#pragma once

#include <string>

struct run_failure {
  std::string message;    // as written, with its line end where it has one
  std::string result_in;  // where the whole result is, told once by the run
};

// "CALL error: NAME" and its line end; false, for the step to return.
inline bool failed(run_failure* why, const char* call, const std::string& name) {
  why->message = std::string(call) + " error: " + name + "\n";
  return false;
}
