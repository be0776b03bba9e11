#include "workbench/server.h"

#include <fcntl.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <set>
#include <sstream>

#include "common/input_error.h"
#include "network/manifest.h"
#include "options/survey_options.h"
#include "workbench/internal/results_db.h"
#include "workbench/internal/web_assets.h"
#include "workbench/security.h"

namespace basinfit::workbench {
namespace {

constexpr const char* kCookie = "basinfit_workbench";
constexpr int kMaxEventStreams = 8;
constexpr std::uint64_t kMaxRequestBytes = 4u << 20;
// The workbench's own pages load nothing from elsewhere and run no inline script.
constexpr const char* kPagePolicy =
    "default-src 'self'; img-src 'self' data:; object-src 'none'; base-uri 'none'; form-action 'self'; "
    "frame-ancestors 'none'";
// A survey page is self-contained (inline styles and script); it may not reach anything.
constexpr const char* kSurveyPagePolicy =
    "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:; "
    "frame-ancestors 'none'";

void send_json(httplib::Response& res, const Json& body, int status = 200) {
  res.status = status;
  res.set_content(body.dump(), "application/json; charset=utf-8");
}

const char* option_kind(options::Kind kind) {
  switch (kind) {
    case options::Kind::kChoice:
      return "choice";
    case options::Kind::kWhole:
      return "whole";
    case options::Kind::kNumber:
      return "number";
    case options::Kind::kList:
      return "list";
    case options::Kind::kSwitch:
      return "switch";
    case options::Kind::kText:
      break;
  }
  return "text";
}

// The one place where a failure becomes an HTTP status.
int http_status(Error::Kind kind) {
  switch (kind) {
    case Error::Kind::kBadRequest:
      return 400;
    case Error::Kind::kNotFound:
      return 404;
    case Error::Kind::kConflict:
      return 409;
    case Error::Kind::kTooLarge:
      return 413;
    case Error::Kind::kRefused:
      return 422;
    case Error::Kind::kFailed:
      break;
  }
  return 500;
}

void send_error(httplib::Response& res, int status, const std::string& message) {
  send_json(res, {{"error", message}}, status);
}

Json body_json(const httplib::Request& req) {
  Json body = Json::parse(req.body, nullptr, false);
  if (!body.is_object()) throw Error(Error::Kind::kBadRequest, "expected a JSON object in the request body");
  return body;
}

std::string content_type(const std::string& name) {
  const auto dot = name.rfind('.');
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (ext == "html") return "text/html; charset=utf-8";
  if (ext == "js") return "text/javascript; charset=utf-8";
  if (ext == "css") return "text/css; charset=utf-8";
  if (ext == "svg") return "image/svg+xml";
  if (ext == "json") return "application/json; charset=utf-8";
  if (ext == "csv") return "text/csv; charset=utf-8";
  if (ext == "png") return "image/png";
  if (ext == "sqlite") return "application/vnd.sqlite3";
  return "text/plain; charset=utf-8";
}

// A file of the run's output folder, found by listing the folder (never by joining a path the
// client sent): a regular file, not a link.
std::optional<fs::path> run_file(const Project& project, const std::string& run, const std::string& name) {
  if (!network::is_survey_name(run)) return std::nullopt;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(project.out() / "surveys" / run, ec)) {
    if (entry.path().filename().string() != name) continue;
    if (fs::is_regular_file(fs::symlink_status(entry.path(), ec))) return entry.path();
  }
  return std::nullopt;
}

class UploadFile {
 public:
  explicit UploadFile(const fs::path& folder)
      : path_(folder / (".upload." + new_session_secret().substr(0, 16) + ".part")) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0) throw Error(Error::Kind::kFailed, "inputs/ is not writable");
  }
  ~UploadFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(path_.c_str());  // an aborted or refused upload leaves nothing
  }
  bool write(const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
      bytes_ += static_cast<std::size_t>(n);
    }
    return true;
  }
  std::uintmax_t bytes() const { return bytes_; }
  // Links the complete file under `name` or, when that is taken, NAME-2.EXT, NAME-3.EXT, ...
  // (a link never replaces an existing name); returns the name given.
  std::string keep(const fs::path& folder, const std::string& name) {
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
      fd_ = -1;
      throw Error(Error::Kind::kFailed, "the upload could not be written");
    }
    fd_ = -1;
    const auto dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    for (int k = 1; k < 1000; ++k) {
      const std::string candidate = k == 1 ? name : stem + "-" + std::to_string(k) + ext;
      if (::link(path_.c_str(), (folder / candidate).c_str()) == 0) return candidate;
      if (errno != EEXIST) break;
    }
    throw Error(Error::Kind::kFailed, "the upload could not be given a name in inputs/");
  }

 private:
  fs::path path_;
  int fd_ = -1;
  std::uintmax_t bytes_ = 0;
  bool kept_ = false;
};

}  // namespace

