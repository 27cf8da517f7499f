#pragma once

#include <string>
#include <vector>

namespace quorvane {

// The few notices the lower layers raise themselves (a sound device that will
// not open, an unstable LPC frame, a model file that cannot be opened). The
// program shows them as message boxes; tests record them.
class Notifier {
public:
    virtual ~Notifier() = default;
    // A plain message box: OK button, the application title as caption.
    virtual void Notice(const std::string& text) = 0;
    // A message box with its own caption, an OK button and the warning icon.
    virtual void Warning(const std::string& text, const std::string& caption) = 0;
};

// Discards every notice; for callers that report failures their own way.
class SilentNotifier final : public Notifier {
public:
    void Notice(const std::string&) override {}
    void Warning(const std::string&, const std::string&) override {}
};

// Keeps every notice in order, for tests and for the command line.
class RecordingNotifier final : public Notifier {
public:
    struct Entry {
        std::string text;
        std::string caption;  // empty for a plain notice
        bool warning = false;
    };
    void Notice(const std::string& text) override { entries.push_back({text, {}, false}); }
    void Warning(const std::string& text, const std::string& caption) override {
        entries.push_back({text, caption, true});
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        texts.reserve(entries.size());
        for (const Entry& e : entries) {
            texts.push_back(e.text);
        }
        return texts;
    }
    std::vector<Entry> entries;
};

}  // namespace quorvane
