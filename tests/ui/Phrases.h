#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// A phrase spoken by espeak-ng and converted by sox to 16-bit mono at 11025 Hz,
// compressed like a close microphone and normalised to -1 dB: loud enough for the
// level checks (more than half a second above 3000), never clipped. `folder` takes
// the intermediate files. Empty when a tool is missing or fails.
std::vector<std::int16_t> SpeakPhrase(const QString& folder, const QString& name,
                                      const QString& text);

// The same with other espeak-ng voice options (e.g. -v en-us+f3 -p 70) and other sox
// effects in place of the compression and normalisation (e.g. gain -n -3).
std::vector<std::int16_t> SpeakPhrase(const QString& folder, const QString& name,
                                      const QString& text, const QStringList& voice,
                                      const QStringList& effects);

// The same phrase as the WAV file `folder`/`name`.wav (the spoken original beside it as
// `name`-spoken.wav). False when a tool is missing or fails.
[[nodiscard]] bool SpeakPhraseWav(const QString& folder, const QString& name, const QString& text);
