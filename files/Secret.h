#pragma once

// Memory for secrets (passphrases, keys, key-file text, decoded models): every byte is
// overwritten before the memory goes back to the allocator, so a secret does not linger in
// freed memory. Use SecretBytes / SecretText instead of std::vector / std::string for them;
// std::string keeps short texts inside the object, where no allocator could wipe them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvane {

// Overwrites `size` bytes at `data` with zeros in a way the compiler may not drop.
inline void WipeMemory(void* data, std::size_t size) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

template <class T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() = default;
    template <class U>
    explicit WipingAllocator(const WipingAllocator<U>&) noexcept {}
    [[nodiscard]] T* allocate(std::size_t count) { return std::allocator<T>{}.allocate(count); }
    void deallocate(T* data, std::size_t count) noexcept {
        WipeMemory(data, count * sizeof(T));
        std::allocator<T>{}.deallocate(data, count);
    }
    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

using SecretBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;
using SecretText = std::vector<char, WipingAllocator<char>>;

// Wipes a fixed-size secret held by value (a key array) when it goes out of scope.
template <class T>
class WipeOnExit final {
public:
    explicit WipeOnExit(T& value) : value_(value) {}
    ~WipeOnExit() { WipeMemory(&value_, sizeof(T)); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    T& value_;
};

}  // namespace quorvane
