#!/usr/bin/env python3
"""Writes docs/ACCURACY.md and docs/accuracy.png from the results of `quorvane-cli evaluate`.

RESULTS holds, per corpus NAME (main, len-1.5, len-3, len-6, snr-30, snr-20, snr-10),
NAME.json (evaluate --json) and NAME.csv (evaluate --scores). The curve of one global
threshold is computed here again from main.csv, independently of the program, and its
equal error rate must agree with the program's. The plot is drawn by gnuplot.
Only the Python standard library and gnuplot (Debian packages) are used.
"""

import argparse
import csv
import json
import math
import os
import subprocess
import sys

LEVELS = ["High", "Medium", "Low"]
LENGTHS = ["1.5", "3", "6"]
SNRS = ["30", "20", "10"]


def load(results, name):
    with open(os.path.join(results, name + ".json")) as f:
        summary = json.load(f)
    with open(os.path.join(results, name + ".csv"), newline="") as f:
        rows = list(csv.DictReader(f))
    return summary, rows


def curve(rows):
    """(threshold, FRR, FAR) of one global threshold at each distinct distance and just
    above the largest; a refused recording (no distance) is never accepted."""
    genuine = sorted(float(r["distance"]) for r in rows if r["genuine"] == "1" and r["distance"])
    impostor = sorted(float(r["distance"]) for r in rows if r["genuine"] == "0" and r["distance"])
    n_gen = sum(1 for r in rows if r["genuine"] == "1")
    n_imp = sum(1 for r in rows if r["genuine"] == "0")
    thresholds = sorted(set(genuine + impostor))
    thresholds.append(math.nextafter(thresholds[-1], math.inf) if thresholds else 0.0)
    points = []
    g = i = 0
    for t in thresholds:
        while g < len(genuine) and genuine[g] < t:
            g += 1
        while i < len(impostor) and impostor[i] < t:
            i += 1
        points.append((t, 1.0 - g / n_gen, i / n_imp))
    return points


def equal_error(points):
    for k, (t, frr, far) in enumerate(points):
        if frr <= far:
            if k == 0:
                return (frr + far) / 2, t
            t0, frr0, far0 = points[k - 1]
            f = (frr0 - far0) / ((frr0 - far0) - (frr - far))
            return far0 + f * (far - far0), t0 + f * (t - t0)
    t, frr, far = points[-1]
    return (frr + far) / 2, t


def pct(x):
    return "%.1f" % x


def refusals(summary):
    counts = {}
    for r in summary["refused"]:
        counts[r["reason"]] = counts.get(r["reason"], 0) + 1
    return counts


def margin(summary, rate, trials):
    """Half-width in percentage points of the widest 95 % interval over the three levels."""
    widest = 0.0
    for lv in summary["levels"]:
        p = lv[rate] / 100
        widest = max(widest, 1.96 * math.sqrt(p * (1 - p) / lv[trials]) * 100)
    return "%.1f" % widest


def level_table(summary):
    lines = ["| Level | Genuine trials | False rejections | FRR % | Impostor trials | "
             "False acceptances | FAR % |", "|---|---:|---:|---:|---:|---:|---:|"]
    for lv in summary["levels"]:
        lines.append("| %s | %d | %d | %s | %d | %d | %s |" % (
            lv["level"], lv["genuineTrials"], lv["falseRejections"], pct(lv["frrPercent"]),
            lv["impostorTrials"], lv["falseAcceptances"], pct(lv["farPercent"])))
    return "\n".join(lines)


def variant_table(title, names, labels, data):
    head = ("| %s | Test recordings | Refused | FRR %% High / Medium / Low | "
            "FAR %% High / Medium / Low | EER %% |" % title)
    lines = [head, "|---|---:|---:|---|---|---:|"]
    for name, label in zip(names, labels):
        s = data[name]
        frr = " / ".join(pct(lv["frrPercent"]) for lv in s["levels"])
        far = " / ".join(pct(lv["farPercent"]) for lv in s["levels"])
        eer = s["equalErrorRate"]
        lines.append("| %s | %d | %d | %s | %s | %s |" % (
            label, s["testRecordings"], len(s["refused"]), frr, far,
            pct(eer["percent"]) if eer else "-"))
    return "\n".join(lines)


