#include "cli/SoundFile.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "files/PathText.h"
#include "workflow/Enrolment.h"  // kSampleRate, kSoundNotRecordedText

namespace quorvane {

namespace {

// Frames read from the file per block.
constexpr sf_count_t kBlockFrames = 16384;

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndFile = std::unique_ptr<SNDFILE, SndFileCloser>;

struct ResamplerDeleter {
    void operator()(SRC_STATE* state) const { src_delete(state); }
};
using Resampler = std::unique_ptr<SRC_STATE, ResamplerDeleter>;

SNDFILE* OpenForReading(const std::filesystem::path& path, SF_INFO& info) {
#ifdef _WIN32
    return sf_wchar_open(path.c_str(), SFM_READ, &info);
#else
    return sf_open(path.c_str(), SFM_READ, &info);
#endif
}

// Full scale of the normalised samples libsndfile gives: +-1.0 is +-32768.
std::int16_t ToSample(double normalised) {
    const double scaled = std::round(normalised * 32768.0);
    if (!(scaled == scaled)) {
        return 0;  // NaN in a float file
    }
    return static_cast<std::int16_t>(std::clamp(scaled, -32768.0, 32767.0));
}

// Collects converted samples and refuses to grow past the limit.
class Output {
public:
    Output(std::vector<std::int16_t>& samples, std::size_t limit)
        : samples_(samples), limit_(limit) {}
    bool Add(const float* values, std::size_t count) {
        if (count > limit_ - samples_.size()) {
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            samples_.push_back(ToSample(values[i]));
        }
        return true;
    }

private:
    std::vector<std::int16_t>& samples_;
    std::size_t limit_;
};

// Whether the length the file's header gives, once converted to 11025 Hz, is beyond the
// limit. A format that does not tell its length (SF_COUNT_MAX) is bounded while reading.
bool HeaderTooLong(const SF_INFO& info, std::size_t maxSamples) {
    if (info.frames == SF_COUNT_MAX) {
        return false;
    }
    const double converted = static_cast<double>(info.frames) * static_cast<double>(kSampleRate) /
                             static_cast<double>(info.samplerate);
    return converted > static_cast<double>(maxSamples);
}

class SoundFileErrorCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "quorvane.soundfile"; }
    std::string message(int value) const override {
        switch (static_cast<SoundFileError>(value)) {
            case SoundFileError::NoSuchFile:
                return "no such file";
            case SoundFileError::IsFolder:
                return "is a folder, not a sound file";
            case SoundFileError::NotRegularFile:
                return "not a regular file (a pipe or a device); give a sound file";
            case SoundFileError::NotSoundFile:
                return "not a readable sound file";
            case SoundFileError::NoChannels:
                return "not a sound file (no channels or no sampling rate)";
            case SoundFileError::TooLong:
                return "too long (more than one hour of sound)";
            case SoundFileError::ReadError:
                return "read error";
            case SoundFileError::RateNotConvertible:
                return "sampling rate cannot be converted to 11025 Hz";
            case SoundFileError::ConversionFailed:
                return "rate conversion failed";
            case SoundFileError::NotRecorded:
                return std::string(kSoundNotRecordedText);
        }
        return "cannot read the sound file";
    }
};

}  // namespace

const std::error_category& SoundFileErrorCategory() {
    static const SoundFileErrorCategoryImpl category;
    return category;
}

std::error_code MakeError(SoundFileError error) {
    return {static_cast<int>(error), SoundFileErrorCategory()};
}

std::string SoundFileProblemText(const Failure& failure) {
    std::string why = failure.Reason();
    if (failure.code() == MakeError(SoundFileError::RateNotConvertible)) {
        why = "sampling rate " + failure.detail() + " Hz cannot be converted to 11025 Hz";
    } else if (!failure.detail().empty()) {
        why += " (" + failure.detail() + ")";
    }
    return PathText(failure.path()) + ": " + why;
}

namespace {

Failure SoundFailure(const std::filesystem::path& path, SoundFileError error,
                     std::string detail = {}) {
    return Failure(MakeError(error), path, std::move(detail));
}

// The program's own format (16-bit PCM mono at 11025 Hz): taken sample for sample.
Result<std::vector<std::int16_t>> ReadNative(SNDFILE* file, const std::filesystem::path& path,
                                             std::size_t maxSamples) {
    std::vector<std::int16_t> samples;
    std::vector<short> block(static_cast<std::size_t>(kBlockFrames));
    for (;;) {
        const sf_count_t got = sf_read_short(file, block.data(), kBlockFrames);
        if (got <= 0) {
            break;
        }
        if (static_cast<std::size_t>(got) > maxSamples - samples.size()) {
            return SoundFailure(path, SoundFileError::TooLong);
        }
        samples.insert(samples.end(), block.begin(), block.begin() + got);
    }
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        return SoundFailure(path, SoundFileError::ReadError, sf_strerror(file));
    }
    return samples;
}

