#include "common/file_digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace basinfit {

struct Sha256::Context {
  EVP_MD_CTX* md = nullptr;
  ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
  context_->md = EVP_MD_CTX_new();
  failed_ = context_->md == nullptr || EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr) != 1;
}

Sha256::~Sha256() = default;

void Sha256::update(std::string_view bytes) {
  if (failed_ || bytes.empty()) return;
  failed_ = EVP_DigestUpdate(context_->md, bytes.data(), bytes.size()) != 1;
  size_ += bytes.size();
}

std::optional<FileDigest> Sha256::finish() {
  std::array<unsigned char, EVP_MAX_MD_SIZE> hash{};
  unsigned int length = 0;
  if (failed_ || EVP_DigestFinal_ex(context_->md, hash.data(), &length) != 1) return std::nullopt;
  failed_ = true;  // a context is finished once
  FileDigest digest;
  digest.size = size_;
  static constexpr char kHex[] = "0123456789abcdef";
  for (unsigned int i = 0; i < length; ++i) {
    digest.sha256 += kHex[hash[i] >> 4];
    digest.sha256 += kHex[hash[i] & 15];
  }
  return digest;
}

std::string text_sha256(std::string_view text) {
  Sha256 sha;
  sha.update(text);
  const std::optional<FileDigest> digest = sha.finish();
  return digest ? digest->sha256 : std::string();
}

std::string file_kind(mode_t mode) {
  if (S_ISREG(mode)) return "file";
  if (S_ISDIR(mode)) return "folder";
  if (S_ISCHR(mode)) return "character device";
  if (S_ISBLK(mode)) return "block device";
  if (S_ISFIFO(mode)) return "pipe";
  if (S_ISSOCK(mode)) return "socket";
  return "other";
}

FileSummary summarise_file(const std::string& name) {
  FileSummary summary;
  struct stat st {};
  if (name.find('\0') != std::string::npos || ::stat(name.c_str(), &st) != 0) return summary;
  summary.kind = file_kind(st.st_mode);
  if (!S_ISREG(st.st_mode)) return summary;
  // Opened without waiting (a FIFO put in the file's place meanwhile does not block) and
  // checked again on the descriptor before anything is read.
  int fd = -1;
  do fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return summary;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (::fstat(fd, &st) == 0) summary.kind = file_kind(st.st_mode);
    ::close(fd);
    return summary;
  }
  Sha256 sha;
  std::array<char, 1 << 16> buffer{};
  bool failed = false;
  while (true) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n > 0) {
      sha.update(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      failed = true;
      break;
    }
  }
  ::close(fd);
  if (!failed) summary.digest = sha.finish();
  return summary;
}

}  // namespace basinfit
