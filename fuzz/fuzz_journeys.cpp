// The journey reader feeding every model that reads journeys: heuristic,
// path attribution, the Markov chain builder, Shapley, logistic and the
// complexity encoders. The first byte picks the options; the rest is the
// journey file (header included when bit 0 is set, else the header
// "path;conv;value;nulls" is put in front).
#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "complexity/complexity.h"
#include "harness.h"
#include "heuristic/heuristic.h"
#include "journeys/journeys.h"
#include "logistic/logistic.h"
#include "markov/markov.h"
#include "pathattr/pathattr.h"
#include "shapley/shapley.h"

namespace {

struct Journeys {
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
};

struct Heuristic {
  std::vector<double> id, chpos, cf, vf, cl, vl, cn, vn;
  std::vector<std::string> name, channel;
};

void heuristic(int flg_file, const std::string& file, Journeys* j, const std::string& out,
               Heuristic* h) {
  JourneySource src = flg_file != 0 ? file_source(file, "path", "conv", "value", "", ";")
                                    : vector_source(&j->vy, &j->vc, &j->vv, nullptr);
  src.field_sep = ";";
  HeuristicResult r = heuristic_run(src, HeuristicSettings{">", 1, 1, out, 0});
  *h = Heuristic{r.vpath_id, r.vpath_chpos, r.vpath_attr_convs_first, r.vpath_attr_value_first,
                 r.vpath_attr_convs_last, r.vpath_attr_value_last, r.vpath_attr_convs_linear,
                 r.vpath_attr_value_linear, r.vpath_name, r.vpath_channel};
}

template <class F>
void expect_clean_error(F&& f) {
  try {
    f();
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  } catch (const std::overflow_error&) {
  } catch (const std::length_error&) {
  } catch (const std::runtime_error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  static ScratchFile input("journeys"), result("result");
  const uint8_t opt = data[0];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (!(opt & 1)) text = "path;conv;value;nulls\n" + text;
  const std::string& file = input.write(text);
  uli order = 1 + ((opt >> 1) & 3);

  // Read once: the journeys as vectors, or the error every model must give.
  Journeys j;
  bool readable = true;
  try {
    JourneySource src = file_source(file, "path", "conv", "value", "nulls", ";");
    src.cha_sep = '>';
    JourneyReader r(src);
    while (r.next()) {
      j.vy.push_back(r.path());
      j.vc.push_back(r.conv());
      j.vv.push_back(r.value());
      j.vn.push_back(r.nulls());
      FUZZ_CHECK(std::isfinite(r.value()));
    }
  } catch (const std::exception&) {
    readable = false;
  }
  if (j.vy.size() > 200) return 0;

  // Heuristic models: the same rows from the file and from the vectors.
  Heuristic hf, hv;
  bool file_ok = true;
  try {
    heuristic(1, file, &j, (opt & 8) ? result.name() : "", &hf);
  } catch (const std::exception&) {
    file_ok = false;
  }
  if (readable) FUZZ_CHECK(file_ok);   // it reads no null column, so it may read more
  if (readable) {
    heuristic(0, "", &j, "", &hv);
    if (!(opt & 8)) FUZZ_CHECK(hf.cf == hv.cf && hf.cn == hv.cn && hf.channel == hv.channel);
  }

  // Markov chain builder from the file.
  expect_clean_error([&] {
    SimulationMatrix m;
    std::vector<std::string> from, to;
    std::vector<double> prob;
    const JourneySource src = file_source(file, "path", "conv", "value", "nulls", ";");
    build_simulation_matrix(src, ">", order, 0, &m);
    FUZZ_CHECK(m.S.nchannels == m.nchannels_sim && m.nchannels_sim == m.vchannels_sim.size());
    m.S.tran_matx(&m.vchannels_sim, &from, &to, &prob);
    for (double p : prob) FUZZ_CHECK(p >= 0 && p <= 1);
  });
  if (!readable) return 0;

  // Shapley (simplified and exact), which also runs path attribution.
  for (int simplified : {1, 0}) {
    expect_clean_error([&] {
      ShapleySettings s;
      s.flg_simplified = simplified;
      s.type_worth = opt >> 5 & 3;
      shapley_run(file_source(file, "path", "conv", "value", "nulls", ";"), s);
    });
  }

  // Path attribution with a weight per channel seen by the heuristic.
  expect_clean_error([&] {
    std::map<std::string, uli> mp;
    for (const std::string& c : hv.channel) mp.emplace(c, mp.size());
    std::vector<double> vindex(mp.size(), 1.0), loc(mp.size(), 0.0);
    for (size_t k = 0; k < vindex.size(); ++k) vindex[k] = 0.5 + static_cast<double>(k % 3);
    PathSettings ps;
    ps.cha_sep = ">";
    ps.flg_write_nulls = 1;
    ps.flg_write_paths = 1;
    TouchpointRows rows;
    attribute_journeys(vector_source(&j.vy, &j.vc, &j.vv, &j.vn), ps, mp, vindex, 1.0, &rows, &loc);
  });

  // Logistic fit on the journeys with few rows (the optimiser is costly).
  if (j.vy.size() <= 20) {
    expect_clean_error([&] {
      Journeys c = j;
      std::string sep = ">";
      std::map<std::string, uli> mp;
      std::vector<std::string> vchannels;
      std::vector<double> vindex, vcoeff;
      double mean = 0;
      logistic_fit_cpp(&c.vy, &c.vc, &c.vn, &sep, &mp, &vchannels, &vindex, &mean, &vcoeff);
      FUZZ_CHECK(vindex.size() == vchannels.size());
    });
  }

  // Complexity encoders.
  expect_clean_error([&] {
    complexity_run(j.vy, ComplexitySettings{order, ">"});
  });
  return 0;
}
