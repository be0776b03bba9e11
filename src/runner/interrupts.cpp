#include "runner/interrupts.h"

#include <csignal>
#include <cstdlib>

namespace basinfit::runner {
namespace {

StopRequest requested;

extern "C" void request_stop(int signal) { requested.signal(signal); }

}  // namespace

StopRequest& stop_request() { return requested; }

void stop_between_stations_on_interrupt() {
  struct sigaction action {};
  action.sa_handler = request_stop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

void end_by_signal(int signal) {
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  std::_Exit(128 + signal);  // the signal was blocked: end with the status a shell would show
}

}  // namespace basinfit::runner
