#!/usr/bin/env python3
"""Makes the synthetic evaluation corpora for `quorvane-cli evaluate`.

Speakers are espeak-ng voices (a language voice, a variant, a base pitch and speed); every
recording is a session of its own, varied with sox: pitch, tempo, level, noise and leading
silence. Everything follows from --seed: the same seed on the same Debian packages gives
the same files.

Corpora written under OUT, each one folder per speaker with enrol-1..3.wav and test files:
  main       10 test recordings per speaker, one sentence each, noise at 30 to 45 dB SNR
  len-1.5, len-3, len-6
             the same sessions, but each test recording is speech cut to 1.5, 3 or 6 s
  snr-30, snr-20, snr-10
             the main test recordings with noise at exactly 30, 20 or 10 dB SNR
All corpora share the same enrolment phrases.

Only the Python standard library, espeak-ng and sox (Debian packages) are used.
"""

import argparse
import concurrent.futures
import math
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

# Sentences per language of the texts; each speaker speaks the texts of its voice's language.
SENTENCES = {
    "en": [
        "The quick brown fox jumps over the lazy dog near the river bank.",
        "Seven silver swans were swimming slowly across the quiet lake.",
        "My voice is my password and it opens every door in this house.",
        "Please let me open my files today, it is really me speaking.",
        "A cup of warm tea on a cold morning is a simple pleasure.",
        "The train to the north leaves at half past nine every evening.",
        "We planted tomatoes, beans and sunflowers in the garden last spring.",
        "Her old bicycle was painted bright green and had a small basket.",
        "Nobody knew why the lights in the tower went out at midnight.",
        "Thank you for waiting, the results will be ready in a moment.",
    ],
    "de": [
        "Der schnelle braune Fuchs springt über den faulen Hund am Fluss.",
        "Sieben silberne Schwäne schwammen langsam über den stillen See.",
        "Meine Stimme ist mein Passwort und öffnet jede Tür in diesem Haus.",
        "Bitte lass mich heute meine Dateien öffnen, ich bin es wirklich.",
        "Eine Tasse warmer Tee an einem kalten Morgen ist ein kleines Glück.",
        "Der Zug nach Norden fährt jeden Abend um halb zehn vom Bahnhof ab.",
        "Im letzten Frühling pflanzten wir Tomaten, Bohnen und Sonnenblumen.",
        "Ihr altes Fahrrad war hellgrün gestrichen und hatte einen Korb.",
        "Niemand wusste, warum die Lichter im Turm um Mitternacht erloschen.",
        "Danke für das Warten, die Ergebnisse sind gleich fertig.",
    ],
    "fr": [
        "Le rapide renard brun saute par-dessus le chien paresseux près de la rivière.",
        "Sept cygnes argentés nageaient lentement sur le lac tranquille.",
        "Ma voix est mon mot de passe et elle ouvre chaque porte de cette maison.",
        "Laissez-moi ouvrir mes fichiers aujourd'hui, c'est vraiment moi qui parle.",
        "Une tasse de thé chaud par un matin froid est un plaisir simple.",
        "Le train pour le nord part chaque soir à neuf heures et demie.",
        "Nous avons planté des tomates, des haricots et des tournesols au printemps.",
        "Sa vieille bicyclette était peinte en vert vif avec un petit panier.",
        "Personne ne savait pourquoi les lumières de la tour s'éteignaient à minuit.",
        "Merci de votre patience, les résultats seront prêts dans un instant.",
    ],
    "es": [
        "El rápido zorro marrón salta sobre el perro perezoso junto al río.",
        "Siete cisnes plateados nadaban despacio por el lago tranquilo.",
        "Mi voz es mi contraseña y abre todas las puertas de esta casa.",
        "Por favor, déjame abrir mis archivos hoy, de verdad soy yo.",
        "Una taza de té caliente en una mañana fría es un placer sencillo.",
        "El tren hacia el norte sale cada noche a las nueve y media.",
        "La primavera pasada plantamos tomates, judías y girasoles en el jardín.",
        "Su vieja bicicleta estaba pintada de verde y tenía una cesta pequeña.",
        "Nadie sabía por qué se apagaban las luces de la torre a medianoche.",
        "Gracias por esperar, los resultados estarán listos en un momento.",
    ],
    "it": [
        "La veloce volpe marrone salta sopra il cane pigro vicino al fiume.",
        "Sette cigni d'argento nuotavano lentamente sul lago tranquillo.",
        "La mia voce è la mia password e apre ogni porta di questa casa.",
        "Per favore lasciami aprire i miei file oggi, sono davvero io.",
        "Una tazza di tè caldo in una mattina fredda è un piacere semplice.",
        "Il treno per il nord parte ogni sera alle nove e mezza.",
        "La primavera scorsa abbiamo piantato pomodori, fagioli e girasoli.",
        "La sua vecchia bicicletta era dipinta di verde con un piccolo cestino.",
        "Nessuno sapeva perché le luci della torre si spegnevano a mezzanotte.",
        "Grazie per l'attesa, i risultati saranno pronti tra un momento.",
    ],
    "nl": [
        "De snelle bruine vos springt over de luie hond bij de rivier.",
        "Zeven zilveren zwanen zwommen langzaam over het stille meer.",
        "Mijn stem is mijn wachtwoord en opent elke deur in dit huis.",
        "Laat me vandaag alsjeblieft mijn bestanden openen, ik ben het echt.",
        "Een kop warme thee op een koude ochtend is een eenvoudig genoegen.",
        "De trein naar het noorden vertrekt elke avond om half tien.",
        "Vorig voorjaar plantten we tomaten, bonen en zonnebloemen in de tuin.",
        "Haar oude fiets was felgroen geverfd en had een klein mandje.",
        "Niemand wist waarom de lichten in de toren om middernacht uitgingen.",
        "Bedankt voor het wachten, de resultaten zijn zo klaar.",
    ],
}

