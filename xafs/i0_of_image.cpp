#include "xafs/i0_of_image.h"
#include "ui_i0_of_image.h"

#include "select/select_a_file.h"

#include <QDebug>
#include <QFileInfo>
#include <QRegularExpression>

I0ofImage::I0ofImage(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::I0ofImage>())
{
    ui->setupUi(this);
    ui->XafsFile->setMode(SelectAFile::OpenMode);
    connect(ui->XafsFile, &SelectAFile::fileSelected, this, &I0ofImage::readScanFile);
    connect(ui->XafsFile, &SelectAFile::clear, this, &I0ofImage::dropScanFile);
}

I0ofImage::~I0ofImage() = default;

void I0ofImage::setTitle(const QString &title) { ui->Title->setText(title); }

double I0ofImage::i0Val() const
{
    bool ok = false;
    const double v = ui->I0Val->text().toDouble(&ok);
    return ok ? v : 0.0;
}

void I0ofImage::setI0Val(double v) { ui->I0Val->setText(QString::number(v, 'g', 6)); }

bool I0ofImage::calcFromXafs() const { return ui->CalcFromXAFS->isChecked(); }

void I0ofImage::setCalcFromXafs(bool on) { ui->CalcFromXAFS->setChecked(on); }

QString I0ofImage::engPattern() const { return ui->EngPattern->text(); }

void I0ofImage::setEngPattern(const QString &pattern) { ui->EngPattern->setText(pattern); }

SelectAFile *I0ofImage::xafsFileSelector() const { return ui->XafsFile; }

QString I0ofImage::xafsFilePath() const { return ui->XafsFile->path(); }

void I0ofImage::selectXafsFile(const QString &path) { ui->XafsFile->fileSelected0(path); }

void I0ofImage::clearXafsFile() { ui->XafsFile->clear0(); }

void I0ofImage::setLatticeSpacing(double d)
{
    if (!(d > 0.0)) {
        qDebug() << "Lattice spacing must be positive :" << d;
        return;
    }
    spacing = d;
    if (!ui->XafsFile->path().isEmpty())
        readScanFile(ui->XafsFile->path());
}

void I0ofImage::readScanFile(const QString &path)
{
    // The field shows whether the file could be used: green read, pink not.
    ui->XafsFile->setStat(scanFile.read(path, spacing));
}

void I0ofImage::dropScanFile()
{
    scanFile = XafsScanFile();
    scanFile.latticeSpacing = spacing;
}

bool I0ofImage::energyOfFileName(const QString &fileName, const QString &pattern, double &energy)
{
    if (pattern.isEmpty() || !pattern.contains(QLatin1Char('#')))
        return false;
    QString re;
    for (const QChar c : pattern)
        re += c == QLatin1Char('#') ? QStringLiteral("\\d")
                                    : QRegularExpression::escape(QString(c));
    // Only the name itself: digits in the folder names must not match.
    const QRegularExpressionMatch m = QRegularExpression(re).match(QFileInfo(fileName).fileName());
    if (!m.hasMatch())
        return false;
    QString text = m.captured(0);
    text.remove(QRegularExpression(QStringLiteral("[^0-9_]")));
    text.replace(QLatin1Char('_'), QLatin1Char('.'));
    bool ok = false;
    const double e = text.toDouble(&ok);
    if (!ok)
        return false;
    energy = e;
    return true;
}

double I0ofImage::i0ForImage(const QString &fileName) const
{
    double e = 0.0;
    if (calcFromXafs() && scanFile.valid && energyOfFileName(fileName, engPattern(), e))
        return scanFile.i0At(e);
    return i0Val();
}
