#pragma once
// A file written whole beside its target and then put in the target's place by one rename, so
// that a reader sees the old file or the new one, never half of one, and a failure leaves the
// old file as it was.
//
//   ReplacementFile page("out/network.html", "network page");
//   page.write(head); page.write(rows);   // to a temporary file of its own
//   page.commit();                        // synced, then renamed over out/network.html
//
// The temporary file is created exclusively under a name of its own in the target's folder
// (mkstemp), so nothing planted at a fixed name -- a link least of all -- is ever written
// through; it is removed again when the object is destroyed before commit().  A writer that
// must open the file by name itself (a library that creates its own file) asks for
// `ReplacementFile::for_writer`: the name it gets lies in a private folder (mode 0700) made
// for it beside the target, which commit() renames into place and removes.
//
// Every failure throws an InputError of kind kFileSystem naming the target, what it is and the
// system's reason.

#include <filesystem>
#include <string>
#include <string_view>

namespace basinfit {

class ReplacementFile {
 public:
  ReplacementFile(std::filesystem::path target, std::string what);
  // For a writer that creates the file by name: nothing is open; `path()` does not exist yet.
  // It is named `name_inside` (default: the target's name) inside the private folder, for a
  // writer that judges a file by its extension.
  static ReplacementFile for_writer(std::filesystem::path target, std::string what,
                                    const std::string& name_inside = {});
  ~ReplacementFile();
  ReplacementFile(ReplacementFile&& other) noexcept;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  ReplacementFile& operator=(ReplacementFile&&) = delete;

  const std::filesystem::path& target() const { return target_; }
  // Where the new content is being written.
  const std::filesystem::path& path() const { return temporary_; }
  void write(std::string_view bytes);
  // Gives the new file the execute permission a program made by this user gets (0777 less the
  // umask), for a script: the permission is set on the temporary file, never through a name.
  void make_executable();
  // Makes the content durable and renames it over the target; nothing is left beside it.
  void commit();

 private:
  struct ForWriter {};
  ReplacementFile(std::filesystem::path target, std::string what, const std::string& name_inside, ForWriter);
  [[noreturn]] void fail(const char* doing, int error) const;
  void discard() noexcept;

  std::filesystem::path target_;
  std::string what_;
  std::filesystem::path temporary_;
  std::filesystem::path private_folder_;  // for_writer: the folder holding `temporary_`
  int fd_ = -1;
  bool committed_ = false;
};

// Writes `bytes` as the new content of `target` through a ReplacementFile.
void replace_file(const std::filesystem::path& target, std::string_view bytes, const std::string& what);

}  // namespace basinfit
