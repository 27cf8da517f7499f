// The passphrase box offers "Remember in the keyring" only when a keyring answers: run once with
// no keyring to reach and once with a keyring of its own (tests/keyring/with-keyring.sh), as
// QUORVANE_TEST_KEYRING says.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include <cstdlib>
#include <string>

#include "ui/PassphraseBox.h"

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
};

QTEST_MAIN(PassphraseBoxTest)
#include "PassphraseBoxTest.moc"
