#pragma once

// The files of the Speakers folder as both kinds of speaker file see them: where a user's file of
// one kind lives, which files of a kind the folder holds, where a file that was in the way was
// kept, and the store's messages.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

inline constexpr std::string_view kSpeakersFolderName = "Speakers";
inline constexpr std::string_view kSpeakerFileExtension = ".spk";

// Messages raised through the Notifier.
inline constexpr std::string_view kUnableToSaveUsersMessage =
    "Unable to save users (speakers) file";
inline constexpr std::string_view kCanNotLoadFilePrefix = "Can not load file: ";
// "User " + name + " already is in the list"
[[nodiscard]] std::string AlreadyInListMessage(std::string_view name);

// speakersDir / (name + extension)
[[nodiscard]] std::filesystem::path StoreFilePath(const std::filesystem::path& speakersDir,
                                                  std::string_view name,
                                                  std::string_view extension);
// The regular files of speakersDir whose names end in extension, in byte order of their names
// (empty when the folder is missing or unreadable): the store's files of one kind, speaker files
// or protected ones.
[[nodiscard]] std::vector<std::filesystem::path> ListStoreFiles(
    const std::filesystem::path& speakersDir, std::string_view extension);

// A damaged or unreadable file that a new enrolment of its name moves out of the way is renamed
// to its own name + ".kept-" + a number from 1: a name the folder search never takes (not even as
// a Windows short name, whose extension then starts with "kep").
inline constexpr std::string_view kKeptSpeakerFileInfix = ".kept-";

// The files kept aside from speakersDir / (name + extension): that name + ".kept-" + a number,
// in byte order of their names.
[[nodiscard]] std::vector<std::filesystem::path> FindKeptFiles(
    const std::filesystem::path& speakersDir, std::string_view name, std::string_view extension);

}  // namespace quorvane
