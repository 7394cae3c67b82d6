#!/usr/bin/env bash
# Compression benchmark: the corpus's tree/ zipped by tessavar-cli a (default
# level) and by the peers, best of N runs each, archives written to a tmpfs
# folder; prints time and size of each and tessavar's ratios to zip -r -6.
#   bench/compress_bench.sh [CORPUS_DIR] [RUNS]
# TESSAVAR_COMPRESS_THREADS=0 runs tessavar single-threaded for comparison.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${1:-/tmp/tessavar-corpus}
runs=${2:-3}
cli=$(realpath "${TESSAVAR_CLI:-$root/build/bench/tessavar-cli}")
out=${SCRATCH:-/dev/shm/tessavar-compress}
[ -x "$cli" ] || { echo "build first: make bench (or set TESSAVAR_CLI)"; exit 1; }
[ -d "$corpus/tree" ] || python3 "$root/../shared/bench/make_corpus.py" "$corpus"
# shellcheck source=bench/timing.sh
source "$root/bench/timing.sh"
mkdir -p "$out"
cd "$corpus"

run() {  # label, archive name, command...: time and size of one way of zipping tree/
  local label=$1 z=$out/$2
  shift 2
  local t
  t=$(best sh -c 'rm -f "$0"; exec "$@"' "$z" "$@")
  printf "%-24s %8s s %12s bytes\n" "$label" "$t" "$(stat -c %s "$z")"
  eval "t_${label//[^a-z0-9]/_}=$t; s_${label//[^a-z0-9]/_}=$(stat -c %s "$z")"
}

run "tessavar" tessavar.zip "$cli" a -r "$out/tessavar.zip" tree
run "zip -6" zip6.zip zip -q -r -6 "$out/zip6.zip" tree
run "zip -1" zip1.zip zip -q -r -1 "$out/zip1.zip" tree
run "7z -mx1" 7z1.zip 7z a -tzip -mx1 -mmt2 "$out/7z1.zip" tree
run "7z -mx5" 7z5.zip 7z a -tzip -mx5 -mmt2 "$out/7z5.zip" tree
run "bsdtar" bsdtar.zip bsdtar -a -cf "$out/bsdtar.zip" tree
printf "tessavar vs zip -6: %.2fx faster (goal 2.5), size %.4f of zip's (goal <= 1)\n" \
  "$(echo "$t_zip__6 / $t_tessavar" | bc -l)" "$(echo "$s_tessavar / $s_zip__6" | bc -l)"
rm -rf "$out"
