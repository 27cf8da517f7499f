// Help and the About page of the main window: the Help button (BitBtn3, and F1) with the
// program's own help window for a desktop without a browser for the page, and the About page's
// links (Label6, Label7, Label9, and Label12 to the licence's text) with their hover underline.

#include <QCoreApplication>
#include <QDialog>
#include <QFont>
#include <QLabel>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>

#include "ui/HtmlHandler.h"
#include "ui/Main.h"
#include "ui/Prompt.h"
#include "ui/QtText.h"
#include "ui_Main.h"
#include "workflow/DataFolders.h"

using ui::FromPath;
using ui::ToPath;

std::filesystem::path TForm1::ProgramFolder() {
    return ToPath(QCoreApplication::applicationDirPath());
}

void TForm1::BitBtn3Click() {
    const std::filesystem::path help = quorvane::HelpPage(ProgramFolder(), installedHelpPages);
    std::error_code error;
    const bool present = std::filesystem::is_regular_file(help, error);
    if (!present) {
        prompt.Box(QStringLiteral("Cannot open help file. File may have been moved or deleted."),
                   QStringLiteral("Error!"), Prompt::Icon::Warning);
        return;
    }
    const QUrl page = QUrl::fromLocalFile(FromPath(help));
    // A desktop whose handler for HTML is no browser (none at all, one not installed, or a
    // terminal editor) would show the page's source, or nothing; one whose opener fails shows
    // nothing. The page is there, so the program shows it itself.
    if (!ui::DesktopShowsHtml()) {
        ShowHelpWindow(page);
        return;
    }
    prompt.OpenUrl(page.toString(), [this, page] { ShowHelpWindow(page); });
}

void TForm1::ShowHelpWindow(const QUrl& page) {
    if (helpWindow == nullptr) {
        helpWindow = new QDialog(this, Qt::Window);
        helpWindow->setObjectName(QStringLiteral("HelpWindow"));
        helpWindow->setWindowTitle(QStringLiteral("Help"));
        auto* layout = new QVBoxLayout(helpWindow);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* browser = new QTextBrowser(helpWindow);
        browser->setObjectName(QStringLiteral("HelpBrowser"));
        browser->setAccessibleName(QStringLiteral("Help"));
        // Addresses beyond the page go to the desktop, as the About links do.
        browser->setOpenExternalLinks(true);
        layout->addWidget(browser);
        helpWindow->resize(640, 520);
    }
    auto* browser = helpWindow->findChild<QTextBrowser*>(QStringLiteral("HelpBrowser"));
    browser->setSource(page);
    helpWindow->show();
    helpWindow->raise();
    helpWindow->activateWindow();
}

void TForm1::OpenLink(const QString& address) {
    // A link that cannot be opened (no mail program, no browser) fails silently.
    prompt.OpenUrl(address, {});
}

void TForm1::Label6Click() {
    OpenLink(QStringLiteral("mailto:support@quorvane.example"));
}
void TForm1::Label7Click() {
    OpenLink(QStringLiteral("mailto:security@quorvane.example"));
}
void TForm1::Label9Click() {
    OpenLink(QStringLiteral("https://quorvane.example"));
}
void TForm1::Label12Click() {
    OpenLink(kLicenceAddress);
}

void TForm1::SetLinkUnderline(QLabel* label, bool underline) {
    // The style is replaced, not combined: underline only, or plain.
    QFont font = label->font();
    font.setUnderline(underline);
    font.setBold(false);
    font.setItalic(false);
    font.setStrikeOut(false);
    label->setFont(font);
}

void TForm1::Label6MouseEnter() {
    SetLinkUnderline(ui->Label6, true);
}
void TForm1::Label6MouseLeave() {
    SetLinkUnderline(ui->Label6, false);
}
void TForm1::Label7MouseEnter() {
    SetLinkUnderline(ui->Label7, true);
}
void TForm1::Label7MouseLeave() {
    SetLinkUnderline(ui->Label7, false);
}
void TForm1::Label9MouseEnter() {
    SetLinkUnderline(ui->Label9, true);
}
void TForm1::Label9MouseLeave() {
    SetLinkUnderline(ui->Label9, false);
}
void TForm1::Label12MouseEnter() {
    SetLinkUnderline(ui->Label12, true);
}
void TForm1::Label12MouseLeave() {
    SetLinkUnderline(ui->Label12, false);
}
