// Gives a headless wlroots compositor (sway) a pointer: one virtual pointer device, held
// until this program is stopped or the compositor ends. A headless seat has no pointer, so its
// clients never ask for pointer events and the compositor's own cursor commands reach nobody; and a
// device that comes and goes at once crashes sway 1.7 (clients ask for a pointer the seat no longer
// has). Prints "ready" once the compositor has the device.
#include <wayland-client.h>

#include <cstdio>
#include <cstring>

namespace {

// The two interfaces of the wlroots virtual pointer protocol (version 1), as its XML
// declares them; Debian ships no client header for it.
extern const wl_interface kPointerInterface;
const wl_interface* kTypes[] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, &wl_seat_interface, &kPointerInterface};
const wl_message kManagerRequests[] = {{"create_virtual_pointer", "?on", kTypes + 5},
                                       {"destroy", "", kTypes}};
const wl_interface kManagerInterface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, kManagerRequests, 0, nullptr};
const wl_message kPointerRequests[] = {
    {"motion", "uff", kTypes},   {"motion_absolute", "uuuuu", kTypes},
    {"button", "uuu", kTypes},   {"axis", "uuf", kTypes},
    {"frame", "", kTypes},       {"axis_source", "u", kTypes},
    {"axis_stop", "uu", kTypes}, {"axis_discrete", "uufi", kTypes},
    {"destroy", "", kTypes}};
const wl_interface kPointerInterface = {"zwlr_virtual_pointer_v1", 1, 9,
                                        kPointerRequests,          0, nullptr};

struct Globals {
  wl_proxy* manager = nullptr;
  wl_proxy* seat = nullptr;
};

void Global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  auto* globals = static_cast<Globals*>(data);
  if (std::strcmp(interface, kManagerInterface.name) == 0) {
    globals->manager =
        static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kManagerInterface, 1));
  } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals->seat) {
    globals->seat = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  }
}

void GlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {Global, GlobalRemove};

}  // namespace

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    std::fprintf(stderr, "pointer_device: no Wayland display (WAYLAND_DISPLAY)\n");
    return 1;
  }
  Globals globals;
  wl_registry_add_listener(wl_display_get_registry(display), &kRegistryListener, &globals);
  wl_display_roundtrip(display);
  if (!globals.manager || !globals.seat) {
    std::fprintf(stderr, "pointer_device: the compositor offers no %s\n", kManagerInterface.name);
    return 1;
  }
  wl_proxy* pointer =
      wl_proxy_marshal_constructor(globals.manager, 0, &kPointerInterface, globals.seat, nullptr);
  if (!pointer || wl_display_roundtrip(display) < 0) {
    std::fprintf(stderr, "pointer_device: the compositor refused the device\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  while (wl_display_dispatch(display) >= 0) {
  }
  return 0;  // the compositor went
}
