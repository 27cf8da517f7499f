#pragma once

#include <QApplication>

class Prompt;

// The application object. An exception that escapes an event handler is caught here
// and shown in a message box through the prompt; the program goes on running.
class Application final : public QApplication {
    Q_OBJECT

public:
    Application(int& argc, char** argv);

    // The prompt that shows the exception box (none: the text goes to standard error).
    void SetPrompt(Prompt* prompt) { prompt_ = prompt; }

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows one exception's text in the exception box.
    void ShowException(const QString& text);

private:
    Prompt* prompt_ = nullptr;
};
