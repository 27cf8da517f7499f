// The workflow layer: the rules both front ends share (names, owners of encoded files,
// output names, typed keys, figures) and the batches' questions and guards.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#endif

#include "cipher/EncodedFile.h"
#include "files/AtomicFile.h"
#include "files/FileOperations.h"
#include "files/PathText.h"
#include "speaker/SpeakerStore.h"
#include "speaker/UserKey.h"
#include "tests/support/EarlierFormats.h"
#include "tests/support/ScriptedDecodeSteps.h"
#include "tests/support/ScriptedFrontEnd.h"
#include "tests/support/TestFiles.h"
#include "tests/workflow/Fixtures.h"
#include "workflow/Coding.h"
#include "workflow/Decoding.h"
#include "workflow/Figures.h"
#include "workflow/Messages.h"
#include "workflow/Users.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::Phrases;
using testing::ReadText;
using testing::ScratchFolder;
using testing::ScriptedFrontEnd;
using testing::WriteText;
using Answer = FrontEnd::ReplaceAnswer;

// A folder with a registered user anna and a few plain files.
class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        AppendUser(users_, Phrases(1.0f), "anna", 0.5f);
        anna_ = users_.Find("anna");
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            WriteText(folder_.Path() / name, std::string("plain ") + name);
            inputs_.push_back(folder_.Path() / name);
        }
    }
    GostKey AnnaKey() const { return DeriveUserKey(anna_->codebooks); }

    ScratchFolder folder_;
    UserList users_;
    const UserRecord* anna_ = nullptr;
    std::vector<fs::path> inputs_;
    ScriptedFrontEnd front_;
};

TEST(Figures, GeneralAndFixedNotation) {
    // General notation, up to 15 significant digits of the float's value.
    EXPECT_EQ(GeneralText(0.5f), "0.5");
    EXPECT_EQ(GeneralText(-1.0f), "-1");
    EXPECT_EQ(GeneralText(2.75f), "2.75");
    // 0.1f is 0.100000001490116119384765625.
    EXPECT_EQ(GeneralText(0.1f), "0.100000001490116");
    // Fixed: 5 significant digits, then 4 decimals.
    EXPECT_EQ(FixedText(0.5f), "0.5000");
    EXPECT_EQ(FixedText(0.25f), "0.2500");
    EXPECT_EQ(FixedText(0.0f), "0.0000");
    EXPECT_EQ(FixedText(1.23456789f), "1.2346");
    EXPECT_EQ(FixedText(123.456789f), "123.4600");  // 123.46
    EXPECT_EQ(FixedText(1.99999f), "2.0000");
}

TEST(UserNames, MessagesAreTheProgramsOwnTexts) {
    EXPECT_EQ(kForbiddenSymbolsMessage,
              R"(You can not use symbols: \ / : * ? " < > | and "Space" symbols in the name)");
    EXPECT_EQ(kSecurityKeyQuestion,
              "If you want program can save security key.\nThis security key can be used if "
              "something\nhappend with your voice. You will be able\nto decode your files using "
              "this key.\nDo you want to save it?");
    EXPECT_EQ(SeveralFilesQuestion(2),
              "Error. There were found 2 files representing this user (speaker).\n"
              "Do you want to delete them all?");
    EXPECT_EQ(UserNotFoundMessage("bob"), "User bob was not found in the list of registered users");
    EXPECT_EQ(CanNotDecodeMessage("x.crp"),
              "File x.crp can not be decoded. Please check the path of output file or this file "
              "can be encoded by other user");
}

TEST(UserNames, ForbiddenSymbolsBlanksAndLength) {
    EXPECT_EQ(NameRefusal(""), kEnterNameMessage);
    for (const char* bad : {"a b", "a\\b", "a/b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b",
                            " ", "tab\there", "new\nline", "bell\x07"}) {
        EXPECT_EQ(NameRefusal(bad), kForbiddenSymbolsMessage) << bad;
    }
    for (const char* good : {"anna", "Anna", "j.smith", "anna.", "\xD0\x90\xD0\xBD\xD0\xBD\xD0\xB0",
                             "x-y_z+1", "O'Brien"}) {
        EXPECT_FALSE(NameRefusal(good).has_value()) << good;
    }
    EXPECT_FALSE(NameRefusal(std::string(999, 'n')).has_value());
    EXPECT_EQ(NameRefusal(std::string(1000, 'n')), kNameTooLongMessage);
}

