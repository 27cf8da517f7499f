// Every file system people keep files on: a fresh image of each is made and mounted (loop
// devices and FUSE, as root), and quorvane-cli runs there as a user would: a Speakers folder
// on it (enrol from sound files, users, protect with --passphrase-file), three files encoded
// with --delete-originals and decoded with --delete-encoded (key file); nothing stray may be
// left (no temporary files, no reservations). The file layer's own guarantees are checked on
// the same mounts: no-replace commits against a racing writer, what the file system keeps
// (file numbers, permissions) and what it refuses (names, files over 4 GiB on FAT).
//
// A row is skipped, with its reason, where it cannot mount: not root, no /dev/fuse, no loop
// devices, a tool missing. With QUORVANE_FILESYSTEMS_REQUIRED=1 (CI) such a row fails instead.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "files/AtomicFile.h"
#include "files/FileIdentity.h"
#include "files/FileSystem.h"
#include "files/PlatformFile.h"
#include "tests/cli/RunCli.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

using testing::CliRun;
using testing::Quoted;
using testing::ReadText;
using testing::ScratchFolder;

struct FileSystemRow {
    const char* name;
    const char* package;             // where its tools come from
    std::vector<const char*> tools;  // commands it needs
    bool fuse;                       // mounted through FUSE
    int megabytes;                   // image size; 0: no image (tmpfs)
    const char* make;                // makes the file system on $IMAGE
    const char* mount;               // mounts it ($IMAGE, $DEVICE, $MOUNT)
    bool loopDevice;                 // its FUSE driver wants a block device
    bool keepsOwnerOnly;             // files made owner-only stay so
    bool numbersLast;                // a file keeps its number across lookups
    bool refusesColon;               // a ':' in a name is refused (FAT, exFAT)
    bool largestFileFat;             // 4 GiB less one byte is its largest file
    bool ignoresCase;                // "F.CRP" names the file "f.crp"
};

// gtest names a row by its file system.
void PrintTo(const FileSystemRow& row, std::ostream* out) {
    *out << row.name;
}

const std::vector<FileSystemRow> kRows = {
    {"ext4",
     "e2fsprogs",
     {"mkfs.ext4"},
     false,
     64,
     "mkfs.ext4 -q -F $IMAGE",
     "mount -o loop $IMAGE $MOUNT",
     false,
     true,
     true,
     false,
     false,
     false},
    {"xfs",
     "xfsprogs",
     {"mkfs.xfs"},
     false,
     320,
     "mkfs.xfs -q -f $IMAGE",
     "mount -o loop $IMAGE $MOUNT",
     false,
     true,
     true,
     false,
     false,
     false},
    {"btrfs",
     "btrfs-progs",
     {"mkfs.btrfs"},
     false,
     128,
     "mkfs.btrfs -q -f $IMAGE",
     "mount -o loop $IMAGE $MOUNT",
     false,
     true,
     true,
     false,
     false,
     false},
    {"tmpfs",
     "mount",
     {"mount"},
     false,
     0,
     "true",
     "mount -t tmpfs -o size=64m tmpfs $MOUNT",
     false,
     true,
     true,
     false,
     false,
     false},
    {"ntfs",
     "ntfs-3g",
     {"mkfs.ntfs", "ntfs-3g"},
     true,
     64,
     "mkfs.ntfs -Q -F -q $IMAGE",
     "ntfs-3g $IMAGE $MOUNT",
     false,
     false,
     false,
     false,
     false,
     false},
    {"exfat",
     "exfatprogs exfat-fuse",
     {"mkfs.exfat", "mount.exfat-fuse", "losetup"},
     true,
     64,
     "mkfs.exfat $IMAGE",
     "mount.exfat-fuse $DEVICE $MOUNT",
     true,
     false,
     false,
     true,
     false,
     true},
    {"fat32",
     "dosfstools fusefat",
     {"mkfs.vfat", "fusefat"},
     true,
     64,
     "mkfs.vfat -F 32 $IMAGE",
     "fusefat -o rw+ $IMAGE $MOUNT",
     false,
     true,
     false,
     true,
     true,
     true},
};

// Runs a shell command quietly; its output goes to `log`.
bool Shell(const std::string& command, const fs::path& log) {
    const std::string line = "(" + command + ") > " + Quoted(log) + " 2>&1";
    return std::system(line.c_str()) == 0;
}

std::string Replaced(std::string text, const std::string& key, const std::string& value) {
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
        text.replace(at, key.size(), value);
        at += value.size();
    }
    return text;
}

