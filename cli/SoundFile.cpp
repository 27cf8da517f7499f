#include "cli/SoundFile.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <system_error>

#include "workflow/Enrolment.h"  // kSampleRate

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

std::string Named(const std::filesystem::path& path, const std::string& why) {
    return path.string() + ": " + why;
}

constexpr const char* kTooLongText = "too long (more than one hour of sound)";

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

}  // namespace

bool ReadSoundFile(const std::filesystem::path& path, std::vector<std::int16_t>& samples,
                   std::string& error, std::size_t maxSamples) {
    samples.clear();
    error.clear();
    std::error_code code;
    if (!std::filesystem::exists(path, code)) {
        error = Named(path, "no such file");
        return false;
    }
    if (std::filesystem::is_directory(path, code)) {
        error = Named(path, "is a folder, not a sound file");
        return false;
    }
    // A pipe or a device would block the reader or never end.
    if (!std::filesystem::is_regular_file(path, code)) {
        error = Named(path, "not a regular file (a pipe or a device); give a sound file");
        return false;
    }

    SF_INFO info{};
    const SndFile file(OpenForReading(path, info));
    if (!file) {
        error =
            Named(path, std::string("not a readable sound file (") + sf_strerror(nullptr) + ")");
        return false;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        error = Named(path, "not a sound file (no channels or no sampling rate)");
        return false;
    }
    // Refused at once: reading and converting an hour of sound at a high rate would take
    // minutes only to be refused at the end.
    if (HeaderTooLong(info, maxSamples)) {
        error = Named(path, kTooLongText);
        return false;
    }

    // The program's own format: taken sample for sample.
    if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 && info.channels == 1 &&
        info.samplerate == kSampleRate) {
        std::vector<short> block(static_cast<std::size_t>(kBlockFrames));
        for (;;) {
            const sf_count_t got = sf_read_short(file.get(), block.data(), kBlockFrames);
            if (got <= 0) {
                break;
            }
            if (static_cast<std::size_t>(got) > maxSamples - samples.size()) {
                samples.clear();
                error = Named(path, kTooLongText);
                return false;
            }
            samples.insert(samples.end(), block.begin(), block.begin() + got);
        }
        if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
            samples.clear();
            error = Named(path, std::string("read error (") + sf_strerror(file.get()) + ")");
            return false;
        }
        return true;
    }

    const double ratio = static_cast<double>(kSampleRate) / static_cast<double>(info.samplerate);
    Resampler resampler;
    if (info.samplerate != kSampleRate) {
        if (src_is_valid_ratio(ratio) == 0) {
            error = Named(path, "sampling rate " + std::to_string(info.samplerate) +
                                    " Hz cannot be converted to 11025 Hz");
            return false;
        }
        int status = 0;
        resampler.reset(src_new(SRC_SINC_BEST_QUALITY, 1, &status));
        if (!resampler) {
            error =
                Named(path, std::string("rate conversion failed (") + src_strerror(status) + ")");
            return false;
        }
    }

    Output output(samples, maxSamples);
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> interleaved(static_cast<std::size_t>(kBlockFrames) * channels);
    std::vector<float> mono(static_cast<std::size_t>(kBlockFrames));
    std::vector<float> converted(static_cast<std::size_t>(std::ceil(kBlockFrames * ratio)) + 4096);
    bool ended = false;
    while (!ended) {
        const sf_count_t got = sf_readf_float(file.get(), interleaved.data(), kBlockFrames);
        if (got < 0 || sf_error(file.get()) != SF_ERR_NO_ERROR) {
            samples.clear();
            error = Named(path, std::string("read error (") + sf_strerror(file.get()) + ")");
            return false;
        }
        ended = got < kBlockFrames;
        const auto frames = static_cast<std::size_t>(got);
        for (std::size_t f = 0; f < frames; ++f) {
            double sum = 0.0;
            for (std::size_t c = 0; c < channels; ++c) {
                sum += interleaved[f * channels + c];
            }
            mono[f] = static_cast<float>(sum / static_cast<double>(channels));
        }

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
                    samples.clear();
                    error = Named(
                        path, std::string("rate conversion failed (") + src_strerror(status) + ")");
                    return false;
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
            samples.clear();
            error = Named(path, kTooLongText);
            return false;
        }
    }
    return true;
}

}  // namespace quorvane
