#include "platform/qt/session_bus.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform::qt::session_bus {
namespace {

using Clock = std::chrono::steady_clock;
// A bus that answers at all answers a greeting in about a millisecond, while the application
// object is still being made; waiting longer would only hold back a window the bus is not needed
// for.
constexpr auto kSettle = std::chrono::milliseconds(250);
// A bus whose backlog is full takes no connection yet: asked again after this.
constexpr int kRetryMs = 2000;
// What Qt's own users find instead of a bus that did not answer: an address libdbus refuses at
// once. Unset, libdbus would start a bus of its own through dbus-launch, and wait for it.
constexpr char kHidden[] = "disabled:";

// A socket address korvi can greet, from a D-Bus address such as "unix:path=/run/user/1000/bus"
// or "unix:abstract=/tmp/dbus-x,guid=…" (the first of a list); nullopt for other transports.
std::optional<sockaddr_un> SocketAddress(const std::string& address) {
  const std::string first = address.substr(0, address.find(';'));
  if (first.rfind("unix:", 0) != 0) return std::nullopt;
  std::string key, value;
  for (std::size_t at = 5; at <= first.size();) {
    const std::size_t end = std::min(first.find(',', at), first.size());
    const std::string pair = first.substr(at, end - at);
    const std::size_t equals = pair.find('=');
    if (equals != std::string::npos &&
        (pair.rfind("path=", 0) == 0 || pair.rfind("abstract=", 0) == 0)) {
      key = pair.substr(0, equals);
      value.clear();
      for (std::size_t i = equals + 1; i < pair.size(); ++i) {  // %XX escapes a byte
        if (pair[i] == '%' && i + 2 < pair.size()) {
          value += static_cast<char>(std::strtol(pair.substr(i + 1, 2).c_str(), nullptr, 16));
          i += 2;
        } else {
          value += pair[i];
        }
      }
    }
    at = end + 1;
  }
  sockaddr_un socket{};
  socket.sun_family = AF_UNIX;
  const std::size_t offset = key == "abstract" ? 1 : 0;  // an abstract name starts with a NUL
  if (key.empty() || value.empty() || value.size() + offset >= sizeof socket.sun_path) {
    return std::nullopt;
  }
  std::memcpy(socket.sun_path + offset, value.data(), value.size());
  return socket;
}

struct Waiting {
  QPointer<QObject> context;
  std::function<void(QDBusConnection)> use;
};

class Greeting {
 public:
  void Start();
  void Settle();
  void WhenAnswered(QObject* context, std::function<void(QDBusConnection)> use);
  const QString& Address() const { return address_; }
  bool Absent() const { return settled_ && state_ == State::kNone; }
  bool HasAnswered() const { return settled_ && state_ == State::kAnswered; }

 private:
  enum class State { kNone, kAsking, kAnswered };
  bool Open();
  // Sends what is left of the greeting and reads what came back; false once the bus is gone.
  bool Step();
  void Close();
  void Listen();
  void RunWaiting();

  State state_ = State::kNone;
  QString address_;
  sockaddr_un socket_{};
  int fd_ = -1;
  bool connected_ = false;
  std::string unsent_;
  std::string heard_;
  Clock::time_point started_;
  bool settled_ = false;
  // Answered in time, the bus is the one Qt's own users share; later, korvi has its own.
  bool shared_ = false;
  std::unique_ptr<QSocketNotifier> readable_;
  std::unique_ptr<QSocketNotifier> writable_;
  // Held by name only: a connection kept in a static would outlive Qt's own bus machinery.
  bool connected_own_ = false;
  std::vector<Waiting> waiting_;
};

Greeting& Bus() {
  static Greeting greeting;
  return greeting;
}

void Greeting::Start() {
  std::string address;
  if (const char* set = std::getenv("DBUS_SESSION_BUS_ADDRESS"); set && *set) {
    address = set;
  } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    // Where libdbus itself looks when the variable is unset.
    struct stat found {};
    const std::string path = std::string(runtime) + "/bus";
    if (stat(path.c_str(), &found) == 0 && S_ISSOCK(found.st_mode)) address = "unix:path=" + path;
  }
  started_ = Clock::now();
  address_ = QString::fromLocal8Bit(address);
  if (address.empty()) return;
  const auto socket = SocketAddress(address);
  if (!socket) {  // a transport korvi cannot greet (tcp, say): taken on trust
    state_ = State::kAnswered;
    return;
  }
  socket_ = *socket;
  const std::string uid = std::to_string(getuid());
  std::string hex;
  for (const unsigned char c : uid) {
    static constexpr char kHex[] = "0123456789abcdef";
    hex.append(1, kHex[c >> 4]).append(1, kHex[c & 15]);
  }
  // The credentials byte, then the first line of the bus's own handshake.
  unsent_ = std::string(1, '\0') + "AUTH EXTERNAL " + hex + "\r\n";
  state_ = State::kAsking;
  if (!Open() || !Step()) Close();
}