# espeak-ng language voices and the language of their texts.
VOICES = [("en-us", "en"), ("en-gb", "en"), ("en-gb-scotland", "en"), ("de", "de"),
          ("fr-fr", "fr"), ("es", "es"), ("it", "it"), ("nl", "nl")]
# espeak-ng variants that sound like people (no robots, whispers or croaks).
VARIANTS = ["m1", "m2", "m3", "m4", "m5", "m6", "m7", "m8", "f1", "f2", "f3", "f4", "f5",
            "adam", "david", "edward", "john", "max", "paul", "rob", "linda", "steph",
            "annie", "aunty", "benjamin"]

RATE = 11025
LENGTHS = ["1.5", "3", "6"]
SNRS = [30, 20, 10]
# espeak-ng speaks with high peaks and soft vowels; a compressor like a recording level set
# for speech.
MICROPHONE = ["gain", "-6", "compand", "0.005,0.1", "-60,-40,-20,-10,0,-4", "gain", "-n", "-3"]
NOISE_SECONDS = 60


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def rms(path):
    """RMS amplitude of a sound file (full scale 1), from sox's stat."""
    out = subprocess.run(["sox", path, "-n", "stat"], check=True, capture_output=True,
                         text=True).stderr
    return float(re.search(r"RMS\s+amplitude:\s+([0-9.eE+-]+)", out).group(1))


def speakers(rng, count):
    chosen = []
    # Every language voice before any repeats, so that all languages are there.
    voices = list(VOICES)
    rng.shuffle(voices)
    for i in range(count):
        voice, lang = voices[i % len(voices)]
        variant = rng.choice([v for v in VARIANTS
                              if (voice, v) not in {(c["voice"], c["variant"]) for c in chosen}])
        chosen.append({
            "name": "s%02d-%s-%s" % (i + 1, voice, variant),
            "voice": voice, "lang": lang, "variant": variant,
            "pitch": rng.randint(25, 75), "speed": rng.randint(140, 185),
        })
    return chosen


def session(rng, enrol):
    """One recording session's variability; enrolment happens in one quieter sitting."""
    return {
        "cents": rng.uniform(-40, 40) if enrol else rng.uniform(-80, 80),
        "tempo": rng.uniform(0.96, 1.04) if enrol else rng.uniform(0.9, 1.1),
        "level": rng.uniform(-17, -14) if enrol else rng.uniform(-20, -14),
        "lead": rng.uniform(0.1, 0.5) if enrol else rng.uniform(0.1, 0.8),
        "snr": rng.uniform(35, 45) if enrol else rng.uniform(30, 45),
        "noise_start": rng.uniform(0, NOISE_SECONDS - 20),
    }


def speak(speaker, text, session_, out, work):
    """espeak-ng, then the session's pitch and tempo, the microphone's compression."""
    raw = os.path.join(work, "raw.wav")
    voice = speaker["voice"] + "+" + speaker["variant"]
    run(["espeak-ng", "-v", voice, "-p", str(speaker["pitch"]), "-s", str(speaker["speed"]),
         "-w", raw, text])
    run(["sox", "-R", "-D", raw, "-r", str(RATE), "-c", "1", "-b", "16", out,
         "pitch", "%.1f" % session_["cents"], "tempo", "-s", "%.4f" % session_["tempo"]]
        + MICROPHONE)


def record(clean, session_, snr, noise, out, work, seconds=None):
    """The clean speech as recorded: cut to `seconds` when given, leading silence, noise at
    `snr` dB below the speech's RMS over the whole file, then the session's level (the RMS of
    the whole file in dBFS, peaks held below full scale by sox's limiter)."""
    speech = clean
    if seconds:
        speech = os.path.join(work, "cut.wav")
        run(["sox", "-R", "-D", clean, speech, "trim", "0", seconds])
    noise_level = rms(speech) / (10 ** (snr / 20.0)) / noise["rms"]
    padded = os.path.join(work, "padded.wav")
    run(["sox", "-R", "-D", speech, padded, "pad", "%.3f" % session_["lead"]])
    duration = subprocess.run(["soxi", "-D", padded], check=True, capture_output=True,
                              text=True).stdout.strip()
    noisy = os.path.join(work, "noisy.wav")
    run(["sox", "-R", "-D", "-m", "-v", "1", padded, "-v", "%.6f" % noise_level, noise["file"],
         "-b", "32", "-e", "floating-point", noisy, "trim", "0", duration])
    level = 20 * math.log10(rms(noisy))
    run(["sox", "-R", "-D", noisy, "-b", "16", out, "gain", "-l",
         "%.2f" % (session_["level"] - level)])


