#include "cipher/EncodedFile.h"

#include <new>
#include <system_error>

#include "cipher/CipherError.h"
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
// the failures a file operation can meet; they are reported as failures of `where` with their
// own reason. Anything else is a fault of a caller's callback or of the program, and goes on.
template <typename T, typename Operation>
Result<T> Reported(const std::filesystem::path& where, Operation operation) {
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        return Failure(std::make_error_code(std::errc::not_enough_memory), where);
    } catch (const std::system_error& error) {
        return Failure(error.code(), where);
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

// What a reading of the file that went through reports.
Coded CodedBy(const EncodedReader& reader, bool decoded) {
    return {reader.Tagged(), decoded && reader.Tagged()};
}

// Opens input and reads its layout with reader; succeeds when it may be decoded.
Status OpenToDecode(PlatformFile& file, const std::filesystem::path& input, EncodedReader& reader,
                    std::string_view marker, bool allowUnverified) {
    if (Status opened = file.OpenForReading(input); !opened) {
        return opened;
    }
    if (Status opened = reader.Open(marker); !opened) {
        return opened;
    }
    if (!reader.Tagged() && !allowUnverified) {
        return Failure(MakeError(CipherError::Unverified), input);
    }
    return {};
}

Result<Coded> DecodeToFile(const std::filesystem::path& input, const std::filesystem::path& output,
                           std::string_view marker, const GostKey& key,
                           const SubstitutionTable& table, const CodingOptions& options) {
    PlatformFile file;
    FileSource source(file);
    EncodedReader reader(source, key, table);
    if (Status opened = OpenToDecode(file, input, reader, marker, options.allowUnverified);
        !opened) {
        return opened.error();
    }
    if (IsSameFile(input, output)) {
        return Failure(MakeError(CipherError::SameFile), output);
    }
    AtomicFile out(output, options.mode);
    Status step = out.Open();
    if (options.leftoverRemoved) {
        for (const std::filesystem::path& leftover : out.StaleRemoved()) {
            options.leftoverRemoved(leftover);
        }
    }
    if (!step || !(step = out.Expect(reader.Header().PlainBytes()))) {
        return step.error();
    }
    AtomicSink sink(out);
    if (!(step = reader.Decode(options, sink))) {
        out.Discard();
        return step.error();
    }
    if (!(step = out.Commit())) {
        return step.error();
    }
    return CodedBy(reader, true);
}

Result<DecodedBuffer<std::vector<std::uint8_t>>> DecodeToMemory(
    const std::filesystem::path& input, std::string_view marker, const GostKey& key,
    const SubstitutionTable& table, std::uint64_t maxBytes, const CodingOptions& options) {
    PlatformFile file;
    FileSource source(file);
    EncodedReader reader(source, key, table);
    if (Status opened = OpenToDecode(file, input, reader, marker, options.allowUnverified);
        !opened) {
        return opened.error();
    }
    if (reader.Header().PlainBytes() > maxBytes) {
        return Failure(MakeError(CipherError::TooLarge), input);
    }
    DecodedBuffer<std::vector<std::uint8_t>> decoded;
    decoded.plain.resize(static_cast<std::size_t>(reader.Header().PlainBytes()));
    SpanSink sink(decoded.plain);
    if (Status read = reader.Decode(options, sink); !read) {
        return read.error();
    }
    decoded.tagVerified = reader.Tagged();
    return decoded;
}

}  // namespace

Status EncodeFileChecked(const std::filesystem::path& input, const std::filesystem::path& output,
                         std::string_view marker, const GostKey& key,
                         const SubstitutionTable& table, const CodingOptions& options) {
    return Reported<void>(output, [&]() -> Status {
        MeasuredInput source;
        if (Status opened = source.Open(input); !opened) {
            return opened;
        }
        if (IsSameFile(input, output)) {
            return Failure(MakeError(CipherError::SameFile), output);
        }
        return EncodeFrom(source, {output, marker, key, table}, options);
    });
}

Status EncodeBufferChecked(std::span<const std::uint8_t> plain, const std::filesystem::path& output,
                           std::string_view marker, const GostKey& key,
                           const SubstitutionTable& table, OutputMode mode, FilePrivacy privacy) {
    return Reported<void>(output, [&] {
        MemoryPlain source(plain);
        CodingOptions options;
        options.mode = mode;
        return EncodeFrom(source, {output, marker, key, table, privacy}, options);
    });
}

Result<Coded> DecodeFileChecked(const std::filesystem::path& input,
                                const std::filesystem::path& output, std::string_view marker,
                                const GostKey& key, const SubstitutionTable& table,
                                const CodingOptions& options) {
    return Reported<Coded>(
        output, [&] { return DecodeToFile(input, output, marker, key, table, options); });
}

Result<Coded> CheckEncodedFile(const std::filesystem::path& input, std::string_view marker,
                               const GostKey& key, const SubstitutionTable& table) {
    return Reported<Coded>(input, [&]() -> Result<Coded> {
        PlatformFile file;
        FileSource source(file);
        EncodedReader reader(source, key, table);
        if (Status opened = OpenToDecode(file, input, reader, marker, true); !opened) {
            return opened.error();
        }
        if (reader.Tagged()) {
            DiscardSink sink;
            if (Status read = reader.Decode({}, sink); !read) {
                return read.error();
            }
        }
        return CodedBy(reader, true);
    });
}

Result<Coded> CheckEncodedKey(const std::filesystem::path& input, std::string_view marker,
                              const GostKey& key, const SubstitutionTable& table) {
    return Reported<Coded>(input, [&]() -> Result<Coded> {
        PlatformFile file;
        FileSource source(file);
        EncodedReader reader(source, key, table);
        if (Status opened = OpenToDecode(file, input, reader, marker, true); !opened) {
            return opened.error();
        }
        return CodedBy(reader, false);
    });
}

Result<DecodedBuffer<std::vector<std::uint8_t>>> DecodeToBufferChecked(
    const std::filesystem::path& input, std::string_view marker, const GostKey& key,
    const SubstitutionTable& table, std::uint64_t maxBytes, const CodingOptions& options) {
    return Reported<DecodedBuffer<std::vector<std::uint8_t>>>(
        {}, [&] { return DecodeToMemory(input, marker, key, table, maxBytes, options); });
}

}  // namespace quorvane
