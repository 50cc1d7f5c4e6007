#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

#include "common/common.h"

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string dir_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a chain of symbolic links ends in (which need not exist yet).
std::string link_target(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    std::string to(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(p.c_str(), &to[0], to.size());
    if (n < 0 || static_cast<size_t>(n) >= to.size()) return p;
    to.resize(static_cast<size_t>(n));
    p = to[0] == '/' ? to : dir_of(p) + "/" + to;
  }
  throw std::invalid_argument("cannot open result file " + quoted(path) +
                              " for writing: too many levels of symbolic links");
}

// The process's umask, read without changing it where /proc tells it (a
// umask() round trip would briefly change it for every thread).
mode_t current_umask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "Umask:") == 0)
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

std::string proc_fd(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

ResultFile::ResultFile(const std::string& path, const std::string& input) : path_(path) {
  if (path_.empty()) throw std::invalid_argument("result file name is empty");
  target_ = link_target(path_);
  struct stat out_st {};
  const bool exists = ::stat(target_.c_str(), &out_st) == 0;
  if (exists && S_ISDIR(out_st.st_mode))
    throw std::invalid_argument("cannot open result file " + quoted(path_) +
                                " for writing: it is a directory");
  check_not_input(path_, input);
  buf_.resize(1 << 20);
  out_.rdbuf()->pubsetbuf(buf_.data(), static_cast<std::streamsize>(buf_.size()));
  int err = 0;
  if (exists && !S_ISREG(out_st.st_mode)) {
    // A device or a pipe: there is no earlier result to keep, and renaming
    // a file over it would replace the device itself.
    out_.open(target_, std::ios::out | std::ios::trunc | std::ios::binary);
    err = errno;
  } else {
#ifdef O_TMPFILE
    fd_ = ::open(dir_of(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      if (exists) ::fchmod(fd_, out_st.st_mode & 07777);
      out_.open(proc_fd(fd_), std::ios::out | std::ios::trunc | std::ios::binary);
      if (!out_.is_open()) {
        ::close(fd_);
        fd_ = -1;
      }
    }
#endif
    if (fd_ < 0) {
      std::string tmpl = target_ + ".tmpXXXXXX";
      int fd = ::mkstemp(&tmpl[0]);
      err = errno;
      if (fd >= 0) {
        ::fchmod(fd, exists ? out_st.st_mode & 07777 : 0666 & ~current_umask());
        ::close(fd);
        tmp_ = tmpl;
        out_.open(tmp_, std::ios::out | std::ios::trunc | std::ios::binary);
        err = errno;
      }
    }
  }
  if (!out_.is_open()) {
    discard();
    throw std::invalid_argument("cannot open result file " + quoted(path_) + " for writing: " +
                                std::strerror(err));
  }
}

void ResultFile::check_not_input(const std::string& path, const std::string& input) {
  struct stat out_st {}, in_st {};
  if (path.empty() || input.empty() || ::stat(path.c_str(), &out_st) != 0 ||
      ::stat(input.c_str(), &in_st) != 0)
    return;
  if (in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino)
    throw std::invalid_argument("result file " + quoted(path) + " is the input file " +
                                quoted(input) + "; choose another file_output");
}

ResultFile::~ResultFile() { discard(); }

void ResultFile::discard() {
  if (out_.is_open()) out_.close();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tmp_.empty()) std::remove(tmp_.c_str());
  tmp_.clear();
}

void ResultFile::write(std::string_view text) {
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void ResultFile::commit() {
  out_.flush();
  const bool ok = static_cast<bool>(out_);
  out_.close();
  if (!ok || out_.fail()) {
    discard();
    throw std::runtime_error("writing result file " + quoted(path_) + " failed");
  }
  if (fd_ >= 0) {
    // The unnamed file gets a temporary name beside the target, to be
    // renamed over it: a link cannot replace an existing file.
    std::random_device rd;
    const std::string from = proc_fd(fd_);
    for (int attempt = 0; attempt < 100 && tmp_.empty(); ++attempt) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, ".tmp%06x", static_cast<unsigned>(rd() & 0xFFFFFF));
      const std::string name = target_ + suffix;
      if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) tmp_ = name;
      else if (errno != EEXIST) break;
    }
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    if (tmp_.empty())
      throw std::runtime_error("cannot move the result into " + quoted(path_) + ": " + std::strerror(err));
  }
  if (!tmp_.empty()) {
    if (std::rename(tmp_.c_str(), target_.c_str()) != 0) {
      const int err = errno;
      discard();
      throw std::runtime_error("cannot move the result into " + quoted(path_) + ": " +
                               std::strerror(err));
    }
    tmp_.clear();
  }
}
