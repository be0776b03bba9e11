#include "network/batch_outputs.h"

#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <utility>
#include <vector>

#include "common/file_digest.h"
#include "common/file_names.h"
#include "common/input_error.h"
#include "network/batch.h"

namespace basinfit::network {
namespace {

namespace fs = std::filesystem;

// The files whose identity an output may not share, each with what it is.
std::vector<std::pair<fs::path, std::string>> kept_files(const fs::path& out, Database& db) {
  std::vector<std::pair<fs::path, std::string>> kept;
  const std::string database = db.file().string();
  kept.emplace_back(db.file(), "the results database");
  for (const char* companion : {"-wal", "-shm", "-journal", ".lock"})
    kept.emplace_back(database + companion, "a file of the results database");
  sqlite::Statement surveys(db.connection(), "SELECT survey, sources, structure FROM surveys");
  while (surveys.step()) {
    const std::string survey = surveys.column_text(0);
    const nlohmann::json sources =
        nlohmann::json::parse(surveys.column_text(1), nullptr, /*allow_exceptions=*/false);
    if (sources.is_array())
      for (const nlohmann::json& source : sources)
        if (source.is_object() && source.contains("path") && source["path"].is_string())
          kept.emplace_back(source["path"].get<std::string>(), "an input of survey " + survey);
    if (!surveys.column_text(2).empty())
      kept.emplace_back(surveys.column_text(2), "the structure file of survey " + survey);
  }
  if (const auto manifest = db.meta("manifest")) kept.emplace_back(*manifest, "the manifest");
  try {
    kept.emplace_back(read_shard_plan(out).manifest, "the manifest of the cluster run");
  } catch (const InputError&) {
    // No cluster plan (a local batch), or a damaged one: merge says so.
  }
  return kept;
}

}  // namespace

void refuse_output_over_batch(const fs::path& out, const fs::path& target, const std::string& what,
                              Database& db) {
  const std::string shown = visible_name(target.string());
  const auto refuse = [&](const std::string& why) {
    throw InputError(shown, 0, "the " + what + " would replace " + why + "; write it elsewhere",
                     InputError::Kind::kFileSystem);
  };
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    throw InputError(shown, 0,
                     "a " + file_kind(st.st_mode) + ", not a regular file: the " + what +
                         " is written whole and renamed into its place, which would put this aside",
                     InputError::Kind::kFileSystem);

  const auto identity = identity_of_name(target.string());
  for (const auto& [file, kept] : kept_files(out, db))
    if (one_file(identity, identity_of_name(file.string())))
      refuse(kept + " (" + visible_name(file.string()) + ")");

  // The folders only the batch writes into, against the target's folder and each one above it.
  std::error_code ec;
  const fs::path folder = fs::weakly_canonical(fs::absolute(target), ec).parent_path();
  const auto in_batch_folder = [&](const char* sub) {
    const auto kept = identity_of_name((out / sub).string());
    for (fs::path p = folder; !p.empty(); p = p.parent_path()) {
      if (one_file(identity_of_name(p.string()), kept)) return true;
      if (p == p.root_path()) break;
    }
    return false;
  };
  for (const char* sub : {"surveys", "shards", "slurm"})
    if (in_batch_folder(sub)) refuse("a file of the batch's folder " + visible_name((out / sub).string()));
  // A name SQLite would take for a file of the database, though none is there now.
  if (one_file(identity_of_name(folder.string()), identity_of_name(out.string())) &&
      target.filename().string().rfind("results.sqlite", 0) == 0)
    refuse("a file of the results database");
}

}  // namespace basinfit::network