TEST(UserNames, AddingChecksRunInOrder) {
    const ScratchFolder folder;
    RecordingNotifier notices;
    ASSERT_EQ(StoreUserFiles(folder.Path(), "anna", Phrases(1.0f), 1.0f, notices), 1);
    ScriptedFrontEnd front;
    Users users(folder.Path());
    ASSERT_EQ(users.Load(front), 1);
    EXPECT_EQ(users.CheckNewUser(-1.0f, ""), kTrainingFirstMessage);
    EXPECT_EQ(users.CheckNewUser(0.0f, "bob"), kTrainingFirstMessage);
    EXPECT_EQ(users.CheckNewUser(std::nanf(""), "bob"), kTrainingFirstMessage);
    EXPECT_EQ(users.CheckNewUser(0.5f, ""), kEnterNameMessage);
    EXPECT_EQ(users.CheckNewUser(0.5f, "an na"), kForbiddenSymbolsMessage);
    EXPECT_EQ(users.CheckNewUser(0.5f, "anna"), kUserExistsMessage);
    // Names differing only in letter case are different users.
    EXPECT_FALSE(users.CheckNewUser(0.5f, "Anna").has_value());
    EXPECT_FALSE(users.CheckNewUser(0.5f, "ann").has_value());
}

TEST(EncodedNames, OwnerIsTheFirstTokenLessElevenCharacters) {
    const ScratchFolder folder;
    const struct {
        std::string header;
        std::string owner;  // empty: "This file was not encoded"
    } cases[] = {
        {"annacryptedfile\n1\n0\n", "anna"},
        // "cryptedfile" anywhere in the token passes; the last 11 characters go.
        {"abcryptedfilexyz\n1\n0\n", "abcry"},
        {"cryptedfile\n0\n0\n", ""},  // an empty name
        {"cryptedfil\n0\n0\n", ""},
        {"annaencoded\n1\n0\n", ""},
        {std::string(901, 'n') + "cryptedfile\n0\n0\n", ""},  // 912 characters
        {"", ""},
    };
    for (const auto& c : cases) {
        const fs::path file = folder.Path() / "f.crp";
        WriteText(file, c.header);
        const OwnerResult owner = OwnerOfEncodedFile(file);
        if (c.owner.empty() && c.header.rfind("cryptedfile\n", 0) != 0) {
            EXPECT_FALSE(owner.done) << c.header;
            EXPECT_EQ(owner.message, NotEncodedMessage(PathText(file))) << c.header;
        } else {
            EXPECT_TRUE(owner.done) << c.header;
            EXPECT_EQ(owner.name, c.owner) << c.header;
        }
    }
    const OwnerResult missing = OwnerOfEncodedFile(folder.Path() / "missing.crp");
    EXPECT_EQ(missing.message,
              InputProblemMessage(PathText(folder.Path() / "missing.crp"), kNoSuchFileReason));
}

TEST(EncodedNames, OutputsAppendCrpAndDropFourCharacters) {
    const fs::path folder = "out";
    EXPECT_EQ(EncodedOutputPath(folder, fs::path("in") / "report.pdf"), folder / "report.pdf.crp");
    EXPECT_EQ(EncodedOutputPath({}, fs::path("in") / "report.pdf"),
              fs::path("in") / "report.pdf.crp");
    const struct {
        const char8_t* name;
        const char8_t* output;  // empty: no output name
    } cases[] = {{u8"report.pdf.crp", u8"report.pdf"},
                 {u8"notes.txt", u8"notes"},  // by count, whatever the characters are
                 {u8"\u0444\u0430\u0439\u043B.crp", u8"\u0444\u0430\u0439\u043B"},
                 {u8"x\u00E9\u00E9\u00E9\u00E9", u8"x"},
                 {u8"a.crp", u8"a"},
                 {u8".crp", u8""},
                 {u8"\u00E9\u00E9\u00E9", u8""}};
    for (const auto& c : cases) {
        const std::optional<fs::path> output = DecodedOutputPath(folder, fs::path(c.name));
        if (std::u8string(c.output).empty()) {
            EXPECT_FALSE(output.has_value());
        } else {
            ASSERT_TRUE(output.has_value());
            EXPECT_EQ(*output, folder / fs::path(c.output));
        }
    }
}

TEST(TypedKey, EightLinesOfKeyNumbers) {
    std::vector<std::string> lines = {"1", "-2", "3", "4", "5", "6", "7"};
    EXPECT_EQ(KeyFromLines(lines).message, kKeyMustBe8DigitsMessage);
    lines.insert(lines.end(), {" 008", "junk", "more"});  // lines after the eighth are ignored
    const TypedKeyResult typed = KeyFromLines(lines);
    ASSERT_TRUE(typed.done);
    EXPECT_EQ(typed.key, (GostKey{1, 0xFFFFFFFEu, 3, 4, 5, 6, 7, 8}));
    lines[2] = "Your key:";
    EXPECT_EQ(KeyFromLines(lines).message, "'Your key:' is not a valid integer value");
}

