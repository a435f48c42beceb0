#include "select/select_a_file.h"
#include "ui_select_a_file.h"

#include "util/data_root.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

SelectAFile::SelectAFile(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectAFile>())
    , dialogDir(dataRoot())
{
    ui->setupUi(this);
    ui->Name->hide();
    ui->AddTag->hide();
    setMode(OpenMode);

    connect(ui->Select, &QPushButton::clicked, this, [this] { dialog()->show(); });
    connect(ui->Clear, &QPushButton::clicked, this, &SelectAFile::clear0);
}

SelectAFile::~SelectAFile() = default;

QFileDialog *SelectAFile::dialog() const
{
    if (!fileDialog) {
        fileDialog = std::make_unique<QFileDialog>();
        fileDialog->setOption(QFileDialog::DontUseNativeDialog);
        fileDialog->setDirectory(dialogDir);
        applyMode();
        connect(fileDialog.get(), &QFileDialog::fileSelected, this, &SelectAFile::fileSelected0);
    }
    return fileDialog.get();
}

void SelectAFile::setMode(int m)
{
    selMode = m;
    if (fileDialog)
        applyMode();
}

void SelectAFile::applyMode() const
{
    const int m = selMode;
    if (m == OpenMode) {
        fileDialog->setAcceptMode(QFileDialog::AcceptOpen);
        fileDialog->setFileMode(QFileDialog::ExistingFile);
        fileDialog->setNameFilters({ tr("Img file (*.img)"), tr("Tiff file (*.tif *.tiff)"),
            tr("HDF5 file (*.h5 *.hdf5 *.hdf *.nxs)"), tr("Any file (* *.*)") });
    } else if (m == SaveMode) {
        fileDialog->setAcceptMode(QFileDialog::AcceptSave);
        fileDialog->setFileMode(QFileDialog::AnyFile);
        fileDialog->setNameFilters({ tr("Any file (* *.*)") });
    }
}

void SelectAFile::setPath(const QString &p)
{
    if (selMode == SaveMode && !p.isEmpty() && !QDir().mkpath(p))
        qDebug() << "Can't create directory :" << p;
    ui->FilePath->setText(p);
    // The end of a long path (the file name) stays in sight; all of it in the tooltip.
    ui->FilePath->setCursorPosition(int(p.size()));
    ui->FilePath->setToolTip(p);
}

QString SelectAFile::path() const { return ui->FilePath->text(); }

QString SelectAFile::name() const { return ui->Name->text(); }

void SelectAFile::setName(const QString &n) { ui->Name->setText(n); }

QString SelectAFile::addTag() const { return ui->AddTag->text(); }

void SelectAFile::setAddTag(const QString &t) { ui->AddTag->setText(t); }

void SelectAFile::setNameAndTagVisible(bool f)
{
    ui->Name->setVisible(f);
    ui->AddTag->setVisible(f);
}

void SelectAFile::setSelectText(const QString &text) { ui->Select->setText(text); }

void SelectAFile::setStat(bool f)
{
    ui->FilePath->setStyleSheet(
        f ? "background-color: rgb(211, 255, 241);" : "background-color: rgb(255, 192, 192);");
}

void SelectAFile::setStatWithReason(bool f, const QString &why)
{
    setStat(f);
    const QString p = ui->FilePath->text();
    ui->FilePath->setToolTip(f || why.isEmpty() ? p : p + QLatin1Char('\n') + why);
}

void SelectAFile::fileSelected0(const QString &fname)
{
    const QFileInfo info(fname);
    if (selMode == OpenMode)
        setPath(fname);
    else if (selMode == SaveMode)
        setPath(info.absolutePath());
    // The base name stops at the first dot: "a.b.img" gives "a".
    ui->Name->setText(info.baseName());
    emit fileSelected(fname);
}

void SelectAFile::clear0()
{
    setPath(QString());
    ui->Name->clear();
    emit clear();
}

QGridLayout *SelectAFile::rowLayout() const { return ui->gridLayout; }
