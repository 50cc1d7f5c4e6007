// The floor for file-to-file journey processing: read the file line by line,
// split fields and channels, and write a given number of bytes.
// usage: floor_io <input> <output> <bytes_to_write> <row_sep> <cha_sep>
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 6) return 2;
  auto t0 = std::chrono::steady_clock::now();
  std::ifstream in(argv[1]);
  std::ofstream out(argv[2], std::ios::binary);
  unsigned long want = std::stoul(argv[3]);
  char fs = argv[4][0], cs = argv[5][0];
  std::string line, buf;
  unsigned long touches = 0, written = 0;
  std::getline(in, line);
  std::vector<size_t> cuts;
  while (std::getline(in, line)) {
    cuts.clear();
    for (size_t k = 0; k < line.size(); ++k)
      if (line[k] == fs || line[k] == cs) cuts.push_back(k);
    touches += cuts.size();
    buf.append(line);
    buf.push_back('\n');
    if (buf.size() > (1 << 20)) { out.write(buf.data(), buf.size()); written += buf.size(); buf.clear(); }
  }
  while (written + buf.size() < want) {
    size_t n = std::min<size_t>(want - written - buf.size(), 1 << 20);
    buf.append(n, 'x');
    out.write(buf.data(), buf.size()); written += buf.size(); buf.clear();
  }
  out.write(buf.data(), buf.size());
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::cout << s << "\n";
  return touches == 0;
}