// Every path under `root`, relative, without what a fresh file system holds of its own.
std::set<std::string> Tree(const fs::path& root) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(entry.path(), root).generic_string();
        if (name.rfind("lost+found", 0) != 0) {
            names.insert(name);
        }
    }
    return names;
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Three phrases spoken by espeak-ng, made once for every row.
class Voices {
public:
    static const Voices& Get() {
        static const Voices voices;
        return voices;
    }
    bool ready = false;
    std::string Phrases() const {
        return Quoted(Phrase(1)) + " " + Quoted(Phrase(2)) + " " + Quoted(Phrase(3));
    }

private:
    Voices() {
        const char* texts[] = {"The quick brown fox jumps over the lazy dog near the river bank",
                               "Seven silver swans were swimming slowly across the quiet lake",
                               "My voice is my password and it opens every door in this house"};
        for (int n = 1; n <= 3; ++n) {
            const fs::path spoken = folder_.Path() / "spoken.wav";
            const std::string command = "espeak-ng -v en-us -w " + Quoted(spoken) + " \"" +
                                        texts[n - 1] + "\" && sox -R -D " + Quoted(spoken) +
                                        " -r 11025 -c 1 -b 16 " + Quoted(Phrase(n));
            if (!Shell(command, folder_.Path() / "voices.log")) {
                return;
            }
        }
        ready = true;
    }
    fs::path Phrase(int n) const {
        return folder_.Path() / ("phrase" + std::to_string(n) + ".wav");
    }
    ScratchFolder folder_;
};

class FileSystemMatrix : public ::testing::TestWithParam<FileSystemRow> {
protected:
    void SetUp() override {
        const FileSystemRow& row = GetParam();
        std::string missing;
        if (::geteuid() != 0) {
            missing = "mounting images needs root";
        } else if (row.fuse && !fs::exists("/dev/fuse")) {
            missing = "no /dev/fuse";
        } else if (row.megabytes > 0 && !fs::exists("/dev/loop-control")) {
            missing = "no loop devices";
        }
        for (const char* tool : row.tools) {
            if (missing.empty() &&
                !Shell(std::string("command -v ") + tool, scratch_.Path() / "probe.log")) {
                missing = std::string(tool) + " is missing (Debian: " + row.package + ")";
            }
        }
        if (missing.empty() && !Voices::Get().ready) {
            missing = "espeak-ng and sox make the voices to enrol";
        }
        if (missing.empty()) {
            missing = Mount();
        }
        if (!missing.empty()) {
            const char* required = std::getenv("QUORVANE_FILESYSTEMS_REQUIRED");
            if (required != nullptr && std::string(required) == "1") {
                FAIL() << row.name << ": " << missing;
            }
            GTEST_SKIP() << row.name << ": " << missing;
        }
    }

    void TearDown() override {
        if (mounted_) {
            Shell("umount " + Quoted(mount_), scratch_.Path() / "umount.log");
        }
        if (!device_.empty()) {
            Shell("losetup -d " + device_, scratch_.Path() / "losetup.log");
        }
    }

    // Makes and mounts the row's file system; the reason when it could not.
    std::string Mount() {
        const FileSystemRow& row = GetParam();
        const fs::path image = scratch_.Path() / "image";
        const fs::path log = scratch_.Path() / "mount.log";
        mount_ = scratch_.Path() / "mnt";
        fs::create_directory(mount_);
        if (row.megabytes > 0) {
            std::ofstream(image).close();
            fs::resize_file(image, static_cast<std::uintmax_t>(row.megabytes) << 20);
        }
        if (!Shell(Replaced(row.make, "$IMAGE", Quoted(image)), log)) {
            return "making the file system failed: " + ReadText(log);
        }
        if (row.loopDevice) {
            if (!Shell("losetup -f --show " + Quoted(image), log)) {
                return "no free loop device: " + ReadText(log);
            }
            device_ = ReadText(log);
            device_.erase(device_.find_last_not_of("\n") + 1);
        }
        std::string command = Replaced(row.mount, "$IMAGE", Quoted(image));
        command = Replaced(Replaced(command, "$DEVICE", device_), "$MOUNT", Quoted(mount_));
        if (!Shell(command, log)) {
            return "mounting failed: " + ReadText(log);
        }
        mounted_ = true;
        return {};
    }

    CliRun Cli(const std::string& arguments) {
        return testing::RunCli(scratch_.Path(),
                               "--speakers " + Quoted(mount_ / "Speakers") + " " + arguments);
    }

    ScratchFolder scratch_;  // images, logs, the passphrase and other files off the mount
    fs::path mount_;
    std::string device_;
    bool mounted_ = false;
};

