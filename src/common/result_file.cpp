#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "common/common.h"

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

mode_t creation_mode() {
  static const mode_t mode = [] {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

}  // namespace

ResultFile::ResultFile(const std::string& path, const std::string& input) : path_(path) {
  if (path_.empty()) throw std::invalid_argument("result file name is empty");
  struct stat out_st {};
  const bool exists = ::stat(path_.c_str(), &out_st) == 0;
  if (exists && S_ISDIR(out_st.st_mode))
    throw std::invalid_argument("cannot open result file " + quoted(path_) +
                                " for writing: it is a directory");
  check_not_input(path_, input);
  buf_.resize(1 << 20);
  out_.rdbuf()->pubsetbuf(buf_.data(), static_cast<std::streamsize>(buf_.size()));
  if (exists && !S_ISREG(out_st.st_mode)) {
    // A device or a pipe: there is no earlier result to keep, and renaming
    // a file over it would replace the device itself.
    out_.open(path_, std::ios::out | std::ios::trunc | std::ios::binary);
  } else {
    std::string tmpl = path_ + ".tmpXXXXXX";
    int fd = ::mkstemp(&tmpl[0]);
    if (fd >= 0) {
      ::fchmod(fd, creation_mode());
      ::close(fd);
      tmp_ = tmpl;
      out_.open(tmp_, std::ios::out | std::ios::trunc | std::ios::binary);
    }
  }
  if (!out_.is_open()) {
    discard();
    throw std::invalid_argument("cannot open result file " + quoted(path_) + " for writing: " +
                                std::strerror(errno));
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
  if (!tmp_.empty()) {
    if (std::rename(tmp_.c_str(), path_.c_str()) != 0) {
      const int err = errno;
      discard();
      throw std::runtime_error("cannot move the result into " + quoted(path_) + ": " +
                               std::strerror(err));
    }
    tmp_.clear();
  }
}
