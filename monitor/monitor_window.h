#pragma once
// The program's one window: its design, its variables and its four handlers.

#include <cstdint>
#include <functional>
#include <string>

#include "monitor/change_rules.h"
#include "platform/window.h"
#include "probe/echo_reply.h"

class Form1 : public platform::FormEvents {
 public:
  // How a tick probes; the real echo probe unless a test injects a result that no real host
  // can produce.
  using Probe = std::function<std::int32_t(const std::wstring& address, const std::wstring& payload,
                                           EchoReply& reply)>;

  static platform::FormDesign Design();
  // The log box keeps the newest lines that fit in this many characters.
  static constexpr std::size_t kLogLimit = 1000;

  explicit Form1(platform::Form& window);
  Form1(platform::Form& window, Probe probe);

  void Form_Load() override;
  void Form_Unload(std::int16_t& cancel) override;
  void Timer1_Timer() override;
  void Form_MouseMove(std::int16_t button, std::int16_t shift, float x, float y) override;

  // What the handlers keep from one call to the next; public, so that tests can read it.
  std::wstring AppDir;
  std::wstring LastReply;
  std::wstring Icon1File;
  std::int16_t Red1 = 0;
  std::int16_t Green1 = 0;
  std::int16_t Blue1 = 0;
  std::wstring Icon2File;
  std::int16_t Red2 = 0;
  std::int16_t Green2 = 0;
  std::int16_t Blue2 = 0;

 private:
  platform::Form& me_;
  Probe probe_;
  // [setting] misses and notify: one lost reply shows, and nothing is notified, unless
  // korvi.ini says otherwise.
  change_rules::Rules rules_;
};
