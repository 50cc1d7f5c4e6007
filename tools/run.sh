#!/usr/bin/env bash
# Set-up, demo and test driver.
#   tools/run.sh demo   install what is missing, build the package, print the
#                       sample journeys under every model side by side and
#                       write the chart to build/touchlane-attribution.png,
#                       then the same table from Python
#   tools/run.sh test   install what is missing, build the package and the
#                       Python extension, run the R tests, the Python tests
#                       (pytest, with the docstring examples), the hostile-argument sweep (tools/hostile.R),
#                       R CMD build + check, the C++ core tests (g++
#                       plain, clang with sanitizers) and each fuzzer briefly
#                       (fuzz/run.sh)
#   tools/run.sh asan   the R tests against the package built with address and
#                       undefined-behaviour sanitizers (slow: not part of test)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
LIB="$ROOT/.rlib"
DEBS="r-base-dev r-cran-rcpp r-cran-rcpparmadillo r-cran-testthat r-cran-roxygen2 r-cran-knitr r-cran-rmarkdown pandoc libhowardhinnant-date-dev libarmadillo-dev libgtest-dev cmake g++ make clang libclang-rt-14-dev r-cran-dbi r-cran-rsqlite r-cran-rpostgresql postgresql libssl-dev r-cran-tzdb r-cran-generics r-cran-cli r-cran-ggplot2 qpdf python3-pybind11 pybind11-dev python3-venv python3-dev python3-numpy python3-pandas python3-matplotlib python3-pytest python3-psycopg2 ccache"

ensure_deps() {
  local missing=""
  for p in $DEBS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  if [ -n "$missing" ]; then
    echo "Installing Debian packages:$missing"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
  fi
}

# R's own compiles go through ccache when it is there, so the install, the
# vignette build and the check's install compile each source once.
use_ccache_for_r() {
  command -v ccache > /dev/null || return 0
  mkdir -p "$ROOT/build"
  printf 'CXX17 = ccache g++\nCXX = ccache g++\nCC = ccache gcc\n' > "$ROOT/build/ccache-makevars"
  export R_MAKEVARS_USER="$ROOT/build/ccache-makevars"
}