// The rows of issue: enrol, users, encode with --delete-originals, decode with
// --delete-encoded, protect; the same results as on ext4, and nothing else on the mount.
TEST_P(FileSystemMatrix, TheCommandLineWorksAsOnExt4) {
    const FileSystemRow& row = GetParam();
    const fs::path key = mount_ / "anna.key";
    const CliRun enrol =
        Cli("enrol anna " + Voices::Get().Phrases() + " --key-file " + Quoted(key));
    ASSERT_EQ(enrol.exitCode, 0) << enrol.err;

    const CliRun users = Cli("users");
    EXPECT_EQ(users.exitCode, 0) << users.err;
    EXPECT_NE(users.out.find("anna"), std::string::npos) << users.out;
    // The folder's privacy is told where users are added or listed, not on every command.
    const auto noted = [](const CliRun& run) {
        return run.err.find("can not be made readable by its owner only") != std::string::npos;
    };
    EXPECT_EQ(noted(enrol), !row.keepsOwnerOnly) << enrol.err;
    EXPECT_EQ(noted(users), !row.keepsOwnerOnly) << users.err;
    EXPECT_EQ(enrol.err.find("does not exist"), std::string::npos) << enrol.err;

    const fs::path work = mount_ / "work";
    fs::create_directory(work);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"empty", ""}, {"notes.txt", "thirteen byte"}, {"data.bin", std::string(70001, 'x')}};
    std::string names;
    std::string encoded;
    for (const auto& [name, content] : files) {
        WriteBytes(work / name, content);
        names += " " + Quoted(work / name);
        encoded += " " + Quoted(work / (name + ".crp"));
    }
    const CliRun encode = Cli("encode anna" + names + " --delete-originals");
    EXPECT_EQ(encode.exitCode, 0) << encode.err;
    EXPECT_FALSE(noted(encode)) << encode.err;
    for (const auto& [name, content] : files) {
        EXPECT_FALSE(fs::exists(work / name)) << name;
        EXPECT_TRUE(fs::exists(work / (name + ".crp"))) << name;
    }
    const CliRun decode =
        Cli("decode" + encoded + " --key-file " + Quoted(key) + " --delete-encoded");
    EXPECT_EQ(decode.exitCode, 0) << decode.err;
    for (const auto& [name, content] : files) {
        EXPECT_EQ(ReadText(work / name), content) << name;
        EXPECT_FALSE(fs::exists(work / (name + ".crp"))) << name;
    }

    const fs::path passphrase = scratch_.Path() / "passphrase";
    WriteBytes(passphrase, "correct horse battery staple\n");
    const CliRun protect = Cli("--passphrase-file " + Quoted(passphrase) + " protect anna");
    EXPECT_EQ(protect.exitCode, 0) << protect.err;
    const CliRun again = Cli("--passphrase-file " + Quoted(passphrase) + " encode anna " +
                             Quoted(work / "notes.txt"));
    EXPECT_EQ(again.exitCode, 0) << again.err;

    EXPECT_EQ(Tree(mount_), (std::set<std::string>{"Speakers", "Speakers/anna.qvlock", "anna.key",
                                                   "work", "work/empty", "work/notes.txt",
                                                   "work/notes.txt.crp", "work/data.bin"}));
}

// What the file system refuses is said plainly, and nothing is left of the attempt: a name
// with a character FAT and exFAT cannot hold, a file over FAT's 4 GiB.
TEST_P(FileSystemMatrix, RefusalsAreToldAndLeaveNothing) {
    const FileSystemRow& row = GetParam();
    const CliRun enrol = Cli("enrol anna " + Voices::Get().Phrases());
    ASSERT_EQ(enrol.exitCode, 0) << enrol.err;
    const fs::path out = mount_ / "out";
    fs::create_directory(out);
    const fs::path colon = scratch_.Path() / "a:b";
    WriteBytes(colon, "plain");
    const CliRun named = Cli("encode anna " + Quoted(colon) + " -o " + Quoted(out));
    EXPECT_EQ(named.exitCode, row.refusesColon ? 1 : 0) << named.err;
    EXPECT_EQ(named.err.find("the file system can not hold this name") != std::string::npos,
              row.refusesColon)
        << named.err;

    // Sparse: the 4 GiB are never read, since the output is refused before it is written.
    const fs::path large = scratch_.Path() / "large.bin";
    std::ofstream(large).close();
    fs::resize_file(large, (std::uintmax_t{4} << 30) + 1);
    EXPECT_EQ(LargestFile(out).has_value(), row.largestFileFat);
    if (row.largestFileFat) {
        const CliRun big = Cli("encode anna " + Quoted(large) + " -o " + Quoted(out));
        EXPECT_EQ(big.exitCode, 1) << big.err;
        EXPECT_NE(big.err.find("FAT32 holds files up to 4 GiB"), std::string::npos) << big.err;
    }
    const std::set<std::string> expected =
        row.refusesColon ? std::set<std::string>{} : std::set<std::string>{"a:b.crp"};
    EXPECT_EQ(Tree(out), expected);
}

