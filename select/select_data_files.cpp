#include "select/select_data_files.h"
#include "ui_select_data_files.h"

#include "util/data_root.h"

#include <QButtonGroup>
#include <QDebug>
#include <QDir>
#include <QFileDialog>

namespace {
// More copies than any scan has projections: such a count is a typing error,
// and the list it asks for would not fit in memory.
constexpr int maxMultiTimes = 100000;
} // namespace

SelectDataFiles::SelectDataFiles(QWidget *parent)
    : QFrame(parent), ui(std::make_unique<Ui::SelectDataFiles>()), fileDialog(std::make_unique<QFileDialog>())
{
    ui->setupUi(this);

    // The radio buttons are not exclusive by themselves; the group makes them so.
    newOrAdd = new QButtonGroup(this);
    newOrAdd->setExclusive(true);
    newOrAdd->addButton(ui->LoadNewFiles);
    newOrAdd->addButton(ui->AddFiles);

    fileDialog->setOption(QFileDialog::DontUseNativeDialog);
    fileDialog->setAcceptMode(QFileDialog::AcceptOpen);
    fileDialog->setFileMode(QFileDialog::ExistingFiles);
    fileDialog->setNameFilters(
        {tr("Itex File (*.img)"), tr("Tiff File (*.tif *.tiff)"), tr("Any Files (* *.*)")});
    fileDialog->setDirectory(dataRoot());

    connect(ui->Select, &QPushButton::clicked, fileDialog.get(), &QFileDialog::show);
    connect(fileDialog.get(), &QFileDialog::filesSelected, this, &SelectDataFiles::chosenFiles);
    connect(ui->Clear, &QPushButton::clicked, this, &SelectDataFiles::clearFiles);
    connect(ui->Selected, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &SelectDataFiles::currentIndexChanged);
}

SelectDataFiles::~SelectDataFiles() = default;

void SelectDataFiles::chosenFiles(const QStringList &files)
{
    const bool newFile = ui->LoadNewFiles->isChecked();
    if (newFile)
        clearFiles();
    if (ui->LoadMultiTimes->isChecked() && !files.isEmpty()) {
        // The same projection read again and again, e.g. to test the
        // reconstruction with a stack of identical images.
        QStringList repeated;
        const int n = multiTimesCount();
        repeated.reserve(qMax(n, 0));
        for (int i = 0; i < n; ++i)
            repeated << files.first();
        emit filesSelected(repeated, newFile);
        return;
    }
    emit filesSelected(files, newFile);
}

int SelectDataFiles::multiTimesCount() const
{
    bool ok = false;
    const int n = ui->MultiTimes->text().toInt(&ok, 10);
    if (!ok)
        return 0;
    if (n > maxMultiTimes) {
        qDebug() << "Too many multi-times copies :" << n;
        return 0;
    }
    return n;
}

bool SelectDataFiles::isMultiTimes() const
{
    return ui->LoadMultiTimes->isChecked();
}

void SelectDataFiles::setMultiTimes(bool on, int count)
{
    ui->LoadMultiTimes->setChecked(on);
    ui->MultiTimes->setText(QString::number(count));
}

bool SelectDataFiles::isNewOnLoad() const
{
    return ui->LoadNewFiles->isChecked();
}

void SelectDataFiles::setNewOnLoad(bool f)
{
    if (f)
        ui->LoadNewFiles->setChecked(true);
    else
        ui->AddFiles->setChecked(true);
}

bool SelectDataFiles::keepConditions() const
{
    return ui->KeepConditions->isChecked();
}

void SelectDataFiles::setKeepConditions(bool f)
{
    ui->KeepConditions->setChecked(f);
}

void SelectDataFiles::clearFiles()
{
    ui->Selected->clear();
    updateCount();
    emit filesCleared();
}

void SelectDataFiles::addFileName(const QString &fname)
{
    ui->Selected->addItem(fname);
    updateCount();
}

void SelectDataFiles::updateCount()
{
    ui->Count->setText(QString::number(ui->Selected->count()));
}

QStringList SelectDataFiles::fileNames() const
{
    QStringList names;
    for (int i = 0; i < ui->Selected->count(); ++i)
        names << ui->Selected->itemText(i);
    return names;
}

int SelectDataFiles::count() const
{
    return ui->Selected->count();
}

int SelectDataFiles::currentIndex() const
{
    return ui->Selected->currentIndex();
}

void SelectDataFiles::setTitle(const QString &text)
{
    ui->Title->setText(text);
}

void SelectDataFiles::setSelectText(const QString &text)
{
    ui->Select->setText(text);
}

void SelectDataFiles::prev()
{
    const int i = ui->Selected->currentIndex();
    if (i > 0)
        ui->Selected->setCurrentIndex(i - 1);
}

void SelectDataFiles::next()
{
    const int i = ui->Selected->currentIndex();
    if (i < ui->Selected->count() - 1)
        ui->Selected->setCurrentIndex(i + 1);
}

void SelectDataFiles::select(int idx)
{
    if (idx >= 0 && idx < ui->Selected->count())
        ui->Selected->setCurrentIndex(idx);
}

void SelectDataFiles::setExpTime(double time)
{
    ui->ExpTime->setText(QString::number(time, 'g', 6));
}

double SelectDataFiles::expTime() const
{
    return ui->ExpTime->text().toDouble();
}

void SelectDataFiles::setSimpleMode(bool f)
{
    for (QWidget *w : {static_cast<QWidget *>(ui->LoadNewFiles), static_cast<QWidget *>(ui->AddFiles),
                       static_cast<QWidget *>(ui->KeepConditions),
                       static_cast<QWidget *>(ui->LoadMultiTimes),
                       static_cast<QWidget *>(ui->MultiTimes), static_cast<QWidget *>(ui->SepLine)})
        w->setVisible(!f);
    if (f)
        ui->LoadNewFiles->setChecked(true);
}

void SelectDataFiles::setDialogDirAndSelect(const QString &dir, const QStringList &patterns)
{
    fileDialog->setDirectory(dir);
    selectFilesInDir(dir, patterns);
}

void SelectDataFiles::selectFilesInDir(const QString &dir, const QStringList &patterns)
{
    if (ui->LoadNewFiles->isChecked()) {
        clearFiles();
        qDebug() << "clear files" << fileDialog->directory().absolutePath();
    }
    // Only files: "." and ".." and sub-directories match a pattern such as "*"
    // but are not images, and the first one would be the multi-times file.
    const QDir d(dir);
    const QStringList names = d.entryList(patterns, QDir::Files, QDir::Name | QDir::IgnoreCase);
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &name : names)
        paths << d.absoluteFilePath(name);
    chosenFiles(paths);
}

void SelectDataFiles::selectFileInfos(const QFileInfoList &list)
{
    QStringList paths;
    paths.reserve(list.size());
    for (const QFileInfo &info : list)
        paths << info.filePath();
    chosenFiles(paths);
}
