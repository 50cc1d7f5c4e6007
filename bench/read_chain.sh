#!/bin/sh
# Read + chain against its floor at 1M and 10M generated journeys (CPU
# seconds and peak RSS side by side, one process per figure).
# usage: sh bench/read_chain.sh [order]   (from the package root)
set -e
order=${1:-1}
bin=/tmp/touchlane_read_chain
g++ -O2 -std=c++17 -Isrc bench/read_chain.cpp src/common/*.cpp src/journeys/*.cpp \
  src/markov/fx.cpp src/markov/matrices.cpp -larmadillo -pthread -o $bin
for n in 1000000 10000000; do
  f=/tmp/touchlane_journeys_$n.csv
  [ -f $f ] || Rscript bench/gen_journeys.R $n $f
  fl=$($bin floor $f); ch=$($bin chain $f $order)
  echo "$n journeys: $fl | $ch"
  echo "$fl|$ch" | awk -F'|' '{split($1,a," "); split($2,b," ");
    printf "  ratio chain/floor: CPU %.2fx, peak RSS %.2fx\n", b[2]/a[2], b[6]/a[6]}'
done