// The mean of each frame's channels.
void MixToMono(const std::vector<float>& interleaved, std::size_t channels, std::size_t frames,
               std::vector<float>& mono) {
    for (std::size_t f = 0; f < frames; ++f) {
        double sum = 0.0;
        for (std::size_t c = 0; c < channels; ++c) {
            sum += interleaved[f * channels + c];
        }
        mono[f] = static_cast<float>(sum / static_cast<double>(channels));
    }
}

// Any other format: mixed to mono, converted to 11025 Hz, rounded and clipped.
Result<std::vector<std::int16_t>> ReadConverted(SNDFILE* file, const SF_INFO& info,
                                                const std::filesystem::path& path,
                                                std::size_t maxSamples) {
    const double ratio = static_cast<double>(kSampleRate) / static_cast<double>(info.samplerate);
    Resampler resampler;
    if (info.samplerate != kSampleRate) {
        if (src_is_valid_ratio(ratio) == 0) {
            return SoundFailure(path, SoundFileError::RateNotConvertible,
                                std::to_string(info.samplerate));
        }
        int status = 0;
        resampler.reset(src_new(SRC_SINC_BEST_QUALITY, 1, &status));
        if (!resampler) {
            return SoundFailure(path, SoundFileError::ConversionFailed, src_strerror(status));
        }
    }

    std::vector<std::int16_t> samples;
    Output output(samples, maxSamples);
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> interleaved(static_cast<std::size_t>(kBlockFrames) * channels);
    std::vector<float> mono(static_cast<std::size_t>(kBlockFrames));
    std::vector<float> converted(static_cast<std::size_t>(std::ceil(kBlockFrames * ratio)) + 4096);
    bool ended = false;
    while (!ended) {
        const sf_count_t got = sf_readf_float(file, interleaved.data(), kBlockFrames);
        if (got < 0 || sf_error(file) != SF_ERR_NO_ERROR) {
            return SoundFailure(path, SoundFileError::ReadError, sf_strerror(file));
        }
        ended = got < kBlockFrames;
        const auto frames = static_cast<std::size_t>(got);
        MixToMono(interleaved, channels, frames, mono);

        bool fits = true;
        if (!resampler) {
            fits = output.Add(mono.data(), frames);
        } else {
            SRC_DATA data{};
            data.data_in = mono.data();
            data.input_frames = static_cast<long>(frames);
            data.src_ratio = ratio;
            data.end_of_input = ended ? 1 : 0;
            // Runs until this block is consumed and, at the end, until the
            // converter has given out everything it still holds.
            for (;;) {
                data.data_out = converted.data();
                data.output_frames = static_cast<long>(converted.size());
                const int status = src_process(resampler.get(), &data);
                if (status != 0) {
                    return SoundFailure(path, SoundFileError::ConversionFailed,
                                        src_strerror(status));
                }
                if (!output.Add(converted.data(),
                                static_cast<std::size_t>(data.output_frames_gen))) {
                    fits = false;
                    break;
                }
                data.data_in += data.input_frames_used;
                data.input_frames -= data.input_frames_used;
                if (data.input_frames == 0 && (!ended || data.output_frames_gen == 0)) {
                    break;
                }
            }
        }
        if (!fits) {
            return SoundFailure(path, SoundFileError::TooLong);
        }
    }
    return samples;
}

}  // namespace

Result<std::vector<std::int16_t>> ReadSoundFile(const std::filesystem::path& path,
                                                std::size_t maxSamples) {
    std::error_code code;
    if (!std::filesystem::exists(path, code)) {
        return SoundFailure(path, SoundFileError::NoSuchFile);
    }
    if (std::filesystem::is_directory(path, code)) {
        return SoundFailure(path, SoundFileError::IsFolder);
    }
    // A pipe or a device would block the reader or never end.
    if (!std::filesystem::is_regular_file(path, code)) {
        return SoundFailure(path, SoundFileError::NotRegularFile);
    }

    SF_INFO info{};
    const SndFile file(OpenForReading(path, info));
    if (!file) {
        return SoundFailure(path, SoundFileError::NotSoundFile, sf_strerror(nullptr));
    }
    if (info.channels < 1 || info.samplerate < 1) {
        return SoundFailure(path, SoundFileError::NoChannels);
    }
    // Refused at once: reading and converting an hour of sound at a high rate would take
    // minutes only to be refused at the end.
    if (HeaderTooLong(info, maxSamples)) {
        return SoundFailure(path, SoundFileError::TooLong);
    }
    if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 && info.channels == 1 &&
        info.samplerate == kSampleRate) {
        return ReadNative(file.get(), path, maxSamples);
    }
    return ReadConverted(file.get(), info, path, maxSamples);
}

}  // namespace quorvane
