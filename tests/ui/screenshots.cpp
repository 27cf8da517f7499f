// Renders every page of the main window and every dialog to PNG files, offscreen:
//     QT_QPA_PLATFORM=offscreen quorvane-screenshots docs/screenshots
// The Study page shows a real session: three phrases spoken by espeak-ng, trained at
// level High, a positive verification and a registered user "anna".

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "tests/ui/Phrases.h"
#include "tests/ui/ProgramWindows.h"
#include "tests/ui/ScriptedPrompt.h"
#include "ui/Encode.h"
#include "ui/Main.h"
#include "ui/Seckey.h"
#include "ui/Secparam.h"
#include "ui_Main.h"
#include "ui_Secparam.h"

namespace {

bool Save(QWidget& widget, const QDir& folder, const char* name) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (!widget.grab().save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
        return false;
    }
    std::printf("%s\n", path.toLocal8Bit().constData());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", out.path().toLocal8Bit().constData());
        return 1;
    }
    QTemporaryDir scratch;
    const QString speakers = scratch.filePath(QStringLiteral("Speakers"));
    QDir().mkpath(speakers);

    ScriptedPrompt prompt;
    ProgramWindows windows(prompt,
                           std::filesystem::path(QFile::encodeName(speakers).toStdString()));
    TForm1& form1 = *windows.form1;
    TForm2& form2 = *windows.form2;
    TForm3& form3 = *windows.form3;
    TForm4& form4 = *windows.form4;
    Ui::TForm1& ui = windows.ui();

    // Enrol three phrases, train at High, verify, add "anna".
    const QStringList texts{
        QStringLiteral("My voice is my key, open the files for me."),
        QStringLiteral("Seven green lanterns shine above the quiet harbour."),
        QStringLiteral("Please remember the number forty two and the colour blue.")};
    QRadioButton* phraseSlots[] = {ui.RadioGroup1_0, ui.RadioGroup1_1, ui.RadioGroup1_2};
    std::vector<std::int16_t> last;
    for (int i = 0; i < 3; ++i) {
        last = SpeakPhrase(scratch.path(), QStringLiteral("p%1").arg(i), texts[i]);
        if (last.empty()) {
            std::fprintf(stderr, "espeak-ng and sox are needed\n");
            return 1;
        }
        windows.Record(last);
        QTest::mouseClick(phraseSlots[i], Qt::LeftButton);
        QTest::mouseClick(ui.Button1, Qt::LeftButton);
    }
    prompt.OnShowModal([](QDialog& dialog) {
        auto& levels = static_cast<TForm2&>(dialog);
        levels.SetItemIndex(0);
        levels.accept();
    });
    QTest::mouseClick(ui.Button4, Qt::LeftButton);
    windows.Record(last);
    ui.ComboBox1->setEditText(QStringLiteral("anna"));
    prompt.AnswerQuestion(false);
    QTest::mouseClick(ui.Button2, Qt::LeftButton);
    QTest::mouseClick(ui.Verifikate, Qt::LeftButton);
    if (!prompt.Messages().isEmpty() && prompt.Messages().size() != 1) {
        std::fprintf(stderr, "unexpected messages: %s\n",
                     prompt.Messages().join(QStringLiteral(" | ")).toLocal8Bit().constData());
    }

    bool ok = true;
    ui.PageControl1->setCurrentIndex(0);
    ok = Save(form1, out, "study.png") && ok;
    ui.PageControl1->setCurrentIndex(1);
    ui.ComboBox2->setCurrentIndex(0);
    form1.SetStatusText(QString());
    ok = Save(form1, out, "encode.png") && ok;
    // An encoded file of anna's chosen, as when it is opened from the file manager.
    const QString encoded = scratch.filePath(QStringLiteral("report.pdf.crp"));
    if (QFile file(encoded); file.open(QIODevice::WriteOnly)) {
        file.write("annacryptedfile ");
    }
    ui.PageControl1->setCurrentIndex(2);
    form1.DecodeGivenFiles({encoded});
    ok = Save(form1, out, "decode.png") && ok;
    ui.PageControl1->setCurrentIndex(3);
    ok = Save(form1, out, "about.png") && ok;
    ui.PageControl1->setCurrentIndex(0);

    form2.SetItemIndex(0);
    form2.show();
    ok = Save(form2, out, "security-parameters.png") && ok;
    form2.hide();

    // The two dialogs of the Encode and Decode pages, as the workflows fill them.
    form3.Edit1->setText(QStringLiteral("anna"));
    form3.ListBox1->addItems({QStringLiteral("report.pdf"), QStringLiteral("photos.zip")});
    form3.Edit2->setText(QStringLiteral("/home/anna"));
    form3.show();
    ok = Save(form3, out, "files-for-encoding.png") && ok;
    form3.hide();
    form4.show();
    form4.Edit1->setText(QStringLiteral("anna"));
    ok = Save(form4, out, "security-key.png") && ok;
    form4.hide();
    return ok ? 0 : 1;
}
