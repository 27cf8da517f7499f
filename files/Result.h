#pragma once

// One way to say that an operation failed, from the file layer up to the front ends: a
// Failure carries a code (the system's errno, or one of the program's own error categories
// such as FileError), the file it concerns, through the code the system's reason and, where a
// library gave words of its own beyond the code (libsndfile's, a sampling rate), those. A
// Result<T> holds either the value of a successful operation or its Failure, as C++23's
// std::expected does; each front end words a Failure into its message and exit code in one
// place. Nothing here throws.

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>

namespace quorvane {

class Failure final {
public:
    explicit Failure(std::error_code code, std::filesystem::path path = {}, std::string detail = {})
        : code_(code), path_(std::move(path)), detail_(std::move(detail)) {}

    [[nodiscard]] const std::error_code& code() const { return code_; }
    // The file the failure concerns; empty when none.
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    // The system's or the program's reason, as its category words it ("No space left on
    // device", "is not a regular file").
    [[nodiscard]] std::string Reason() const { return code_.message(); }
    // What a library or the reader said beyond the code (libsndfile's "Format not recognised",
    // an unusable sampling rate); empty when nothing. The front end words it with the reason.
    [[nodiscard]] const std::string& detail() const { return detail_; }
    // The same failure concerning another file (a layer that knows better which one it was).
    [[nodiscard]] Failure At(std::filesystem::path path) const {
        return Failure(code_, std::move(path), detail_);
    }
    [[nodiscard]] bool operator==(const Failure&) const = default;

private:
    std::error_code code_;
    std::filesystem::path path_;
    std::string detail_;
};

template <typename T>
class [[nodiscard]] Result final {
public:
    static_assert(!std::is_same_v<T, Failure>, "a Result holds a value or a Failure");

    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
    Result(Failure failure)                                                // NOLINT: implicit
        : state_(std::in_place_index<1>, std::move(failure)) {}

    [[nodiscard]] bool has_value() const { return state_.index() == 0; }
    [[nodiscard]] explicit operator bool() const { return has_value(); }

    // The value; asking it of a failure is a fault of the caller, which ends the program.
    [[nodiscard]] T& value() & { return *Checked(std::get_if<0>(&state_)); }
    [[nodiscard]] const T& value() const& { return *Checked(std::get_if<0>(&state_)); }
    [[nodiscard]] T&& value() && { return std::move(*Checked(std::get_if<0>(&state_))); }
    [[nodiscard]] T& operator*() & { return value(); }
    [[nodiscard]] const T& operator*() const& { return value(); }
    [[nodiscard]] T* operator->() { return &value(); }
    [[nodiscard]] const T* operator->() const { return &value(); }

    // The failure; asking it of a success ends the program likewise.
    [[nodiscard]] const Failure& error() const { return *Checked(std::get_if<1>(&state_)); }

private:
    template <typename P>
    static P* Checked(P* pointer) {
        if (pointer == nullptr) {
            std::abort();
        }
        return pointer;
    }
    std::variant<T, Failure> state_;
};

template <>
class [[nodiscard]] Result<void> final {
public:
    Result() = default;                                        // success
    Result(Failure failure) : failure_(std::move(failure)) {}  // NOLINT: implicit

    [[nodiscard]] bool has_value() const { return !failure_.has_value(); }
    [[nodiscard]] explicit operator bool() const { return has_value(); }
    [[nodiscard]] const Failure& error() const {
        if (!failure_) {
            std::abort();
        }
        return *failure_;
    }

private:
    std::optional<Failure> failure_;
};

using Status = Result<void>;

}  // namespace quorvane