def make_noise(folder):
    path = os.path.join(folder, "noise.wav")
    run(["sox", "-R", "-D", "-n", "-r", str(RATE), "-c", "1", "-b", "32", "-e",
         "floating-point", path, "synth", str(NOISE_SECONDS), "pinknoise", "vol", "0.5"])
    return {"file": path, "rms": rms(path)}


def noise_from(noise, start, work):
    """The shared noise, rotated to begin at `start` seconds: each session hears other noise."""
    tail = os.path.join(work, "noise-tail.wav")
    head = os.path.join(work, "noise-head.wav")
    both = os.path.join(work, "noise.wav")
    run(["sox", "-R", "-D", noise["file"], tail, "trim", "%.3f" % start])
    run(["sox", "-R", "-D", noise["file"], head, "trim", "0", "%.3f" % start])
    run(["sox", "-R", "-D", tail, head, both])
    return {"file": both, "rms": noise["rms"]}


def build_speaker(job):
    spk, sessions, texts, noise, out = job
    name = spk["name"]
    with tempfile.TemporaryDirectory() as work:
        folders = {c: os.path.join(out, c, name) for c in corpus_names()}
        for folder in folders.values():
            os.makedirs(folder, exist_ok=True)
        for n in range(3):
            s = sessions["enrol"][n]
            clean = os.path.join(work, "clean.wav")
            speak(spk, texts["enrol"][n], s, clean, work)
            first = os.path.join(folders["main"], "enrol-%d.wav" % (n + 1))
            record(clean, s, s["snr"], noise_from(noise, s["noise_start"], work), first, work)
            for c, folder in folders.items():
                if c != "main":
                    shutil.copyfile(first, os.path.join(folder, "enrol-%d.wav" % (n + 1)))
        for i, s in enumerate(sessions["test"]):
            leaf = "test-%02d.wav" % (i + 1)
            rotated = noise_from(noise, s["noise_start"], work)
            clean = os.path.join(work, "clean.wav")
            speak(spk, texts["test"][i], s, clean, work)
            record(clean, s, s["snr"], rotated, os.path.join(folders["main"], leaf), work)
            for snr in SNRS:
                record(clean, s, snr, rotated, os.path.join(folders["snr-%d" % snr], leaf), work)
            long_clean = os.path.join(work, "long.wav")
            speak(spk, texts["long"][i], s, long_clean, work)
            for seconds in LENGTHS:
                record(long_clean, s, s["snr"], rotated,
                       os.path.join(folders["len-" + seconds], leaf), work, seconds)
    return name


def corpus_names():
    return ["main"] + ["len-" + s for s in LENGTHS] + ["snr-%d" % s for s in SNRS]


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--speakers", type=int, default=20)
    parser.add_argument("--tests", type=int, default=10, help="test recordings per speaker")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--out", required=True, help="folder for the corpora (made anew)")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    chosen = speakers(rng, args.speakers)
    jobs = []
    if os.path.exists(args.out):
        shutil.rmtree(args.out)
    os.makedirs(args.out)
    noise = make_noise(args.out)
    for spk in chosen:
        sentences = SENTENCES[spk["lang"]]
        order = list(range(len(sentences)))
        rng.shuffle(order)
        enrol = [sentences[k] for k in order[:3]]
        rest = order[3:]
        test = [sentences[rest[i % len(rest)]] for i in range(args.tests)]
        # Speech for the length study: three sentences, enough for 6 s at any tempo.
        long = [" ".join(sentences[rest[(i + j) % len(rest)]] for j in range(3))
                for i in range(args.tests)]
        sessions = {"enrol": [session(rng, True) for _ in range(3)],
                    "test": [session(rng, False) for _ in range(args.tests)]}
        jobs.append((spk, sessions, {"enrol": enrol, "test": test, "long": long}, noise,
                     args.out))
    with concurrent.futures.ProcessPoolExecutor(max_workers=args.jobs) as pool:
        for name in pool.map(build_speaker, jobs):
            print("made", name, file=sys.stderr)
    os.remove(noise["file"])
    with open(os.path.join(args.out, "speakers.txt"), "w") as f:
        for spk in chosen:
            f.write("%s voice %s+%s pitch %d speed %d\n" % (
                spk["name"], spk["voice"], spk["variant"], spk["pitch"], spk["speed"]))


if __name__ == "__main__":
    main()