// One batch, one set of files, as the file system compares names: where it ignores letter case
// an output spelled as an input the batch has yet to read is refused, and that input keeps its
// bytes; elsewhere they are two files, and both are coded.
TEST_P(FileSystemMatrix, ABatchNeverReplacesItsOwnInputs) {
    const FileSystemRow& row = GetParam();
    const fs::path key = scratch_.Path() / "anna.key";
    const CliRun enrol =
        Cli("enrol anna " + Voices::Get().Phrases() + " --key-file " + Quoted(key));
    ASSERT_EQ(enrol.exitCode, 0) << enrol.err;
    const fs::path work = mount_ / "work";
    fs::create_directory(work);
    // notes.crp.crp, the encoding of a file named notes.crp, and NOTES.crp, that of NOTES.
    for (const char* name : {"notes.crp", "NOTES"}) {
        WriteBytes(scratch_.Path() / name, name);
        const CliRun encode =
            Cli("encode anna " + Quoted(scratch_.Path() / name) + " -o " + Quoted(work));
        ASSERT_EQ(encode.exitCode, 0) << encode.err;
    }
    WriteBytes(work / "f", "plain f");
    WriteBytes(work / "F.CRP", "the user's own F.CRP");
    struct Case {
        std::string arguments;
        fs::path kept;  // the input a write of the other's output would replace
    };
    const Case cases[] = {
        {"encode anna " + Quoted(work / "f") + " " + Quoted(work / "F.CRP"), work / "F.CRP"},
        {"decode " + Quoted(work / "notes.crp.crp") + " " + Quoted(work / "NOTES.crp") +
             " --key-file " + Quoted(key),
         work / "NOTES.crp"},
    };
    for (const Case& c : cases) {
        const std::string before = ReadText(c.kept);
        const CliRun run = Cli(c.arguments + " --overwrite");
        EXPECT_EQ(run.exitCode, row.ignoresCase ? 1 : 0) << c.arguments << "\n" << run.err;
        EXPECT_EQ(ReadText(c.kept), before) << c.arguments;
    }
}

// The file layer on the mount: no-replace commits never replace a file a racing writer made
// (through the reservation where the file system has neither RENAME_NOREPLACE nor hard
// links); what the file system keeps is told truly; a file is known again after the system
// forgot it, and a file rewritten within the same second is not.
TEST_P(FileSystemMatrix, TheFileLayerKeepsItsGuarantees) {
    const FileSystemRow& row = GetParam();
    const fs::path target = mount_ / "target";
    AtomicFile first(target, OutputMode::NoReplace);
    const Status opened = first.Open();
    ASSERT_TRUE(opened) << opened.error().Reason();
    ASSERT_TRUE(first.Write(testing::AsBytes("mine")));
    WriteBytes(target, "theirs");
    EXPECT_EQ(testing::CodeOf(first.Commit()), std::errc::file_exists);
    EXPECT_EQ(ReadText(target), "theirs");
    fs::remove(target);
    AtomicFile second(target, OutputMode::NoReplace);
    Status step = second.Open();
    if (step) {
        step = second.Write(testing::AsBytes("mine"));
    }
    if (step) {
        step = second.Commit();
    }
    ASSERT_TRUE(step) << step.error().Reason();
    EXPECT_EQ(ReadText(target), "mine");
    EXPECT_EQ(Tree(mount_), std::set<std::string>{"target"});

    EXPECT_EQ(KeepsOwnerOnly(mount_), row.keepsOwnerOnly);
    EXPECT_EQ(KeepsFileNumbers(target), row.numbersLast);
    const auto before = IdentityOf(target);
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(before->indexLasts, row.numbersLast);
    // The kernel forgets the file (FUSE then numbers it anew): it is still the same file.
    Shell("sync; echo 2 > /proc/sys/vm/drop_caches", scratch_.Path() / "drop.log");
    EXPECT_EQ(IdentityOf(target), before);
    WriteBytes(target, "MINE");
    EXPECT_NE(IdentityOf(target), before);
}

INSTANTIATE_TEST_SUITE_P(FileSystems, FileSystemMatrix, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<FileSystemRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace quorvane
