// A CT-XAFS measurement written by the tool, as the program sees it: the
// data-set list of the directory, the energies of the I0 files, and the edge
// component's jump in the reconstructed slices.
#include "select/ct_file_set.h"
#include "select/select_data_dir.h"
#include "tests/test_registry.h"
#include "tests/tools/phantom_fixture.h"
#include "tools/phantom_scan.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <numeric>

using phantomtest::Slice;

namespace {

// The energy of an I0 file from its whole path, as the main window reads it:
// the token between the last two '-' (the text before a single '-', the whole
// name without one), then the energy rule with its unit factor.
double i0EnergyOfPath(const QString &path)
{
    const int last = path.lastIndexOf(QLatin1Char('-'));
    QString token = path;
    if (last >= 0) {
        const int before = path.lastIndexOf(QLatin1Char('-'), last - 1);
        token = before >= 0 ? path.mid(before + 1, last - before - 1) : path.left(last);
    }
    QString unit;
    const double v = energyOfName(token, &unit);
    return v * unitFactorOf(unit);
}

ScanSettings small(int projections)
{
    ScanSettings s;
    s.width = 96;
    s.height = 6;
    s.projections = projections;
    return s;
}

} // namespace

class PhantomXafsTest : public QObject {
    Q_OBJECT

private slots:
    // The directory lists as one set per energy, in energy order, each with
    // all its projections, and its I0 files carry their energies in their names.
    void listsAsDataSets_data()
    {
        QTest::addColumn<QVector<double>>("energies");
        QTest::addColumn<bool>("keV");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("eV") << QVector<double> { 7100, 7110, 7120 } << false
                            << QStringList { "1 : Phantom (7100[eV], 5)",
                                   "2 :         (7110[eV], 5)", "3 :         (7120[eV], 5)" };
        QTest::newRow("fractional eV")
            << QVector<double> { 7112.5, 7113.25 } << false
            << QStringList { "1 : Phantom (7112.5[eV], 5)", "2 :         (7113.25[eV], 5)" };
        // Name order is energy order even where the numbers differ in width.
        QTest::newRow("widths and decimals differ")
            << QVector<double> { 7100.5, 980, 7100, 1000 } << false
            << QStringList { "1 : Phantom (980[eV], 5)", "2 :         (1000[eV], 5)",
                   "3 :         (7100[eV], 5)", "4 :         (7100.5[eV], 5)" };
        QTest::newRow("keV") << QVector<double> { 7100, 7112.5 } << true
                             << QStringList { "1 : Phantom (7.1[keV], 5)",
                                    "2 :         (7.1125[keV], 5)" };
    }
    void listsAsDataSets()
    {
        QFETCH(QVector<double>, energies);
        QFETCH(bool, keV);
        QFETCH(QStringList, entries);
        XafsSettings x;
        x.energies = energies;
        x.keV = keV;
        const ScanSettings s = small(5);
        QVERIFY(PhantomScan::check(s, x).isEmpty());
        QTemporaryDir dir;
        QStringList written;
        QVERIFY(PhantomScan(s).writeXafs(x, dir.path(), &written));

        SelectDataDir sel;
        QVERIFY(sel.isASRStandard());
        QSignalSpy sets(&sel, &SelectDataDir::newSets);
        QSignalSpy files(&sel, &SelectDataDir::selectedFileInfoList);
        sel.setDataDir(dir.path());
        QCOMPARE(sets.count(), 1);
        QCOMPARE(sets.takeFirst().at(0).toInt(), energies.size());
        QCOMPARE(sel.entries(), entries);
        // Set i is the i-th energy in ascending order.
        const QStringList tokens = PhantomScan::energyTokens(energies, keV);
        QVector<int> order(energies.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(
            order.begin(), order.end(), [&](int a, int b) { return energies[a] < energies[b]; });
        for (int i = 0; i < energies.size(); ++i) {
            const double e = energies[order[i]];
            sel.setFirstSet(i);
            QCOMPARE(files.count(), 1);
            const QFileInfoList list = files.takeFirst().at(0).value<QFileInfoList>();
            QCOMPARE(list.size(), 5);
            for (int k = 0; k < list.size(); ++k)
                QCOMPARE(list.at(k).fileName(),
                    QStringLiteral("Phantom-%1-%2.img")
                        .arg(tokens.at(order[i]))
                        .arg(k, 5, 10, QLatin1Char('0')));
            QVERIFY(std::abs(sel.currentEnergy() - e) < 1e-9 * e);
        }

        // I0 files: one per energy in I0/, nothing else there but them.
        const QFileInfoList i0Files
            = QDir(dir.filePath("I0")).entryInfoList(QDir::Files, QDir::Name);
        QCOMPARE(i0Files.size(), energies.size());
        QVector<double> found;
        for (const QFileInfo &f : i0Files) {
            QVERIFY(written.contains(f.filePath()));
            found << i0EnergyOfPath(f.filePath());
        }
        std::sort(found.begin(), found.end());
        for (int i = 0; i < energies.size(); ++i) {
            const double e = energies[order[i]];
            QVERIFY(std::abs(found[i] - e) < 1e-9 * e);
        }
        QVERIFY(QFileInfo::exists(dir.filePath("BG/BG.img")));
    }

    // Across the edge only the edge component changes: its contrast against
    // the body around it rises by 2 M times the jump of mu, while the bare
    // body changes by its slow (edge / E)^3 fall alone. Each set is
    // reconstructed with the I0 of its own energy.
    void edgeComponentJumps()
    {
        const int m = 90;
        const ScanSettings s = small(m);
        XafsSettings x;
        x.energies = { 7100, 7124 };
        x.edgeEV = 7112;
        QTemporaryDir dir;
        QStringList written;
        const PhantomScan scan(s);
        QVERIFY(scan.writeXafs(x, dir.path(), &written));
        const QString bg = dir.filePath("BG/BG.img");
        const Ellipsoid *edge = scan.phantom().component(QStringLiteral("edge"));
        const double r = scan.phantom().flatRadius();

        double contrast[2], flat[2];
        for (int i = 0; i < 2; ++i) {
            const QString token = PhantomScan::energyTokens(x.energies, false).at(i);
            const QStringList proj = written.filter(QStringLiteral("/Phantom-%1-").arg(token));
            QCOMPARE(proj.size(), m);
            const QString i0 = dir.filePath(QStringLiteral("I0/I0-%1-00000.img").arg(token));
            const Slice slice = phantomtest::reconstruct(proj, i0, bg, scan.cor(), 3);
            QVERIFY(slice.n > 0);
            contrast[i] = slice.mean(edge->cx, edge->cz, 0.5 * edge->ax)
                - slice.mean(edge->cx, edge->cz, 1.9 * edge->ax, 1.4 * edge->ax);
            flat[i] = slice.mean(0, 0, r);
        }
        const Phantom below = scan.phantom().atEnergy(x.energies[0], x.edgeEV);
        const Phantom above = scan.phantom().atEnergy(x.energies[1], x.edgeEV);
        const double jump = above.component("edge")->mu - below.component("edge")->mu;
        QVERIFY(jump > 0.9 * edge->edgeJump);
        const double measured = (contrast[1] - contrast[0]) / (2.0 * m * jump);
        QVERIFY2(std::abs(measured - 1) < 0.05, qPrintable(QString::number(measured)));
        const double bodyRatio = flat[1] / flat[0];
        qInfo("edge contrast rise %.4f of 2 M dmu; body ratio %.4f for mu ratio %.4f", measured,
            bodyRatio, above.bodyMu / below.bodyMu);
        // The filter's offset follows the whole slice, edge component included,
        // so the bare body moves a little more than its own mu.
        QVERIFY2(std::abs(bodyRatio - above.bodyMu / below.bodyMu) < 0.015,
            qPrintable(QString::number(bodyRatio)));
    }

    // Each energy has its own beam: outside the sample the attenuation is 0
    // with the I0 of the same energy and ln of the flux ratio with another.
    void eachEnergyNeedsItsOwnI0()
    {
        const ScanSettings s = small(2);
        XafsSettings x;
        x.energies = { 7100, 7150 };
        QTemporaryDir dir;
        QVERIFY(PhantomScan(s).writeXafs(x, dir.path(), nullptr));
        const auto image
            = [&](const QString &name) { return phantomtest::loadImage(dir.filePath(name)); };
        const std::unique_ptr<ImgData> proj = image("Phantom-7150eV-00000.img");
        const std::unique_ptr<ImgData> own = image("I0/I0-7150eV-00000.img");
        const std::unique_ptr<ImgData> other = image("I0/I0-7100eV-00000.img");
        const std::unique_ptr<ImgData> bg = image("BG/BG.img");
        QVERIFY(proj && own && other && bg);
        const ImgData *raw[] = { proj.get() };
        HSgm withOwn, withOther;
        QVERIFY(
            genSinogram0(&withOwn, s.width, s.height, raw, 1, own.get(), bg.get(), true, 48, 2));
        QVERIFY(genSinogram0(
            &withOther, s.width, s.height, raw, 1, other.get(), bg.get(), true, 48, 2));
        // Sample 1 is pixel 3, 45 pixels left of the axis, outside the body (0.8 R = 37.6).
        QVERIFY(std::abs(withOwn.sgmRow(0)[1]) < 1e-3);
        const double ratio
            = PhantomScan::fluxAt(7100, x.edgeEV) / PhantomScan::fluxAt(7150, x.edgeEV);
        QVERIFY(std::abs(withOther.sgmRow(0)[1] - std::log(ratio)) < 1e-3);
        QVERIFY(std::log(ratio) > 0.05);
    }
};

VORLO_TEST(PhantomXafsTest)
#include "test_phantom_xafs.moc"
