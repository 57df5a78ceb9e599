#!/usr/bin/env bash
# Compares osselcli with two peer tools on a folder of PDFs, in one go:
#   ours   osselcli -minsize
#   qpdf   qpdf --recompress-flate --compression-level=9
#   mutool mutool clean -z
# and prints, per file and in total, each output's size relative to the
# input, each peer's wall time relative to ours, and our peak memory.
# This is a benchmark, not a test: it checks nothing and always exits 0 once
# it has run.
#
#   bench/compare.sh [corpus-folder] [osselcli]
#
# Defaults: $OSSEL_CORPUS_DIR or ../shared/corpus beside the checkout, and
# build/cli/osselcli. Passwords come from the folder's MANIFEST.tsv (column
# password_if_any) when it has one. Needs qpdf, mutool (mupdf-tools) and
# /usr/bin/time: OSSEL_BENCH_DEPS=1 scripts/deps.sh installs them.
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
corpus=${1:-${OSSEL_CORPUS_DIR:-$top/../shared/corpus}}
cli=${2:-$top/build/cli/osselcli}

for tool in qpdf mutool /usr/bin/time; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "compare.sh: $tool is missing (run OSSEL_BENCH_DEPS=1 scripts/deps.sh)" >&2
    exit 1
  fi
done
if [ ! -x "$cli" ]; then
  echo "compare.sh: $cli not found (build first: scripts/build.sh)" >&2
  exit 1
fi
if [ ! -d "$corpus" ]; then
  echo "compare.sh: no corpus folder at $corpus" >&2
  exit 1
fi
# The tools run from a scratch folder: use absolute paths.
corpus=$(cd "$corpus" && pwd)
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# password_of FILE: the manifest's password for a file name, or nothing.
password_of() {
  [ -f "$corpus/MANIFEST.tsv" ] || return 0
  awk -F'\t' -v f="$1" 'NR > 1 && $1 == f { print $10 }' "$corpus/MANIFEST.tsv"
}

now() { date +%s.%N; }

# calc EXPR: floating-point arithmetic (awk; no bc needed).
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }

# run NAME OUT COMMAND...: runs the command from the work folder, records its
# exit status, wall seconds and peak resident memory (KiB) in NAME.*
run() {
  local name=$1; shift
  local start end
  start=$(now)
  ( cd "$work" && /usr/bin/time -v -o "$work/$name.time" "$@" >/dev/null 2>"$work/$name.err" )
  echo $? >"$work/$name.rc"
  end=$(now)
  calc "$end - $start" >"$work/$name.secs"
  sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/$name.time" >"$work/$name.rss"
}

size_of() { if [ -f "$1" ]; then stat -c %s "$1"; else echo 0; fi; }

printf '%-46s %10s %7s %7s %7s %7s %7s %9s\n' file input ours qpdf mutool t.qpdf t.mutool peak.MiB
printf '%-46s %10s %7s %7s %7s %7s %7s %9s\n' '' bytes size size size /ours /ours ours

total_in=0; total_ours=0; total_qpdf=0; total_mutool=0
total_t_ours=0; total_t_qpdf=0; total_t_mutool=0; max_rss=0; counted=0; failed=()

