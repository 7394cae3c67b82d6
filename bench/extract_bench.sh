#!/usr/bin/env bash
# Test and extraction benchmark: the corpus's tree/ zipped with zip -r -6,
# tested and extracted into a tmpfs folder by tessavar-cli and by the peers,
# best of N runs each, with the ratios to the fastest peer.
#   bench/extract_bench.sh [CORPUS_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${1:-/tmp/tessavar-corpus}
runs=${2:-3}
cli=${TESSAVAR_CLI:-$root/build/bench/tessavar-cli}
scratch=${SCRATCH:-/dev/shm/tessavar-bench}
[ -x "$cli" ] || { echo "build first: make bench (or set TESSAVAR_CLI)"; exit 1; }
[ -d "$corpus/tree" ] || python3 "$root/../shared/bench/make_corpus.py" "$corpus"
for set in tree many; do
  [ -f "$corpus/$set.zip" ] || (cd "$corpus" && zip -q -r -6 "$corpus/$set.zip" "$set")
done

. "$root/bench/timing.sh"
ratio() { echo "$1 / $(printf "%s\n" "${@:2}" | sort -g | head -1)" | bc -l; }

for set in tree many; do
  z="$corpus/$set.zip"
  echo "== $set.zip ($(stat -c %s "$z") bytes)"
  ours_t=$(best "$cli" t "$z")
  unzip_t=$(best unzip -tqq "$z")
  sevenz_t=$(best 7z t "$z")
  bsdtar_t=$(best sh -c "bsdtar -xOf '$z' > /dev/null")
  printf "test:    tessavar %s  unzip %s  7z %s  bsdtar %s  ratio %.2f (goal 0.60)\n" \
    "$ours_t" "$unzip_t" "$sevenz_t" "$bsdtar_t" "$(ratio "$ours_t" "$unzip_t" "$sevenz_t" "$bsdtar_t")"
  ours_x=$(best "$cli" x -y -o "$scratch" "$z")
  unzip_x=$(best unzip -qo "$z" -d "$scratch")
  sevenz_x=$(best 7z x -y "-o$scratch" "$z")
  bsdtar_x=$(best bsdtar -xf "$z" -C "$scratch")
  printf "extract: tessavar %s  unzip %s  7z %s  bsdtar %s  ratio %.2f (goal 0.60)\n" \
    "$ours_x" "$unzip_x" "$sevenz_x" "$bsdtar_x" "$(ratio "$ours_x" "$unzip_x" "$sevenz_x" "$bsdtar_x")"
done
/usr/bin/time -f "tessavar-cli t peak RSS: %M KiB" "$cli" t "$corpus/tree.zip" >/dev/null
rm -rf "$scratch"
