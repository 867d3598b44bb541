// The tray entry through the system's shell (Wine's explorer, docked into the test's tray
// host): the program's 88-byte record must reach the shell as the native record.
#include "platform/notify.h"

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "monitor/monitor_window.h"
#include "platform/window.h"
#include "tests/win32/window_test_support.h"

namespace {

using win32_test::Native;

platform::NotifyIconData Record(const platform::Form& form, const char* tip) {
  platform::NotifyIconData data{};
  data.cbSize = sizeof data;
  data.hWnd = form.Hwnd();
  data.uID = 100;
  data.uFlags = platform::kNifMessage | platform::kNifIcon | platform::kNifTip;
  data.uCallbackMessage = 512;
  data.hIcon = form.Icon();
  std::memset(data.szTip, ' ', sizeof data.szTip);
  std::memcpy(data.szTip, tip, std::min(std::strlen(tip), sizeof data.szTip));
  return data;
}

// Removes the entry behind the program's back, as a shell that crashes loses it.
bool ShellForgets(HWND window) {
  NOTIFYICONDATAW entry{};
  entry.cbSize = NOTIFYICONDATAW_V1_SIZE;
  entry.hWnd = window;
  entry.uID = 100;
  return Shell_NotifyIconW(NIM_DELETE, &entry) != FALSE;
}

TEST(Win32Notify, TheShellTakesAddModifyAndDeleteOfTheRecord) {
  const auto form = platform::CreateForm(Form1::Design());
  // A tip that fills the field with no NUL must not be read past.
  const char* tips[] = {"B\0", "0123456789012345678901234567890123456789012345678901234567890123"};
  for (const char* tip : tips) {
    platform::NotifyIconData data = Record(*form, tip);
    EXPECT_TRUE(platform::Shell_NotifyIconA(platform::kNimAdd, &data)) << tip;
    EXPECT_FALSE(platform::Shell_NotifyIconA(platform::kNimAdd, &data)) << "added twice";
    EXPECT_TRUE(platform::Shell_NotifyIconA(platform::kNimModify, &data));
    EXPECT_TRUE(platform::Shell_NotifyIconA(platform::kNimDelete, &data));
    EXPECT_FALSE(platform::Shell_NotifyIconA(platform::kNimModify, &data)) << "still there";
    EXPECT_FALSE(platform::Shell_NotifyIconA(platform::kNimDelete, &data));
  }
}

TEST(Win32Notify, ARestartedShellGetsTheEntryBack) {
  const auto form = platform::CreateForm(Form1::Design());
  const HWND window = Native(*form);
  const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  platform::NotifyIconData data = Record(*form, "B");
  bool modified_after_restart = false;

  win32_test::RecordingEvents events;
  events.on_load = [&] {
    ASSERT_TRUE(platform::Shell_NotifyIconA(platform::kNimAdd, &data));
    ASSERT_TRUE(ShellForgets(window));
    ASSERT_FALSE(platform::Shell_NotifyIconA(platform::kNimModify, &data));
    PostMessageW(window, taskbar_created, 0, 0);
    form->Timer1().SetInterval(50);
  };
  events.on_tick = [&](int) {
    modified_after_restart = platform::Shell_NotifyIconA(platform::kNimModify, &data);
    win32_test::PressClose(window);
  };
  EXPECT_EQ(platform::RunForm(*form, events), 0);
  EXPECT_TRUE(modified_after_restart);
}

TEST(Win32Notify, AProgramEndingOnAnErrorLeavesNoEntry) {
  const auto form = platform::CreateForm(Form1::Design());
  const HWND window = Native(*form);
  platform::NotifyIconData data = Record(*form, "B");
  win32_test::RecordingEvents events;
  events.on_load = [&] {
    ASSERT_TRUE(platform::Shell_NotifyIconA(platform::kNimAdd, &data));
    form->Timer1().SetInterval(20);
  };
  events.on_tick = [](int) { throw platform::RuntimeError("cannot load the icon file"); };
  bool entry_at_box = true;
  win32_test::ErrorBoxWatcher watcher(window, [&] { entry_at_box = ShellForgets(window); });

  EXPECT_EQ(platform::RunForm(*form, events), 1);
  EXPECT_EQ(watcher.Text(), "cannot load the icon file");
  EXPECT_FALSE(entry_at_box) << "the entry outlived the program";
}

}  // namespace
