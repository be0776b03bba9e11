#pragma once
// What a view of a batch -- the network page, the map export -- may not be written over.  Such a
// file is written beside its target and renamed into place, so a target that is part of the
// batch would be lost whole: the database, a survey's results.  Each is refused before anything
// is written.
//
//   Database db(out / "results.sqlite", DatabaseUse::kRead);
//   refuse_output_over_batch(out, page, "network page", db);   // throws, or the page may go there

#include <filesystem>
#include <string>

#include "network/database.h"

namespace basinfit::network {

// Throws InputError (a file-system error, exit status 2) naming `target` and what it would
// replace when writing `what` there would replace
//   - the results database, its companion files (-wal, -shm, -journal, the lock) or any file
//     named results.sqlite* in the batch's folder `out`,
//   - anything in DIR/surveys/ (each survey's inputs, reports, results tables, page),
//     DIR/shards/ (shard databases, the plan) or DIR/slurm/ (the job scripts),
//   - a survey's source or structure file as the database records them, or the manifest the
//     shard plan names;
// or when `target` exists and is not a regular file (a folder, a device, a pipe): a rename would
// put the new file in its place.  Files and folders are compared by identity (device and
// inode), so no spelling of a path -- through a link, `.` or `..` -- gets past.
void refuse_output_over_batch(const std::filesystem::path& out, const std::filesystem::path& target,
                              const std::string& what, Database& db);

}  // namespace basinfit::network
