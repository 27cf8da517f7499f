#!/bin/sh
# Times quorvane-cli encode and decode of one file against what the disk and a stock cipher need
# for the same file: cp + sync (the disk's own limit for writing it) and openssl enc
# -aes-256-ctr + sync. The four runs alternate within each round, so load from other programs
# hits all of them alike; the medians over the rounds, their ratios and the peak resident memory
# of quorvane-cli and the processor seconds of every run (GNU time) are printed at the end.
#
# Usage: bench/disk-speed.sh BUILD [SIZE_MIB] [FOLDER] [ROUNDS]
#   BUILD     the build folder holding cli/quorvane-cli
#   SIZE_MIB  size of the test file, default 256
#   FOLDER    where the files are written (the disk measured), default /tmp
#   ROUNDS    rounds of the four runs, default 3
#
# The user "bench" is enrolled first from three phrases spoken by espeak-ng (as tests/cli does),
# with a key file to decode by; everything is written to a fresh folder inside FOLDER and
# removed at the end. Needs espeak-ng, sox, openssl and GNU time (/usr/bin/time).
set -eu

build=${1:?usage: bench/disk-speed.sh BUILD [SIZE_MIB] [FOLDER] [ROUNDS]}
size=${2:-256}
folder=${3:-/tmp}
rounds=${4:-3}
cli=$(cd "$build" && pwd)/cli/quorvane-cli
[ -x "$cli" ] || { echo "no quorvane-cli in $build/cli" >&2; exit 1; }
for tool in espeak-ng sox openssl /usr/bin/time; do
    command -v "$tool" > /dev/null || { echo "$tool is needed" >&2; exit 1; }
done

work=$(mktemp -d "$folder/quorvane-disk.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
mkdir "$work/enc" "$work/dec"

# The user: three phrases at 11025 Hz, mono, 16 bits.
n=0
for phrase in "The quick brown fox jumps over the lazy dog near the river bank" \
              "Seven silver swans were swimming slowly across the quiet lake" \
              "My voice is my password and it opens every door in this house"; do
    n=$((n + 1))
    espeak-ng -v en-us -w "$work/spoken.wav" "$phrase" > /dev/null 2>&1
    sox -R -D "$work/spoken.wav" -r 11025 -c 1 -b 16 "$work/phrase$n.wav" 2> /dev/null
done
"$cli" --speakers "$work/Speakers" enrol bench "$work/phrase1.wav" "$work/phrase2.wav" \
    "$work/phrase3.wav" --key-file "$work/key.txt" > /dev/null 2>&1

# Random content (nothing compressible), in the page cache for every run alike.
head -c "$((size * 1024 * 1024))" /dev/urandom > "$work/plain.bin"
sync

# run NAME COMMAND...: times one run; appends "seconds peak-KiB processor-seconds" to
# $work/NAME.times.
run() {
    name=$1
    shift
    sync
    /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" > /dev/null
    awk '{ print $1, $2, $3 + $4 }' "$work/time.txt" >> "$work/$name.times"
}

key=000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f
iv=0f0e0d0c0b0a09080706050403020100
echo "file: $size MiB in $folder, $rounds rounds; load at start:$(uptime | sed 's/.*load average://')"
r=0
while [ "$r" -lt "$rounds" ]; do
    r=$((r + 1))
    rm -f "$work/copy.bin" "$work/openssl.bin" "$work/enc/plain.bin.crp" "$work/dec/plain.bin"
    sync
    run cp sh -c 'cp "$1" "$2" && sync "$2"' sh "$work/plain.bin" "$work/copy.bin"
    run encode "$cli" --speakers "$work/Speakers" encode bench "$work/plain.bin" -o "$work/enc"
    run openssl sh -c 'openssl enc -aes-256-ctr -K "$1" -iv "$2" -in "$3" -out "$4" && sync "$4"' \
        sh "$key" "$iv" "$work/plain.bin" "$work/openssl.bin"
    # Every run reads its input from the cache, so all four measure the same writing: encode
    # drops what it wrote from the cache once it is on the disk, so its output is read once here.
    cat "$work/enc/plain.bin.crp" > /dev/null
    run decode "$cli" --speakers "$work/Speakers" decode "$work/enc/plain.bin.crp" \
        --key-file "$work/key.txt" -o "$work/dec"
    cmp -s "$work/plain.bin" "$work/dec/plain.bin" || { echo "round $r: decoded file differs" >&2; exit 1; }
    echo "round $r: cp+sync $(tail -n 1 "$work/cp.times" | cut -d' ' -f1) s," \
        "encode $(tail -n 1 "$work/encode.times" | cut -d' ' -f1) s," \
        "openssl+sync $(tail -n 1 "$work/openssl.times" | cut -d' ' -f1) s," \
        "decode $(tail -n 1 "$work/decode.times" | cut -d' ' -f1) s"
done

median() {
    cut -d' ' -f"${2:-1}" "$work/$1.times" | sort -n | awk '{ v[NR] = $1 } END {
        if (NR % 2) { print v[(NR + 1) / 2] } else { print (v[NR / 2] + v[NR / 2 + 1]) / 2 } }'
}
peak() {
    cut -d' ' -f2 "$work/$1.times" | sort -n | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }'
}
cp_s=$(median cp)
enc_s=$(median encode)
ssl_s=$(median openssl)
dec_s=$(median decode)
echo "medians: cp+sync $cp_s s, encode $enc_s s, openssl+sync $ssl_s s, decode $dec_s s"
awk -v c="$cp_s" -v e="$enc_s" -v o="$ssl_s" -v d="$dec_s" -v m="$size" 'BEGIN {
    printf "MB/s: cp+sync %.0f, encode %.0f, openssl+sync %.0f, decode %.0f\n",
        m * 1.048576 / c, m * 1.048576 / e, m * 1.048576 / o, m * 1.048576 / d
    printf "ratios: encode/cp+sync %.2f, decode/cp+sync %.2f, encode/openssl %.2f, decode/openssl %.2f, decode/encode %.2f\n",
        e / c, d / c, e / o, d / o, d / e
}'
echo "processor seconds (user + system), medians: cp+sync $(median cp 3), encode $(median encode 3)," \
    "openssl+sync $(median openssl 3), decode $(median decode 3)"
echo "peak resident memory: encode $(peak encode) MiB, decode $(peak decode) MiB"
echo "load at end:$(uptime | sed 's/.*load average://')"
