#include "tests/hardening/writer_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace korvi_test {

WriterProcess::WriterProcess(const std::vector<std::string>& args, bool wait) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  std::vector<std::string> argv = {KORVI_SETTINGS_WRITER};
  if (wait) argv.push_back("--wait");
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (auto& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  to_child_ = in[1];
  from_child_ = out[0];
}

WriterProcess::~WriterProcess() {
  if (status_ < 0) {
    Kill();
    Wait();
  }
  close(to_child_);
  close(from_child_);
}

void WriterProcess::Go() {
  if (write(to_child_, "g", 1) != 1) throw std::runtime_error("the writer is gone before its go");
}

bool WriterProcess::AwaitStart() {
  char byte = 0;
  ssize_t n;
  do {
    n = read(from_child_, &byte, 1);
  } while (n < 0 && errno == EINTR);
  return n == 1;
}

void WriterProcess::Kill() {
  kill(pid_, SIGKILL);
}

int WriterProcess::Wait() {
  if (status_ >= 0) return status_;
  int raw = 0;
  while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
  }
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

}  // namespace korvi_test