struct Server::Impl {
  Project& project;
  RunManager& runs;
  ServerOptions options;
  std::string key;
  std::string session;
  int port = -1;
  httplib::Server http;
  std::atomic<int> streams{0};
  std::atomic<bool> stopping{false};  // progress streams end, so that the server's threads can
  std::mutex upload_mutex;            // the project's size limit holds across uploads side by side

  Impl(Project& p, RunManager& r, const ServerOptions& o, std::string k, std::string s)
      : project(p), runs(r), options(o), key(std::move(k)), session(std::move(s)) {}

  // Every request, before routing and before its body is read.
  httplib::Server::HandlerResponse check(const httplib::Request& req, httplib::Response& res) {
    const auto refuse = [&](const std::string& why) {
      res.status = 403;
      res.set_content("403 Forbidden: " + why + "\n", "text/plain; charset=utf-8");
      return httplib::Server::HandlerResponse::Handled;
    };
    if (!allowed_host(req.get_header_value("Host"), port))
      return refuse("this server answers only as 127.0.0.1:" + std::to_string(port));
    if (req.has_header("Origin") && !allowed_origin(req.get_header_value("Origin"), port))
      return refuse("a request from another site");
    if (req.path == "/" && req.has_param("key")) {
      if (!same_secret(req.get_param_value("key"), key)) return refuse("wrong key");
      res.set_header("Set-Cookie",
                     std::string(kCookie) + "=" + session + "; HttpOnly; SameSite=Strict; Path=/");
      res.set_header("Cache-Control", "no-store");
      res.set_redirect("/", 303);
      return httplib::Server::HandlerResponse::Handled;
    }
    const auto cookie = cookie_value(req.get_header_value("Cookie"), kCookie);
    if (!cookie || !same_secret(*cookie, session))
      return refuse("open the address basinfit-workbench printed (with its key)");
    // Only uploads bring files; every other request is a form or a command, read into memory.
    if (req.path != "/api/upload" &&
        std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10) > kMaxRequestBytes) {
      send_error(
          res, 413,
          "a request other than an upload is limited to " + std::to_string(kMaxRequestBytes) + " bytes");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  template <class F>
  void guarded(httplib::Response& res, F&& f) {
    try {
      f();
    } catch (const Error& e) {
      send_error(res, http_status(e.kind()), e.what());
    } catch (const InputError& e) {
      send_error(res, http_status(refused(e).kind()), e.what());
    } catch (const std::exception& e) {
      send_error(res, 500, e.what());
    }
  }

  void serve_asset(const std::string& path, httplib::Response& res) {
    const WebAsset* asset = find_web_asset(path);
    if (!asset) {
      send_error(res, 404, "no such page");
      return;
    }
    res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, content_type(std::string(path)));
    res.set_header("Content-Security-Policy", kPagePolicy);
    res.set_header("Cache-Control", "no-cache");
  }

