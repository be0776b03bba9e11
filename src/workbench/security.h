#pragma once
// The workbench listens on the engineer's own machine, where every other page in the browser
// and every other local program can reach it.  What keeps them out: a session secret carried
// in a cookie, the Host header (a DNS-rebinding page names its own host), the Origin header
// (a cross-site form or fetch names its page's origin), and upload names that can only ever
// name a plain file inside the project.

#include <optional>
#include <string>
#include <string_view>

namespace basinfit::workbench {

// 32 bytes from /dev/urandom as 64 lowercase hex digits; throws std::runtime_error when the
// system has no random source.
std::string new_session_secret();

// Equal texts, compared in time independent of where they first differ.
bool same_secret(std::string_view a, std::string_view b);

// The value of cookie `name` in a Cookie header, or nothing.
std::optional<std::string> cookie_value(std::string_view header, std::string_view name);

// True for the Host header a browser sends to this server: 127.0.0.1:PORT or localhost:PORT.
bool allowed_host(std::string_view host, int port);
// True for an Origin header of this server's own pages (http://127.0.0.1:PORT or
// http://localhost:PORT).
bool allowed_origin(std::string_view origin, int port);

// A file name as the engineer chose it, reduced to a safe base name for the project's inputs
// folder: the last path component (either slash), control bytes, NUL and characters that
// Windows and shells treat specially dropped, leading dots and blanks removed, at most 120
// bytes; nothing when nothing usable is left, or when the name is a reserved device name
// (CON, NUL, COM1, ...) or "." / "..".
std::optional<std::string> safe_file_name(std::string_view name);

}  // namespace basinfit::workbench
