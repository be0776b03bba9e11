#include "workbench/project_manifest.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/csv.h"
#include "common/input_error.h"
#include "common/replacement_file.h"
#include "import/structure.h"
#include "workbench/error.h"

namespace basinfit::workbench {

std::optional<std::size_t> ManifestRows::find(const std::string& name) const {
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (cell(i, "name") == name) return i;
  return std::nullopt;
}

std::string ManifestRows::cell(std::size_t row, const std::string& column) const {
  const auto it = std::find(header.begin(), header.end(), column);
  const auto i = static_cast<std::size_t>(it - header.begin());
  return it == header.end() || row >= rows.size() || i >= rows[row].size() ? std::string() : rows[row][i];
}

void ManifestRows::set(std::size_t row, const std::string& column, const std::string& value) {
  auto it = std::find(header.begin(), header.end(), column);
  if (it == header.end()) {
    header.push_back(column);
    for (auto& r : rows) r.resize(header.size());
    it = header.end() - 1;
  }
  rows[row][static_cast<std::size_t>(it - header.begin())] = value;
}

void ManifestRows::add(const std::vector<std::pair<std::string, std::string>>& cells) {
  rows.emplace_back(header.size());
  for (const auto& [column, value] : cells) set(rows.size() - 1, column, value);
}

options::SurveyOptions ManifestRows::options(std::size_t row, const std::string& manifest) const {
  options::SurveyOptions options;
  for (const std::string& column : header) {
    const options::OptionSpec* spec = options::find(column);
    const std::string value = cell(row, column);
    if (!spec || spec->key != column || value.empty()) continue;
    if (const auto why = options::set(options, *spec, value))
      throw Error(Error::Kind::kRefused,
                  manifest + ": run '" + cell(row, "name") + "', column '" + column + "': " + *why);
  }
  return options;
}

ProjectManifest::ProjectManifest(fs::path file) : file_(std::move(file)) {
  {
    Locked locked(*this);
    std::error_code ec;
    if (!fs::exists(file_, ec)) replace_file(file_, "name,source,structure\n", "manifest");
  }
  read();  // a manifest the workbench cannot read is refused now, not at the first click
}

ManifestRows ProjectManifest::read() const {
  const CsvSheet csv = read_csv_sheet(import::read_bytes(file_.string()), file_.string());
  for (const std::string column : {"name", "source", "structure"})
    if (std::find(csv.header.begin(), csv.header.end(), column) == csv.header.end())
      throw InputError(file_.string(), 1, "expected the columns name, source and structure");
  return ManifestRows{csv.header, csv.rows};
}

void ProjectManifest::write(const ManifestRows& rows) const {
  const auto record = [](const std::vector<std::string>& cells) {
    CsvRow row;
    for (const std::string& cell : cells) row.plain(cell);
    return row.text() + "\n";
  };
  std::string text = record(rows.header);
  for (const auto& row : rows.rows) text += record(row);
  replace_file(file_, text, "manifest");
}

ProjectManifest::Locked::Locked(const ProjectManifest& manifest) {
  const fs::path lock = manifest.file_.parent_path() / ("." + manifest.file_.filename().string() + ".lock");
  // Never through a link planted at the lock's name.
  fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = errno;
    if (fd_ >= 0) ::close(fd_);
    throw Error(Error::Kind::kFailed,
                lock.string() + ": cannot take the manifest's lock: " + std::strerror(error));
  }
  while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

ProjectManifest::Locked::~Locked() { ::close(fd_); }

}  // namespace basinfit::workbench
