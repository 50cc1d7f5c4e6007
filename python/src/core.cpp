// touchlane._core: every call from Python into the library core goes
// through this file. Arguments are converted while the GIL is held, the
// native work runs without it (one call at a time: the core keeps a
// process-wide random engine), and results come back as numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <clocale>
#include <cctype>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <unordered_map>
#include <vector>

#include "bootstrap/bootstrap.h"
#include "budget/budget.h"
#include "common/common.h"
#include "events/events.h"
#include "hazard/hazard.h"
#include "heuristic/heuristic.h"
#include "journeys/journeys.h"
#include "logistic/logistic.h"
#include "markov/markov.h"
#include "nba/nba.h"
#include "order/order.h"
#include "pathattr/pathattr.h"
#include "probabilistic/probabilistic.h"
#include "shapley/shapley.h"

namespace py = pybind11;
using Strings = std::vector<std::string>;
using Reals = std::vector<double>;

namespace {

// ---- console lines, interrupts and the native lock -------------------------

// Thrown by the interrupt hook once Python has a pending signal error; the
// translator leaves that error (KeyboardInterrupt) in place.
struct Interrupted : std::exception {};

// Lines the core prints go to the logger "touchlane" (through
// touchlane._log.native_line) and are kept for the call that printed them.
class LineSink : public std::streambuf {
 public:
  Strings lines;
  bool forward = false;

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return c;
    if (c == '\n') {
      emit();
    } else {
      buf_.push_back(static_cast<char>(c));
    }
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i) overflow(static_cast<unsigned char>(s[i]));
    return n;
  }

 private:
  void emit() {
    lines.push_back(buf_);
    if (forward) {
      py::gil_scoped_acquire gil;
      try {
        py::module_::import("touchlane._log").attr("native_line")(buf_);
      } catch (py::error_already_set&) {
        // a failing log handler must not end the model run
      }
    }
    buf_.clear();
  }
  std::string buf_;
};

LineSink g_sink;
std::ostream g_console(&g_sink);
std::mutex g_native;

// Python runs signal handlers on its main thread only, so calls from other
// threads are not interrupted; on the main thread the GIL is taken at most
// every 20 ms, so a busy Python thread slows long loops by little.
unsigned long g_main_thread = 0;

void python_interrupt_hook() {
  using clock = std::chrono::steady_clock;
  static clock::time_point last;
  if (PyThread_get_thread_ident() != g_main_thread) return;
  const auto now = clock::now();
  if (now - last < std::chrono::milliseconds(20)) return;
  last = now;
  py::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() != 0) throw Interrupted();
}

// Runs f without the GIL, holding the native lock, with console lines
// collected (and logged when `log` is true).
template <class F>
void native(bool log, F&& f) {
  py::gil_scoped_release nogil;
  std::lock_guard<std::mutex> lock(g_native);
  std::setlocale(LC_NUMERIC, "C");
  g_sink.lines.clear();
  g_sink.forward = log;
  set_console_stream(&g_console);
  set_interrupt_hook(&python_interrupt_hook);
  f();
}

// ---- conversions -----------------------------------------------------------

