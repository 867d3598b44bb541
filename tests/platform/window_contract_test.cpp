// The window contract, one table for every backend: the Qt window on an X server of the test's
// own, and the Win32 window on Wine's user32.
#include "tests/platform/window_contract.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "monitor/monitor_window.h"
#include "platform/ansi.h"
#include "platform/notify.h"
#include "tests/support/files.h"

namespace window_contract {

namespace {

using platform::RuntimeError;

TEST(Window, LaysOutTheDesignInPixelsAndTabsInTheDesignsOrder) {
  struct Row {
    int text1_tab;
    int text2_tab;
    std::vector<std::string> tab_order;
  };
  const Row rows[] = {{0, 1, {"Text1", "Text2"}}, {1, 0, {"Text2", "Text1"}}};
  for (const Row& row : rows) {
    platform::FormDesign design = Form1::Design();
    design.text1.tab_index = row.text1_tab;
    design.text2.tab_index = row.text2_tab;
    const auto form = platform::CreateForm(design);
    form->Show();
    const NativeWindow native = Inspect(*form);
    EXPECT_EQ(native.client_width, 104);
    EXPECT_EQ(native.client_height, 89);
    EXPECT_TRUE(native.tool_window);
    EXPECT_FALSE(native.sizable);
    EXPECT_TRUE(native.close_button);
    EXPECT_FALSE(native.minimize_or_maximize);
    // Wider than the client area, and overlapping by two pixels: as designed.
    EXPECT_EQ(native.text1, (Box{0, 0, 105, 18, false, false}));
    EXPECT_EQ(native.text2, (Box{0, 16, 105, 89, true, true}));
    EXPECT_EQ(native.tab_order, row.tab_order);
    EXPECT_EQ(form->Caption(), L"B");
    EXPECT_NE(form->Hwnd(), 0u);
    EXPECT_NE(form->Icon(), 0u) << "the first icon has a handle like any other";
  }
}

TEST(Window, PlacesTheWindowInWholePixelsAndRefusesWhatNoScreenHolds) {
  struct Row {
    float twips;
    float read_back;  // NaN: refused
  };
  const float refused = std::numeric_limits<float>::quiet_NaN();
  const Row rows[] = {
      {1500, 1500},
      {-1200, -1200},
      {0, 0},
      {22, 15},  // the screen has whole pixels only
      {1507, 1500},
      {1508, 1515},
      {491505, 491505},
      {491520, refused},
      {-491520, refused},
      {1e9f, refused},
      {std::numeric_limits<float>::infinity(), refused},
      {refused, refused},
  };
  const auto form = platform::CreateForm(Form1::Design());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.twips);
    form->SetTop(300);
    form->SetLeft(450);
    if (std::isnan(row.read_back)) {
      EXPECT_THROW(form->SetTop(row.twips), RuntimeError);
      EXPECT_THROW(form->SetLeft(row.twips), RuntimeError);
      EXPECT_EQ(form->Top(), 300);
      EXPECT_EQ(form->Left(), 450);
    } else {
      form->SetTop(row.twips);
      EXPECT_EQ(form->Top(), row.read_back);
      EXPECT_EQ(form->Left(), 450) << "setting the top keeps the left";
      form->SetLeft(row.twips);
      EXPECT_EQ(form->Left(), row.read_back);
      EXPECT_EQ(form->Top(), row.read_back);
    }
  }
}

TEST(Window, EditBoxesKeepTheirTextAndTheLogPaintsItsColour) {
  struct Row {
    int box;
    std::wstring text;
    std::uint32_t colour;
  };
  const Row rows[] = {
      {2, L"", 0x90EE90},
      {2, L"12:00:01 :  0\r\n", 0xAAAAFF},
      {2, L"a\r\nb\r\n\r\nc", 10 + 256 * 200 + 65536 * 30},
      {2, L"12:00:00 :  0\r\nGr\u00fc\u00dfe \u4e00\r\n", 0},
      {1, L" 127.0.0.1 ", 0xFFFFFF},
  };
  const auto form = platform::CreateForm(Form1::Design());
  form->Show();
  for (const Row& row : rows) {
    platform::EditBox& box = row.box == 1 ? form->Text1() : form->Text2();
    box.SetText(row.text);
    EXPECT_EQ(box.Text(), row.text);
    form->Text2().SetBackColor(row.colour);
    EXPECT_EQ(LogBackColor(*form), row.colour);
  }
}

