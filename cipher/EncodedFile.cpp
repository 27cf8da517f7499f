#include "cipher/EncodedFile.h"

#include <new>
#include <system_error>

#include "cipher/EncodedReader.h"
#include "cipher/EncodedWriter.h"
#include "cipher/MeasuredInput.h"

namespace quorvane {

namespace {

// The output file as the decoder's sink.
class AtomicSink final : public PlainSink {
public:
    explicit AtomicSink(AtomicFile& file) : file_(file) {}
    [[nodiscard]] Status Write(std::span<const std::uint8_t> bytes) override {
        return file_.Write(bytes);
    }

private:
    AtomicFile& file_;
};

// Testing a key: the plain data go nowhere.
class DiscardSink final : public PlainSink {
public:
    [[nodiscard]] Status Write(std::span<const std::uint8_t>) override { return {}; }
};

// Runs an operation that does not throw to its caller: std::bad_alloc (no memory for a buffer
// or a thread's state) and std::system_error (a failing library call of the check values) are
// the failures a file operation can meet; they are reported with `status` and their own reason.
// Anything else is a fault of a caller's callback or of the program, and goes on.
template <typename Operation>
CodingResult Reported(CodingStatus status, Operation operation) {
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        return MakeResult(status, std::make_error_code(std::errc::not_enough_memory));
    } catch (const std::system_error& error) {
        return MakeResult(status, error.code());
    }
}

// True when output already names the same file as input (a link or a second name included).
bool IsSameFile(const std::filesystem::path& input, const std::filesystem::path& output) {
    std::error_code ec;
    if (!std::filesystem::exists(output, ec)) {
        return false;
    }
    const bool same = std::filesystem::equivalent(input, output, ec);
    return !ec && same;
}

// Opens input and reads its layout with reader; Done when it may be decoded.
CodingResult OpenToDecode(PlatformFile& file, const std::filesystem::path& input,
                          EncodedReader& reader, std::string_view marker, bool allowUnverified) {
    if (const Status opened = file.OpenForReading(input); !opened) {
        return MakeResult(CodingStatus::InputUnreadable, opened.error().code());
    }
    CodingResult opened = reader.Open(marker);
    if (opened.ok() && !reader.Tagged() && !allowUnverified) {
        return MakeResult(CodingStatus::Unverified);
    }
    return opened;
}

CodingResult DecodeToFile(const std::filesystem::path& input, const std::filesystem::path& output,
                          std::string_view marker, const GostKey& key,
                          const SubstitutionTable& table, const CodingOptions& options) {
    PlatformFile file;
    FileSource source(file);
    EncodedReader reader(source, key, table);
    CodingResult result = OpenToDecode(file, input, reader, marker, options.allowUnverified);
    if (!result.ok()) {
        return result;
    }
    if (IsSameFile(input, output)) {
        result.status = CodingStatus::SameFile;
        return result;
    }
    AtomicFile out(output, options.mode);
    Status step = out.Open();
    result.staleRemoved = out.StaleRemoved();
    if (!step || !(step = out.Expect(reader.Header().PlainBytes()))) {
        result.status = OutputStatus(step.error().code());
        result.error = step.error().code();
        return result;
    }
    AtomicSink sink(out);
    CodingResult decoded = reader.Decode(options, sink);
    decoded.staleRemoved = std::move(result.staleRemoved);
    if (!decoded.ok()) {
        out.Discard();
    } else if (const Status committed = out.Commit(); !committed) {
        decoded.status = OutputStatus(committed.error().code());
        decoded.error = committed.error().code();
        decoded.tagVerified = false;
    }
    return decoded;
}

CodingResult DecodeToMemory(const std::filesystem::path& input, std::string_view marker,
                            const GostKey& key, const SubstitutionTable& table,
                            std::vector<std::uint8_t>& plain, std::uint64_t maxBytes,
                            const CodingOptions& options) {
    PlatformFile file;
    FileSource source(file);
    EncodedReader reader(source, key, table);
    CodingResult result = OpenToDecode(file, input, reader, marker, options.allowUnverified);
    if (!result.ok()) {
        return result;
    }
    if (reader.Header().PlainBytes() > maxBytes) {
        result.status = CodingStatus::OutputUnwritable;
        result.error = std::make_error_code(std::errc::file_too_large);
        return result;
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(reader.Header().PlainBytes()));
    SpanSink sink(data);
    CodingResult decoded = reader.Decode(options, sink);
    if (decoded.ok()) {
        plain = std::move(data);
    }
    return decoded;
}

}  // namespace

CodingResult EncodeFileChecked(const std::filesystem::path& input,
                               const std::filesystem::path& output, std::string_view marker,
                               const GostKey& key, const SubstitutionTable& table,
                               const CodingOptions& options) {
    return Reported(CodingStatus::OutputUnwritable, [&] {
        MeasuredInput source;
        CodingResult opened = source.Open(input);
        if (!opened.ok()) {
            return opened;
        }
        if (IsSameFile(input, output)) {
            return MakeResult(CodingStatus::SameFile);
        }
        return EncodeFrom(source, {output, marker, key, table}, options);
    });
}

CodingResult EncodeBufferChecked(std::span<const std::uint8_t> plain,
                                 const std::filesystem::path& output, std::string_view marker,
                                 const GostKey& key, const SubstitutionTable& table,
                                 OutputMode mode, FilePrivacy privacy) {
    return Reported(CodingStatus::OutputUnwritable, [&] {
        MemoryPlain source(plain);
        CodingOptions options;
        options.mode = mode;
        return EncodeFrom(source, {output, marker, key, table, privacy}, options);
    });
}

CodingResult DecodeFileChecked(const std::filesystem::path& input,
                               const std::filesystem::path& output, std::string_view marker,
                               const GostKey& key, const SubstitutionTable& table,
                               const CodingOptions& options) {
    return Reported(CodingStatus::OutputUnwritable,
                    [&] { return DecodeToFile(input, output, marker, key, table, options); });
}

CodingResult CheckEncodedFile(const std::filesystem::path& input, std::string_view marker,
                              const GostKey& key, const SubstitutionTable& table) {
    return Reported(CodingStatus::InputUnreadable, [&] {
        PlatformFile file;
        FileSource source(file);
        EncodedReader reader(source, key, table);
        CodingResult opened = OpenToDecode(file, input, reader, marker, true);
        if (!opened.ok() || !reader.Tagged()) {
            return opened;
        }
        DiscardSink sink;
        return reader.Decode({}, sink);
    });
}

CodingResult CheckEncodedKey(const std::filesystem::path& input, std::string_view marker,
                             const GostKey& key, const SubstitutionTable& table) {
    return Reported(CodingStatus::InputUnreadable, [&] {
        PlatformFile file;
        FileSource source(file);
        EncodedReader reader(source, key, table);
        return OpenToDecode(file, input, reader, marker, true);
    });
}

CodingResult DecodeToBufferChecked(const std::filesystem::path& input, std::string_view marker,
                                   const GostKey& key, const SubstitutionTable& table,
                                   std::vector<std::uint8_t>& plain, std::uint64_t maxBytes,
                                   const CodingOptions& options) {
    plain.clear();
    return Reported(CodingStatus::OutputUnwritable, [&] {
        return DecodeToMemory(input, marker, key, table, plain, maxBytes, options);
    });
}

}  // namespace quorvane
