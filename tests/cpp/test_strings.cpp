#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "helpers.h"
#include "journeys/journeys.h"

namespace {

using SV = std::vector<std::string>;

// split, parse_stoul, parse_stod and normalise_blanks are checked against
// reference implementations by fuzz/fuzz_strings.cpp.
TEST(Strings, SplitAndFirstIndex) {
  EXPECT_EQ(split2("3,0,12", ','), (std::vector<uli>{3, 0, 12}));
  EXPECT_THROW(split2("1,a", ','), std::invalid_argument);
  const SV names{"b", "a", "b", "c"};
  EXPECT_EQ(unique_mp(&names), (std::map<std::string, uli>{{"b", 0}, {"a", 1}, {"c", 2}}));
}

TEST(Strings, ChannelRules) {
  std::vector<std::string_view> m;
  channels_markov("a> >b > paid  search", '>', &m);
  EXPECT_EQ(SV(m.begin(), m.end()), (SV{"a", "b", "paid  search"}));   // inner runs kept
  channels_markov(" > ", '>', &m);
  EXPECT_TRUE(m.empty());
  SV n;
  channels_normalised("paid  search > a>", '>', &n);
  EXPECT_EQ(n, (SV{"paid search", "a"}));
  channels_normalised("a>>b", '>', &n);
  EXPECT_EQ(n, (SV{"a", "", "b"}));
}

TEST(Format, ThousandSeparator) {
  const std::vector<std::pair<uli, std::string>> cases = {
      {0, "0"}, {7, "7"}, {999, "999"}, {1000, "1,000"}, {12345, "12,345"},
      {100000, "100,000"}, {999999, "999,999"}, {1000000, "1,000,000"},
      {123456789, "123,456,789"}, {18446744073709551615ULL, "18,446,744,073,709,551,615"},
  };
  for (const auto& c : cases) EXPECT_EQ(group_thousands(c.first), c.second);
}

// Unmasking is exercised by every model test that reads an index back.
TEST(Masking, PinnedOffsets) {
  // Masked vectors cross sessions and platforms: the offsets are fixed
  // forever (glibc's rand() after srand(5281946)).
  std::vector<double> w(4, 0.0);
  hide_index(&w);
  EXPECT_EQ(w, (std::vector<double>{78307, 910266, 931878, 185828}));
#ifdef __GLIBC__
  std::vector<double> many(50000, 0.0);
  hide_index(&many);
  std::srand(5281946);
  for (double x : many) ASSERT_EQ(x, std::rand() % 1000000);
#endif
}

}  // namespace

// ---- result files -------------------------------------------------------------


namespace {

struct TempDir {
  std::string name;
  TempDir() {
    char buf[] = "/tmp/touchlane_dirXXXXXX";
    name = mkdtemp(buf);
  }
  ~TempDir() { std::system(("rm -rf '" + name + "'").c_str()); }
  std::string operator/(const std::string& f) const { return name + "/" + f; }
  SV entries() const {
    SV out;
    DIR* d = opendir(name.c_str());
    while (dirent* e = readdir(d)) if (e->d_name[0] != '.') out.push_back(e->d_name);
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
  }
};

void write_result(const std::string& path, const std::string& text) {
  ResultFile f(path);
  f.write(text);
  f.commit();
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

bool is_link(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}
}  // namespace

// New files take the umask of the moment, rewrites keep their bits, links
// are written through to their targets.
TEST(ResultFile, ModesAndLinks) {
  TempDir dir;
  const mode_t saved = umask(027);
  write_result(dir / "a", "1\n");
  EXPECT_EQ(mode_of(dir / "a"), 0640u);
  umask(077);
  write_result(dir / "b", "1\n");
  EXPECT_EQ(mode_of(dir / "b"), 0600u);
  umask(022);
  chmod((dir / "a").c_str(), 0604);
  write_result(dir / "a", "2\n");
  EXPECT_EQ(mode_of(dir / "a"), 0604u);
  mkdir((dir / "sub").c_str(), 0755);
  ASSERT_EQ(symlink("../a", (dir / "sub/rel").c_str()), 0);
  ASSERT_EQ(symlink((dir / "sub/rel").c_str(), (dir / "abs").c_str()), 0);
  ASSERT_EQ(symlink("fresh", (dir / "dangling").c_str()), 0);
  umask(saved);
  struct Case { std::string write, read; };
  for (const Case& c : std::vector<Case>{{"sub/rel", "a"}, {"abs", "a"}, {"dangling", "fresh"}}) {
    write_result(dir / c.write, c.write + "\n");
    EXPECT_TRUE(is_link(dir / c.write)) << c.write;
    EXPECT_EQ(tl_test::read_file(dir / c.read), c.write + "\n");
  }
  EXPECT_EQ(mode_of(dir / "a"), 0604u);
  EXPECT_EQ(dir.entries(), (SV{"a", "abs", "b", "dangling", "fresh", "sub"}));
}

// A result being written has no name beside the target, so neither an
// error nor a killed process leaves a temporary file behind.
TEST(ResultFile, NoTemporaryOutlivesTheWriter) {
  TempDir dir;
  write_result(dir / "r", "earlier\n");
  {
    ResultFile f(dir / "r");
    f.write("half");
    EXPECT_EQ(dir.entries(), SV{"r"});
  }   // destroyed without commit: the write failed
  const pid_t child = fork();
  if (child == 0) {
    ResultFile f(dir / "r");
    f.write(std::string(1 << 21, 'x'));
    raise(SIGTERM);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(dir.entries(), SV{"r"});
  EXPECT_EQ(tl_test::read_file(dir / "r"), "earlier\n");
}