template <class T>
py::array_t<T> to_array(std::vector<T>&& v) {
  auto* owned = new std::vector<T>(std::move(v));
  py::capsule free_it(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>(static_cast<py::ssize_t>(owned->size()), owned->data(), free_it);
}

// Repeated strings (channels of every touch point) as codes into their
// distinct values, in order of first appearance: pandas makes a
// Categorical of them without one Python string per row.
py::tuple to_codes(const Strings& v) {
  std::unordered_map<std::string_view, std::int32_t> seen;
  Strings cats;
  std::vector<std::int32_t> codes(v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    auto it = seen.find(v[i]);
    if (it == seen.end()) {
      it = seen.emplace(v[i], static_cast<std::int32_t>(cats.size())).first;
      cats.push_back(v[i]);
    }
    codes[i] = it->second;
  }
  return py::make_tuple(to_array(std::move(codes)), py::cast(cats));
}

// Text of a str object (UTF-8); the Python layer has checked the types.
std::string text_of(PyObject* o, size_t row) {
  Py_ssize_t n = 0;
  const char* s = PyUnicode_AsUTF8AndSize(o, &n);
  if (!s) {
    PyErr_Clear();
    throw std::invalid_argument("row " + std::to_string(row + 1) + " is not text");
  }
  return std::string(s, static_cast<size_t>(n));
}

// Strings from a numpy object array of str, or from (codes, categories)
// of a Categorical (codes >= 0).
Strings strings_of(const py::object& x) {
  Strings out;
  if (py::isinstance<py::tuple>(x)) {
    auto t = x.cast<py::tuple>();
    auto codes = t[0].cast<py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>>();
    const Strings cats = strings_of(t[1]);
    auto r = codes.unchecked<1>();
    out.resize(static_cast<size_t>(r.shape(0)));
    for (py::ssize_t i = 0; i < r.shape(0); ++i) out[i] = cats.at(static_cast<size_t>(r(i)));
    return out;
  }
  auto a = py::array::ensure(x);
  if (!a || a.dtype().kind() != 'O' || a.ndim() != 1)
    throw std::invalid_argument("expected a one-dimensional array of str");
  auto* items = static_cast<PyObject**>(const_cast<void*>(a.data()));
  const auto n = static_cast<size_t>(a.shape(0));
  const auto stride = a.strides(0) / static_cast<py::ssize_t>(sizeof(PyObject*));
  out.resize(n);
  for (size_t i = 0; i < n; ++i) out[i] = text_of(items[i * stride], i);
  return out;
}

// Rows of a path column (object array) that are missing (None, NaN,
// pandas' NA), not text, or empty / blank (empty, or white space that
// starts with a blank or tab), 0-based, in one pass.
py::tuple path_rows(const py::array& a) {
  if (a.dtype().kind() != 'O' || a.ndim() != 1)
    throw std::invalid_argument("expected a one-dimensional object array");
  auto* items = static_cast<PyObject**>(const_cast<void*>(a.data()));
  const auto stride = a.strides(0) / static_cast<py::ssize_t>(sizeof(PyObject*));
  std::vector<std::int64_t> na, other, blank;
  for (py::ssize_t i = 0; i < a.shape(0); ++i) {
    PyObject* o = items[i * stride];
    if (PyUnicode_Check(o)) {
      Py_ssize_t n = 0;
      const char* s = PyUnicode_AsUTF8AndSize(o, &n);
      if (!s) throw py::error_already_set();
      if (n == 0) {
        blank.push_back(i);
      } else if (s[0] == ' ' || s[0] == '\t') {
        Py_ssize_t k = 0;
        while (k < n && std::isspace(static_cast<unsigned char>(s[k]))) ++k;
        if (k == n) blank.push_back(i);
      }
    } else if (o == Py_None || (PyFloat_Check(o) && std::isnan(PyFloat_AsDouble(o))) ||
               std::string(Py_TYPE(o)->tp_name) == "NAType") {
      na.push_back(i);
    } else {
      other.push_back(i);
    }
  }
  return py::make_tuple(to_array(std::move(na)), to_array(std::move(other)),
                        to_array(std::move(blank)));
}

template <class T>
std::vector<T> vector_of(const py::object& x) {
  if (x.is_none()) return {};
  auto a = x.cast<py::array_t<T, py::array::c_style | py::array::forcecast>>();
  return std::vector<T>(a.data(), a.data() + a.size());
}

// The journeys of one call: columns converted from pandas, or a file the
// core streams.
struct Input {
  int flg_file = 0;
  std::string file, var_path, var_conv, var_value, var_null, row_sep = ";", cha_sep = ">";
  Strings vy;
  std::vector<uli> vc, vn;
  Reals vv;

  // Columns held here count when their vectors are filled (the Python
  // layer fills them only for columns it was given); a file names them.
  JourneySource source() const {
    if (flg_file) return file_source(file, var_path, var_conv, var_value, var_null, row_sep);
    return vector_source(&vy, &vc, &vv, &vn);
  }

  // A file read into the vectors, for the models that take vectors only.
  void load() {
    if (flg_file == 0) return;
    const JourneySource src = file_source(file, var_path, var_conv, var_value, var_null, row_sep);
    JourneyReader reader(src);
    while (reader.next()) {
      vy.push_back(reader.path());
      vc.push_back(reader.conv());
      if (reader.flg_value()) vv.push_back(reader.value());
      if (reader.flg_null()) vn.push_back(reader.nulls());
    }
    flg_file = 0;
  }
};

// From the dict the Python layer builds: file, path, conversions, value,
// nulls (column names), field_sep, channel_sep, and for data the columns
// vy, vc, vv, vn (None when absent).
Input input_of(const py::dict& d) {
  Input in;
  in.flg_file = d["file"].is_none() ? 0 : 1;
  if (in.flg_file) in.file = d["file"].cast<std::string>();
  in.var_path = d["path"].cast<std::string>();
  in.var_conv = d["conversions"].cast<std::string>();
  in.var_value = d["value"].is_none() ? "" : d["value"].cast<std::string>();
  in.var_null = d["nulls"].is_none() ? "" : d["nulls"].cast<std::string>();
  in.row_sep = d["field_sep"].cast<std::string>();
  in.cha_sep = d["channel_sep"].cast<std::string>();
  if (!in.flg_file) {
    in.vy = strings_of(d["vy"]);
    in.vc = vector_of<uli>(d["vc"]);
    in.vv = vector_of<double>(d["vv"]);
    in.vn = vector_of<uli>(d["vn"]);
  }
  return in;
}

py::dict touchpoints(TouchpointRows&& r) {
  py::dict d;
  d["journey"] = to_array(std::move(r.vpath_id));
  d["channel"] = to_codes(r.vpath_channel);
  d["position"] = to_array(std::move(r.vpath_chpos));
  d["conversions"] = to_array(std::move(r.vpath_attr_convs));
  d["value"] = to_array(std::move(r.vpath_attr_value));
  return d;
}

Reals unmasked(Reals v) {
  unhide_index(&v);
  return v;
}

// ---- models ------------------------------------------------------------------

py::dict heuristic(const py::dict& src, bool log) {
  Input in = input_of(src);
  HeuristicSettings set;
  set.cha_sep = in.cha_sep;
  set.verbose = log ? 1 : 0;
  HeuristicResult r;
  native(log, [&] { r = heuristic_run(in.source(), set); });
  py::dict d;
  d["journey"] = to_array(std::move(r.vpath_id));
  d["channel"] = to_codes(r.vpath_channel);
  d["position"] = to_array(std::move(r.vpath_chpos));
  d["conversions_first"] = to_array(std::move(r.vpath_attr_convs_first));
  d["value_first"] = to_array(std::move(r.vpath_attr_value_first));
  d["conversions_last"] = to_array(std::move(r.vpath_attr_convs_last));
  d["value_last"] = to_array(std::move(r.vpath_attr_value_last));
  d["conversions_linear"] = to_array(std::move(r.vpath_attr_convs_linear));
  d["value_linear"] = to_array(std::move(r.vpath_attr_value_linear));
  return d;
}

py::dict rules(const py::dict& src, double first_share, double last_share, Strings direct,
               bool log) {
  Input in = input_of(src);
  RuleSettings set;
  set.cha_sep = in.cha_sep;
  set.first_share = first_share;
  set.last_share = last_share;
  set.direct_channels = std::move(direct);
  set.verbose = log ? 1 : 0;
  RuleResult r;
  native(log, [&] { r = rule_run(in.source(), set); });
  py::dict d;
  d["channels"] = r.vchannels;
  d["position_conversions"] = to_array(std::move(r.vposition_convs));
  d["position_value"] = to_array(std::move(r.vposition_value));
  d["lnd_conversions"] = to_array(std::move(r.vlnd_convs));
  d["lnd_value"] = to_array(std::move(r.vlnd_value));
  return d;
}

// Markov settings by the names of the Python layer.
MarkovSettings markov_settings(const py::dict& s) {
  MarkovSettings set;
  set.type = s["type"].cast<int>();
  set.order = s["order"].cast<uli>();
  set.nsim_start = s["simulations"].cast<uli>();
  set.max_step = s["max_steps"].cast<uli>();
  set.ncore = s["threads"].cast<uli>();
  set.nfold = s["folds"].cast<uli>();
  set.seed = s["seed"].cast<uli>();
  set.conv_par = s["tolerance"].cast<double>();
  set.rate_step_sim = s["growth"].cast<double>();
  set.flg_out_tran_mtx = s["transition_matrix"].cast<int>();
  set.flg_out_attr = 1;
  set.method.exact = s["exact"].cast<int>();
  set.method.unlimited = s["unlimited"].cast<int>();
  return set;
}

py::dict markov(const py::dict& src, const py::dict& settings, bool log) {
  Input in = input_of(src);
  MarkovSettings set = markov_settings(settings);
  // Progress lines are always collected: they carry the simulation summary.
  set.verbose = 1;
  MarkovResult r;
  Strings lines;
  native(log, [&] {
    r = markov_run(in.source(), in.cha_sep, set);
    lines = g_sink.lines;
  });
  py::dict d;
  d["channels"] = r.vchannels;
  d["weights"] = to_array(unmasked(std::move(r.vindex)));
  d["conversions_loc"] = to_array(std::move(r.vattr_convs_loc));
  d["conversions"] = to_array(std::move(r.vattr_convs_glob));
  d["value"] = to_array(std::move(r.vattr_value_glob));
  TouchpointRows rows;
  rows.vpath_id = std::move(r.vpath_id);
  rows.vpath_channel = std::move(r.vpath_channel);
  rows.vpath_chpos = std::move(r.vpath_chpos);
  rows.vpath_attr_convs = std::move(r.vpath_attr_convs);
  rows.vpath_attr_value = std::move(r.vpath_attr_value);
  d["touchpoints"] = touchpoints(std::move(rows));
  d["from"] = r.vchannel_from_mtx;
  d["to"] = r.vchannel_to_mtx;
  d["probability"] = to_array(std::move(r.vtran_prob_mtx));
  d["lines"] = lines;
  return d;
}

py::dict shapley(const py::dict& src, int simplified, int type_worth, bool log) {
  Input in = input_of(src);
  ShapleySettings set;
  set.cha_sep = in.cha_sep;
  set.flg_simplified = simplified;
  set.type_worth = type_worth;
  ShapleyResult r;
  native(log, [&] { r = shapley_run(in.source(), set); });
  py::dict d;
  d["channels"] = r.vchannels;
  d["weights"] = to_array(type_worth == 0 ? Reals() : unmasked(std::move(r.vindex)));
  d["conversions_loc"] = to_array(std::move(r.vattr_convs_loc));
  d["conversions"] = to_array(std::move(r.vattr_convs_glob));
  d["value"] = to_array(std::move(r.vattr_value_glob));
  d["touchpoints"] = touchpoints(std::move(r.rows));
  return d;
}

py::dict logistic(const py::dict& src, bool log) {
  Input in = input_of(src);
  LogisticSettings set;
  set.cha_sep = in.cha_sep;
  LogisticResult r;
  native(log, [&] { r = logistic_run(in.source(), set); });
  TouchpointRows rows;
  rows.vpath_id = std::move(r.vpath_id);
  rows.vpath_channel = std::move(r.vpath_channel);
  rows.vpath_chpos = std::move(r.vpath_chpos);
  rows.vpath_attr_convs = std::move(r.vpath_attr_convs);
  rows.vpath_attr_value = std::move(r.vpath_attr_value);
  py::dict d;
  d["channels"] = r.vchannels;
  d["weights"] = to_array(unmasked(std::move(r.vindex)));
  d["conversions_loc"] = to_array(std::move(r.vattr_convs_loc));
  d["touchpoints"] = touchpoints(std::move(rows));
  // The regression behind the indices: coefficients, their covariance
  // (row-major, as numpy reads it) and how the fit stopped.
  const arma::mat& v = r.fit.vcov;
  std::vector<double> vcov(v.n_elem);
  for (arma::uword i = 0; i < v.n_rows; ++i)
    for (arma::uword j = 0; j < v.n_cols; ++j) vcov[i * v.n_cols + j] = v(i, j);
  d["coefficients"] = to_array(std::move(r.fit.vcoeff));
  d["vcov"] = to_array(std::move(vcov)).reshape({static_cast<py::ssize_t>(v.n_rows),
                                                 static_cast<py::ssize_t>(v.n_cols)});
  d["loglik"] = r.fit.loglik;
  d["nobs"] = r.fit.nobs;
  d["gradient_norm"] = r.fit.gradient_norm;
  d["iterations"] = r.fit.iterations;
  return d;
}

// Plain weights (the last one for channels not listed) applied to journeys.
py::dict new_paths(const py::dict& src, const Strings& channels, const Reals& weights, bool log) {
  Input in = input_of(src);
  if (weights.size() != channels.size() + 1)
    throw std::invalid_argument("weights: one per channel and one for unknown channels expected");
  ChannelMap mp;
  for (uli j = 0; j < channels.size(); ++j) mp[channels[j]] = j;   // a repeated name keeps its last
  Reals vindex(weights.begin(), weights.end() - 1), loc(channels.size(), 0.0);
  TouchpointRows rows;
  native(log, [&] {
    PathSettings set;
    set.cha_sep = in.cha_sep;
    attribute_journeys(in.source(), set, mp, vindex, weights.back(), &rows, &loc);
  });
  py::dict d;
  d["conversions_loc"] = to_array(std::move(loc));
  d["touchpoints"] = touchpoints(std::move(rows));
  return d;
}

py::dict bootstrap(const std::string& model, const py::dict& src, const py::dict& settings,
                   uli nrep, uli seed, uli threads, bool log) {
  Input in = input_of(src);
  BootstrapSettings s;
  s.cha_sep = in.cha_sep;
  for (auto item : settings) {
    const auto key = item.first.cast<std::string>();
    const py::handle v = item.second;
    if (key == "first_share") s.first_share = v.cast<double>();
    else if (key == "last_share") s.last_share = v.cast<double>();
    else if (key == "direct_channels") s.direct_channels = v.cast<Strings>();
    else if (key == "simplified") s.flg_simplified = v.cast<int>();
    else if (key == "exact") s.markov.method.exact = v.cast<int>();
    else if (key == "unlimited") s.markov.method.unlimited = v.cast<int>();
    else if (key == "order") s.markov.order = v.cast<uli>();
    else if (key == "simulations") s.markov.nsim_start = v.cast<uli>();
    else if (key == "max_steps") s.markov.max_step = v.cast<uli>();
  }
  Strings vchannels;
  Reals estimate, reps;
  native(log, [&] {
    in.load();
    bootstrap_cpp(model, s, in.vy, in.vc, in.vv, in.vn, nrep, seed, threads, &vchannels,
                  &estimate, &reps);
  });
  py::dict d;
  d["channels"] = vchannels;
  // reps is replicate-major: nrep rows of one value per channel
  auto a = to_array(std::move(reps));
  d["reps"] = a.reshape({static_cast<py::ssize_t>(nrep),
                         static_cast<py::ssize_t>(vchannels.size())});
  return d;
}

py::dict time_decay(const py::object& paths, const py::object& days, const py::object& conv,
                    const py::object& value, const std::string& sep, double half_life, bool log) {
  TimeDecayInput in{strings_of(paths), strings_of(days), vector_of<uli>(conv),
                    vector_of<double>(value)};
  const TimeDecaySettings settings{sep, half_life};
  settings.validate();
  TimeDecayResult r;
  native(log, [&] { r = time_decay_run(std::move(in), settings); });
  py::dict d;
  d["channels"] = r.vchannels;
  d["conversions"] = to_array(std::move(r.vattr_conv));
  d["value"] = to_array(std::move(r.vattr_value));
  return d;
}

py::dict probabilistic(const py::dict& src, bool log) {
  Input in = input_of(src);
  if (in.cha_sep.empty()) throw std::invalid_argument("channel_sep must not be empty");
  ProbabilisticSettings set;
  set.cha_sep = in.cha_sep[0];
  ProbabilisticResult r;
  native(log, [&] { r = probabilistic_run(in.source(), set); });
  py::dict d;
  d["channels"] = r.vchannels;
  d["rate"] = to_array(std::move(r.vrate));
  d["contribution"] = to_array(std::move(r.vcontribution));
  d["conversions"] = to_array(std::move(r.vattr_convs));
  d["value"] = to_array(std::move(r.vattr_value));
  d["pair_a"] = to_array(std::move(r.vpair_a));
  d["pair_b"] = to_array(std::move(r.vpair_b));
  d["pair_rate"] = to_array(std::move(r.vpair_rate));
  return d;
}

py::dict additive_hazard(const py::object& paths, const py::object& days, const py::object& conv,
                         const py::object& value, const std::string& sep, bool log) {
  const Strings vy = strings_of(paths), vdays = strings_of(days);
  const std::vector<uli> vc = vector_of<uli>(conv), vn;
  const Reals vv = vector_of<double>(value);
  if (sep.empty()) throw std::invalid_argument("channel_sep must not be empty");
  if (vc.size() != vy.size() || (!vv.empty() && vv.size() != vy.size()))
    throw std::invalid_argument("additive_hazard: path, conversions and value differ in length");
  AdditiveHazardSettings set;
  set.cha_sep = sep[0];
  set.vdays = &vdays;
  AdditiveHazardResult r;
  native(log, [&] { r = additive_hazard_run(vector_source(&vy, &vc, &vv, &vn), set); });
  py::dict d;
  d["channels"] = r.vchannels;
  d["rate"] = to_array(std::move(r.vrate));
  d["mean_days"] = to_array(std::move(r.vmean_days));
  d["conversions"] = to_array(std::move(r.vattr_convs));
  d["value"] = to_array(std::move(r.vattr_value));
  return d;
}

py::dict choose_order(const py::dict& src, uli max_order, uli points, uli folds,
                      double test_share, uli seed, double tolerance, int flg_type, bool log) {
  Input in = input_of(src);
  OrderSettings set;
  set.cha_sep = in.cha_sep;
  set.max_order = max_order;
  set.roc_npt = points;
  set.nfold = folds;
  set.perc_test = test_share;
  set.seed = seed;
  set.perc_tol = tolerance;
  set.flg_type = flg_type;
  set.verbose = log ? 1 : 0;
  OrderResult r;
  native(log, [&] { r = choose_order_run(in.source(), set); });
  py::dict d;
  d["order"] = to_array(std::move(r.vorder));
  d["area"] = to_array(std::move(r.vcurve));
  d["best"] = r.v_best_order.empty() ? 0.0 : r.v_best_order[0];
  return d;
}

py::dict nba_train(const py::dict& src, uli max_order, const py::dict& settings,
                   double min_sample, bool log) {
  Input in = input_of(src);
  const MarkovSettings m = markov_settings(settings);
  NbaSettings set;
  set.cha_sep = in.cha_sep;
  set.max_order = max_order;
  set.nsim_start = m.nsim_start;
  set.max_step = m.max_step;
  set.ncore = m.ncore;
  set.nfold = m.nfold;
  set.seed = m.seed;
  set.conv_par = m.conv_par;
  set.rate_step_sim = m.rate_step_sim;
  set.min_sample_index = min_sample;
  set.verbose = log ? 1 : 0;
  NbaTable t;
  native(log, [&] { t = nba_train_run(in.source(), set); });
  py::dict d;
  d["channels"] = t.vchannels;
  d["history"] = t.v_index_from;
  d["next"] = to_array(std::move(t.v_index_to));
  d["conversion_rate"] = to_array(std::move(t.v_index_value));
  return d;
}

py::dict nba_suggest(const Strings& paths, const std::string& sep, Strings from,
                     std::vector<uli> to, Reals rate, Strings channels) {
  Strings best(paths.size());
  Reals best_rate(paths.size());
  std::vector<double> rates;
  rates.reserve(paths.size() * channels.size());
  const NbaTable table{0, std::move(channels), std::move(from), std::move(to), std::move(rate)};
  const size_t nchannels = table.vchannels.size();
  const NbaPredictSettings settings{sep};
  native(false, [&] {
    for (size_t i = 0; i < paths.size(); ++i) {
      NbaPrediction one = nba_predict_run(table, paths[i], settings);
      best[i] = std::move(one.best_action);
      best_rate[i] = one.best_index;
      if (one.v_indices.size() != nchannels)
        throw std::runtime_error("next best action: one rate per channel expected");
      rates.insert(rates.end(), one.v_indices.begin(), one.v_indices.end());
      if ((i & 0xFFF) == 0) check_interrupt();
    }
  });
  py::dict d;
  d["next"] = best;
  d["conversion_rate"] = to_array(std::move(best_rate));
  auto a = to_array(std::move(rates));
  d["rates"] = a.reshape({static_cast<py::ssize_t>(paths.size()),
                          static_cast<py::ssize_t>(nchannels)});
  return d;
}

// Weights reach the allocation masked, as it expects them from a model run.
py::dict budget(Strings channels, Reals conversions, Reals value, Strings cost_channels,
                Reals cost, Strings weight_channels, Reals weights, double total,
                double reallocate, double min_share) {
  if (!weights.empty()) hide_index(&weights);
  BudgetInput in{std::move(channels), std::move(conversions), std::move(value),
                 std::move(cost_channels), std::move(cost), std::move(weight_channels),
                 std::move(weights)};
  BudgetResult r;
  native(false, [&] { r = budget_run(std::move(in), {total, reallocate, min_share}); });
  py::dict d;
  d["channel"] = r.channels;
  d["budget"] = to_array(std::move(r.budget));
  return d;
}

// ---- events --------------------------------------------------------------------

JourneyRules journey_rules(double lookback_days, double lookback_touches,
                           const std::string& transform, int times, const std::string& sep) {
  JourneyRules r;
  r.lookback_days = std::isinf(lookback_days) ? -1 : lookback_days;
  r.lookback_touches = std::isinf(lookback_touches) || lookback_touches >= 1.8e19
                           ? 0 : static_cast<uli>(lookback_touches);
  r.transform = path_transform(transform);
  r.flg_times = times;
  if (sep.empty()) throw std::invalid_argument("channel_sep must not be empty");
  r.channel_sep = sep[0];
  return r;
}

py::dict journey_table(JourneyTable&& t) {
  py::dict d;
  d["path"] = t.vpath;
  d["days"] = t.vdays;
  d["conversions"] = to_array(std::move(t.vconv));
  d["nulls"] = to_array(std::move(t.vnulls));
  d["value"] = to_array(std::move(t.vvalue));
  d["untouched"] = t.untouched;
  d["untouched_rows"] = t.nuntouched_rows;
  d["untouched_value"] = t.untouched_value;
  return d;
}

// Seconds of ISO text (or numbers written as text), row by row.
py::array_t<double> event_seconds(const py::object& text) {
  const Strings t = strings_of(text);
  Reals out(t.size());
  for (size_t i = 0; i < t.size(); ++i) out[i] = parse_event_time(t[i]);
  return to_array(std::move(out));
}

py::dict events(py::array_t<int, py::array::c_style | py::array::forcecast> user, uli nusers,
                py::array_t<double, py::array::c_style | py::array::forcecast> time,
                py::array_t<int, py::array::c_style | py::array::forcecast> channel,
                Strings channels,
                py::array_t<double, py::array::c_style | py::array::forcecast> conv,
                const py::object& value, const py::object& tie, double lookback_days,
                double lookback_touches, const std::string& transform, int times,
                const std::string& sep) {
  const JourneyRules rules = journey_rules(lookback_days, lookback_touches, transform, times, sep);
  const auto n = static_cast<uli>(user.size());
  if (static_cast<uli>(time.size()) != n || static_cast<uli>(channel.size()) != n ||
      static_cast<uli>(conv.size()) != n)
    throw std::invalid_argument("event columns of different lengths");
  const Reals vvalue = vector_of<double>(value), vtie = vector_of<double>(tie);
  EventColumns ev;
  ev.n = n;
  ev.nusers = nusers;
  ev.user = user.data();
  ev.time = time.data();
  ev.channel = channel.data();
  ev.conv = conv.data();
  ev.value = value.is_none() ? nullptr : vvalue.data();
  ev.tie = tie.is_none() ? nullptr : vtie.data();
  ev.vchannels = std::move(channels);
  JourneyTable out;
  native(false, [&] { journeys_from_events_cpp(&ev, &rules, &out); });
  return journey_table(std::move(out));
}

py::dict event_file(const std::string& file, const Strings& vars, const std::string& field_sep,
                    int grouped, double lookback_days, double lookback_touches,
                    const std::string& transform, int times, const std::string& sep) {
  const JourneyRules rules = journey_rules(lookback_days, lookback_touches, transform, times, sep);
  if (vars.size() != 6) throw std::invalid_argument("six column names expected");
  if (field_sep.empty()) throw std::invalid_argument("field_sep must not be empty");
  EventFile src{file, vars[0], vars[1], vars[2], vars[3], vars[4], vars[5], field_sep[0], grouped};
  JourneyTable out;
  native(false, [&] { journeys_from_event_file_cpp(&src, &rules, &out); });
  return journey_table(std::move(out));
}

// The rows of a converted input (the conversion alone, for benchmarks).
uli input_rows(const py::dict& src) { return input_of(src).vy.size(); }

}  // namespace

PYBIND11_MODULE(_core, m) {
  g_main_thread =
      py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
  m.doc() = "Native core of touchlane (internal; use the functions of the package).";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Interrupted&) {
      if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const std::out_of_range& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::overflow_error& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });
  m.def("path_rows", &path_rows);
  m.def("heuristic", &heuristic);
  m.def("rules", &rules);
  m.def("markov", &markov);
  m.def("shapley", &shapley);
  m.def("logistic", &logistic);
  m.def("new_paths", &new_paths);
  m.def("bootstrap", &bootstrap);
  m.def("time_decay", &time_decay);
  m.def("probabilistic", &probabilistic);
  m.def("additive_hazard", &additive_hazard);
  m.def("choose_order", &choose_order);
  m.def("nba_train", &nba_train);
  m.def("nba_suggest", &nba_suggest);
  m.def("budget", &budget);
  m.def("event_seconds", &event_seconds);
  m.def("events", &events);
  m.def("event_file", &event_file);
  m.def("input_rows", &input_rows);
  m.attr("NO_SEED") = py::int_(gb::limsup);
}
