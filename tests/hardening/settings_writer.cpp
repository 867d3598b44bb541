// Writes values into a settings file the way korvi's close does, one WriteIni per value, for
// tests that kill it or race two of it.
//   settings_writer [--wait] FILE SECTION KEY=VALUE...
// Writes one byte to standard output when it is about to write; with --wait, first reads one
// byte from standard input, so that a test can start several at the same moment.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/ansi.h"
#include "settings/ini.h"

int main(int argc, char** argv) {
  int first = 1;
  const bool wait = argc > 1 && std::strcmp(argv[1], "--wait") == 0;
  if (wait) ++first;
  if (argc - first < 3) {
    std::fprintf(stderr, "usage: settings_writer [--wait] FILE SECTION KEY=VALUE...\n");
    return 2;
  }
  char go = 0;
  if (wait && read(0, &go, 1) != 1) return 3;
  ini::IniFile = platform::FromAnsi(argv[first]);
  const std::wstring section = platform::FromAnsi(argv[first + 1]);
  if (write(1, "w", 1) != 1) return 3;
  for (int i = first + 2; i < argc; ++i) {
    const std::string pair = argv[i];
    const std::size_t eq = pair.find('=');
    if (eq == std::string::npos) return 2;
    if (!ini::WriteIni(section, platform::FromAnsi(pair.substr(0, eq)),
                       platform::FromAnsi(pair.substr(eq + 1)))) {
      return 1;
    }
  }
  return 0;
}