TEST_F(Batch, EachReplaceAnswerDoesWhatItSays) {
    const struct {
        std::vector<Answer> answers;
        std::vector<bool> replaced;  // per input
        bool cancelled;
        std::size_t asked;
    } cases[] = {
        {{Answer::Yes, Answer::No, Answer::Yes}, {true, false, true}, false, 3},
        {{Answer::No, Answer::YesToAll}, {false, true, true}, false, 2},
        {{Answer::Yes, Answer::Cancel}, {true, false, false}, true, 2},
    };
    for (const auto& c : cases) {
        for (const fs::path& input : inputs_) {
            WriteText(EncodedOutputPath({}, input), "old");
        }
        ScriptedFrontEnd front;
        front.replaces.assign(c.answers.begin(), c.answers.end());
        const BatchResult batch = EncodeFiles(*anna_, inputs_, {}, false, front);
        EXPECT_EQ(batch.cancelled, c.cancelled);
        EXPECT_EQ(front.replaceAsked.size(), c.asked);
        for (std::size_t i = 0; i < inputs_.size(); ++i) {
            EXPECT_EQ(ReadText(EncodedOutputPath({}, inputs_[i])) != "old", c.replaced[i]) << i;
        }
        EXPECT_EQ(front.bar.position, 0);
    }
}

#ifndef _WIN32
// A run killed while it held a name reserved (as on FAT and exFAT, where a no-replace commit
// reserves the name first) leaves a file there holding its reservation's text. The next
// command removes it, with its note, before it reads or writes anything, and says what it was:
// an output's name is free again, and an input of that name is no file.
TEST_F(Batch, ANameAKilledRunReservedIsFreedAndToldBeforeAnythingIsRead) {
    const fs::path input = folder_.Path() / "f.crp";
    const std::string noSuchInput = InputProblemMessage(PathText(input), kNoSuchFileReason);
    struct Case {
        const char* what;
        fs::path reserved;
        // Runs the next command; what became of the reserved name's file or command.
        std::function<std::string(ScriptedFrontEnd&)> next;
        std::string expected;
    };
    const Case cases[] = {
        {"the output of a batch", EncodedOutputPath({}, inputs_[0]),
         [&](ScriptedFrontEnd& front) {
             const BatchResult batch = EncodeFiles(*anna_, {inputs_[0]}, {}, false, front);
             return batch.Count(FileStatus::Done) == 1 && front.replaceAsked.empty()
                        ? std::string("written")
                        : batch.files[0].message;
         },
         "written"},
        {"an input of a batch", input,
         [&](ScriptedFrontEnd& front) {
             return EncodeFiles(*anna_, {input}, {}, false, front).files[0].message;
         },
         noSuchInput},
        {"the single file of a decode", input,
         [&](ScriptedFrontEnd& front) {
             Users users(folder_.Path());
             testing::ScriptedDecodeSteps steps(front);
             DecodeRequest request;
             request.files = {input};
             request.keySource = KeySource::TypedLines;
             return Decode(request, users, front, steps).message;
         },
         noSuchInput},
    };
    for (const Case& c : cases) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Killed once the reservation holds its text.
            ForceRenameByReservation(true);
            SetFileOperationObserver([&](FileOperation step, const fs::path& path) {
                if (step == FileOperation::Write && path == c.reserved) {
                    ::kill(::getpid(), SIGKILL);
                }
                return std::error_code();
            });
            AtomicFile file(c.reserved, OutputMode::NoReplace);
            static_cast<void>(file.Open() && file.Write(testing::AsBytes("mine")) && file.Commit());
            ::_exit(1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << c.what;
        ASSERT_NE(ReadText(c.reserved).find("reservation"), std::string::npos) << c.what;

        ScriptedFrontEnd front;
        EXPECT_EQ(c.next(front), c.expected) << c.what;
        // Told once, as a reserved name, and before anything else; its note goes with it
        // untold (the temporary the killed run was committing is told as such).
        const std::string freed = ReservationRemovedMessage(PathText(c.reserved));
        EXPECT_EQ(std::count(front.shown.begin(), front.shown.end(), freed), 1) << c.what;
        for (const std::string& shown : front.shown) {
            EXPECT_EQ(shown.find(".rsv"), std::string::npos) << c.what << shown;
            EXPECT_TRUE(shown == freed || shown.starts_with(LeftoverRemovedMessage("")))
                << c.what << shown;
            if (shown == freed) {
                break;
            }
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(folder_.Path())) {
            EXPECT_NE(entry.path().filename().string()[0], '.') << c.what << entry.path();
        }
        fs::remove(EncodedOutputPath({}, inputs_[0]));
    }
}
#endif

