#pragma once

// Reading the test vector files in tests/data: records of "Name = value" lines separated by
// blank lines; lines starting with '#' are comments.

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace quorvane::test_vectors {

using VectorRecord = std::map<std::string, std::string>;

inline std::vector<VectorRecord> ReadVectorFile(const std::string& name) {
    std::ifstream in(std::string(QUORVANE_TEST_DATA_DIR) + "/" + name);
    std::vector<VectorRecord> records;
    VectorRecord current;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            if (line.empty() && !current.empty()) {
                records.push_back(current);
                current.clear();
            }
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        key.erase(key.find_last_not_of(' ') + 1);
        const auto first = value.find_first_not_of(' ');
        value.erase(0, first == std::string::npos ? value.size() : first);
        current[key] = value;
    }
    if (!current.empty()) {
        records.push_back(current);
    }
    return records;
}

inline std::uint64_t Hex(const std::string& text) {
    return std::stoull(text, nullptr, 16);
}

// "48656c" -> {0x48, 0x65, 0x6c}
inline std::vector<std::uint8_t> HexBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(Hex(text.substr(i, 2))));
    }
    return bytes;
}

}  // namespace quorvane::test_vectors
