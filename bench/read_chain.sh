#!/bin/sh
# Read + chain against its floor at 1M and 10M generated journeys (CPU
# seconds and peak RSS side by side, one process per figure), and on 10M
# rows that repeat the 1M file ten times: the same distinct paths, so the
# chain's memory should match its 1M figure (memory follows distinct paths,
# not rows).
# usage: sh bench/read_chain.sh [order]   (from the package root)
set -e
order=${1:-1}
bin=/tmp/touchlane_read_chain
g++ -O2 -std=c++17 -Isrc bench/read_chain.cpp src/common/*.cpp src/journeys/*.cpp \
  src/markov/fx.cpp src/markov/matrices.cpp -larmadillo -pthread -o $bin
f1=/tmp/touchlane_journeys_1000000.csv
rep=/tmp/touchlane_journeys_1000000x10.csv
for n in 1000000 10000000 1000000x10; do
  f=/tmp/touchlane_journeys_$n.csv
  if [ ! -f $f ]; then
    if [ $f = $rep ]; then
      [ -f $f1 ] || Rscript bench/gen_journeys.R 1000000 $f1
      { cat $f1; for k in 2 3 4 5 6 7 8 9 10; do tail -n +2 $f1; done; } > $f
    else
      Rscript bench/gen_journeys.R $n $f
    fi
  fi
  fl=$($bin floor $f); ch=$($bin chain $f $order)
  echo "$n journeys: $fl | $ch"
  echo "$fl|$ch" | awk -F'|' '{split($1,a," "); split($2,b," ");
    printf "  ratio chain/floor: CPU %.2fx, peak RSS %.2fx\n", b[2]/a[2], b[6]/a[6]}'
done
