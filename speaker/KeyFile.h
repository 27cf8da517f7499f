#pragma once

// The security key file: plain text the user saves at enrolment and types back (or
// gives the command line) to decode without the voice.
//
//   Users name: NAME
//   Your key:
//   word 0 .. word 7, each a signed 32-bit decimal integer, one per line
//
// Every line ends with the platform's line end (CR LF on Windows).

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "cipher/Gost.h"
#include "files/Result.h"

namespace quorvane {

// The text of a key file for the user `name`.
[[nodiscard]] std::string FormatKeyFile(std::string_view name, const GostKey& key);

// Writes FormatKeyFile atomically to `path`, replacing an existing file only when the
// whole new file was written; readable by the owner only where the platform allows. Fails with
// the step's reason and the file.
[[nodiscard]] Status WriteKeyFile(const std::filesystem::path& path, std::string_view name,
                                  const GostKey& key);

// Reads one key word, wherever a key number is read (the security key dialog, key
// files): a signed 32-bit decimal integer, an optional + or - sign, digits only
// (leading zeros allowed), white space around it ignored, Unicode blanks such as
// no-break spaces included (pasted keys often carry them). Anything else, hexadecimal
// prefixes, inner blanks or a second number, is refused rather than guessed at, since
// a misread word decodes to garbage. False (word unchanged) when refused.
[[nodiscard]] bool ParseKeyWord(std::string_view text, std::uint32_t& word);

// Reads a key file as FormatKeyFile writes it (LF or CR LF line ends). The two
// heading lines are optional; the first eight further non-empty lines are the words.
// `name` receives the name of the "Users name: " line (empty without one).
// Returns false, leaving `key` unchanged, when eight valid words are not found.
[[nodiscard]] bool ParseKeyFile(std::string_view text, std::string& name, GostKey& key);

// Reads and parses a key file of at most 64 KiB; false when it cannot be read.
[[nodiscard]] bool ReadKeyFile(const std::filesystem::path& path, std::string& name, GostKey& key);

}  // namespace quorvane