TEST_F(Batch, AnOutputThatIsTheInputIsRefused) {
    // ln -s f f.crp: writing f.crp would destroy f through the link. (Windows gives
    // symbolic links to administrators only; a hard link is the same file as well.)
    const fs::path input = inputs_[0];
#ifdef _WIN32
    fs::create_hard_link(input, EncodedOutputPath({}, input));
#else
    fs::create_symlink(input, EncodedOutputPath({}, input));
#endif
    front_.replaces = {Answer::YesToAll};
    const BatchResult batch = EncodeFiles(*anna_, {input}, {}, true, front_);
    EXPECT_EQ(batch.Count(FileStatus::Failed), 1);
    EXPECT_EQ(ReadText(input), "plain a.txt");
    EXPECT_TRUE(fs::equivalent(input, EncodedOutputPath({}, input)));
    EXPECT_EQ(front_.shown, (std::vector<std::string>{CanNotEncodeMessage(PathText(input))}));
}

TEST_F(Batch, EncodedFilesAreDeletedOnlyWhenTheirOwnCheckValueProvesTheKey) {
    ASSERT_EQ(EncodeFiles(*anna_, inputs_, {}, true, front_).Count(FileStatus::Done), 3);
    std::vector<fs::path> encoded;
    for (const fs::path& input : inputs_) {
        encoded.push_back(EncodedOutputPath({}, input));
        EXPECT_FALSE(fs::exists(input));
    }
    // The key of anna enrolled again (or a mistyped one): refused, nothing written or
    // deleted.
    GostKey other = AnnaKey();
    other[0] ^= 1;
    {
        // The check value proved it: both front ends show the cause first, then the message.
        ScriptedFrontEnd front;
        const BatchResult refused = DecodeFiles("anna", other, encoded, {}, true, front);
        EXPECT_EQ(refused.Count(FileStatus::Failed), 3);
        for (std::size_t i = 0; i < inputs_.size(); ++i) {
            EXPECT_EQ(front.shown[i],
                      ProvenCauseMessage(CanNotDecodeMessage(PathText(encoded[i]))));
            EXPECT_EQ(front.reasons[i], "");
            EXPECT_TRUE(fs::exists(encoded[i]));
            EXPECT_FALSE(fs::exists(inputs_[i]));
        }
    }
    // A file of an earlier version has no check value: the key cannot be confirmed, so it is
    // decoded only when the front end allows it, and kept.
    WriteText(folder_.Path() / "old.txt", "written long ago");
    const fs::path old = EncodedOutputPath({}, folder_.Path() / "old.txt");
    ASSERT_TRUE(EncodeFileWithoutTrailer(folder_.Path() / "old.txt", old, "annacryptedfile",
                                         AnnaKey(), FileSubstitutionTable));
    fs::remove(folder_.Path() / "old.txt");
    std::vector<fs::path> all = encoded;
    all.push_back(old);
    front_.unverified = {true};
    const BatchResult decoded = DecodeFiles("anna", AnnaKey(), all, {}, true, front_);
    EXPECT_EQ(decoded.Count(FileStatus::Done), 4);
    EXPECT_EQ(front_.unverifiedAsked, std::vector<fs::path>{old});
    EXPECT_TRUE(fs::exists(old));
    EXPECT_EQ(ReadText(folder_.Path() / "old.txt"), "written long ago");
    for (std::size_t i = 0; i < inputs_.size(); ++i) {
        EXPECT_FALSE(fs::exists(encoded[i]));
        EXPECT_EQ(ReadText(inputs_[i]), "plain " + inputs_[i].filename().string());
    }
}

TEST_F(Batch, InputsThatAreNoFilesAreNamedAsTheInput) {
    fs::create_directories(folder_.Path() / "folder");
    const fs::path missing = folder_.Path() / "nosuch.txt";
    const fs::path folderInput = folder_.Path() / "folder";
    const BatchResult batch = EncodeFiles(*anna_, {missing, folderInput}, {}, true, front_);
    EXPECT_EQ(batch.Count(FileStatus::Failed), 2);
    EXPECT_EQ(front_.shown, (std::vector<std::string>{PathText(missing) + ": no such file",
                                                      PathText(folderInput) + ": is a folder"}));
    EXPECT_EQ(front_.reasons, (std::vector<std::string>{"", ""}));
}

