#include "monitor/monitor_window.h"
#include "platform/window.h"

int main(int argc, char** argv) {
  platform::Application application(argc, argv);
  const auto window = platform::CreateForm(Form1::Design());
  Form1 form1(*window);
  return platform::RunForm(*window, form1);
}
