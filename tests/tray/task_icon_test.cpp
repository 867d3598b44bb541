// The tray record on a real window and the real notification-area backend.
#include "tray/task_icon.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "monitor/monitor_window.h"
#include "platform/notify.h"
#include "platform/window.h"

namespace {

std::unique_ptr<platform::Form> WindowCaptioned(const std::wstring& caption) {
  platform::FormDesign design = Form1::Design();
  design.caption = caption;
  return platform::CreateForm(design);
}

std::uint32_t Word(const std::array<unsigned char, 88>& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// Whether the window has an entry: removing one that exists is the only request that tells.
bool HasEntry(const platform::Form& window) {
  platform::NotifyIconData probe{};
  probe.cbSize = sizeof probe;
  probe.hWnd = window.Hwnd();
  probe.uID = TaskIcon::kEntryId;
  return platform::Shell_NotifyIconA(platform::kNimDelete, &probe);
}

TEST(TaskIcon, RecordBytesAreTheShellsLayout) {
  const auto window = WindowCaptioned(L"B");
  TaskIcon::SetTrayIcon(L"none", *window);
  std::array<unsigned char, 88> bytes;
  std::memcpy(bytes.data(), &TaskIcon::nid, bytes.size());

  EXPECT_EQ(Word(bytes, 0), 88u);
  EXPECT_EQ(Word(bytes, 4), window->Hwnd());
  EXPECT_EQ(Word(bytes, 8), 100u);
  EXPECT_EQ(Word(bytes, 12), 7u);
  EXPECT_EQ(Word(bytes, 16), 512u);
  EXPECT_EQ(Word(bytes, 20), window->Icon());
  EXPECT_NE(window->Icon(), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[24]), 64),
            std::string("B\0", 2) + std::string(62, ' '));
}

TEST(TaskIcon, TipKeepsItsTerminatingNul) {
  const struct {
    std::wstring caption;
    std::string tip;  // what the shell reads, up to the NUL
  } cases[] = {
      {L"", ""},
      {std::wstring(63, L'a'), std::string(63, 'a')},
      {std::wstring(64, L'a'), std::string(63, 'a')},
      {std::wstring(200, L'a'), std::string(63, 'a')},
      // 31 two-byte characters fill 62 bytes; the 32nd would not fit whole.
      {std::wstring(40, L'\u00e9'),
       [] {
         std::string s;
         for (int i = 0; i < 31; ++i) s += "\xc3\xa9";
         return s;
       }()},
  };
  for (const auto& c : cases) {
    const auto window = WindowCaptioned(c.caption);
    TaskIcon::SetTrayIcon(L"MODIFY", *window);
    const char* tip = TaskIcon::nid.szTip;
    const std::size_t length = strnlen(tip, 64);
    ASSERT_LT(length, 64u) << "no NUL for a caption of " << c.caption.size();
    EXPECT_EQ(std::string(tip, length), c.tip);
    for (std::size_t i = length + 1; i < 64; ++i) EXPECT_EQ(tip[i], ' ') << "byte " << i;
  }
}

TEST(TaskIcon, OnlyTheThreeActionsInExactCaseReachTheShell) {
  const auto window = WindowCaptioned(L"B");
  for (const wchar_t* ignored : {L"add", L"Add", L"ADD ", L"", L"REMOVE"}) {
    TaskIcon::SetTrayIcon(ignored, *window);
    EXPECT_FALSE(HasEntry(*window)) << "entry added by an ignored action";
  }
  TaskIcon::SetTrayIcon(L"ADD", *window);
  TaskIcon::SetTrayIcon(L"delete", *window);
  EXPECT_TRUE(HasEntry(*window)) << "\"delete\" removed the entry";

  TaskIcon::SetTrayIcon(L"ADD", *window);
  TaskIcon::SetTrayIcon(L"MODIFY", *window);
  TaskIcon::SetTrayIcon(L"DELETE", *window);
  EXPECT_FALSE(HasEntry(*window)) << "\"DELETE\" left the entry";
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  platform::Application application(argc, argv);
  return RUN_ALL_TESTS();
}
