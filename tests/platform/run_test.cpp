#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/notify.h"
#include "platform/qt/backend.h"
#include "platform/qt/window_form.h"

namespace platform::qt {
namespace {

FormDesign SmallDesign() {
  FormDesign design;
  design.caption = L"B";
  design.client_width = 1560;
  design.client_height = 1335;
  design.text2.multi_line = true;
  design.timer_interval = 10;
  design.timer_enabled = true;
  return design;
}

NotifyIconData Record(std::uint32_t hwnd, std::uint32_t id) {
  NotifyIconData data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd;
  data.uID = id;
  data.uFlags = kNifMessage | kNifIcon | kNifTip;
  data.uCallbackMessage = 512;
  std::snprintf(data.szTip, sizeof data.szTip, "B");
  return data;
}

// Handlers that record what reached them and do what the test scripts.
struct Recorder : FormEvents {
  std::vector<std::string> calls;
  std::vector<float> xs;
  std::function<void()> on_load = [] {};
  std::function<void()> on_tick = [] {};
  void Form_Load() override {
    calls.push_back("load");
    on_load();
  }
  void Form_Unload(std::int16_t&) override { calls.push_back("unload"); }
  void Timer1_Timer() override {
    calls.push_back("tick");
    on_tick();
  }
  void Form_MouseMove(std::int16_t, std::int16_t, float x, float) override { xs.push_back(x); }
};

TEST(ShellNotifyIcon, KeysEntriesByWindowAndId) {
  struct Step {
    std::uint32_t message;
    std::uint32_t id;
    bool accepted;
  };
  const Step steps[] = {
      {kNimModify, 100, false}, {kNimDelete, 100, false}, {kNimAdd, 100, true},
      {kNimAdd, 100, false},    {kNimAdd, 101, true},     {kNimModify, 100, true},
      {kNimDelete, 100, true},  {kNimModify, 100, false}, {kNimModify, 101, true},
      {kNimAdd, 100, true},     {7, 100, false},
  };
  QtForm form(SmallDesign());
  for (const Step& step : steps) {
    NotifyIconData data = Record(form.Hwnd(), step.id);
    data.hIcon = form.Icon();
    EXPECT_EQ(Shell_NotifyIconA(step.message, &data), step.accepted)
        << "message " << step.message << " id " << step.id;
  }
  EXPECT_EQ(TrayEntryCount(), 2u);
  EXPECT_FALSE(Shell_NotifyIconA(kNimAdd, nullptr));
  RemoveTrayEntries(form.Hwnd());
  EXPECT_EQ(TrayEntryCount(), 0u);
}

TEST(QtForm, TurnsTheCallbackMessageIntoAMouseMove) {
  struct Row {
    std::uint32_t message;
    std::uint32_t param;
    std::vector<float> xs;
  };
  const Row rows[] = {
      {512, 514, {7710}}, {512, 517, {7755}},           {512, 520, {7800}},
      {513, 514, {}},     {512, 0x10000 + 514, {7710}},  // only the low part carries the code
  };
  QtForm form(SmallDesign());
  Recorder events;
  form.Attach(&events);
  for (const Row& row : rows) {
    events.xs.clear();
    DeliverWindowMessage(form.Hwnd(), row.message, row.param);
    EXPECT_EQ(events.xs, row.xs) << row.message << " " << row.param;
  }
  events.xs.clear();
  DeliverWindowMessage(form.Hwnd() + 1, 512, 514);
  EXPECT_TRUE(events.xs.empty()) << "another window's message";
}

TEST(Application, UsesXWaylandWhereTheWindowCouldNotBePlaced) {
  struct Row {
    std::map<std::string, std::string> env;
    std::string forced;
  };
  const Row rows[] = {
      {{}, ""},
      {{{"DISPLAY", ":0"}}, ""},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, "xcb"},
      {{{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}}, "xcb"},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, ""},  // no XWayland to go to
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}}, ""},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", ""}}, "xcb"},
      {{{"WAYLAND_DISPLAY", ""}, {"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}, ""},
  };
  for (const Row& row : rows) {
    const auto env = [&row](const char* name) -> const char* {
      const auto it = row.env.find(name);
      return it == row.env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(ForcedPlatform(env), row.forced) << ::testing::PrintToString(row.env);
  }
}

// Runs `form` with `events` and answers the failure report if one comes up; returns the
// exit status, what went to standard error and the report's title and text.
struct Outcome {
  int status;
  std::string stderr_text;
  QString box;
};
Outcome RunAnswering(QtForm& form, Recorder& events) {
  Outcome outcome{};
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr || !box->isVisible()) continue;
      outcome.box = box->windowTitle() + ": " + box->text();
      box->accept();
    }
  });
  answer.start(20);
  std::fflush(stderr);
  char path[] = "/tmp/korvi-stderr-XXXXXX";
  const int file = mkstemp(path);
  const int saved = dup(2);
  dup2(file, 2);
  outcome.status = RunForm(form, events);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(file);
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  outcome.stderr_text = text.str();
  unlink(path);
  return outcome;
}

TEST(RunForm, AFailedTickStopsTheTicksAndRemovesTheTrayEntry) {
  QtForm form(SmallDesign());
  Recorder events;
  events.on_load = [&] {
    NotifyIconData data = Record(form.Hwnd(), 100);
    Shell_NotifyIconA(kNimAdd, &data);
  };
  events.on_tick = [] { throw RuntimeError("the icon file \"x\" cannot be loaded"); };
  const Outcome outcome = RunAnswering(form, events);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.stderr_text, "korvi: the icon file \"x\" cannot be loaded\n");
  EXPECT_EQ(outcome.box, "korvi: the icon file \"x\" cannot be loaded");
  const std::vector<std::string> expected = {"load", "tick"};
  EXPECT_EQ(events.calls, expected) << "no handler runs after a failure";
  EXPECT_EQ(TrayEntryCount(), 0u);
}

}  // namespace
}  // namespace platform::qt
