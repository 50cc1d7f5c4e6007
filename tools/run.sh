#!/usr/bin/env bash
# Set-up, demo and test driver.
#   tools/run.sh demo   install what is missing, build the package, print the
#                       sample journeys under every model side by side and
#                       write the chart to build/touchlane-attribution.png
#   tools/run.sh test   install what is missing, build the package, run the
#                       R tests, R CMD build + check, and the C++ core tests
#                       (plain and sanitized)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
LIB="$ROOT/.rlib"
DEBS="r-base-dev r-cran-rcpp r-cran-rcpparmadillo r-cran-testthat r-cran-roxygen2 r-cran-knitr r-cran-rmarkdown pandoc libhowardhinnant-date-dev libarmadillo-dev libgtest-dev cmake g++ make"

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

install_pkg() {
  mkdir -p "$LIB"
  R CMD INSTALL --preclean --no-test-load -l "$LIB" . > "$ROOT/.rlib/install.log" 2>&1 || {
    cat "$ROOT/.rlib/install.log"; echo "R CMD INSTALL failed"; exit 1; }
  # subfolder objects are not removed by --preclean's own clean step
  find src -name '*.o' -delete; rm -f src/*.so
  echo "Touchlane installed into $LIB"
}

r_check() {  # build the source package and check it; ERRORs and WARNINGs fail
  local dir="$ROOT/build/check"
  rm -rf "$dir"; mkdir -p "$dir"
  (cd "$dir" && R_LIBS="$LIB" MAKEFLAGS=-j2 R CMD build "$ROOT" > build.log 2>&1) || {
    cat "$dir/build.log"; echo "R CMD build failed"; exit 1; }
  local tarball
  tarball=$(ls "$dir"/Touchlane_*.tar.gz)
  (cd "$dir" && R_LIBS="$LIB" MAKEFLAGS=-j2 \
     R CMD check --no-manual --no-tests "$tarball" > check.log 2>&1) || true
  grep -E "^\* checking .*\.\.\. (WARNING|ERROR|NOTE)" -A12 "$dir/check.log" || true
  local status
  status=$(grep -E "^Status:" "$dir/check.log" || echo "Status: no status (check did not finish)")
  echo "R CMD check: $status"
  if echo "$status" | grep -qE "ERROR|WARNING|no status"; then
    tail -20 "$dir/check.log"; exit 1
  fi
}

run_ctest() {  # $1 build dir, rest: extra cmake options
  local dir=$1; shift
  cmake -S tests/cpp -B "$dir" "$@" > "$dir.cmake.log" 2>&1 || { cat "$dir.cmake.log"; exit 1; }
  cmake --build "$dir" -j2 > "$dir.build.log" 2>&1 || { tail -50 "$dir.build.log"; exit 1; }
  (cd "$dir" && ctest --output-on-failure -j2 | tail -${CTEST_TAIL:-8})
}

case "${1:-}" in
  demo)
    ensure_deps
    install_pkg
    mkdir -p build
    R_LIBS="$LIB" Rscript inst/scripts/demo.R "$ROOT/inst/extdata/journeys.csv" \
      "$ROOT/build/touchlane-attribution.png"
    ;;
  test)
    ensure_deps
    install_pkg
    mkdir -p build
    echo "== R tests (testthat)"
    R_LIBS="$LIB" Rscript -e '
      library(testthat); library(Touchlane)
      res <- as.data.frame(test_dir("tests/testthat", reporter = "summary", stop_on_failure = FALSE))
      nf <- sum(res$failed) + sum(res$error)
      cat(sprintf("testthat: %d passed, %d failed, %d skipped\n", sum(res$passed), nf, sum(res$skipped)))
      if (nf > 0) quit(status = 1)'
    echo "== R CMD build and R CMD check --no-manual (tests ran above)"
    r_check
    echo "== C++ core tests"
    run_ctest build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo
    echo "== C++ core tests, address and undefined-behaviour sanitizers"
    ASAN_OPTIONS=detect_leaks=1 run_ctest build/asan -DCMAKE_BUILD_TYPE=Debug -DTOUCHLANE_SANITIZE=ON
    if ls tests/cpp/test_*threads*.cpp > /dev/null 2>&1; then
      echo "== C++ threaded tests, thread sanitizer"
      run_ctest build/tsan -DCMAKE_BUILD_TYPE=Debug -DTOUCHLANE_TSAN=ON
    fi
    ;;
  *)
    echo "usage: tools/run.sh demo|test" >&2
    exit 2
    ;;
esac
