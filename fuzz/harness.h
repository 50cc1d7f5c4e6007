// Shared pieces of the fuzz harnesses.
#ifndef TOUCHLANE_FUZZ_HARNESS_H
#define TOUCHLANE_FUZZ_HARNESS_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

// A file of this process, rewritten for every input and removed at exit.
class ScratchFile {
 public:
  explicit ScratchFile(const char* tag) {
    name_ = "/tmp/touchlane_fuzz_" + std::string(tag) + "_" + std::to_string(::getpid());
  }
  ~ScratchFile() { std::remove(name_.c_str()); }
  const std::string& write(const std::string& text) {
    std::ofstream(name_, std::ios::binary | std::ios::trunc) << text;
    return name_;
  }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

// A property the library promises did not hold: report and stop.
#define FUZZ_CHECK(cond)                                                        \
  do {                                                                          \
    if (!(cond)) {                                                              \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, \
                   __LINE__);                                                   \
      std::abort();                                                             \
    }                                                                           \
  } while (0)

#endif
