#pragma once
// The project's manifest.csv, the list of its runs, as the batch reads it: a header and rows of
// cells.  Every change is a read, a change and a write under one lock that every program working
// on the project takes (a lock file beside the manifest, held with flock), so two workbenches on
// one project never lose each other's rows; the write replaces the file whole, so a reader never
// sees half of it.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "options/survey_options.h"

namespace basinfit::workbench {

namespace fs = std::filesystem;

struct ManifestRows {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;

  std::optional<std::size_t> find(const std::string& name) const;
  // The cell of `column` in row `row` (empty where the column or cell is missing).
  std::string cell(std::size_t row, const std::string& column) const;
  // Sets a cell, adding the column to the header (and an empty cell to every row) when missing.
  void set(std::size_t row, const std::string& column, const std::string& value);
  // Appends a row of (column, value) cells.
  void add(const std::vector<std::pair<std::string, std::string>>& cells);
  // The options the row gives, read by the options' one validator; a refused cell is an Error
  // (kRefused) naming the manifest, the run and the column.
  options::SurveyOptions options(std::size_t row, const std::string& manifest) const;
};

class ProjectManifest {
 public:
  // Creates the manifest with its three columns when missing; refuses one the batch cannot read.
  explicit ProjectManifest(fs::path file);
  const fs::path& file() const { return file_; }

  ManifestRows read() const;
  // Reads, changes and writes the manifest under the project's manifest lock; returns what the
  // change returns.
  template <class Change>
  auto change(Change&& change) {
    Locked locked(*this);
    ManifestRows rows = read();
    auto result = change(rows);
    write(rows);
    return result;
  }

 private:
  // The manifest lock, held from its construction to its destruction.
  class Locked {
   public:
    explicit Locked(const ProjectManifest& manifest);
    ~Locked();
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

   private:
    int fd_ = -1;
  };
  void write(const ManifestRows& rows) const;
  fs::path file_;
};

}  // namespace basinfit::workbench