def plot(points, summary, results, png):
    data = os.path.join(results, "det.dat")
    # Rates on a normal-deviate scale (the usual DET axes), kept inside 0.05 % .. 99.95 %.
    with open(data, "w") as f:
        for _, frr, far in points:
            f.write("%.6f %.6f\n" % (far, frr))
    marks = os.path.join(results, "levels.dat")
    with open(marks, "w") as f:
        for lv in summary["levels"]:
            f.write("%.6f %.6f %s\n" % (lv["farPercent"] / 100, lv["frrPercent"] / 100,
                                        lv["level"]))
    eer = summary["equalErrorRate"]["percent"] / 100
    tics = [0.001, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.4, 0.6, 0.8, 0.9, 0.95, 0.99]
    tictext = ", ".join('"%g" invnorm(%g)' % (t * 100, t) for t in tics)
    script = """
set terminal pngcairo size 900,720 font "DejaVu Sans,11"
set output "{png}"
clamp(p) = p < 0.0005 ? 0.0005 : (p > 0.9995 ? 0.9995 : p)
d(p) = invnorm(clamp(p))
set xrange [d(0.0005):d(0.9995)]
set yrange [d(0.0005):d(0.9995)]
set xtics ({tics})
set ytics ({tics})
set grid
set size square
set xlabel "False acceptance rate (%)"
set ylabel "False rejection rate (%)"
set title "Quorvane on the synthetic corpus: one global threshold and the three levels"
set key top right box opaque
plot "{data}" using (d($1)):(d($2)) with lines lw 2 lc rgb "#1f5fa8" title "One global threshold", \\
     x with lines dt 2 lc rgb "#888888" title "FRR = FAR", \\
     "{marks}" using (d($1)):(d($2)) with points pt 7 ps 2 lc rgb "#c0392b" title "Security levels", \\
     "{marks}" using (d($1)):(d($2)):3 with labels offset 2.2,0.8 notitle, \\
     "+" using (d({eer})):(d({eer})) every ::0::0 with points pt 6 ps 2.5 lw 2 lc rgb "#1f5fa8" \\
         title sprintf("Equal error rate %.1f %%", {eer} * 100)
""".format(png=png, tics=tictext, data=data, marks=marks, eer=eer)
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--results", required=True)
    parser.add_argument("--docs", required=True)
    parser.add_argument("--seed", type=int, required=True)
    parser.add_argument("--speakers-list", required=True, help="speakers.txt of the corpus")
    parser.add_argument("--help-page", help="the program's help.htm, whose table to update")
    args = parser.parse_args()

    data = {}
    for name in ["main"] + ["len-" + s for s in LENGTHS] + ["snr-" + s for s in SNRS]:
        data[name] = load(args.results, name)
    main_summary, main_rows = data["main"]
    points = curve(main_rows)
    eer, eer_threshold = equal_error(points)
    program = main_summary["equalErrorRate"]
    if abs(eer * 100 - program["percent"]) > 1e-3:
        sys.exit("report: the equal error rate of the scores (%.4f %%) differs from the "
                 "program's (%.4f %%)" % (eer * 100, program["percent"]))
    for lv, name in zip(main_summary["levels"], LEVELS):
        key = "decision_" + name
        rejected = sum(1 for r in main_rows if r["genuine"] == "1" and r[key] == "reject")
        accepted = sum(1 for r in main_rows if r["genuine"] == "0" and r[key] == "accept")
        if rejected != lv["falseRejections"] or accepted != lv["falseAcceptances"]:
            sys.exit("report: the scores of level %s disagree with the summary" % name)
    plot(points, main_summary, args.results, os.path.join(args.docs, "accuracy.png"))

    summaries = {k: v[0] for k, v in data.items()}
    with open(args.speakers_list) as f:
        speakers = [line.split()[2] for line in f if line.strip()]
    refused = refusals(main_summary)
    thresholds = [e["thresholds"] for e in main_summary["enrolled"]]

    def mean(level):
        return sum(t[level] for t in thresholds) / len(thresholds)

    genuine_d = sorted(float(r["distance"]) for r in main_rows
                       if r["genuine"] == "1" and r["distance"])
    impostor_d = sorted(float(r["distance"]) for r in main_rows
                        if r["genuine"] == "0" and r["distance"])

    def median(v):
        return v[len(v) // 2] if v else float("nan")

    text = TEMPLATE.format(
        seed=args.seed,
        speakers=len(main_summary["enrolled"]) + len(main_summary["skipped"]),
        enrolled=len(main_summary["enrolled"]),
        tests=main_summary["testRecordings"],
        refused=len(main_summary["refused"]),
        refused_reasons="; ".join('%d "%s"' % (n, r) for r, n in sorted(refused.items()))
        or "none",
        skipped="; ".join("%s: %s" % (s["name"], s["reason"]) for s in main_summary["skipped"])
        or "none",
        level_table=level_table(main_summary),
        eer=pct(eer * 100), eer_threshold="%.4f" % eer_threshold,
        mean_high="%.3f" % mean("High"), mean_medium="%.3f" % mean("Medium"),
        mean_low="%.3f" % mean("Low"),
        median_genuine="%.3f" % median(genuine_d), median_impostor="%.3f" % median(impostor_d),
        length_table=variant_table("Speech per test recording", ["len-" + s for s in LENGTHS],
                                   [s + " s" for s in LENGTHS], summaries),
        length_refusals="; ".join(
            "%s s: %s" % (s, ", ".join('%d "%s"' % (n, r) for r, n in
                                      sorted(refusals(summaries["len-" + s]).items())) or "none")
            for s in LENGTHS),
        noise_table=variant_table("Noise (SNR)", ["snr-" + s for s in SNRS],
                                  [s + " dB" for s in SNRS], summaries),
        speaker_list=", ".join(speakers),
        genuine_trials=main_summary["levels"][0]["genuineTrials"],
        impostor_trials=main_summary["levels"][0]["impostorTrials"],
        frr_margin=margin(main_summary, "frrPercent", "genuineTrials"),
        far_margin=margin(main_summary, "farPercent", "impostorTrials"),
        **{"frr_" + lv["level"].lower(): pct(lv["frrPercent"]) for lv in main_summary["levels"]},
        **{"far_" + lv["level"].lower(): pct(lv["farPercent"]) for lv in main_summary["levels"]},
    )
    with open(os.path.join(args.docs, "ACCURACY.md"), "w") as f:
        f.write(text)
    if args.help_page:
        write_help_figures(args.help_page, main_summary)


HELP_BEGIN = "<!-- accuracy figures: written by scripts/accuracy/report.py -->"
HELP_END = "<!-- end of accuracy figures -->"


def write_help_figures(path, summary):
    """Puts the table per level between the two markers of the help page, which is
    installed with the program (the docs are not)."""
    with open(path) as f:
        page = f.read()
    begin, end = page.find(HELP_BEGIN), page.find(HELP_END)
    if begin < 0 or end < begin:
        sys.exit("report: %s has no accuracy markers" % path)
    rows = "\n".join(
        "  <tr><td>%s</td><td>%s %%</td><td>%s %%</td></tr>" % (
            lv["level"], pct(lv["frrPercent"]), pct(lv["farPercent"]))
        for lv in summary["levels"])
    first = summary["levels"][0]
    block = (HELP_BEGIN + "\n<table>\n"
             "  <caption>%d synthetic voices: %d trials of their own voice, %d of others'"
             "</caption>\n" % (len(summary["enrolled"]), first["genuineTrials"],
                               first["impostorTrials"]) +
             "  <tr><th>Level</th><th>Own voice refused</th><th>Other voices accepted</th></tr>\n"
             + rows + "\n</table>\n")
    page = page[:begin] + block + page[end:]
    with open(path, "w") as f:
        f.write(page)


TEMPLATE = """# How often the voice is accepted

How often Quorvane rejects its own user at each security level (the false rejection rate,
FRR) and how often it accepts somebody else (the false acceptance rate, FAR), measured with
`quorvane-cli evaluate` on a synthetic corpus. Every figure below comes from
`scripts/accuracy/run.sh` (see [Reproducing the figures](#reproducing-the-figures)); this page
is written by that script.

**Synthetic voices are not people.** The speakers are voices of the espeak-ng speech
synthesiser, and their "sessions" are the same synthetic speech with its pitch, tempo, level,
noise and leading silence varied by sox. Real people differ from one another in more ways than
these voices do, and from one day to the next in other ways (a cold, tiredness, another
room, another microphone, another distance to it). Read the figures as a comparison of the
three levels and as a direction (longer is better, noise is worse), not as the rates you will
meet: a person's own voice varies more than a synthetic session, so real false rejections are
likely higher; voices that are alike (relatives, a deliberate imitation) are not in the corpus,
so real false acceptances may be higher too.

## The security levels

"Train system..." compares the three enrolment phrases with each other and takes one of the
three pairwise distances as the threshold: "High" the smallest, "Medium" the middle one, "Low"
the largest. A new recording is accepted when its smallest distance to the three phrases is
below the threshold.

Corpus "main" (seed {seed}): {speakers} speakers, {enrolled} enrolled; {tests} test recordings
of a sentence each (about 3 to 6 s), each tried against every enrolled speaker. Refused test
recordings (each trial of them counts as a rejection): {refused} ({refused_reasons}). Speakers
skipped: {skipped}.

{level_table}

The mean threshold over the speakers is {mean_high} at High, {mean_medium} at Medium and
{mean_low} at Low; the median smallest distance is {median_genuine} for a speaker's own test
recordings and {median_impostor} for other speakers' ones. The three phrases of one sitting are
closer to each other than a recording of another day is to them, which is why even "Low"
rejects many of the speaker's own recordings.

The corpus is small: with {genuine_trials} genuine trials each FRR above is known to within about
{frr_margin} percentage points, and with {impostor_trials} impostor trials from only
{enrolled} voices each FAR to within about {far_margin} points (95 % intervals of a binomial
rate, which take the trials as independent; they are not quite, so read them as a lower bound).

For reference, one global threshold over the smallest distances (the same for everybody,
which the program does not offer) gives an equal error rate of **{eer} %** (at distance
{eer_threshold}): the rate where FRR and FAR cross as the threshold runs through the sorted
distances, linearly interpolated between the last threshold with FRR above FAR and the first
with FRR at or below it.

![FRR against FAR of one global threshold, with the three levels](accuracy.png)

The curve is FRR against FAR of one global threshold on normal-deviate axes (a DET curve);
the red points are the three levels, each with its threshold per speaker.

## Length of the test recording

The same sessions as "main", but each test recording is three sentences of speech cut to
1.5, 3 or 6 seconds (plus the session's leading silence), with the enrolment unchanged.

{length_table}

Refusals: {length_refusals}. A recording needs at least half a second of loud samples to pass
the level checks, and 100 feature vectors to be trained; 1.5 seconds of speech rarely gives
either.

## Noise

The test recordings of "main" with pink noise at exactly 30, 20 or 10 dB below the speech
(the enrolment stays at 35 to 45 dB).

{noise_table}

## Advice

- **Which level.** "High" rejects you most often and others least; "Low" the other way round.
  On these voices "High" rejected {frr_high} % of the speakers' own recordings and accepted
  {far_high} % of the other speakers' ones; "Medium" {frr_medium} % and {far_medium} %; "Low"
  {frr_low} % and {far_low} %. "Medium" is the balance for most people. Choose "High" when
  the files matter more than the convenience and you keep the key file at hand; choose "Low"
  when you are rejected too often and nobody with a voice like yours can reach your files.
- **How long to speak.** Speak for at least 3 seconds, better 5 to 6, when you enrol and when
  you decode. Short recordings are refused by the level checks or give too few feature vectors.
- **Same microphone, same room.** Record the enrolment phrases and the later recordings with
  the same microphone, at the same distance, in a quiet room. Noise and another microphone move
  your voice away from its enrolment.
- **Enrol as you will speak later.** The three phrases should sound like a normal day: speak
  them at your usual speed and pitch, perhaps not all in one breath, so that the threshold
  allows for your own variation.
- **What a rejection means.** A rejection does not mean that anything is wrong with your files
  or your enrolment: your recording was just too far from the enrolment this time. Record again,
  a little longer and louder, closer to the way you enrolled.
- **The security key file always works.** Files can always be decoded with the security key
  file saved at enrolment, whatever the voice check says. Keep it safe like a password.

## The corpus

The {speakers} espeak-ng voices (language + variant): {speaker_list}. Each speaker has a base pitch and
speed; the three enrolment phrases are three different sentences of one sitting (pitch within
40 cents, tempo within 4 %, level -17 to -14 dBFS RMS, pink noise 35 to 45 dB below the speech,
0.1 to 0.5 s of leading silence); the ten test recordings are sentences of other sessions
(pitch within 80 cents, tempo within 10 %, level -20 to -14 dBFS RMS, noise 30 to 45 dB below,
0.1 to 0.8 s of leading silence). A compressor evens the synthetic speech like a recording level
set for speech, and a limiter keeps the peaks below full scale. Languages: English (three accents), German, French, Spanish, Italian, Dutch.

## Reproducing the figures

```
scripts/install-deps.sh               # espeak-ng, sox and gnuplot-nox among the rest
cmake -S . -B build && cmake --build build -j2 --target quorvane-cli
scripts/accuracy/run.sh build         # corpus (seed {seed}), evaluate, this page and the plot
```

`run.sh` makes the corpora with `scripts/accuracy/make_corpus.py --seed {seed}` in
`build/accuracy/corpus`, runs `quorvane-cli evaluate DIR --json --scores FILE.csv` on each, and
writes this page and `docs/accuracy.png` with `scripts/accuracy/report.py`, which checks the
scores against the program's summary. Another seed gives another corpus
(`scripts/accuracy/run.sh build 7`).

To measure your own voices, record them into one folder per speaker (`enrol-1`, `enrol-2`,
`enrol-3` and any number of other recordings, in any sound format) and run
`quorvane-cli evaluate FOLDER`; nothing is written to the Speakers folder.
"""


if __name__ == "__main__":
    main()