bool Greeting::Open() {
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  const socklen_t size =
      offsetof(sockaddr_un, sun_path) +
      (socket_.sun_path[0] ? std::strlen(socket_.sun_path) : 1 + std::strlen(socket_.sun_path + 1));
  if (connect(fd_, reinterpret_cast<const sockaddr*>(&socket_), size) == 0) {
    connected_ = true;
    return true;
  }
  // A full backlog: the bus takes no connection yet, which is as good as no answer yet.
  return errno == EAGAIN || errno == EINPROGRESS;
}

bool Greeting::Step() {
  if (!connected_) {
    // A pending unix connection completes or fails on the same call made again.
    ::close(fd_);
    if (!Open()) return false;
    if (!connected_) return true;
  }
  while (!unsent_.empty()) {
    const ssize_t sent = send(fd_, unsent_.data(), unsent_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    unsent_.erase(0, static_cast<std::size_t>(sent));
  }
  char buffer[256];
  for (;;) {
    const ssize_t got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got == 0) return false;
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    heard_.append(buffer, static_cast<std::size_t>(got));
    // Any whole line: OK, or a refusal of this way of signing in, which libdbus answers with
    // another. Either way the bus speaks.
    if (heard_.find("\r\n") != std::string::npos) {
      state_ = State::kAnswered;
      return true;
    }
    if (heard_.size() > 4096) return false;
  }
}

void Greeting::Close() {
  readable_.reset();
  writable_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (state_ == State::kAsking) {
    state_ = State::kNone;
    if (settled_) waiting_.clear();  // never to be answered
  }
}

void Greeting::Settle() {
  settled_ = true;
  const auto deadline = started_ + kSettle;
  while (state_ == State::kAsking) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    // Until connected, nothing tells when the bus takes the connection: look again soon.
    pollfd wait{fd_, static_cast<short>(unsent_.empty() ? POLLIN : POLLOUT), 0};
    poll(&wait, 1, connected_ ? static_cast<int>(left) : std::min<int>(10, static_cast<int>(left)));
    if (!Step()) Close();
  }
  if (state_ == State::kAnswered) {
    Close();
    shared_ = true;
    RunWaiting();
    return;
  }
  // Qt's own users (accessibility) would wait on this bus for as long as it is mute.
  qputenv("DBUS_SESSION_BUS_ADDRESS", kHidden);
  if (state_ == State::kAsking) Listen();
}

void Greeting::Listen() {
  readable_.reset();
  writable_.reset();
  const auto go_on = [this] {
    if (!Step()) {
      Close();
    } else if (state_ == State::kAnswered) {
      Close();
      RunWaiting();
    } else {
      Listen();
    }
  };
  if (!connected_) {
    QTimer::singleShot(kRetryMs, go_on);
    return;
  }
  const auto type = unsent_.empty() ? QSocketNotifier::Read : QSocketNotifier::Write;
  auto& notifier = unsent_.empty() ? readable_ : writable_;
  notifier = std::make_unique<QSocketNotifier>(fd_, type);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, go_on);
}

void Greeting::RunWaiting() {
  for (Waiting& waiting : std::exchange(waiting_, {})) {
    if (waiting.context) WhenAnswered(waiting.context, std::move(waiting.use));
  }
}

void Greeting::WhenAnswered(QObject* context, std::function<void(QDBusConnection)> use) {
  if (state_ == State::kAsking || !settled_) {
    waiting_.push_back({context, std::move(use)});
    return;
  }
  if (state_ != State::kAnswered) return;
  if (shared_) {
    use(QDBusConnection::sessionBus());
    return;
  }
  const QString name = QStringLiteral("korvi");
  if (!std::exchange(connected_own_, true)) QDBusConnection::connectToBus(address_, name);
  use(QDBusConnection(name));
}

}  // namespace

void Greet() {
  Bus().Start();
}

void Settle() {
  Bus().Settle();
}

void WhenAnswered(QObject* context, std::function<void(QDBusConnection)> use) {
  Bus().WhenAnswered(context, std::move(use));
}

bool Absent() {
  return Bus().Absent();
}

bool Answered() {
  return Bus().HasAnswered();
}

QDBusConnection Connect(const QString& name) {
  return QDBusConnection::connectToBus(Bus().Address(), name);
}

}  // namespace platform::qt::session_bus
