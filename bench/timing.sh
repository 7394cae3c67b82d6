# Shared by the benchmark scripts: best() prints the best wall time in
# seconds of $runs runs of a command; with $scratch set, that folder is
# emptied before each run.
best() {
  local b=""
  for _ in $(seq "$runs"); do
    if [ -n "${scratch:-}" ]; then rm -rf "$scratch" && mkdir -p "$scratch"; fi
    local s e t
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$b" ] || (( $(echo "$t < $b" | bc -l) )); then b=$t; fi
  done
  printf "%.3f" "$b"
}
