#include "workbench/security.h"

#include <array>
#include <cctype>
#include <fstream>
#include <stdexcept>

namespace basinfit::workbench {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool is_port_of(std::string_view text, int port) { return text == std::to_string(port); }

}  // namespace

std::string new_session_secret() {
  std::array<unsigned char, 32> bytes{};
  std::ifstream random("/dev/urandom", std::ios::binary);
  if (!random.read(reinterpret_cast<char*>(bytes.data()), bytes.size()))
    throw std::runtime_error("/dev/urandom cannot be read: no session secret");
  static constexpr char kHex[] = "0123456789abcdef";
  std::string secret;
  for (unsigned char b : bytes) {
    secret += kHex[b >> 4];
    secret += kHex[b & 15];
  }
  return secret;
}

bool same_secret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

std::optional<std::string> cookie_value(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const std::size_t end = header.find(';');
    std::string_view pair = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    const std::size_t eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == name) return std::string(pair.substr(eq + 1));
  }
  return std::nullopt;
}

bool allowed_host(std::string_view host, int port) {
  const std::string h = lower(host);
  for (std::string_view name : {"127.0.0.1:", "localhost:"})
    if (h.rfind(name, 0) == 0 && is_port_of(std::string_view(h).substr(name.size()), port)) return true;
  return false;
}

bool allowed_origin(std::string_view origin, int port) {
  const std::string o = lower(origin);
  const std::string_view scheme = "http://";
  return o.rfind(scheme, 0) == 0 && allowed_host(std::string_view(o).substr(scheme.size()), port);
}

std::optional<std::string> safe_file_name(std::string_view name) {
  const std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name = name.substr(slash + 1);
  std::string out;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) continue;
    if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos) continue;
    out += c;
  }
  while (!out.empty() && (out.front() == '.' || out.front() == ' ' || out.front() == '-')) out.erase(0, 1);
  while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
  if (out.size() > 120) out.erase(0, out.size() - 120);  // keep the extension
  if (out.empty()) return std::nullopt;
  // Windows reserves these names whatever the extension; a project folder may be opened there.
  std::string stem = lower(out.substr(0, out.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (std::string_view reserved : {"con", "prn", "aux", "nul"})
    if (stem == reserved) return std::nullopt;
  if (stem.size() == 4 && (stem.rfind("com", 0) == 0 || stem.rfind("lpt", 0) == 0) && stem[3] >= '0' &&
      stem[3] <= '9')
    return std::nullopt;
  return out;
}

}  // namespace basinfit::workbench
