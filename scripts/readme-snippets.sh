#!/usr/bin/env bash
# Writes each C++ snippet of a Markdown file to <dir>/snippet_<n>.cpp and each model (a block
# fenced as talvo) to <dir>/model_<n>.talvo, so that CI builds and runs what the README shows.
set -euo pipefail
readme=$1
out=$2
mkdir -p "$out"
rm -f "$out"/snippet_*.cpp "$out"/model_*.talvo
awk -v out="$out" '
  /^```cpp$/ { file = sprintf("%s/snippet_%d.cpp", out, ++programs); next }
  /^```talvo$/ { file = sprintf("%s/model_%d.talvo", out, ++models); next }
  /^```/ { if (file != "") close(file); file = ""; next }
  file != "" { print > file }
' "$readme"
