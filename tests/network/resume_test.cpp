// Killing a batch at any moment and running it again gives the database of an uninterrupted
// run; shards merged in any order, and twice, give the local batch's database.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "network/batch.h"
#include "network_support.h"

extern char** environ;

namespace basinfit::network_test {
namespace {

using e2e::run_program;
using e2e::TempFolder;

// Starts basinfit-batch with its output discarded and returns its process id.
pid_t start_batch(const std::vector<std::string>& args) {
  std::vector<std::string> words{batch_path()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST(NetworkResume, KilledAtAnyMomentAndRerunGivesTheUninterruptedDatabase) {
  TempFolder folder("network-resume");
  std::string manifest = "name,source\n";
  for (int i = 0; i < 3; ++i)
    for (const std::string example : {"metric", "english"}) {
      const std::string name = example + "-" + std::to_string(i);
      write_run_folder(folder.path() / name, example);
      manifest += name + "," + name + "\n";
    }
  write_file(folder / "network.csv", manifest);
  const std::string m = (folder / "network.csv").string();
  const auto reference =
      run_program(batch_path(), {"run", m, "--out", (folder / "reference").string(), "-j", "1"});
  ASSERT_EQ(reference.exit_status, 0) << reference.err;

  // SIGKILL and SIGTERM in turn after growing delays: before, inside and after surveys'
  // transactions, and during the engine's run; every start resumes what the last one left.  A
  // batch stopped by SIGTERM ends by it once its running surveys reach a station's end.
  const std::string out = (folder / "killed").string();
  for (int step = 1; step <= 8; ++step) {
    const pid_t pid = start_batch({"run", m, "--out", out, "-j", step % 4 == 0 ? "2" : "1"});
    std::this_thread::sleep_for(std::chrono::milliseconds(90 * step));
    const int signal = step % 2 ? SIGKILL : SIGTERM;
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == signal) ||
                (WIFEXITED(status) && WEXITSTATUS(status) == 0))
        << "step " << step << ": status " << status;
  }
  const auto last = run_program(batch_path(), {"run", m, "--out", out, "-j", "1"});
  EXPECT_EQ(last.exit_status, 0) << last.err;
  EXPECT_EQ(dump_all(fs::path(out) / "results.sqlite"), dump_all(folder / "reference" / "results.sqlite"));
  for (const auto& entry : fs::directory_iterator(fs::path(out) / "surveys"))
    EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
}

TEST(NetworkShards, BalancedByDropsNotByCount) {
  const struct {
    std::vector<long> sizes;
    int count;
    std::vector<std::vector<std::size_t>> plan;
  } cases[] = {
      {{60, 48, 1, 1, 1}, 2, {{0}, {1, 2, 3, 4}}},
      {{5, 5, 5, 5}, 2, {{0, 2}, {1, 3}}},
      {{1, 10, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 2, {{1}, {0, 2, 3, 4, 5, 6, 7, 8, 9, 10}}},
      {{3, 3}, 3, {{0}, {1}, {}}},
  };
  for (const auto& c : cases) EXPECT_EQ(network::plan_shards(c.sizes, c.count), c.plan);
}

TEST(NetworkShards, MergeNamesMissingShardsAndFoldsEachShardOnce) {
  TempFolder folder("network-merge");
  const std::string m = write_network(folder.path()).string();
  const std::string local = (folder / "local").string(), sharded = (folder / "sharded").string();
  EXPECT_EQ(run_program(batch_path(), {"run", m, "--out", local}).exit_status, 1);
  for (const char* shard : {"2/3", "0/3"})
    run_program(batch_path(), {"run", m, "--out", sharded, "--shard", shard});
  const auto partial = run_program(batch_path(), {"merge", sharded});
  EXPECT_EQ(partial.exit_status, 1);
  EXPECT_NE(partial.err.find("shards missing: 1\n"), std::string::npos) << partial.err;
  run_program(batch_path(), {"run", m, "--out", sharded, "--shard", "1/3"});
  const auto merged = run_program(batch_path(), {"merge", sharded});
  EXPECT_EQ(merged.exit_status, 0) << merged.err;
  const auto expected = dump_all(fs::path(local) / "results.sqlite");
  EXPECT_EQ(dump_all(fs::path(sharded) / "results.sqlite"), expected);
  const auto again = run_program(batch_path(), {"merge", sharded});
  EXPECT_NE(again.err.find("merged 0 surveys"), std::string::npos) << again.err;
  EXPECT_EQ(dump_all(fs::path(sharded) / "results.sqlite"), expected);
}

}  // namespace
}  // namespace basinfit::network_test
