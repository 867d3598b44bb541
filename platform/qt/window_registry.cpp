#include <cstdint>
#include <map>

#include "platform/qt/backend.h"
#include "platform/qt/window_form.h"

namespace platform::qt {

std::map<std::uint32_t, QtForm*>& Forms() {
  static std::map<std::uint32_t, QtForm*> forms;
  return forms;
}

void DeliverWindowMessage(std::uint32_t hwnd, std::uint32_t message, std::uint32_t param) {
  if (auto it = Forms().find(hwnd); it != Forms().end()) it->second->Deliver(message, param);
}

void StopAllTimers() {
  for (auto& [hwnd, form] : Forms()) form->Ticks().Run(false);
}

}  // namespace platform::qt
