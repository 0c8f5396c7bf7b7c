#include <QtTest>

class tst_TarnpostAutomation final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void libraryIsBuilt() { QVERIFY(QFile::exists(QStringLiteral(QUELLMAIL_BIN_DIR "/libtarnpostctl.so"))); }
};

QTEST_MAIN(tst_TarnpostAutomation)
#include "tst_tarnpostautomation.moc"
