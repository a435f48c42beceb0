#include "select/select_data_dir.h"
#include "ui_select_data_dir.h"

#include "select/select_dir.h"
#include "util/text_util.h"

#include <QDir>
#include <QRegularExpression>

SelectDataDir::SelectDataDir(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectDataDir>())
{
    ui->setupUi(this);
    ui->SelDir->setSelectText(tr("Sel. Data Dir."));

    connect(ui->SelDir, &SelectDir::aDirSelected, this, &SelectDataDir::aDirSelected);
    connect(ui->Set, &QPushButton::clicked, this, &SelectDataDir::set);
    connect(ui->Next, &QPushButton::clicked, this, &SelectDataDir::next);
    connect(ui->isASRStd_, &QCheckBox::toggled, this, &SelectDataDir::changedASRStd);
}

SelectDataDir::~SelectDataDir() = default;

bool SelectDataDir::isASRStandard() const { return ui->isASRStd_->isChecked(); }

QString SelectDataDir::dirName() const { return ui->SelDir->dirName(); }

QString SelectDataDir::pattern() const { return ui->Pattern->text(); }

void SelectDataDir::setPattern(const QString &p) { ui->Pattern->setText(p); }

int SelectDataDir::currentIndex() const { return ui->SubDirs->currentIndex(); }

int SelectDataDir::count() const { return ui->SubDirs->count(); }

QStringList SelectDataDir::entries() const
{
    QStringList list;
    for (int i = 0; i < ui->SubDirs->count(); ++i)
        list << ui->SubDirs->itemText(i);
    return list;
}

void SelectDataDir::setDataDir(const QString &dir) { ui->SelDir->chooseDir(dir); }

void SelectDataDir::aDirSelected(const QString &dir)
{
    if (ui->isASRStd_->isChecked())
        setFileSets(dir);
    else
        setSubDirs(dir);
    emit newSets(ui->SubDirs->count());
}

void SelectDataDir::changedASRStd() { aDirSelected(ui->SelDir->dirName()); }

void SelectDataDir::setIsASRStandard(bool f) { ui->isASRStd_->setChecked(f); }

void SelectDataDir::setSubDirs(const QString &dir)
{
    // No directory chosen yet gives no sets (QDir would read "" as the working directory).
    subDirNames = dir.isEmpty()
        ? QStringList()
        : QDir(dir).entryList({ "*" }, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    ui->SubDirs->setCurrentIndex(0);
    ui->SubDirs->clear();
    for (int i = 0; i < subDirNames.size(); ++i)
        ui->SubDirs->addItem(QString("%1 : %2").arg(QString::number(i + 1), subDirNames.at(i)));
    listsFileSets = false;
}

void SelectDataDir::setFileSets(const QString &dir)
{
    // The whole Pattern text is one wildcard here: "*.img *.tif" matches nothing.
    const QFileInfoList infos = dir.isEmpty()
        ? QFileInfoList()
        : QDir(dir).entryInfoList({ ui->Pattern->text() }, QDir::Files, QDir::Name);
    if (infos.isEmpty()) {
        // The previous sets stay; list them if SubDirs shows sub-directories.
        if (!listsFileSets)
            listFileSets();
        return;
    }

    fileSets.clear();
    for (const QFileInfo &info : infos) {
        if (fileSets.empty() || !fileSets.back()->addIfSameSet(info))
            fileSets.push_back(std::make_unique<CtFileSet>(info));
    }
    listFileSets();
}

void SelectDataDir::listFileSets()
{
    ui->SubDirs->setCurrentIndex(0);
    ui->SubDirs->clear();
    for (size_t i = 0; i < fileSets.size(); ++i) {
        const CtFileSet &s = *fileSets[i];
        const bool repeated = i > 0 && fileSets[i - 1]->sampleName == s.sampleName;
        // One substitution pass: a "%5" inside a sample name stays as it is.
        ui->SubDirs->addItem(QString("%1 : %2 (%3[%4], %5)")
                                 .arg(QString::number(i + 1),
                                     repeated ? spaces(int(s.sampleName.size())) : s.sampleName,
                                     QString::number(s.energyValue, 'g', 6), s.unitText,
                                     QString::number(s.files.size())));
    }
    listsFileSets = true;
}

void SelectDataDir::set()
{
    const int i = ui->SubDirs->currentIndex();
    if (ui->isASRStd_->isChecked()) {
        if (!indexInFileSets(i)) {
            emit noMoreSets();
            return;
        }
        emit selectedFileInfoList(fileSets[i]->files);
        return;
    }
    if (!indexInSubDirs(i)) {
        emit noMoreSets();
        return;
    }
    const QString dir = ui->SelDir->dirName() + QDir::separator() + subDirNames.at(i);
    const QStringList patterns = ui->Pattern->text().split(QRegularExpression("\\s+"));
    emit selected(dir, patterns);
}

void SelectDataDir::next() { advance(); }

bool SelectDataDir::advance()
{
    const int i = ui->SubDirs->currentIndex();
    if (i >= ui->SubDirs->count() - 1)
        return false;
    ui->SubDirs->setCurrentIndex(i + 1);
    return true;
}

void SelectDataDir::setFirstSet(int firstIdx)
{
    ui->SubDirs->setCurrentIndex(firstIdx);
    set();
}

void SelectDataDir::setNextSet(int lastIdx)
{
    const int i = ui->SubDirs->currentIndex();
    if (i < lastIdx && i < ui->SubDirs->count() - 1) {
        ui->SubDirs->setCurrentIndex(i + 1);
        set();
    } else {
        emit noMoreSets();
    }
}

double SelectDataDir::currentEnergy() const
{
    const int i = ui->SubDirs->currentIndex();
    if (ui->isASRStd_->isChecked())
        return indexInFileSets(i) ? fileSets[i]->energyInEV() : 0.0;
    if (!indexInSubDirs(i))
        return 0.0;
    // In eV, like the I0 energies it is compared with: "7_120keV" is 7120.
    QString unit;
    const double e = energyOfName(subDirNames.at(i), &unit);
    return e * unitFactorOf(unit);
}

QString SelectDataDir::currentTag() const
{
    const int i = ui->SubDirs->currentIndex();
    if (ui->isASRStd_->isChecked())
        return indexInFileSets(i) ? fileSets[i]->energyText : QString();
    return indexInSubDirs(i) ? subDirNames.at(i) : QString();
}
