#!/usr/bin/env bash
# The report's scale: makes long recordings from a real one (its rows
# repeated with the time running on, with a sensor fault, a mark and an
# unanswered reading now and then), times `tarnwickdialer --report` on each,
# gives the page's size and the time until the page is usable in headless
# Chromium (the page's own data-ready-ms).
#   bench/report_bench.sh DIALER RECORDING.csv [HOURS...]     (default: 1 10)
set -euo pipefail
dialer=$1 base=$2
shift 2
hours=("$@")
[ ${#hours[@]} -gt 0 ] || hours=(1 10)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for h in "${hours[@]}"; do
  csv=$work/drive-${h}h.csv
  # 21,000 rows an hour: a cat-mode cycle of about 171 ms.
  awk -F, -v OFS=, -v rows=$((h * 21000)) '
    NR == 1 { print; next }
    { line[n++] = $0 }
    END {
      for (i = 0; i < rows; i++) {
        split(line[i % n], c, ",")
        c[1] = sprintf("%.3f", i * 0.171)
        if (i % 5000 >= 100 && i % 5000 < 130) { c[14] = 16; c[21] = 2 }   # water sensor: open circuit
        c[28] = (i % 3000 == 1500) ? ++mark : 0
        if (i % 700 == 350) { c[4] = 0; c[29] = 4; c[27] = 19 }        # advance unanswered
        s = c[1]; for (k = 2; k <= 29; k++) s = s "," c[k]; print s
      }
    }' "$base" > "$csv"
  rm -f "$work/drive-${h}h.html"
  start=$(date +%s.%N)
  "$dialer" --report "$csv" >/dev/null
  end=$(date +%s.%N)
  size=$(stat -c %s "$work/drive-${h}h.html")
  profile=$(mktemp -d)
  ready=$(timeout 300 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --user-data-dir="$profile" \
    --dump-dom "file://$work/drive-${h}h.html" 2>/dev/null | grep -o 'data-ready-ms="[0-9]*"' | tr -dc 0-9)
  rm -rf "$profile"
  printf '%s h: %s rows, %s MB csv, report %.2f s, page %.1f MB, usable in Chromium after %s ms\n' \
    "$h" $((h * 21000)) "$(awk -v s="$(stat -c %s "$csv")" 'BEGIN { printf "%.1f", s / 1e6 }')" \
    "$(echo "$end - $start" | bc)" "$(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1e6 }')" "${ready:-?}"
done