install_pkg() {
  use_ccache_for_r
  mkdir -p "$LIB"
  R CMD INSTALL --preclean --no-test-load -l "$LIB" . > "$ROOT/.rlib/install.log" 2>&1 || {
    cat "$ROOT/.rlib/install.log"; echo "R CMD INSTALL failed"; exit 1; }
  # subfolder objects are not removed by --preclean's own clean step
  find src -name '*.o' -delete; rm -f src/*.so
  echo "Touchlane installed into $LIB"
}

# The Python package: a virtual environment in the checkout on Debian's
# python3 (its numpy, pandas, matplotlib, pytest and psycopg2 come from
# the system site packages), the extension built by CMake into
# python/touchlane, and a .pth file pointing the environment at python/.
# No package index is used.
VENV="$ROOT/.venv"
ensure_python() {
  mkdir -p build
  if [ ! -x "$VENV/bin/python" ]; then
    /usr/bin/python3 -m venv --system-site-packages "$VENV" || { echo "python3 -m venv failed"; exit 1; }
  fi
  local site
  site=$("$VENV/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
  echo "$ROOT/python" > "$site/touchlane-checkout.pth"
  local opts=(-DPython_EXECUTABLE="$VENV/bin/python")
  if command -v ccache > /dev/null; then opts+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  cmake -S python -B build/python "${opts[@]}" > build/python.cmake.log 2>&1 || {
    cat build/python.cmake.log; echo "cmake for the Python extension failed"; exit 1; }
  cmake --build build/python -j2 > build/python.build.log 2>&1 || {
    tail -50 build/python.build.log; echo "building the Python extension failed"; exit 1; }
  "$VENV/bin/python" -c "import touchlane" || { echo "import touchlane failed"; exit 1; }
  echo "touchlane (Python) built into python/touchlane, environment $VENV"
}

run_pytest() {  # the summary line stays visible; "no tests collected" (5) fails too
  local rc=0
  (cd python && R_LIBS="$LIB" "$VENV/bin/python" -m pytest -q -p no:cacheprovider \
     --doctest-modules touchlane tests 2>&1 | tail -${PYTEST_TAIL:-15}; exit "${PIPESTATUS[0]}") || rc=$?
  if [ "$rc" -ne 0 ]; then
    [ "$rc" -eq 5 ] && echo "pytest collected no tests"
    echo "Python tests failed (pytest exit $rc)"; exit 1
  fi
}

r_check() {  # build the source package and check it; ERRORs, WARNINGs and NOTEs fail
  local dir="$ROOT/build/check"
  rm -rf "$dir"; mkdir -p "$dir"
  (cd "$dir" && R_LIBS="$LIB" MAKEFLAGS=-j2 R CMD build "$ROOT" > build.log 2>&1) || {
    cat "$dir/build.log"; echo "R CMD build failed"; exit 1; }
  local tarball
  tarball=$(ls "$dir"/Touchlane_*.tar.gz)
  # CRAN's own checks, without the ones that need the network; the only
  # NOTE allowed is the incoming one (a new submission).
  (cd "$dir" && R_LIBS="$LIB" MAKEFLAGS=-j2 _R_CHECK_CRAN_INCOMING_REMOTE_=false \
     _R_CHECK_CRAN_INCOMING_USE_ASPELL_=false _R_CHECK_FUTURE_FILE_TIMESTAMPS_=false \
     _R_CHECK_SYSTEM_CLOCK_=false \
     R CMD check --as-cran --no-manual --no-tests "$tarball" > check.log 2>&1) || true
  grep -E "^\* checking .*\.\.\. (WARNING|ERROR|NOTE)" -A12 "$dir/check.log" || true
  local status
  status=$(grep -E "^Status:" "$dir/check.log" || echo "Status: no status (check did not finish)")
  echo "R CMD check: $status"
  if echo "$status" | grep -qE "ERROR|WARNING|no status" ||
     grep -E "^\* checking .*\.\.\. NOTE" "$dir/check.log" | grep -qv "CRAN incoming feasibility"; then
    tail -20 "$dir/check.log"; exit 1
  fi
}

run_ctest() {  # $1 build dir, $2 ctest label ("" for every test), rest: extra cmake options
  local dir=$1 label=$2; shift 2
  local target=() select=()
  if [ -n "$label" ]; then target=(--target "${label}_tests"); select=(-L "$label"); fi
  if command -v ccache > /dev/null; then set -- -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@"; fi
  cmake -S tests/cpp -B "$dir" "$@" > "$dir.cmake.log" 2>&1 || { cat "$dir.cmake.log"; exit 1; }
  cmake --build "$dir" -j2 "${target[@]}" > "$dir.build.log" 2>&1 || { tail -50 "$dir.build.log"; exit 1; }
  (cd "$dir" && ctest --output-on-failure -j2 "${select[@]}" | tail -${CTEST_TAIL:-8})
}

. "$ROOT/tools/pg.sh"

case "${1:-}" in
  demo)
    ensure_deps
    install_pkg
    mkdir -p build
    R_LIBS="$LIB" Rscript inst/scripts/demo.R "$ROOT/inst/extdata/journeys.csv" \
      "$ROOT/build/touchlane-attribution.png"
    ensure_python
    echo
    "$VENV/bin/python" python/demo.py "$ROOT/inst/extdata/journeys.csv" \
      "$ROOT/build/touchlane-attribution-python.png"
    ;;
  test)
    ensure_deps
    install_pkg
    ensure_python
    mkdir -p build
    pg_start
    echo "== R tests (testthat)"
    R_LIBS="$LIB" Rscript -e '
      library(testthat); library(Touchlane)
      res <- as.data.frame(test_dir("tests/testthat", reporter = "summary", stop_on_failure = FALSE))
      nf <- sum(res$failed) + sum(res$error)
      cat(sprintf("testthat: %d passed, %d failed, %d skipped\n", sum(res$passed), nf, sum(res$skipped)))
      if (nf > 0) quit(status = 1)'
    echo "== Python tests (pytest, docstring examples)"
    run_pytest
    pg_stop
    echo "== hostile arguments to every entry point (tools/hostile.R)"
    R_LIBS="$LIB" Rscript tools/hostile.R || { echo "hostile-argument sweep failed"; exit 1; }
    echo "== R CMD build and R CMD check --as-cran --no-manual (tests ran above)"
    r_check
    echo "== C++ core tests"
    run_ctest build/plain "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    echo "== C++ core tests, clang, address and undefined-behaviour sanitizers"
    CXX=clang++ ASAN_OPTIONS=detect_leaks=1 run_ctest build/asan-clang "" -DCMAKE_BUILD_TYPE=Debug -DTOUCHLANE_SANITIZE=ON
    echo "== fuzzers, ${FUZZ_SECONDS:-30} s each"
    bash fuzz/run.sh "${FUZZ_SECONDS:-30}"
    echo "== C++ tests labelled threads, thread sanitizer"
    run_ctest build/tsan threads -DCMAKE_BUILD_TYPE=Debug -DTOUCHLANE_TSAN=ON
    ;;
  asan)
    ensure_deps
    mkdir -p build "$ROOT/.rlib-asan"
    mk="$ROOT/build/asan-makevars"
    san="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
    printf 'CXX17FLAGS = -g -O1 %s\nLDFLAGS = %s\n' "$san" "$san" > "$mk"
    R_MAKEVARS_USER="$mk" R CMD INSTALL --preclean --no-test-load -l "$ROOT/.rlib-asan" . \
      > build/asan-install.log 2>&1 || { tail -30 build/asan-install.log; exit 1; }
    find src -name '*.o' -delete; rm -f src/*.so
    asan_rt=$(g++ -print-file-name=libasan.so)
    echo "== R tests, package built with sanitizers"
    TOUCHLANE_ROBUST_PRELOAD="$asan_rt" LD_PRELOAD="$asan_rt" \
      ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
      R_LIBS="$ROOT/.rlib-asan" Rscript -e '
      library(testthat); library(Touchlane)
      res <- as.data.frame(test_dir("tests/testthat", reporter = "summary", stop_on_failure = FALSE))
      nf <- sum(res$failed) + sum(res$error)
      cat(sprintf("testthat: %d passed, %d failed, %d skipped\n", sum(res$passed), nf, sum(res$skipped)))
      if (nf > 0) quit(status = 1)'
    echo "== hostile arguments, package built with sanitizers"
    TOUCHLANE_ROBUST_PRELOAD="$asan_rt" LD_PRELOAD="$asan_rt" \
      ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
      R_LIBS="$ROOT/.rlib-asan" Rscript tools/hostile.R
    ;;
  *)
    echo "usage: tools/run.sh demo|test|asan" >&2
    exit 2
    ;;
esac