// Two inputs of one name into one folder: the later one never replaces the earlier one's
// output, is refused naming both, and only the earlier source is deleted.
TEST_F(Batch, ALaterFileNeverReplacesAnOutputOfTheSameBatch) {
    const struct {
        bool encoding;
        bool outputExisted;  // an output of an earlier run is there: replaced once
    } cases[] = {{true, false}, {true, true}, {false, false}, {false, true}};
    for (const auto& c : cases) {
        const ScratchFolder work;
        for (const char* dir : {"d1", "d2", "out"}) {
            fs::create_directories(work.Path() / dir);
        }
        std::vector<fs::path> sources;
        for (const char* dir : {"d1", "d2"}) {
            const fs::path plain = work.Path() / dir / "r.txt";
            WriteText(plain, std::string("written in ") + dir);
            if (c.encoding) {
                sources.push_back(plain);
            } else {
                ASSERT_TRUE(EncodeFileChecked(plain, EncodedOutputPath({}, plain),
                                              EncodedMarker("anna"), AnnaKey(),
                                              FileSubstitutionTable));
                sources.push_back(EncodedOutputPath({}, plain));
            }
        }
        const fs::path out = c.encoding ? EncodedOutputPath(work.Path() / "out", sources[0])
                                        : *DecodedOutputPath(work.Path() / "out", sources[0]);
        if (c.outputExisted) {
            WriteText(out, "from an earlier run");
        }
        ScriptedFrontEnd front;
        front.replaces = {Answer::YesToAll};
        const BatchResult batch =
            c.encoding ? EncodeFiles(*anna_, sources, work.Path() / "out", true, front)
                       : DecodeFiles("anna", AnnaKey(), sources, work.Path() / "out", true, front);
        EXPECT_EQ(batch.files[0].status, FileStatus::Done);
        EXPECT_EQ(batch.files[1].status, FileStatus::Failed);
        EXPECT_EQ(front.replaceAsked.size(), c.outputExisted ? 1u : 0u);
        EXPECT_EQ(front.shown,
                  (std::vector<std::string>{BatchOutputTakenMessage(
                      PathText(sources[1]), PathText(out), PathText(sources[0]), c.encoding)}));
        EXPECT_FALSE(fs::exists(sources[0]));
        EXPECT_TRUE(fs::exists(sources[1]));
        if (c.encoding) {
            const fs::path back = work.Path() / "back";
            ASSERT_TRUE(DecodeFileChecked(out, back, EncodedMarker("anna"), AnnaKey(),
                                          FileSubstitutionTable));
            EXPECT_EQ(ReadText(back), "written in d1");
        } else {
            EXPECT_EQ(ReadText(out), "written in d1");
        }
    }
}

// Sources are deleted at the end of the batch, and only while the output still is the file
// the batch committed and the source the file it read.
TEST_F(Batch, SourcesAreDeletedAtTheEndOnlyWhileTheirOutputHoldsTheirCoding) {
    const struct {
        const char* what;
        std::function<void(const fs::path& source, const fs::path& output)> meanwhile;
        std::string why;  // empty: deleted
    } cases[] = {
        {"untouched", [](const fs::path&, const fs::path&) {}, ""},
        {"output replaced",
         [](const fs::path&, const fs::path& output) {
             fs::remove(output);
             WriteText(output, "another file");
         },
         "output"},
        {"output removed", [](const fs::path&, const fs::path& output) { fs::remove(output); },
         "output"},
        {"source changed",
         [](const fs::path& source, const fs::path&) {
             std::ofstream(source, std::ios::app) << " and more";
         },
         std::string(kSourceChangedReason)},
    };
    for (const auto& c : cases) {
        ScriptedFrontEnd front;
        const fs::path source = inputs_[0];
        const fs::path output = EncodedOutputPath({}, source);
        for (const fs::path& input : {source, inputs_[1]}) {
            WriteText(input, "plain " + input.filename().string());
            fs::remove(EncodedOutputPath({}, input));
        }
        // While b.txt is coded, a.txt.crp is committed and a.txt not yet deleted.
        front.beforeFile = [&](const fs::path& input) {
            if (input == inputs_[1]) {
                c.meanwhile(source, output);
            }
        };
        const BatchResult batch = EncodeFiles(*anna_, {source, inputs_[1]}, {}, true, front);
        EXPECT_EQ(batch.Count(FileStatus::Done), 2) << c.what;
        EXPECT_EQ(batch.files[0].inputDeleted, c.why.empty()) << c.what;
        EXPECT_EQ(fs::exists(source), !c.why.empty()) << c.what;
        EXPECT_FALSE(fs::exists(inputs_[1])) << c.what;
        const std::string why = c.why == "output" ? OutputChangedReason(PathText(output)) : c.why;
        EXPECT_EQ(front.shown, c.why.empty() ? std::vector<std::string>{}
                                             : std::vector<std::string>{SourceKeptMessage(
                                                   PathText(source), true, why)})
            << c.what;
    }
    // A source that is itself an output of the batch (a.txt, then a.txt.crp) stays.
    WriteText(inputs_[0], "plain a.txt");
    fs::remove(EncodedOutputPath({}, inputs_[0]));
    const fs::path first = EncodedOutputPath({}, inputs_[0]);
    ScriptedFrontEnd front;
    const BatchResult batch = EncodeFiles(*anna_, {inputs_[0], first}, {}, true, front);
    EXPECT_EQ(batch.Count(FileStatus::Done), 2);
    EXPECT_FALSE(fs::exists(inputs_[0]));
    EXPECT_TRUE(fs::exists(first));
    EXPECT_EQ(front.shown, (std::vector<std::string>{SourceKeptMessage(
                               PathText(first), true, kSourceIsBatchOutputReason)}));
}