  void serve_file(const fs::path& file, const std::string& name, bool inline_page, httplib::Response& res) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    res.set_content(bytes.str(), content_type(name));
    res.set_header("Content-Security-Policy", inline_page ? kSurveyPagePolicy : "default-src 'none'");
    if (!inline_page) res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
  }

  void upload(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    guarded(res, [&] {
      const auto name = safe_file_name(req.get_param_value("name"));
      if (!name)
        throw Error(Error::Kind::kBadRequest,
                    "the file name '" + req.get_param_value("name") + "' cannot be used");
      std::lock_guard lock(upload_mutex);
      const std::uintmax_t used = project.input_bytes();
      const std::uintmax_t room = std::min(
          options.max_upload_bytes, used < options.max_project_bytes ? options.max_project_bytes - used : 0);
      UploadFile file(project.inputs());
      bool too_large = false, failed = false;
      const bool complete = reader([&](const char* data, std::size_t size) {
        if (file.bytes() + size > room) return !(too_large = true);
        if (!file.write(data, size)) return !(failed = true);
        return true;
      });
      if (too_large)
        throw Error(Error::Kind::kTooLarge,
                    "the upload is larger than " +
                        std::string(room < options.max_upload_bytes ? "the room left in the project ("
                                                                    : "the limit per file (") +
                        std::to_string(room) + " bytes); see --max-upload-mb and --max-project-mb");
      if (failed) throw Error(Error::Kind::kFailed, "the upload could not be written to inputs/");
      // A client that went away mid-body leaves no file: only a whole upload gets a name.
      if (!complete || (req.has_header("Content-Length") &&
                        std::to_string(file.bytes()) != req.get_header_value("Content-Length")))
        throw Error(Error::Kind::kBadRequest, "the upload ended before its last byte; nothing was kept");
      const std::string kept = file.keep(project.inputs(), *name);
      send_json(res, {{"file", kept}, {"bytes", file.bytes()}}, 201);
    });
  }

  void events(const httplib::Request& req, httplib::Response& res) {
    if (streams >= kMaxEventStreams) {
      send_error(res, 503, "too many progress streams open");
      return;
    }
    long after = 0;
    const std::string last = req.has_header("Last-Event-ID") ? req.get_header_value("Last-Event-ID")
                                                             : req.get_param_value("after");
    try {
      after = last.empty() ? 0 : std::stol(last);
    } catch (const std::exception&) {
      after = 0;
    }
    ++streams;
    res.set_header("Cache-Control", "no-store");
    auto position = std::make_shared<long>(after);
    auto idle = std::make_shared<int>(0);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, position, idle](std::size_t, httplib::DataSink& sink) {
          if (stopping || !sink.is_writable()) return false;
          const auto events = runs.events_after(*position, std::chrono::milliseconds(1000));
          std::string text;
          for (const RunEvent& e : events) {
            text += "id: " + std::to_string(e.id) + "\nevent: " + e.event + "\ndata: " + e.data + "\n\n";
            *position = e.id;
          }
          // A comment now and then: a closed browser shows up as a failed write.
          if (text.empty() && ++*idle >= 10) {
            text = ": still here\n\n";
            *idle = 0;
          }
          if (!text.empty() && !sink.write(text.data(), text.size())) return false;
          return true;
        },
        [this](bool) { --streams; });
  }

  void results(const httplib::Request& req, httplib::Response& res) {
    guarded(res, [&] {
      const std::string run = req.get_param_value("run");
      if (!network::is_survey_name(run)) throw Error(Error::Kind::kBadRequest, "expected a run name");
      const fs::path db = project.database_file();
      Json out;
      const Json record = query_rows(db, "SELECT * FROM surveys WHERE survey = ?1", {run});
      if (record.empty()) throw Error(Error::Kind::kNotFound, "'" + run + "' has not run yet");
      out["record"] = record[0];
      for (const char* table : {"stations", "drops", "sensors", "sections"})
        out[table] =
            query_rows(db, std::string("SELECT * FROM ") + table + " WHERE survey = ?1 ORDER BY row", {run});
      send_json(res, out);
    });
  }

  void routes() {
    http.set_pre_routing_handler(
        [this](const httplib::Request& req, httplib::Response& res) { return check(req, res); });
    http.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
      res.set_header("X-Content-Type-Options", "nosniff");
      res.set_header("Referrer-Policy", "no-referrer");
      res.set_header("X-Frame-Options", "DENY");
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
      send_error(res, 500, "internal error");
    });
    http.Get("/",
             [this](const httplib::Request&, httplib::Response& res) { serve_asset("index.html", res); });
    http.Get(R"(/app/([A-Za-z0-9_.-]+))", [this](const httplib::Request& req, httplib::Response& res) {
      serve_asset(req.matches[1].str(), res);
    });
    http.Get("/api/project", [this](const httplib::Request&, httplib::Response& res) {
      guarded(res, [&] {
        send_json(res, {{"root", project.root().string()},
                        {"runs", project.runs()},
                        {"inputs", project.input_files()},
                        {"input_bytes", project.input_bytes()},
                        {"max_upload_bytes", options.max_upload_bytes},
                        {"max_project_bytes", options.max_project_bytes},
                        {"state", runs.state()}});
      });
    });
    http.Put("/api/upload", [this](const httplib::Request& req, httplib::Response& res,
                                   const httplib::ContentReader& reader) { upload(req, res, reader); });
    http.Post("/api/surveys", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] {
        const Json body = body_json(req);
        send_json(res, {{"survey", project.add_survey(body.value("file", std::string()))}}, 201);
      });
    });
    // Every option a survey can need, for the survey's form: the options' own table.
    http.Get("/api/options", [](const httplib::Request&, httplib::Response& res) {
      Json table = Json::array();
      for (const options::OptionSpec& spec : options::table()) {
        Json option{{"key", spec.key},
                    {"flag", spec.flag},
                    {"program", spec.program == options::Program::kImport ? "import" : "engine"},
                    {"kind", option_kind(spec.kind)},
                    {"group", spec.group == options::Group::kReading    ? "read"
                              : spec.group == options::Group::kAnalysis ? "analysis"
                                                                        : "run-folder"},
                    {"value", spec.value_name},
                    {"help", spec.help}};
        if (!spec.choices.empty()) option["choices"] = spec.choices;
        table.push_back(option);
      }
      send_json(res, table);
    });
    http.Get("/api/survey-options", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] { send_json(res, project.survey_options(req.get_param_value("survey"))); });
    });
    http.Put("/api/survey-options", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] {
        const Json body = body_json(req);
        const std::string survey = body.value("survey", std::string());
        project.set_survey_options(survey, body.value("options", Json::object()));
        send_json(res, project.survey_options(survey));
      });
    });
    http.Get("/api/preview", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] { send_json(res, project.preview(req.get_param_value("survey"))); });
    });
    http.Get("/api/structure", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] { send_json(res, project.structure_form(req.get_param_value("run"))); });
    });
    http.Post("/api/structure/check", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] {
        const Json body = body_json(req);
        send_json(res, project.check_structure(body.value("form", Json::object()),
                                               body.value("survey", std::string())));
      });
    });
    http.Put("/api/structure", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] {
        const Json body = body_json(req);
        project.save_structure(body.value("survey", std::string()), body.value("form", Json::object()));
        send_json(res, {{"saved", true}});
      });
    });
    http.Post("/api/run", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] {
        const Json body = body_json(req);
        if (runs.state()["running"].get<bool>())
          throw Error(Error::Kind::kConflict, "a run of this project is going on (" +
                                                  runs.state()["run"].get<std::string>() +
                                                  "); wait for it to end or cancel it");
        std::string run = body.value("run", std::string());
        if (body.contains("whatif"))
          run = project.create_whatif(body.value("survey", std::string()), body["whatif"]);
        runs.start(run);
        send_json(res, {{"run", run}, {"state", runs.state()}}, 202);
      });
    });
    http.Post("/api/cancel", [this](const httplib::Request&, httplib::Response& res) {
      send_json(res, {{"cancelled", runs.cancel()}});
    });
    http.Get("/api/events",
             [this](const httplib::Request& req, httplib::Response& res) { events(req, res); });
    http.Get("/api/results",
             [this](const httplib::Request& req, httplib::Response& res) { results(req, res); });
    http.Get("/api/files", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] {
        const std::string run = req.get_param_value("run");
        if (!network::is_survey_name(run)) throw Error(Error::Kind::kBadRequest, "expected a run name");
        Json files = Json::array();
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(project.out() / "surveys" / run, ec))
          if (fs::is_regular_file(fs::symlink_status(entry.path(), ec)))
            files.push_back({{"name", entry.path().filename().string()}, {"bytes", entry.file_size(ec)}});
        std::sort(files.begin(), files.end(),
                  [](const Json& a, const Json& b) { return a["name"] < b["name"]; });
        send_json(res, files);
      });
    });
    http.Get(R"(/files/([^/]+)/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string run = req.matches[1].str(), name = req.matches[2].str();
      const auto file = run_file(project, run, name);
      if (!file) {
        send_error(res, 404, "no file '" + name + "' in the outputs of '" + run + "'");
        return;
      }
      serve_file(*file, name, name == "survey.html" && !req.has_param("download"), res);
    });
    http.Get("/download/results.sqlite", [this](const httplib::Request&, httplib::Response& res) {
      guarded(res, [&] {
        std::error_code ec;
        if (!fs::exists(project.database_file(), ec))
          throw Error(Error::Kind::kNotFound, "nothing has run yet");
        const fs::path copy = project.out() / (".download." + new_session_secret().substr(0, 16) + ".sqlite");
        copy_database(project.database_file(), copy);
        serve_file(copy, "results.sqlite", false, res);
        fs::remove(copy, ec);
      });
    });
  }
};

Server::Server(Project& project, RunManager& runs, ServerOptions options, std::string key,
               std::string session)
    : impl_(std::make_unique<Impl>(project, runs, options, std::move(key), std::move(session))) {
  auto& http = impl_->http;
  // Threads for the page's requests and its progress streams; a slow or silent client holds
  // one only until the read or write timeout.
  http.new_task_queue = [] { return new httplib::ThreadPool(24); };
  http.set_read_timeout(options.timeout_seconds, 0);
  http.set_write_timeout(options.timeout_seconds, 0);
  http.set_keep_alive_timeout(5);
  http.set_payload_max_length(static_cast<std::size_t>(options.max_upload_bytes) + (1u << 20));
  impl_->routes();
}

Server::~Server() = default;

int Server::bind() {
  auto& i = *impl_;
  i.port = i.options.port == 0 ? i.http.bind_to_any_port("127.0.0.1")
                               : (i.http.bind_to_port("127.0.0.1", i.options.port) ? i.options.port : -1);
  return i.port;
}

void Server::listen() { impl_->http.listen_after_bind(); }
void Server::stop() {
  impl_->stopping = true;
  impl_->http.stop();
}

}  // namespace basinfit::workbench
