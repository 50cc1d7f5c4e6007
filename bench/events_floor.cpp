// The floor for building journeys from an events file: read it line by line
// and cut every line at the field separator, nothing more.
// usage: events_floor <file> <field_sep>
#include <chrono>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  auto t0 = std::chrono::steady_clock::now();
  const std::clock_t c0 = std::clock();
  std::ifstream in(argv[1]);
  const char fs = argv[2][0];
  std::string line;
  std::vector<size_t> cuts;
  unsigned long lines = 0, fields = 0;
  std::getline(in, line);
  while (std::getline(in, line)) {
    cuts.clear();
    for (size_t k = 0; k < line.size(); ++k)
      if (line[k] == fs) cuts.push_back(k);
    fields += cuts.size() + 1;
    ++lines;
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  std::cout << lines << " " << fields << " " << s << " " << cpu << "\n";
}
