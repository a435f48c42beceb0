// Hostile input to the program run headless: a scan folder where truncated,
// oversized, empty and wrongly typed files, a folder and a named pipe stand
// among the projections, and a batch file with binary junk between its
// commands. The program logs and refuses each bad item, keeps going, ends
// normally, and the results of the good projections are complete.
#include "tests/app/headless_run.h"
#include "tests/test_registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <sys/stat.h>

using namespace headless;

namespace {

bool writeBytes(const QString &fname, const QByteArray &bytes)
{
    QFile f(fname);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// An ITEX header (comment length at byte 2, comment from byte 64) with the
// given comment and pixel bytes.
QByteArray itex(const QByteArray &comment, const QByteArray &pixels)
{
    QByteArray head(64, '\0');
    head[0] = 'I';
    head[1] = 'M';
    head[2] = char(comment.size() & 0xff);
    head[3] = char(comment.size() >> 8);
    return head + comment + pixels;
}

// A line of bytes that are no command: no line end, no continuation mark.
QByteArray junkLine(int seed)
{
    QByteArray b;
    for (int k = 0; k < 120; ++k) {
        const char c = char((k * 37 + seed * 101 + 11) & 0xff);
        if (c != '\n' && c != '\r' && c != '\\')
            b += c;
    }
    return b + '\n';
}

int dataLines(const QString &fname)
{
    QFile f(fname);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    QTextStream in(&f);
    QString line;
    int n = 0;
    while (in.readLineInto(&line))
        n += !line.startsWith('#') && line.split('\t').size() == 3;
    return n;
}

} // namespace

class TestRobustHeadless : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(program("vorlo2")), "build vorlo2 first");
        QVERIFY2(QFileInfo::exists(program("vorlo2-phantom")), "build vorlo2-phantom first");
    }

    void hostileFilesAndJunkLines()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const int width = 32, height = 6, projections = 36;
        QProcess tool;
        tool.start(program("vorlo2-phantom"),
            { "scan", "--out", tmp.filePath("scan"), "--width", QString::number(width), "--height",
                QString::number(height), "--projections", QString::number(projections) });
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        const QStringList good
            = QDir(tmp.filePath("scan")).entryList({ "proj_*.img" }, QDir::Files);
        QCOMPARE(good.size(), projections);

        // The bad files sort after the good ones, so that the good ones set
        // the stack's size.
        QFile first(tmp.filePath("scan/" + good.first()));
        QVERIFY(first.open(QIODevice::ReadOnly));
        const QByteArray whole = first.readAll();
        const QString bad = tmp.filePath("scan/proj_x");
        QVERIFY(writeBytes(bad + "1_cut_pixels.img", whole.left(whole.size() - 3)));
        QVERIFY(writeBytes(bad + "2_cut_header.img", whole.left(9)));
        QVERIFY(writeBytes(bad + "3_huge.img",
            itex("Prop_ImageWidth=2147483647,Prop_ImageHeight=2147483647,BytesPerPixel=4,",
                QByteArray(64, '\1'))));
        QVERIFY(writeBytes(bad + "4_zero.img",
            itex("Prop_ImageWidth=0,Prop_ImageHeight=-6,BytesPerPixel=2,", QByteArray(64, '\1'))));
        QVERIFY(writeBytes(bad + "5_empty.img", QByteArray()));
        QVERIFY(writeBytes(bad + "6_tiff_cut.img", QByteArray("II*\0\x08\0\0\0\x09\0", 10)));
        QVERIFY(writeBytes(bad + "7_junk.img", junkLine(7)));
        QVERIFY(QDir().mkdir(bad + "8_folder.img"));
        QCOMPARE(mkfifo(QFile::encodeName(bad + "9_pipe.img").constData(), 0600), 0);

        const int from = 2, to = 3;
        QByteArray job = junkLine(1);
        job += "images_new_on_load 1\nct_rot_ax_is_v 1\n";
        job += junkLine(2);
        job += "images_load scan proj_*.img\n";
        job += junkLine(3);
        job += "i0_load scan/I0.img\nbg_load scan/BG.img\n";
        job += QString("ct_cor %1\nct_slice_from %2\nct_slice_to %3\nct_slice_step 1\n")
                   .arg(width / 2)
                   .arg(from)
                   .arg(to)
                   .toUtf8();
        job += junkLine(4);
        job += "auto_save_data_upper_limit 1000\nauto_save_data_lower_limit -1000\n"
               "auto_save_data_offset 0\nauto_save_data_path out\nauto_save_data_name s\n"
               "auto_save_data 1\ncalc_ct2 1\nct_auto_exec 1\ncalc_exec\n";
        job += junkLine(5);
        QVERIFY(writeBytes(tmp.filePath("job.bat"), job));

        const Run r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "job.bat", "-x" });
        const QString &err = r.err;
        QVERIFY2(r.ended, "the program did not end (a blocked open or a lost batch)");
        QVERIFY(r.normalExit);
        QCOMPARE(r.code, 0);

        // The folder and the pipe need no line: a file list may leave them out.
        for (const char *name : { "1_cut_pixels", "2_cut_header", "3_huge", "4_zero", "5_empty",
                 "6_tiff_cut", "7_junk" })
            QVERIFY2(err.contains(QString("proj_x%1.img").arg(name)),
                qPrintable(QString("no log line names proj_x%1.img").arg(name)));

        for (int s = from; s <= to; ++s) {
            const QString fname = tmp.filePath(QString::asprintf("out/s--%05d.dat", s));
            QVERIFY2(QFileInfo::exists(fname), qPrintable(fname));
            // One value per grid point: the reconstruction of the good
            // projections ran to its end.
            const int n = dataLines(fname);
            QVERIFY2(
                n >= width * width / 2, qPrintable(QString("%1: %2 values").arg(fname).arg(n)));
        }
    }
};

VORLO_TEST(TestRobustHeadless)
#include "test_robust_headless.moc"