TEST(Window, IconsComeFromFilesAndAFailureNamesTheFileAndKeepsTheIcon) {
  TempFolder folder;
  const auto file = [&folder](const char* name, const std::string& bytes) {
    WriteBytes(folder / name, bytes);
    return platform::FromAnsi(folder / name);
  };
  const std::string png(
      "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\1\0\0\0\1\x08\x06\0\0\0\x1f\x15\xc4\x89\0\0\0\nIDATx"
      "\x9c\x63\0\1\0\0\5\0\1\x0d\x0a\x2d\xb4\0\0\0\0IEND\xae\x42\x60\x82",
      67);
  struct Row {
    std::wstring path;
    std::string reason;
  };
  const Row rows[] = {
      {platform::FromAnsi(folder / "missing.ico"), "No such file or directory"},
      {platform::FromAnsi(folder.path + "/"), "folder"},
      {L"", "no file name"},
      {file("empty.ico", ""), "not an icon"},
      {file("junk.ico", std::string("\0\0\1\0\xff\xff junk", 12)), "not an icon"},
      {file("text.ico", "[main]\ntop=1\n"), "not an icon"},
      {file("picture.png", png), "not an icon"},
  };
  const auto form = platform::CreateForm(Form1::Design());
  form->SetIconFromFile(Asset("korvi-up.ico"));
  const std::uint32_t up = form->Icon();
  for (const Row& row : rows) {
    SCOPED_TRACE(platform::ToAnsi(row.path));
    try {
      form->SetIconFromFile(row.path);
      ADD_FAILURE() << "loaded";
    } catch (const RuntimeError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("\"" + platform::ToAnsi(row.path) + "\""), std::string::npos) << what;
      if (kExplainsIconFailures) {
        EXPECT_NE(what.find(row.reason), std::string::npos) << what;
      }
    }
    EXPECT_EQ(form->Icon(), up) << "a failed load keeps the icon";
  }
  form->SetIconFromFile(Asset("korvi-down.ico"));
  EXPECT_NE(form->Icon(), up);
}

TEST(Window, TicksUntilClosedAndClosesOnlyWhenUnloadAllows) {
  const auto form = platform::CreateForm(Form1::Design());
  EXPECT_THROW(form->Timer1().SetInterval(-1), RuntimeError);
  EXPECT_EQ(form->Timer1().Interval(), 10000);
  RecordingEvents events;
  events.on_load = [&] { form->Timer1().SetInterval(20); };
  events.on_tick = [&](int tick) {
    if (tick == 3 || tick == 5) PressClose(*form);
  };
  events.on_unload = [&](std::int16_t& cancel) { cancel = events.unloads == 1 ? 1 : 0; };
  EXPECT_EQ(platform::RunForm(*form, events), 0);
  EXPECT_EQ(events.loads, 1);
  EXPECT_EQ(events.unloads, 2) << "the first close was cancelled";
  EXPECT_GE(events.ticks, 5);
}

TEST(Window, IntervalZeroStopsTheTicks) {
  const auto form = platform::CreateForm(Form1::Design());
  RecordingEvents events;
  events.on_load = [&] {
    form->Timer1().SetInterval(20);
    form->Timer1().SetInterval(0);
    PressClose(*form, 300);
  };
  EXPECT_EQ(platform::RunForm(*form, events), 0);
  EXPECT_EQ(events.ticks, 0);
}

TEST(Window, TrayCallbacksReachTheMouseHandlerAsTwips) {
  struct Row {
    std::uint32_t message;
    std::uint32_t code;
    std::vector<float> mouse_x;
  };
  const Row rows[] = {
      {512, 513, {7695}},           {512, 514, {7710}}, {512, 517, {7755}},
      {512, 520, {7800}},           {513, 514, {}},  // not the callback message
      {512, 0x10000 + 514, {7710}},                  // only the low part carries the code
  };
  const auto form = platform::CreateForm(Form1::Design());
  RecordingEvents events;
  events.on_load = [&] {
    for (const Row& row : rows) SendTrayMessage(*form, row.message, row.code);
    PressClose(*form);
  };
  EXPECT_EQ(platform::RunForm(*form, events), 0);
  std::vector<float> expected;
  for (const Row& row : rows)
    expected.insert(expected.end(), row.mouse_x.begin(), row.mouse_x.end());
  EXPECT_EQ(events.mouse_x, expected);
}

TEST(Window, AHandlersErrorIsReportedAndEndsTheRunWithoutUnloadOrTrayEntry) {
  const std::string message = "C:\\korvi\\korvi.ini, [main] top = \"x\" is not a number";
  for (const bool in_load : {true, false}) {
    SCOPED_TRACE(in_load ? "in Form_Load" : "in Timer1_Timer");
    const auto form = platform::CreateForm(Form1::Design());
    platform::NotifyIconData entry{};
    entry.cbSize = sizeof entry;
    entry.hWnd = form->Hwnd();
    entry.uID = 100;
    entry.uFlags = platform::kNifIcon;
    entry.hIcon = form->Icon();
    RecordingEvents events;
    events.on_load = [&] {
      platform::Shell_NotifyIconA(platform::kNimAdd, &entry);
      if (in_load) throw RuntimeError(message);
      form->Timer1().SetInterval(20);
    };
    events.on_tick = [&](int) { throw RuntimeError(message); };
    const Outcome outcome = RunAnswering(*form, events);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.box, message);
    EXPECT_EQ(outcome.standard_error, "korvi: " + message + "\n");
    EXPECT_EQ(events.unloads, 0);
    EXPECT_EQ(events.ticks, in_load ? 0 : 1) << "ticked on after the error";
    EXPECT_FALSE(platform::Shell_NotifyIconA(platform::kNimModify, &entry))
        << "the tray entry outlived the run";
  }
}

}  // namespace
}  // namespace window_contract