// A decoding onto an existing output tests the key on the file first: a key the file's check
// value refuses, or a file without one whose decoding is not allowed, asks nothing about
// replacing, and the user's file stays.
TEST_F(Batch, TheKeyIsTestedBeforeReplacingAnOutputIsAsked) {
    const fs::path checked = EncodedOutputPath({}, inputs_[0]);
    const fs::path unchecked = EncodedOutputPath({}, inputs_[1]);
    ASSERT_TRUE(EncodeFileChecked(inputs_[0], checked, EncodedMarker("anna"), AnnaKey(),
                                  FileSubstitutionTable));
    ASSERT_TRUE(EncodeFileWithoutTrailer(inputs_[1], unchecked, EncodedMarker("anna"), AnnaKey(),
                                         FileSubstitutionTable));
    GostKey wrong = AnnaKey();
    wrong[2] ^= 8;
    const struct {
        const char* what;
        fs::path file;
        bool rightKey;
        std::deque<bool> allow;  // answers to AllowUnverified
        std::size_t allowAsked, replaceAsked;
        bool replaced;
    } cases[] = {
        {"a wrong key", checked, false, {}, 0, 0, false},
        {"the right key", checked, true, {}, 0, 1, true},
        {"no check value, not allowed", unchecked, true, {false}, 1, 0, false},
        {"no check value, allowed", unchecked, true, {true}, 1, 1, true},
    };
    for (const auto& c : cases) {
        const fs::path output = *DecodedOutputPath({}, c.file);
        WriteText(output, "the user's own file");
        ScriptedFrontEnd front;
        front.unverified = c.allow;
        front.replaces = {Answer::Yes};
        const BatchResult batch =
            DecodeFiles("anna", c.rightKey ? AnnaKey() : wrong, {c.file}, {}, false, front);
        EXPECT_EQ(front.unverifiedAsked.size(), c.allowAsked) << c.what;
        EXPECT_EQ(front.replaceAsked.size(), c.replaceAsked) << c.what;
        EXPECT_EQ(batch.files[0].status, c.replaced ? FileStatus::Done : FileStatus::Failed)
            << c.what;
        EXPECT_EQ(ReadText(output) == "the user's own file", !c.replaced) << c.what;
    }
}

// A source reachable under another name is kept, told, and counted as kept: a symbolic link
// (neither it nor the file it points to is deleted) and a file with other names (hard links),
// whose content would stay readable under them.
TEST_F(Batch, ASourceWithAnotherNameIsKeptWithItsContent) {
    const struct {
        const char* what;
        std::function<void(const fs::path& file, const fs::path& name)> make;
        std::string_view reason;
    } cases[] = {
#ifndef _WIN32  // symbolic links need an administrator on Windows
        {"symbolic link",
         [](const fs::path& file, const fs::path& name) { fs::create_symlink(file, name); },
         kSymbolicLinkKeptReason},
#endif
        {"hard link",
         [](const fs::path& file, const fs::path& name) { fs::create_hard_link(file, name); },
         kHardLinkKeptReason},
    };
    for (const auto& c : cases) {
        WriteText(inputs_[0], "plain a.txt");
        WriteText(inputs_[1], "plain b.txt");
        const fs::path link = folder_.Path() / "link.txt";
        c.make(inputs_[0], link);
        ScriptedFrontEnd front;
        const BatchResult batch = EncodeFiles(*anna_, {link, inputs_[1]}, {}, true, front);
        EXPECT_EQ(batch.Count(FileStatus::Done), 2) << c.what;
        EXPECT_EQ(ReadText(link), "plain a.txt") << c.what;
        EXPECT_EQ(ReadText(inputs_[0]), "plain a.txt") << c.what;
        EXPECT_FALSE(fs::exists(inputs_[1])) << c.what;
        EXPECT_EQ(front.shown,
                  (std::vector<std::string>{SourceKeptMessage(PathText(link), true, c.reason)}))
            << c.what;
        EXPECT_TRUE(batch.RemovalsFailed()) << c.what;
        EXPECT_EQ(RemovalSummary(batch, true, true),
                  "; 1 original deleted, 1 kept: " + PathText(link))
            << c.what;
        const fs::path back = folder_.Path() / "back";
        ASSERT_TRUE(DecodeFileChecked(EncodedOutputPath({}, link), back, EncodedMarker("anna"),
                                      AnnaKey(), FileSubstitutionTable))
            << c.what;
        EXPECT_EQ(ReadText(back), "plain a.txt") << c.what;
        for (const fs::path& made :
             {link, back, EncodedOutputPath({}, link), EncodedOutputPath({}, inputs_[1])}) {
            fs::remove(made);
        }
    }
}

