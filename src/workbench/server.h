#pragma once
// The workbench's HTTP server: loopback only, every request checked (Host, Origin, the
// session cookie) before any handler runs; the project's API, its files and the page.

#include <cstdint>
#include <memory>
#include <string>

#include "workbench/project.h"
#include "workbench/run_manager.h"

namespace basinfit::workbench {

struct ServerOptions {
  int port = 0;                                      // 0: a free port
  std::uintmax_t max_upload_bytes = 256ull << 20;    // one file (the importer reads at most this)
  std::uintmax_t max_project_bytes = 2048ull << 20;  // everything under inputs/
  int timeout_seconds = 10;                          // reading or writing one request
};

class Server {
 public:
  // `key`: the one-time address's secret; `session`: the cookie value it is exchanged for.
  Server(Project& project, RunManager& runs, ServerOptions options, std::string key, std::string session);
  ~Server();
  // Binds 127.0.0.1 (options.port, or a free port) and returns the port; -1 when it cannot.
  int bind();
  void listen();  // serves until stop()
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace basinfit::workbench
