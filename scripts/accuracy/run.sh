#!/usr/bin/env bash
# Reproduces docs/ACCURACY.md, docs/accuracy.png and the help page's table: makes the synthetic corpora, runs
# quorvane-cli evaluate on each and writes the page and the plot.
#   scripts/accuracy/run.sh [BUILD_DIR [SEED]]     (defaults: build, 1)
# Needs a built quorvane-cli in BUILD_DIR, espeak-ng, sox, gnuplot-nox and python3.
# The corpora and results stay in BUILD_DIR/accuracy.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seed=${2:-1}
cli=$build/cli/quorvane-cli
if [[ ! -x $cli ]]; then
  echo "run.sh: $cli not found; build it: cmake --build $build --target quorvane-cli" >&2
  exit 2
fi
for tool in espeak-ng sox gnuplot python3; do
  command -v "$tool" > /dev/null || { echo "run.sh: $tool is not installed" >&2; exit 2; }
done
work=$build/accuracy
mkdir -p "$work"
python3 "$here/make_corpus.py" --seed "$seed" --out "$work/corpus"
for corpus in main len-1.5 len-3 len-6 snr-30 snr-20 snr-10; do
  "$cli" evaluate "$work/corpus/$corpus" --json --scores "$work/$corpus.csv" \
    > "$work/$corpus.json" 2> "$work/$corpus.notes"
  echo "evaluated $corpus" >&2
done
"$cli" evaluate "$work/corpus/main" > "$work/main.txt"
python3 "$here/report.py" --results "$work" --docs "$root/docs" --seed "$seed" \
  --speakers-list "$work/corpus/speakers.txt" --help-page "$root/app/help.htm"
cat "$work/main.txt"
echo "run.sh: wrote $root/docs/ACCURACY.md, $root/docs/accuracy.png and the table of $root/app/help.htm" >&2