// A missing output folder of the command line is made with the folders of its path, owner-only;
// an existing one is taken as it is, and a file in its place refuses the batch.
// The folders made for the outputs that received nothing are removed again after the batch,
// innermost first, and only they: the summary tells the folder only while it is there.
TEST(OutputFolder, FoldersMadeForNothingAreRemovedAgain) {
    const struct {
        const char* what;
        fs::path written;  // a file put there after the folder was made; empty: none
        bool kept;         // the output folder itself stays
        bool outerKept;    // the folder made around it stays
    } cases[] = {
        {"nothing written", {}, false, false},
        {"an output written", "new/out/a.crp", true, true},
        {"a file beside it", "new/other", false, true},
    };
    for (const auto& c : cases) {
        const ScratchFolder work;
        const OutputFolderResult made = PrepareOutputFolder(work.Path() / "new" / "out");
        ASSERT_TRUE(made.done) << c.what;
        if (!c.written.empty()) {
            WriteText(work.Path() / c.written, "data");
        }
        EXPECT_EQ(KeepOutputFolderIfUsed(made), c.kept) << c.what;
        EXPECT_EQ(fs::exists(work.Path() / "new" / "out"), c.kept) << c.what;
        EXPECT_EQ(fs::exists(work.Path() / "new"), c.outerKept) << c.what;
        EXPECT_TRUE(fs::exists(work.Path())) << c.what;
    }
    // A folder that was there already is never removed, nor told as made.
    const ScratchFolder work;
    EXPECT_FALSE(KeepOutputFolderIfUsed(PrepareOutputFolder(work.Path())));
    EXPECT_TRUE(fs::exists(work.Path()));
}

TEST(OutputFolder, AMissingOneIsMadeOwnerOnly) {
    const ScratchFolder work;
    WriteText(work.Path() / "file", "a file");
    const struct {
        fs::path folder;
        bool done, created;
        std::string message;
    } cases[] = {
        {{}, true, false, ""},
        {work.Path(), true, false, ""},
        {work.Path() / "new" / "out" / "", true, true, ""},
        {work.Path() / "file", false, false,
         InputProblemMessage(PathText(work.Path() / "file"), kNotAFolderReason)},
    };
    for (const auto& c : cases) {
        const OutputFolderResult result = PrepareOutputFolder(c.folder);
        EXPECT_EQ(result.done, c.done) << c.folder;
        EXPECT_EQ(result.created, c.created) << c.folder;
        EXPECT_EQ(result.message, c.message) << c.folder;
    }
#ifndef _WIN32
    for (const fs::path& made : {work.Path() / "new", work.Path() / "new" / "out"}) {
        EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all) << made;
    }
#endif
}

