#pragma once

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private PulseAudio server for the tests that go through the real sound stack
// (tests/audio/private-pulse.sh): its default source hears whatever is played into its
// "micfeed" sink. Start also points this process's PortAudio (through ALSA's pulse
// plugin) at it and speaks the test phrases into WAV files; they must run before the
// first sound device is created.
class PrivatePulse {
public:
    explicit PrivatePulse(QString script) : script_(std::move(script)) {}
    ~PrivatePulse();
    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    // Starts the server and speaks each of `phrases` into NAME.wav (p1, p2, ...). Returns
    // why the tests must be skipped (no tool, no server), or an empty text.
    QString Start(const QStringList& phrases);
    // Plays a spoken phrase (p1, p2, ...) into the microphone; returns when it has been
    // played, after at most `timeoutMs`, running the event loop meanwhile.
    bool Play(const QString& phrase, int timeoutMs = 20000);
    // The folder of the server and the phrases.
    [[nodiscard]] QString Folder() const { return folder_.path(); }

private:
    bool Script(const QStringList& arguments, int timeoutMs = 20000) const;

    QString script_;
    QTemporaryDir folder_{QDir::tempPath() + QStringLiteral("/quorvane-ui-pulse-XXXXXX")};
    bool started_ = false;
};
