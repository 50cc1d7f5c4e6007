// Journey input shared by every model: a journey set held in four parallel
// vectors, or a delimited file streamed one line at a time.
#ifndef TOUCHLANE_JOURNEYS_JOURNEYS_H
#define TOUCHLANE_JOURNEYS_JOURNEYS_H

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/common.h"

// Where the journeys come from and which columns hold what. Empty
// var_value / var_null mean "no such column". vy/vc/vv/vn are read when
// flg_file is 0 (vv and vn may be empty), the file otherwise.
struct JourneySource {
  int flg_file = 0;
  std::string file;
  std::string var_path, var_conv, var_value, var_null;
  std::string field_sep;                      // first character separates fields (row_sep)
  char cha_sep = 0;                           // channel separator; 0: channel names not checked
  const std::vector<std::string>* vy = nullptr;
  const std::vector<uli>* vc = nullptr;
  const std::vector<double>* vv = nullptr;
  const std::vector<uli>* vn = nullptr;
};

// Sources of the two kinds. A vector source names its optional columns
// only when their vectors are non-empty, so the reader's flg_value() and
// flg_null() say whether values and nulls are present.
JourneySource vector_source(const std::vector<std::string>* vy, const std::vector<uli>* vc,
                            const std::vector<double>* vv, const std::vector<uli>* vn);
JourneySource file_source(const std::string& file, const std::string& var_path,
                          const std::string& var_conv, const std::string& var_value,
                          const std::string& var_null, const std::string& field_sep);

// The source of a model function's journey arguments: the file when
// flg_file is not 0 (no null column), else the vectors (vv may be empty).
JourneySource input_source(int flg_file, const std::string& file, const std::string& var_path,
                           const std::string& var_conv, const std::string& var_value,
                           const std::string& field_sep, const std::vector<std::string>* vy,
                           const std::vector<uli>* vc, const std::vector<double>* vv);

// Streams the journeys of a source in row order. The file is read in large
// blocks and a row's fields are looked at in place: the path is copied only
// when path() is asked for, so a caller that needs just the text can take
// path_view(), valid until the next call to next(). The constructor opens the
// file and reads its header; it throws std::invalid_argument naming the
// file when it cannot be opened and naming the column when a requested
// column is not in the header. next() throws, naming the line, for a line
// with too few fields, a count field starting with '-', or an empty line
// inside the file (empty lines at the very end are ignored). A count field
// must be a number in full (digits, or a decimal or scientific notation,
// truncated towards zero), else "stoul: ..." naming line and column; a value
// must be a finite number in full, else "stod: ...". Every source rejects a
// path with a NUL byte, a non-finite value, and, when cha_sep is set, a
// channel with a reserved name (check_path), naming the row or line.
class JourneyReader {
 public:
  explicit JourneyReader(const JourneySource& src);
  // The reader keeps a reference to its source, so a temporary one would
  // dangle after the constructor returns.
  explicit JourneyReader(JourneySource&&) = delete;
  JourneyReader(const JourneyReader&) = delete;
  JourneyReader& operator=(const JourneyReader&) = delete;

  bool next();                                // false once every journey is read
  uli index() const { return i_; }            // 0-based row of the current journey
  const std::string& path() const {
    if (!path_copied_) copy_path();
    return *path_;
  }
  std::string_view path_view() const { return path_view_; }
  uli conv() const { return conv_; }
  double value() const { return value_; }
  uli nulls() const { return nulls_; }
  bool flg_value() const { return flg_value_; }
  bool flg_null() const { return flg_null_; }
  // The file read, or "" for journeys in vectors.
  std::string input_file() const { return src_.flg_file ? src_.file : std::string(); }

