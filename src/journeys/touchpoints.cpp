#include "journeys/touchpoints.h"

TouchpointScratch& touchpoint_scratch() {
  thread_local TouchpointScratch s;
  return s;
}

namespace {

// Journeys up to this many touch points compare names pairwise: cheaper
// than hashing them, and most journeys are this short.
constexpr size_t kScanUpTo = 48;

bool same_key(const TouchpointScratch& s, bool by_index, size_t j, size_t k) {
  if (!by_index) return s.vecs[j] == s.vecs[k];
  if (s.known[j] != s.known[k]) return false;
  return s.known[k] ? s.ichannel[j] == s.ichannel[k] : s.vecs[j] == s.vecs[k];
}

uli slot_by_scan(TouchpointScratch* s, bool by_index, size_t k) {
  for (size_t j = 0; j < k; ++j)
    if (same_key(*s, by_index, j, k)) return s->slot[j];
  return s->count.size();
}

uli slot_by_hash(TouchpointScratch* s, bool by_index, size_t k) {
  const uli next = s->count.size();
  if (by_index && s->known[k]) return s->by_index.emplace(s->ichannel[k], next).first->second;
  return s->by_name.emplace(std::string_view(s->vecs[k]), next).first->second;
}

}  // namespace

uli group_touchpoints(TouchpointScratch* s, bool by_index) {
  const size_t n = s->vecs.size();
  const bool scan = n <= kScanUpTo;
  s->slot.resize(n);
  s->count.clear();
  s->first.clear();
  if (!scan) {
    s->by_index.clear();
    s->by_name.clear();
  }
  for (size_t k = 0; k < n; ++k) {
    const uli id = scan ? slot_by_scan(s, by_index, k) : slot_by_hash(s, by_index, k);
    if (id == s->count.size()) {
      s->count.push_back(0);
      s->first.push_back(k);
    }
    s->slot[k] = id;
    ++s->count[id];
  }
  return s->count.size();
}

void RowSink::start_journey(uli i, const std::string& path) {
  i_ = i;
  path_ = &path;
  text_->clear();
}

void RowSink::key(uli k, const std::string& channel) {
  if (!file_) {
    keys_.vpath_id->push_back(static_cast<double>(i_));
    if (with_paths_) keys_.vpath_name->push_back(*path_);
    keys_.vpath_channel->push_back(channel);
    keys_.vpath_chpos->push_back(static_cast<double>(k));
    return;
  }
  std::string& t = *text_;
  append_lu(t, i_);
  t.push_back(sep_);
  if (with_paths_) {
    t += *path_;
    t.push_back(sep_);
  }
  t += channel;
  t.push_back(sep_);
  append_lu(t, k);
}

void RowSink::field(double x) {
  text_->push_back(sep_);
  append_f(*text_, x);
}

void RowSink::field_count(uli x) {
  text_->push_back(sep_);
  append_lu(*text_, x);
}

void RowSink::field_text(std::string_view s) {
  text_->push_back(sep_);
  text_->append(s.data(), s.size());
}

void RowSink::end_journey() {
  if (file_) file_->write(text_->data(), static_cast<std::streamsize>(text_->size()));
}

std::unique_ptr<ResultFile> open_touchpoint_file(const std::string& file_output,
                                                 const std::string& input,
                                                 const std::string& field_sep,
                                                 const std::vector<std::string>& columns) {
  if (file_output.empty()) return nullptr;
  first_char(field_sep, "row_sep");
  auto out = std::make_unique<ResultFile>(file_output, input);
  std::string line;
  for (size_t k = 0; k < columns.size(); ++k) {
    if (k) line += field_sep;
    line += columns[k];
  }
  line.push_back('\n');
  out->write(line);
  return out;
}

void print_paths_elaborated(uli n) {
  printA("Attribution, number of paths elaborated: " + group_thousands(n));
}
