#!/usr/bin/env bash
# Listing benchmark: a ZIP of the corpus's 100,000 tiny files, listed by
# tessavar-cli l and by the peers, best of N runs each, with the ratios.
#   bench/list_bench.sh [CORPUS_DIR] [RUNS]
# CORPUS_DIR is made with ../shared/bench/make_corpus.py (outside the repo).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${1:-/tmp/tessavar-corpus}
runs=${2:-5}
cli=${TESSAVAR_CLI:-$root/build/bench/tessavar-cli}
[ -x "$cli" ] || { echo "build first: make bench (or set TESSAVAR_CLI)"; exit 1; }
if [ ! -d "$corpus/many" ]; then
  python3 "$root/../shared/bench/make_corpus.py" "$corpus"
fi
zipfile="$corpus/many.zip"
if [ ! -f "$zipfile" ]; then
  (cd "$corpus" && zip -q -r -6 "$zipfile" many)
fi
echo "archive: $zipfile ($(stat -c %s "$zipfile") bytes, $(unzip -Z1 "$zipfile" | wc -l) entries)"

. "$root/bench/timing.sh"

ours=$(best "$cli" l "$zipfile")
ours_json=$(best "$cli" l --json "$zipfile")
unzip_t=$(best unzip -l "$zipfile")
sevenz_t=$(best 7z l "$zipfile")
bsdtar_t=$(best bsdtar -tf "$zipfile")
fastest=$(printf "%s\n%s\n%s\n" "$unzip_t" "$sevenz_t" "$bsdtar_t" | sort -g | head -1)
printf "%-28s %8s s\n" "tessavar-cli l" "$ours" "tessavar-cli l --json" "$ours_json" \
  "unzip -l" "$unzip_t" "7z l" "$sevenz_t" "bsdtar -tf" "$bsdtar_t"
printf "ratio to the fastest peer: table %.2f, json %.2f (goal: at most 0.50)\n" \
  "$(echo "$ours / $fastest" | bc -l)" "$(echo "$ours_json / $fastest" | bc -l)"
# Peak memory of the listing (KiB), to see it stays flat in the entry count.
/usr/bin/time -f "tessavar-cli l --json peak RSS: %M KiB" "$cli" l --json "$zipfile" >/dev/null
