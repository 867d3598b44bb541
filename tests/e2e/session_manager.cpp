// A session manager (XSMP over ICE) with one job: end the session of the programs that join it.
// Prints "SESSION_MANAGER=<address>", then "registered" for each client; on a line "end" from
// standard input asks each to save itself for a shutdown and, once it has, tells it to die.
#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<SmsConn> clients;

Status Register(SmsConn conn, SmPointer, char* previous) {
  char* id = previous ? previous : SmsGenerateClientID(conn);
  SmsRegisterClientReply(conn, id);
  std::printf("registered\n");
  std::fflush(stdout);
  clients.push_back(conn);
  return 1;
}
void SaveDone(SmsConn conn, SmPointer, Bool) {
  SmsDie(conn);
}
void Nothing(SmsConn, SmPointer) {}
void InteractRequest(SmsConn, SmPointer, int) {}
void InteractDone(SmsConn, SmPointer, Bool) {}
void SaveRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}
void Closed(SmsConn conn, SmPointer, int count, char** reasons) {
  SmFreeReasons(count, reasons);
  std::erase(clients, conn);
  SmsCleanUp(conn);
}
void SetProperties(SmsConn, SmPointer, int count, SmProp** props) {
  for (int i = 0; i < count; ++i) SmFreeProperty(props[i]);
  std::free(props);
}
void DeleteProperties(SmsConn, SmPointer, int count, char** names) {
  for (int i = 0; i < count; ++i) std::free(names[i]);
  std::free(names);
}
void GetProperties(SmsConn conn, SmPointer) {
  SmsReturnProperties(conn, 0, nullptr);
}

Status NewClient(SmsConn, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**) {
  std::memset(callbacks, 0, sizeof *callbacks);
  callbacks->register_client.callback = Register;
  callbacks->interact_request.callback = InteractRequest;
  callbacks->interact_done.callback = InteractDone;
  callbacks->save_yourself_request.callback = SaveRequest;
  callbacks->save_yourself_phase2_request.callback = Nothing;
  callbacks->save_yourself_done.callback = SaveDone;
  callbacks->close_connection.callback = Closed;
  callbacks->set_properties.callback = SetProperties;
  callbacks->delete_properties.callback = DeleteProperties;
  callbacks->get_properties.callback = GetProperties;
  *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
          SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
          SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
          SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
  return 1;
}

Bool AnyHost(char*) {
  return True;
}

}  // namespace

int main() {
  char error[256] = {};
  if (!SmsInitialize("korvi-test", "1.0", NewClient, nullptr, AnyHost, sizeof error, error)) {
    std::fprintf(stderr, "session_manager: %s\n", error);
    return 1;
  }
  int count = 0;
  IceListenObj* listeners = nullptr;
  if (!IceListenForConnections(&count, &listeners, sizeof error, error)) {
    std::fprintf(stderr, "session_manager: %s\n", error);
    return 1;
  }
  for (int i = 0; i < count; ++i) IceSetHostBasedAuthProc(listeners[i], AnyHost);
  std::printf("SESSION_MANAGER=%s\n", IceComposeNetworkIdList(count, listeners));
  std::fflush(stdout);

  std::vector<IceConn> connections;
  for (;;) {
    std::vector<pollfd> fds{{0, POLLIN, 0}};
    for (int i = 0; i < count; ++i)
      fds.push_back({IceGetListenConnectionNumber(listeners[i]), POLLIN, 0});
    for (IceConn conn : connections) fds.push_back({IceConnectionNumber(conn), POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) return 1;
    if (fds[0].revents) {
      char line[64] = {};
      if (!std::fgets(line, sizeof line, stdin)) return 0;
      for (SmsConn client : clients) {
        SmsSaveYourself(client, SmSaveLocal, True, SmInteractStyleNone, False);
      }
    }
    for (int i = 0; i < count; ++i) {
      if (!fds[1 + i].revents) continue;
      IceAcceptStatus status;
      if (IceConn conn = IceAcceptConnection(listeners[i], &status)) connections.push_back(conn);
    }
    for (std::size_t i = 0; i < connections.size(); ++i) {
      if (!fds[1 + count + i].revents) continue;
      if (IceProcessMessages(connections[i], nullptr, nullptr) == IceProcessMessagesIOError) {
        IceCloseConnection(connections[i]);
        connections.erase(connections.begin() + static_cast<long>(i));
        break;
      }
    }
  }
}
