#include <unistd.h>

#include <streambuf>
#include <thread>

#include "common/common.h"

namespace {

// Standard output through the file descriptor, so the library never names
// the C or C++ standard streams (R builds install their own sink anyway).
class FdBuf : public std::streambuf {
 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) {
      char ch = static_cast<char>(c);
      if (::write(1, &ch, 1) != 1) return traits_type::eof();
    }
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::streamsize done = 0;
    while (done < n) {
      ssize_t w = ::write(1, s + done, static_cast<size_t>(n - done));
      if (w <= 0) break;
      done += w;
    }
    return done;
  }
};

std::ostream& default_stream() {
  static FdBuf buf;
  static std::ostream os(&buf);
  return os;
}

std::ostream* g_sink = nullptr;
void (*g_interrupt_hook)() = nullptr;
// The hook talks to R, which only its own thread may do: worker threads
// (bootstrap replicates, exact solves) that reach an interrupt check skip
// it, and the thread waiting for them checks instead. The same holds for
// console lines while a hook is installed.
std::thread::id g_hook_thread;

}  // namespace

std::ostream& console_stream() { return g_sink ? *g_sink : default_stream(); }

void set_console_stream(std::ostream* os) { g_sink = os; }

void printA(const std::string& s) {
  // Inside R the console is R's too: lines from worker threads are dropped.
  if (g_interrupt_hook && std::this_thread::get_id() != g_hook_thread) return;
  std::ostream& os = console_stream();
  os << s << '\n';
  os.flush();
}

void set_interrupt_hook(void (*hook)()) {
  g_interrupt_hook = hook;
  g_hook_thread = std::this_thread::get_id();
}

void check_interrupt() {
  if (g_interrupt_hook && std::this_thread::get_id() == g_hook_thread) g_interrupt_hook();
}
