#include "tests/support/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <stdexcept>

namespace korvi_test {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    std::array<int, 2> fds{};
    if (pipe2(fds.data(), O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    read = fds[0];
    write = fds[1];
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (read >= 0) close(read);
    read = -1;
  }
  void CloseWrite() {
    if (write >= 0) close(write);
    write = -1;
  }
};

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

[[noreturn]] void ChildMain(const std::function<std::string()>& body, Pipe& in, Pipe& out,
                            Pipe& report) {
  dup2(in.read, STDIN_FILENO);
  dup2(out.write, STDOUT_FILENO);
  dup2(out.write, STDERR_FILENO);
  int code = 0;
  std::string text;
  try {
    text = body();
  } catch (const std::exception& e) {
    text = e.what();
    code = 1;
  }
  WriteAll(report.write, text);
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(code);
}

// Reads both pipes to their ends, or until the deadline; false when the deadline came first.
bool Collect(int out_fd, int report_fd, std::string& output, std::string& report,
             Clock::time_point deadline) {
  std::array<pollfd, 2> fds{{{out_fd, POLLIN, 0}, {report_fd, POLLIN, 0}}};
  std::array<std::string*, 2> into{&output, &report};
  int open = 2;
  while (open > 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    const int ready = poll(fds.data(), fds.size(), static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return false;
    for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      std::array<char, 4096> chunk{};
      const ssize_t n = read(fds[i].fd, chunk.data(), chunk.size());
      if (n > 0) {
        into[i]->append(chunk.data(), static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  return true;
}

}  // namespace

std::string ChildResult::Describe() const {
  std::string text = timed_out     ? "killed at the time limit"
                     : signal != 0 ? "ended by signal " + std::to_string(signal)
                                   : "exit code " + std::to_string(exit_code);
  if (!report.empty()) text += "; report: " + report;
  if (!output.empty()) text += "; output: " + output;
  return text;
}

ChildResult RunInChild(const std::function<std::string()>& body, const std::string& input,
                       std::chrono::milliseconds limit) {
  Pipe in, out, report;
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) ChildMain(body, in, out, report);

  in.CloseRead();
  out.CloseWrite();
  report.CloseWrite();
  // A child that exits without reading its input must not take the test process with it.
  static const bool kPipeSignalIgnored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)kPipeSignalIgnored;
  WriteAll(in.write, input);
  in.CloseWrite();

  ChildResult result;
  if (!Collect(out.read, report.read, result.output, result.report, Clock::now() + limit)) {
    result.timed_out = true;
    kill(pid, SIGKILL);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace korvi_test
