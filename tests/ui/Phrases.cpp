#include "tests/ui/Phrases.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>

namespace {

bool Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// The default voice: espeak-ng's English at 140 words a minute.
QStringList DefaultVoice() {
    return {QStringLiteral("-v"), QStringLiteral("en"), QStringLiteral("-s"),
            QStringLiteral("140")};
}

// Close-microphone compression, then normalised to -1 dB.
QStringList CloseMicrophone() {
    return {QStringLiteral("gain"),      QStringLiteral("-n"),
            QStringLiteral("-10"),       QStringLiteral("compand"),
            QStringLiteral("0.02,0.20"), QStringLiteral("-60,-60,-30,-15,-20,-10,0,-3"),
            QStringLiteral("gain"),      QStringLiteral("-n"),
            QStringLiteral("-1")};
}

// espeak-ng speaks `text` with the `voice` options into the WAV file `spoken`; sox turns
// that into 16-bit mono at 11025 Hz through `effects`, written as `output` says (format
// options, then the path).
bool SpeakAndConvert(const QString& spoken, const QString& text, const QStringList& voice,
                     const QStringList& output, const QStringList& effects) {
    if (!Run(QStringLiteral("espeak-ng"),
             voice + QStringList{QStringLiteral("-w"), spoken, text})) {
        return false;
    }
    // -R and -D: repeatable output without dither.
    return Run(QStringLiteral("sox"),
               QStringList{QStringLiteral("-R"), spoken, QStringLiteral("-D"), QStringLiteral("-r"),
                           QStringLiteral("11025"), QStringLiteral("-c"), QStringLiteral("1"),
                           QStringLiteral("-b"), QStringLiteral("16"), QStringLiteral("-e"),
                           QStringLiteral("signed-integer")} +
                   output + effects);
}

}  // namespace

std::vector<std::int16_t> SpeakPhrase(const QString& folder, const QString& name,
                                      const QString& text) {
    return SpeakPhrase(folder, name, text, DefaultVoice(), CloseMicrophone());
}

std::vector<std::int16_t> SpeakPhrase(const QString& folder, const QString& name,
                                      const QString& text, const QStringList& voice,
                                      const QStringList& effects) {
    const QString wav = folder + QLatin1Char('/') + name + QStringLiteral(".wav");
    const QString raw = folder + QLatin1Char('/') + name + QStringLiteral(".raw");
    if (!SpeakAndConvert(wav, text, voice, {QStringLiteral("-t"), QStringLiteral("raw"), raw},
                         effects)) {
        return {};
    }
    QFile file(raw);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes.size()) / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto lo = static_cast<std::uint8_t>(bytes[static_cast<qsizetype>(2 * i)]);
        const auto hi = static_cast<std::uint8_t>(bytes[static_cast<qsizetype>(2 * i + 1)]);
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
    }
    return samples;
}

bool SpeakPhraseWav(const QString& folder, const QString& name, const QString& text) {
    const QString spoken = folder + QLatin1Char('/') + name + QStringLiteral("-spoken.wav");
    const QString phrase = folder + QLatin1Char('/') + name + QStringLiteral(".wav");
    return SpeakAndConvert(spoken, text, DefaultVoice(), {phrase}, CloseMicrophone()) &&
           QFile::exists(phrase);
}
