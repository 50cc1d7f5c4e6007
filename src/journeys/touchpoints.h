// One row per touch point, shared by the models that write such rows (the
// heuristic models and path attribution): the per-journey scratch, the
// grouping of a journey's touch points by distinct channel, the key columns
// every row starts with, the result file with its header, and the journey
// loop with its progress and interrupt checks.
#ifndef TOUCHLANE_JOURNEYS_TOUCHPOINTS_H
#define TOUCHLANE_JOURNEYS_TOUCHPOINTS_H

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "journeys/journeys.h"

// One journey's touch points, reused from journey to journey so that a
// journey costs no allocation once the buffers are warm.
struct TouchpointScratch {
  std::vector<std::string> vecs;     // normalised channel of each touch point
  std::vector<char> known;           // keyed by dictionary index (group_touchpoints)
  std::vector<uli> ichannel;         // that index
  std::vector<uli> slot;             // distinct channel of each touch point
  std::vector<uli> count;            // touch points per distinct channel
  std::vector<uli> first;            // first touch point of each distinct channel
  std::vector<double> weight;        // free for the model: one entry per distinct channel
  std::unordered_map<uli, uli> by_index;
  std::unordered_map<std::string_view, uli> by_name;
  std::string text;                  // file rows of the journey
};

// The calling thread's scratch.
TouchpointScratch& touchpoint_scratch();

// Groups the touch points of s->vecs by distinct channel, numbered in order
// of first occurrence: fills slot, count and first and returns the number of
// distinct channels. With by_index, a touch point whose known[k] is set is
// keyed by ichannel[k] (two names may share a dictionary index) and the
// others by name; without it every touch point is keyed by name.
uli group_touchpoints(TouchpointScratch* s, bool by_index);

// The key columns of rows kept in memory.
struct RowKeys {
  std::vector<double>* vpath_id;
  std::vector<std::string>* vpath_name;      // filled only with paths
  std::vector<std::string>* vpath_channel;
  std::vector<double>* vpath_chpos;
};

// Where a journey's rows go: text lines written to `file` in one piece per
// journey (fields separated by sep), or, when file is null, the key columns
// pushed to keys while the model pushes its own value columns.
class RowSink {
 public:
  RowSink(std::ostream* file, char sep, bool with_paths, const RowKeys& keys, std::string* text)
      : file_(file), sep_(sep), with_paths_(with_paths), keys_(keys), text_(text) {}
  bool to_file() const { return file_ != nullptr; }
  void start_journey(uli i, const std::string& path);
  // Row of touch point k: "i, [path,] channel, k" in the file, or the keys.
  void key(uli k, const std::string& channel);
  // Field separator then the field (file rows only).
  void field(double x);            // as "%f"
  void field_count(uli x);         // as "%lu"
  void field_text(std::string_view s);
  void end_row() { text_->push_back('\n'); }
  void end_journey();

 private:
  std::ostream* file_;
  char sep_;
  bool with_paths_;
  RowKeys keys_;
  std::string* text_;
  uli i_ = 0;
  const std::string* path_ = nullptr;
};

// The result file of a run with its header line (columns joined by the
// whole field_sep), or null when file_output is empty. field_sep is checked
// before the file is created, so an empty separator leaves an earlier
// result untouched. Every model writing rows this way fails a write the
// same way: ResultFile::commit's std::runtime_error naming the file.
std::unique_ptr<ResultFile> open_touchpoint_file(const std::string& file_output,
                                                 const std::string& input,
                                                 const std::string& field_sep,
                                                 const std::vector<std::string>& columns);

// "Attribution, number of paths elaborated: 1,000,000"
void print_paths_elaborated(uli n);

// Runs body() once per journey of reader. After a journey whose 0-based
// index is a non-zero multiple of a million it prints the progress line
// when verbose and checks for an interrupt. Returns the journeys read.
constexpr uli kJourneysPerProgress = 1000000;
template <class F>
uli for_each_journey(JourneyReader& reader, bool verbose, F&& body) {
  uli nread = 0;
  while (reader.next()) {
    const uli i = reader.index();
    body();
    nread = i + 1;
    if (i != 0 && i % kJourneysPerProgress == 0) {
      if (verbose) print_paths_elaborated(i);
      check_interrupt();
    }
  }
  return nread;
}

#endif
