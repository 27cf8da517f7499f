// Quorvane: encrypts files under a key bound to a speaker's voice.

#include <exception>
#include <filesystem>
#include <memory>

#include "audio/PortAudioDevice.h"
#include "ui/Application.h"
#include "ui/Encode.h"
#include "ui/Main.h"
#include "ui/Seckey.h"
#include "ui/Secparam.h"
#include "ui/WidgetPrompt.h"

int main(int argc, char** argv) {
    Application application(argc, argv);
    WidgetPrompt prompt;
    application.SetPrompt(&prompt);
    try {
        // The windows in their order: the main window first, then the three dialogs,
        // which live as long as it does and are only hidden between uses.
        const std::filesystem::path speakers = TForm1::ProgramFolder() / "Speakers";
        TForm1 form1(prompt, std::make_unique<quorvane::PortAudioDevice>(), speakers);
        prompt.SetParent(&form1);
        Application::setWindowIcon(form1.windowIcon());  // the dialogs and boxes too
        TForm2 form2;
        TForm3 form3(&prompt);
        TForm4 form4;
        form1.AttachDialogs(form2, form3, form4);
        form1.show();
        Application::exec();
    } catch (const std::exception& error) {
        application.ShowException(QString::fromUtf8(error.what()));
    } catch (...) {
        application.ShowException(QString());
    }
    // Whatever happened, the program ends normally.
    return 0;
}
