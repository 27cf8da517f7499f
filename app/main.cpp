// Quorvane: encrypts files under a key bound to a speaker's voice.
//
//     quorvane [FILE.crp]...
//
// Files given on the command line (what the desktop passes when an encoded file is
// opened) are taken as a choice of "Open file(s) to decode...": the program starts on
// its Decode page with them chosen.

#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>

#include "audio/PortAudioDevice.h"
#include "files/AtomicFile.h"
#include "files/ProcessSafety.h"
#include "ui/Application.h"
#include "ui/Encode.h"
#include "ui/Main.h"
#include "ui/Seckey.h"
#include "ui/Secparam.h"
#include "ui/WidgetPrompt.h"
#include "ui_Main.h"
#include "workflow/DataFolders.h"

#ifndef QUORVANE_VERSION
#error "QUORVANE_VERSION must give the program's version"
#endif

namespace {

// The desktop entry's name (without ".desktop"), so that the desktop matches the window
// to its entry and icon.
constexpr const char* kDesktopFileName = "org.quorvane.Quorvane";

constexpr const char* kUsage =
    "Usage: quorvane [OPTION]... [FILE.crp]...\n"
    "Encrypt files under a key bound to a speaker's voice.\n"
    "\n"
    "Without files the program opens on its Study page. Files given on the command line\n"
    "are chosen for decoding, as with \"Open file(s) to decode...\": the program opens\n"
    "on its Decode page, and a single file fills in its owner's name.\n"
    "\n"
    "Options:\n"
    "  -h, --help       show this help and exit\n"
    "  -v, --version    show the version and exit\n"
    "  --               treat every argument after it as a file\n"
    "\n"
    "The options of Qt programs (such as -platform NAME or -style NAME) are accepted too.\n"
    "QUORVANE_VERBOSE=1 in the environment lets the sound libraries report the devices\n"
    "they probe.\n"
    "The command-line companion quorvane-cli does the same work from sound files.\n";

enum class Early { None, Help, Version };

// --help and --version are answered before any window exists (and without a display).
Early EarlyOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            break;
        }
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            return Early::Help;
        }
        if (std::strcmp(argv[i], "-v") == 0 || std::strcmp(argv[i], "--version") == 0) {
            return Early::Version;
        }
    }
    return Early::None;
}

// The files of the command line left after Qt took its own options. False (with a
// message) for an option this program does not know.
bool CommandLineFiles(QStringList& files) {
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    bool onlyFiles = false;
    for (const QString& argument : arguments) {
        if (!onlyFiles && argument == QStringLiteral("--")) {
            onlyFiles = true;
            continue;
        }
        if (!onlyFiles && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            std::fprintf(stderr, "quorvane: unknown option %s\nTry 'quorvane --help'.\n",
                         argument.toLocal8Bit().constData());
            return false;
        }
        // Absolute, so that the choice does not depend on the folder the program runs in.
        files.append(QFileInfo(argument).absoluteFilePath());
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Passphrases, keys and voice models in memory never land in a core file.
    quorvane::DisableCoreDumps();
    // SIGINT, SIGTERM or SIGHUP in the middle of a file leave no temporary file behind.
    quorvane::InstallTemporaryCleanup();
    switch (EarlyOption(argc, argv)) {
        case Early::Help:
            std::fputs(kUsage, stdout);
            return 0;
        case Early::Version:
            std::printf("quorvane %s\n", QUORVANE_VERSION);
            return 0;
        case Early::None:
            break;
    }

    Application application(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    QStringList files;
    if (!CommandLineFiles(files)) {
        return 2;
    }
    WidgetPrompt prompt;
    application.SetPrompt(&prompt);
    try {
        // The windows in their order: the main window first, then the three dialogs,
        // which live as long as it does and are only hidden between uses.
        const std::filesystem::path speakers =
            quorvane::SpeakersFolder(quorvane::ExecutableFolder());
        TForm1 form1(prompt, std::make_unique<quorvane::PortAudioDevice>(), speakers);
        prompt.SetParent(&form1);
        Application::setWindowIcon(form1.windowIcon());  // the dialogs and boxes too
        TForm2 form2;
        TForm3 form3(&prompt);
        TForm4 form4;
        form1.AttachDialogs(form2, form3, form4);
        form1.show();
        if (!files.isEmpty()) {
            // Once the message loop runs, so that a message about the files has the
            // shown window as its owner.
            QTimer::singleShot(0, &form1, [&form1, files]() {
                form1.ui->PageControl1->setCurrentWidget(form1.ui->TabSheet3);
                form1.DecodeGivenFiles(files);
            });
        }
        Application::exec();
    } catch (const std::exception& error) {
        application.ShowException(QString::fromUtf8(error.what()));
    } catch (...) {
        application.ShowException(QString());
    }
    // A batch cut short by the quit leaves no temporary file behind.
    quorvane::RemoveLiveTemporaries();
    // Whatever happened, the program ends normally.
    return 0;
}
