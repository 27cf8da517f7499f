#pragma once

// One batch, one set of files: before a batch writes anything, the output of each file is
// compared with the inputs the batch has yet to read and with the outputs of the files before
// it, as the file system compares files: one file where both exist and have the same device and
// inode (a hard link, a symbolic link to it), or one name in one folder as that folder's file
// system compares names (letter case where it ignores case, Unicode normalisation where it
// normalises: files/NameComparison.h), which also holds where the files do not exist yet or
// where a file system gives one file another inode number under each spelling of its name.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <vector>

namespace quorvane {

// What refuses the output of a file of a batch.
struct OutputConflict {
    std::size_t other = 0;   // the other file of the batch
    bool withInput = false;  // its input, which the batch has yet to read; else its output
};

// For each file of a batch (inputs[i], written to outputs[i]; no output: nothing to compare), the
// conflict that refuses its output, if any: the input of a later file (the write would destroy it
// before it is read), else the output of an earlier file that is not refused itself. An input
// that does not exist conflicts with nothing; its file fails on its own.
[[nodiscard]] std::vector<std::optional<OutputConflict>> PlanOutputs(
    const std::vector<std::filesystem::path>& inputs,
    const std::vector<std::optional<std::filesystem::path>>& outputs);

}  // namespace quorvane
