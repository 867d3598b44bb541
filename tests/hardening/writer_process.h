#pragma once
// The settings_writer helper as a child process: started, told to go, killed, waited for.

#include <sys/types.h>

#include <string>
#include <vector>

namespace korvi_test {

class WriterProcess {
 public:
  // Starts settings_writer with `args`; with `wait`, it holds until Go().
  WriterProcess(const std::vector<std::string>& args, bool wait);
  ~WriterProcess();
  WriterProcess(const WriterProcess&) = delete;
  WriterProcess& operator=(const WriterProcess&) = delete;

  void Go();
  // Blocks until the writer says it is about to write; false when it ended first.
  bool AwaitStart();
  void Kill();
  // The exit status, or 128 + the signal that ended it.
  int Wait();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  int status_ = -1;
};

}  // namespace korvi_test
