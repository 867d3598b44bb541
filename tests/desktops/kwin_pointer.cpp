// A left click at x, y on a KWin session, as a mouse would give it: through KWin's fake-input
// protocol, so the click reaches whatever is drawn there (a panel, a tray entry, a window).
// KWin grants the protocol to any client when started with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1.
//   kwin_pointer X Y
#include <linux/input-event-codes.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// org_kde_kwin_fake_input (version 4) as its XML declares it, requests in order; Debian ships
// the XML but no client header.
const wl_interface* kTypes[] = {nullptr, nullptr, nullptr};
const wl_message kRequests[] = {
    {"authenticate", "ss", kTypes}, {"pointer_motion", "ff", kTypes},
    {"button", "uu", kTypes},       {"axis", "uf", kTypes},
    {"touch_down", "2uff", kTypes}, {"touch_motion", "2uff", kTypes},
    {"touch_up", "2u", kTypes},     {"touch_cancel", "2", kTypes},
    {"touch_frame", "2", kTypes},   {"pointer_motion_absolute", "3ff", kTypes},
    {"keyboard_key", "4uu", kTypes}};
const wl_interface kFakeInput = {"org_kde_kwin_fake_input", 4, 11, kRequests, 0, nullptr};
enum Request { kAuthenticate = 0, kButton = 2, kMotionAbsolute = 9 };

void Global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  if (std::strcmp(interface, kFakeInput.name) == 0)
    *static_cast<wl_proxy**>(data) =
        static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kFakeInput, 4));
}

void GlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {Global, GlobalRemove};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kwin_pointer X Y\n");
    return 2;
  }
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    std::fprintf(stderr, "kwin_pointer: no Wayland display (WAYLAND_DISPLAY)\n");
    return 1;
  }
  wl_proxy* input = nullptr;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, &input);
  wl_display_roundtrip(display);
  if (!input) {
    std::fprintf(stderr, "kwin_pointer: the compositor offers no %s\n", kFakeInput.name);
    return 1;
  }
  wl_proxy_marshal(input, kAuthenticate, "korvi tests", "clicks korvi's tray entry");
  wl_proxy_marshal(input, kMotionAbsolute, wl_fixed_from_int(std::atoi(argv[1])),
                   wl_fixed_from_int(std::atoi(argv[2])));
  // Plasma's tray takes a press that comes with the pointer's arrival for no click: the
  // pointer rests on the entry first, and the button stays down a moment, as a hand's would.
  wl_display_roundtrip(display);
  usleep(200000);
  wl_proxy_marshal(input, kButton, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
  wl_display_roundtrip(display);
  usleep(100000);
  wl_proxy_marshal(input, kButton, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
  // Returns once KWin has handled every request above.
  const int status = wl_display_roundtrip(display) < 0 ? 1 : 0;
  wl_proxy_destroy(input);
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return status;
}
