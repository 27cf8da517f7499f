// The passphrase box offers "Remember in the keyring" only when a keyring answers: run once with
// no keyring to reach and once with a keyring of its own (tests/keyring/with-keyring.sh), as
// QUORVANE_TEST_KEYRING says. It is wide enough for its whole caption.

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include <cstdlib>
#include <string>

#include "ui/Application.h"
#include "ui/PassphraseBox.h"
#include "ui/TitleBar.h"

class PassphraseBoxTest : public QObject {
    Q_OBJECT
private slots:
    void rememberingIsOfferedOnlyWithAKeyring() {
        const char* keyring = std::getenv("QUORVANE_TEST_KEYRING");
        QVERIFY2(keyring != nullptr, "run by CTest, which says whether a keyring answers");
        const bool offered = std::string(keyring) == "private";
        for (const bool confirm : {false, true}) {
            PassphraseBox box(QStringLiteral("anna"), confirm);
            box.show();
            auto* remember = box.findChild<QCheckBox*>(QStringLiteral("RememberCheckBox"));
            QVERIFY(remember != nullptr);
            QCOMPARE(remember->isVisible(), offered);
            // Even checked behind the user's back, a box without a keyring remembers nothing.
            remember->setChecked(true);
            QCOMPARE(box.Remember(), offered);
            QCOMPARE(box.findChild<QLineEdit*>(QStringLiteral("PassphraseAgainEdit")) != nullptr,
                     confirm);
        }
    }

    void wideEnoughForItsCaption() {
        for (const bool confirm : {false, true}) {
            PassphraseBox box(QStringLiteral("anna"), confirm);
            box.show();
            QVERIFY2(
                box.width() >= ui::TitleBarWidth(box),
                qPrintable(QStringLiteral("%1 < %2").arg(box.width()).arg(ui::TitleBarWidth(box))));
        }
    }
};

int main(int argc, char** argv) {
    // The program's application object: its name follows the caption in the title bar.
    Application application(argc, argv);
    PassphraseBoxTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "PassphraseBoxTest.moc"
