#!/usr/bin/env bash
# Runs every fuzz target for a few seconds over a corpus made of the fixture
# archives. usage: run_all.sh BUILD_DIR SECONDS
set -euo pipefail
build=${1:-build/fuzz}
seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
fixtures=${TESSAVAR_FIXTURES:-$root/../shared/fixtures}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The seed corpus: every fixture file, copied so the fuzzer may add to it
# without touching the read-only originals.
mkdir -p "$work/seed"
find "$fixtures" -type f ! -name MANIFEST.json -size -4M -exec cp -t "$work/seed" --backup=numbered {} + 2>/dev/null || true

status=0
for bin in "$build"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  mkdir -p "$work/$name"
  echo "fuzz: $name for ${seconds}s"
  if ! "$bin" -max_total_time="$seconds" -max_len=262144 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$work/$name/" -print_final_stats=0 "$work/$name" "$work/seed" \
      >"$work/$name.log" 2>&1; then
    echo "fuzz: $name FAILED"
    tail -60 "$work/$name.log"
    mkdir -p "$root/build/fuzz-artifacts"
    cp "$work/$name"/crash-* "$work/$name"/timeout-* "$work/$name"/oom-* "$root/build/fuzz-artifacts/" 2>/dev/null || true
    status=1
  else
    grep -E '^#[0-9]+.*(DONE|pulse)' "$work/$name.log" | tail -1 || true
  fi
done
exit $status
