#include "select/select_a_file.h"
#include "tests/test_registry.h"
#include "xafs/i0_of_image.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

class I0ofImageTest : public QObject {
    Q_OBJECT
private slots:
    void formAsDesigned();
    void fieldsSetLikeBatchCommands();
    void energyInFileName_data();
    void energyInFileName();
    void i0FromScanFile();
    void unreadableScanFileShownPink();

private:
    QString writeScan(const QString &name);
    QTemporaryDir tmp;
};

QString I0ofImageTest::writeScan(const QString &name)
{
    // Two points: theta 15.0 and 14.9 deg, 1 s, I0 counts 1000 and 3000.
    const QString path = tmp.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write("Mode 0 0 0 1\nOffset 0 0 0 0\n1 15.0 1.0 7 1000\n2 14.9 1.0 7 3000\n");
    return path;
}

void I0ofImageTest::formAsDesigned()
{
    I0ofImage p;
    QCOMPARE(p.size(), QSize(855, 23));
    auto *title = p.findChild<QLabel *>("Title");
    auto *val = p.findChild<QLineEdit *>("I0Val");
    auto *calc = p.findChild<QCheckBox *>("CalcFromXAFS");
    auto *file = p.findChild<SelectAFile *>("XafsFile");
    auto *label = p.findChild<QLabel *>("label");
    auto *ptn = p.findChild<QLineEdit *>("EngPattern");
    QVERIFY(title && val && calc && file && label && ptn);
    QCOMPARE(title->text(), QStringLiteral("I0 of Image"));
    QCOMPARE(val->text(), QStringLiteral("1.0"));
    QCOMPARE(val->maximumWidth(), 50);
    QVERIFY(val->alignment() & Qt::AlignRight);
    QCOMPARE(calc->text(), QStringLiteral("Calc from XAFS file"));
    QVERIFY(calc->isChecked());
    QCOMPARE(file->mode(), 0);
    QCOMPARE(label->text(), QStringLiteral("Eng. Ptn in Img F. Name :"));
    QCOMPARE(ptn->text(), QStringLiteral("####_####"));
    QCOMPARE(ptn->maximumWidth(), 100);

    p.setTitle(QStringLiteral("I0 of Raw Image"));
    QCOMPARE(title->text(), QStringLiteral("I0 of Raw Image"));
}

void I0ofImageTest::fieldsSetLikeBatchCommands()
{
    I0ofImage p;
    p.setI0Val(1234567.0);
    QCOMPARE(p.findChild<QLineEdit *>("I0Val")->text(), QStringLiteral("1.23457e+06"));
    p.setI0Val(0.5);
    QCOMPARE(p.i0Val(), 0.5);
    p.findChild<QLineEdit *>("I0Val")->setText(QStringLiteral("abc"));
    QCOMPARE(p.i0Val(), 0.0);
    p.setCalcFromXafs(false);
    QVERIFY(!p.calcFromXafs());
    p.setEngPattern(QStringLiteral("#_####keV"));
    QCOMPARE(p.engPattern(), QStringLiteral("#_####keV"));

    const QString path = writeScan("batch.dat");
    p.selectXafsFile(path);
    QCOMPARE(p.xafsFilePath(), path);
    QVERIFY(p.scan().valid);
    p.clearXafsFile();
    QVERIFY(p.xafsFilePath().isEmpty());
    QVERIFY(!p.scan().valid);
}

void I0ofImageTest::energyInFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("found");
    QTest::addColumn<double>("energy");
    QTest::newRow("default pattern") << "S1_7112_5000_001.img"
                                     << "####_####" << true << 7112.5;
    QTest::newRow("keV with a unit") << "S-7_1125keV-001.img"
                                     << "#_####keV" << true << 7.1125;
    QTest::newRow("no decimal mark") << "Cu8979eV-003.img"
                                     << "####eV" << true << 8979.0;
    QTest::newRow("first match counts") << "1234_5678-9999_0000.img"
                                        << "####_####" << true << 1234.5678;
    QTest::newRow("folder digits not used") << "/data/7000_0000/sample.img"
                                            << "####_####" << false << 0.0;
    QTest::newRow("too few digits") << "S1_712_5.img"
                                    << "####_####" << false << 0.0;
    QTest::newRow("pattern without #") << "S1_7112_5000.img"
                                       << "____" << false << 0.0;
    QTest::newRow("empty pattern") << "S1_7112_5000.img"
                                   << "" << false << 0.0;
    QTest::newRow("two decimal marks") << "1_2_3.img"
                                       << "#_#_#" << false << 0.0;
    QTest::newRow("regex characters literal") << "E(7100).img"
                                              << "(####)" << true << 7100.0;
}

void I0ofImageTest::energyInFileName()
{
    QFETCH(QString, name);
    QFETCH(QString, pattern);
    QFETCH(bool, found);
    QFETCH(double, energy);
    double e = -1.0;
    QCOMPARE(I0ofImage::energyOfFileName(name, pattern, e), found);
    if (found)
        QCOMPARE(e, energy);
    else
        QCOMPARE(e, -1.0);
}

void I0ofImageTest::i0FromScanFile()
{
    I0ofImage p;
    p.setI0Val(2.0);
    p.setEngPattern(QStringLiteral("####_#"));
    p.selectXafsFile(writeScan("scan.dat"));
    QVERIFY(p.scan().valid);
    QCOMPARE(p.findChild<QLineEdit *>("FilePath")->styleSheet(),
        QStringLiteral("background-color: rgb(211, 255, 241);"));

    const double e0 = p.scan().energies[0];
    const double e1 = p.scan().energies[1];
    const QString midText = QString::number((e0 + e1) / 2.0, 'f', 1);
    const QString mid = QString(midText).replace('.', '_');
    // Near half-way between the two points: close to the mean of 1000 and
    // 3000 counts/s, exactly on the line through both.
    const double got = p.i0ForImage("/d/S1_" + mid + "_001.img");
    const double want = 1000.0 + (midText.toDouble() - e0) * 2000.0 / (e1 - e0);
    QVERIFY(std::abs(got - want) < 1e-6);
    QVERIFY(std::abs(got - 2000.0) < 100.0);

    // Without an energy in the name, or with the switch off: the fixed value.
    QCOMPARE(p.i0ForImage("/d/plain.img"), 2.0);
    p.setCalcFromXafs(false);
    QCOMPARE(p.i0ForImage("/d/S1_" + mid + "_001.img"), 2.0);

    // Another lattice spacing reads the file again with other energies.
    p.setCalcFromXafs(true);
    p.setLatticeSpacing(2.0 * p.latticeSpacing());
    QVERIFY(std::abs(p.scan().energies[0] * 2.0 - e0) < 1e-9);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("must be positive"));
    p.setLatticeSpacing(0.0);
    QVERIFY(p.latticeSpacing() > 0.0);
}

void I0ofImageTest::unreadableScanFileShownPink()
{
    I0ofImage p;
    p.setI0Val(3.0);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't open"));
    p.selectXafsFile(tmp.filePath("missing.dat"));
    QVERIFY(!p.scan().valid);
    QCOMPARE(p.findChild<QLineEdit *>("FilePath")->styleSheet(),
        QStringLiteral("background-color: rgb(255, 192, 192);"));
    QCOMPARE(p.i0ForImage("/d/S1_7100_0000.img"), 3.0);
}

VORLO_TEST(I0ofImageTest)
#include "i0_of_image_test.moc"
