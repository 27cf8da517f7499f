#include "ui/Application.h"

#include <cstdio>
#include <exception>

#include "ui/Prompt.h"

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("quorvane"));
    setApplicationDisplayName(QStringLiteral("Quorvane 1.1"));
    setApplicationVersion(QStringLiteral("1.1"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(QString::fromUtf8(error.what()));
    } catch (...) {
        // Not a standard exception: shown with an empty message.
        ShowException(QString());
    }
    return false;
}

void Application::ShowException(const QString& text) {
    if (prompt_ != nullptr) {
        prompt_->Box(text, applicationDisplayName(), Prompt::Icon::Error);
    } else {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
}