 private:
  bool read_line();                           // next non-final line into line_
  bool fetch_line(std::string_view* line);    // next line of the file, "\n" dropped
  size_t split_needed();                      // fields of line_ up to ncol_needed_
  void copy_path() const;
  const JourneySource& src_;
  bool flg_value_, flg_null_;
  std::ifstream in_;
  std::vector<char> buf_;                     // file bytes [buf_beg_, buf_end_) not yet read
  size_t buf_beg_ = 0, buf_end_ = 0;
  bool eof_ = false;
  std::string_view line_, path_view_;
  mutable std::string path_buf_;
  mutable bool path_copied_ = true;
  std::vector<std::string_view> fields_;
  char fsep_ = ',';
  size_t col_path_ = 0, col_conv_ = 0, col_value_ = 0, col_null_ = 0, ncol_needed_ = 1;
  uli line_no_ = 1;                           // 1-based line of the file just read
  uli next_row_ = 0;
  uli i_ = 0;
  const std::string* path_ = &path_buf_;
  uli conv_ = 0, nulls_ = 0;
  double value_ = 0;
  size_t pending_empty_ = 0;                  // empty lines seen but not yet judged
  uli first_empty_line_ = 0;
};

// Names the library gives its own states and coefficients: "(start)",
// "(conversion)", "(null)", "(constant)", "(unknown)".
bool is_reserved_name(std::string_view name);
// What is wrong with a path ("" when nothing): a NUL byte, or, when sep is
// not 0, a channel (blank-trimmed piece between separators) with a reserved
// name.
std::string path_problem(std::string_view path, char sep);
// Throws std::invalid_argument naming the 0-based row as 1-based when
// path_problem finds something.
void check_path(std::string_view path, char sep, uli row);

// Channel names of a path by the Markov rule: split at sep, trim blanks,
// skip empty pieces. Views point into path.
void channels_markov(std::string_view path, char sep, std::vector<std::string_view>* out);

// Channel names by the normalised rule: split at sep (split's rule), each
// piece normalised with normalise_blanks.
void channels_normalised(std::string_view path, char sep, std::vector<std::string>* out);

// The first character of a separator argument; throws naming the argument
// when it is empty.
char first_char(const std::string& s, const char* arg_name);

// Header lines of delimited files (journeys and events): a carriage return
// at the end and a UTF-8 byte-order mark at the start (spreadsheets write
// one) are not part of the first and last names.
void strip_header_line(std::string* line);
// "" or, when the header puts names in double quotes (as R's write.csv
// does), a sentence to append to a "column not found" message.
std::string quoting_hint(const std::vector<std::string_view>& header, char field_sep);

// ---- channel dictionary and k-order state encoding -------------------------
#include <map>

typedef std::map<std::string, uli> ChannelMap;               // name -> index
typedef std::map<uli, std::vector<sli>> StateInverse;        // state -> channels, -1 padded

// Index of a channel, registering it (index nchannels) on first sight.
uli channel_index(std::string_view name, ChannelMap* mp_channels,
                  std::vector<std::string>* vchannels, uli* nchannels);

// Resets the state dictionary to the three special states
// "(start)" = 0, "(conversion)" = 1, "(null)" = 2.
void init_state_dictionary(ChannelMap* mp_channels_sim, std::vector<std::string>* vchannels_sim,
                           StateInverse* mp_channels_sim_inv, uli* nchannels_sim);

// Largest Markov order: every state keeps `order` channel slots.
constexpr uli kMaxOrder = 10000;

// Throws std::invalid_argument naming arg_name when order is 0 or above
// kMaxOrder.
void check_order(uli order, const char* arg_name);

// Encodes one path into channel indices (vchannel_idx) and the states of
// its windows of `order` channels (vstates), registering new channels and
// states in order of first appearance. A path without channels gives no
// states. Throws std::invalid_argument (check_order) for an unusable order.
void encode_journey(std::string_view path, char sep, uli order,
                    ChannelMap* mp_channels, std::vector<std::string>* vchannels, uli* nchannels,
                    ChannelMap* mp_channels_sim, StateInverse* mp_channels_sim_inv,
                    std::vector<std::string>* vchannels_sim, uli* nchannels_sim,
                    std::vector<uli>* vchannel_idx, std::vector<uli>* vstates);

#endif