// The user's Cancel stops the batch: between files nothing more is begun, and a file in work
// stops after its chunk and leaves nothing; the files done keep their outputs and, asked to,
// lose their originals; the cancelled file and those after it are neither written nor told.
TEST_F(Batch, CancelStopsTheBatchAndTheFileInWorkLeavesNothing) {
    const struct {
        const char* what;
        std::size_t at;    // the file whose progress cancels
        bool midFile;      // at its first progress, else once it is done
        std::size_t done;  // the files dealt with
    } cases[] = {{"after the first file", 0, false, 1}, {"in the third file", 2, true, 2}};
    for (const auto& c : cases) {
        const ScratchFolder work;
        // A small file, an empty one (no chunk of its own asks the cancel), and one long
        // enough for its progress to be told before its end (every 4 MiB).
        const std::vector<fs::path> inputs = {work.Path() / "a.txt", work.Path() / "empty",
                                              work.Path() / "big.bin"};
        WriteText(inputs[0], "plain a.txt");
        WriteText(inputs[1], "");
        WriteText(inputs[2], std::string(9u << 20, 'b'));
        ScriptedFrontEnd front;
        std::size_t file = 0;
        front.beforeFile = [&](const fs::path& input) {
            file = static_cast<std::size_t>(std::find(inputs.begin(), inputs.end(), input) -
                                            inputs.begin());
        };
        front.onProgress = [&](std::uint64_t done, std::uint64_t total) {
            front.cancel = front.cancel || (file == c.at && (c.midFile || done == total));
        };
        const BatchResult batch = EncodeFiles(*anna_, inputs, {}, true, front);
        EXPECT_TRUE(batch.cancelled) << c.what;
        EXPECT_EQ(batch.files.size(), c.done) << c.what;
        EXPECT_EQ(batch.Count(FileStatus::Done), static_cast<int>(c.done)) << c.what;
        EXPECT_TRUE(front.shown.empty()) << c.what;
        EXPECT_EQ(front.bar.position, 0) << c.what;
        // The outputs of the files done and no temporary; their originals alone deleted.
        std::vector<fs::path> expected;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            expected.push_back(i < c.done ? EncodedOutputPath({}, inputs[i]) : inputs[i]);
        }
        std::vector<fs::path> left(fs::directory_iterator(work.Path()), {});
        std::sort(left.begin(), left.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(left, expected) << c.what;
    }
}

// A file without a check value (one of an earlier version, or one whose check value was cut
// off) is decoded only when the front end allows it, asked once per batch; it is never deleted.
TEST_F(Batch, FilesWithoutACheckValueAreDecodedOnlyWhenAllowed) {
    GostKey wrong = AnnaKey();
    wrong[5] ^= 4;
    const struct {
        bool allow;
        bool rightKey;
    } cases[] = {{false, true}, {true, true}, {false, false}};
    for (const auto& c : cases) {
        const ScratchFolder work;
        std::vector<fs::path> encoded;
        for (const char* name : {"old1.txt", "new.txt", "old2.txt"}) {
            const fs::path plain = work.Path() / name;
            WriteText(plain, std::string("plain ") + name);
            encoded.push_back(EncodedOutputPath({}, plain));
            const bool old = name[0] == 'o';
            ASSERT_TRUE(
                (old ? EncodeFileWithoutTrailer(plain, encoded.back(), EncodedMarker("anna"),
                                                AnnaKey(), FileSubstitutionTable)
                     : EncodeFileChecked(plain, encoded.back(), EncodedMarker("anna"), AnnaKey(),
                                         FileSubstitutionTable)));
            fs::remove(plain);
        }
        ScriptedFrontEnd front;
        front.unverified = {c.allow};
        const GostKey key = c.rightKey ? AnnaKey() : wrong;
        const BatchResult batch = DecodeFiles("anna", key, encoded, {}, true, front);
        const bool oldDecoded = c.allow;
        EXPECT_EQ(front.unverifiedAsked, std::vector<fs::path>{encoded[0]});
        for (const std::size_t old : {0u, 2u}) {
            EXPECT_EQ(batch.files[old].status, oldDecoded ? FileStatus::Done : FileStatus::Failed);
            EXPECT_TRUE(fs::exists(encoded[old]));
            EXPECT_EQ(fs::exists(*DecodedOutputPath({}, encoded[old])), oldDecoded);
        }
        EXPECT_EQ(fs::exists(encoded[1]), !c.rightKey);
        std::vector<std::string> shown;
        const Failure unverified(MakeError(CipherError::Unverified));
        if (!oldDecoded) {
            shown.push_back(PathText(encoded[0]) + " " + DescribeFailure(unverified, encoded[0]));
        }
        if (!c.rightKey) {
            shown.push_back(ProvenCauseMessage(CanNotDecodeMessage(PathText(encoded[1]))));
        }
        if (!oldDecoded) {
            shown.push_back(PathText(encoded[2]) + " " + DescribeFailure(unverified, encoded[2]));
        } else {
            shown.emplace_back(kEncodedKeptMessage);
        }
        EXPECT_EQ(front.shown, shown);
        // A wrong key on files without a check value decodes nothing unless allowed.
        if (!c.rightKey) {
            EXPECT_EQ(BatchSummary(batch, 3, false, work.Path()),
                      "0 of 3 files decoded into " + PathText(work.Path()) + "; 3 failed");
        }
    }
}

}  // namespace
}  // namespace quorvane
