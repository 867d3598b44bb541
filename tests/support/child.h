#pragma once
// Runs a piece of a test in a forked child of the test process: for what must not touch the
// test process itself (dropping root, entering a namespace for good, exec).

#include <chrono>
#include <functional>
#include <string>

namespace korvi_test {

struct ChildResult {
  int exit_code = -1;      // -1 when the child did not exit by itself
  int signal = 0;          // the signal that ended it, if one did
  bool timed_out = false;  // killed at the time limit
  std::string report;      // what the body returned: empty when all was well
  std::string output;      // everything the child wrote to standard output and error

  bool ok() const { return exit_code == 0 && report.empty(); }
  std::string Describe() const;  // for a failure message
};

// Forks, feeds `input` to the child's standard input, runs `body` there and exits with 0, or
// with 1 when the body throws (its message becomes the report). The child is killed when it is
// still running after `limit`.
ChildResult RunInChild(const std::function<std::string()>& body, const std::string& input = {},
                       std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace korvi_test