for in in "$corpus"/*.pdf; do
  [ -f "$in" ] || continue
  file=$(basename "$in")
  pw=$(password_of "$file")
  rm -f "$work"/*.pdf

  if [ -n "$pw" ]; then
    run ours "$cli" -minsize -password "$pw" -o "$work/ours.pdf" "$in"
    run qpdf qpdf --password="$pw" --decrypt --recompress-flate --compression-level=9 "$in" "$work/qpdf.pdf"
    run mutool mutool clean -p "$pw" -D -z "$in" "$work/mutool.pdf"
  else
    run ours "$cli" -minsize -o "$work/ours.pdf" "$in"
    run qpdf qpdf --decrypt --recompress-flate --compression-level=9 "$in" "$work/qpdf.pdf"
    run mutool mutool clean -D -z "$in" "$work/mutool.pdf"
  fi

  in_size=$(size_of "$in")
  s_ours=$(size_of "$work/ours.pdf"); s_qpdf=$(size_of "$work/qpdf.pdf"); s_mutool=$(size_of "$work/mutool.pdf")
  rc_ours=$(cat "$work/ours.rc"); rc_qpdf=$(cat "$work/qpdf.rc"); rc_mutool=$(cat "$work/mutool.rc")
  t_ours=$(cat "$work/ours.secs"); t_qpdf=$(cat "$work/qpdf.secs"); t_mutool=$(cat "$work/mutool.secs")
  rss=$(cat "$work/ours.rss"); rss=${rss:-0}

  ratio() { # ratio VALUE BASE OK
    if [ "$3" = ok ] && [ "$2" != 0 ]; then printf '%.3f' "$(calc "$1 / $2")"; else printf 'fail'; fi
  }
  ok_ours=$([ "$rc_ours" = 0 ] && [ "$s_ours" -gt 0 ] && echo ok || echo no)
  ok_qpdf=$({ [ "$rc_qpdf" = 0 ] || [ "$rc_qpdf" = 3 ]; } && [ "$s_qpdf" -gt 0 ] && echo ok || echo no)
  ok_mutool=$([ "$rc_mutool" = 0 ] && [ "$s_mutool" -gt 0 ] && echo ok || echo no)

  r_ours=$(ratio "$s_ours" "$in_size" "$ok_ours")
  [ "$ok_ours" = ok ] || r_ours="fail($rc_ours)"
  printf '%-46.46s %10d %7s %7s %7s %7s %7s %9.1f\n' "$file" "$in_size" "$r_ours" \
    "$(ratio "$s_qpdf" "$in_size" "$ok_qpdf")" "$(ratio "$s_mutool" "$in_size" "$ok_mutool")" \
    "$(ratio "$t_qpdf" "$t_ours" "$ok_qpdf")" "$(ratio "$t_mutool" "$t_ours" "$ok_mutool")" \
    "$(calc "$rss / 1024")"

  if [ "$rss" -gt "$max_rss" ]; then max_rss=$rss; fi
  # Totals over the files that all three tools wrote.
  if [ "$ok_ours" = ok ] && [ "$ok_qpdf" = ok ] && [ "$ok_mutool" = ok ]; then
    counted=$((counted + 1))
    total_in=$((total_in + in_size)); total_ours=$((total_ours + s_ours))
    total_qpdf=$((total_qpdf + s_qpdf)); total_mutool=$((total_mutool + s_mutool))
    total_t_ours=$(calc "$total_t_ours + $t_ours")
    total_t_qpdf=$(calc "$total_t_qpdf + $t_qpdf")
    total_t_mutool=$(calc "$total_t_mutool + $t_mutool")
  else
    failed+=("$file(ours $rc_ours, qpdf $rc_qpdf, mutool $rc_mutool)")
  fi
done

echo
if [ "$counted" -gt 0 ]; then
  printf 'Total over %d files written by all three tools: input %d bytes\n' "$counted" "$total_in"
  printf '  size / input:   ours %.3f   qpdf %.3f   mutool %.3f\n' \
    "$(calc "$total_ours / $total_in")" "$(calc "$total_qpdf / $total_in")" \
    "$(calc "$total_mutool / $total_in")"
  printf '  wall time:      ours %.2fs   qpdf %.2fs (%.2fx ours)   mutool %.2fs (%.2fx ours)\n' \
    "$total_t_ours" "$total_t_qpdf" "$(calc "$total_t_qpdf / $total_t_ours")" \
    "$total_t_mutool" "$(calc "$total_t_mutool / $total_t_ours")"
fi
printf '  our peak memory: %.1f MiB (largest over all files)\n' "$(calc "$max_rss / 1024")"
if [ ${#failed[@]} -gt 0 ]; then
  echo "Not in the totals (a tool failed; exit statuses shown):"
  printf '  %s\n' "${failed[@]}"
fi
exit 0
