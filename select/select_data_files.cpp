#include "select/select_data_files.h"
#include "ui_select_data_files.h"

#include "display/number_field.h"
#include "util/data_root.h"
#include "util/trace_log.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace {
// More copies than any scan has projections: such a count is a typing error,
// and the list it asks for would not fit in memory.
constexpr int maxMultiTimes = 100000;
} // namespace

SelectDataFiles::SelectDataFiles(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectDataFiles>())
    , dialogDir(dataRoot())
{
    ui->setupUi(this);
    fitNumberField(ui->ExpTime, QStringLiteral("0.888888"));
    // Room for a file name; the box paints its entry elided in the middle.
    ui->Selected->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 20);
    ui->Selected->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    ui->Selected->installEventFilter(this);

    // The radio buttons are not exclusive by themselves; the group makes them so.
    newOrAdd = new QButtonGroup(this);
    newOrAdd->setExclusive(true);
    newOrAdd->addButton(ui->LoadNewFiles);
    newOrAdd->addButton(ui->AddFiles);

    connect(ui->Select, &QPushButton::clicked, this, [this] { dialog()->show(); });
    connect(ui->Clear, &QPushButton::clicked, this, &SelectDataFiles::clearFiles);
    connect(ui->Selected, qOverload<int>(&QComboBox::currentIndexChanged), this,
        &SelectDataFiles::currentIndexChanged);
    connect(ui->Selected, qOverload<int>(&QComboBox::currentIndexChanged), this,
        &SelectDataFiles::updateToolTip);
}

SelectDataFiles::~SelectDataFiles() = default;

QFileDialog *SelectDataFiles::dialog() const
{
    if (!fileDialog) {
        fileDialog = std::make_unique<QFileDialog>();
        fileDialog->setOption(QFileDialog::DontUseNativeDialog);
        fileDialog->setAcceptMode(QFileDialog::AcceptOpen);
        fileDialog->setFileMode(QFileDialog::ExistingFiles);
        fileDialog->setNameFilters({ tr("Itex File (*.img)"), tr("Tiff File (*.tif *.tiff)"),
            tr("HDF5 File (*.h5 *.hdf5 *.hdf *.nxs)"), tr("Any Files (* *.*)") });
        fileDialog->setDirectory(dialogDir);
        connect(fileDialog.get(), &QFileDialog::filesSelected, this, &SelectDataFiles::chosenFiles);
    }
    return fileDialog.get();
}

void SelectDataFiles::chosenFiles(const QStringList &files)
{
    setStat(true);
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

bool SelectDataFiles::isMultiTimes() const { return ui->LoadMultiTimes->isChecked(); }

void SelectDataFiles::setMultiTimes(bool on, int count)
{
    ui->LoadMultiTimes->setChecked(on);
    ui->MultiTimes->setText(QString::number(count));
}

bool SelectDataFiles::isNewOnLoad() const { return ui->LoadNewFiles->isChecked(); }

void SelectDataFiles::setNewOnLoad(bool f)
{
    if (f)
        ui->LoadNewFiles->setChecked(true);
    else
        ui->AddFiles->setChecked(true);
}

bool SelectDataFiles::keepConditions() const { return ui->KeepConditions->isChecked(); }

void SelectDataFiles::setKeepConditions(bool f) { ui->KeepConditions->setChecked(f); }

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
    updateToolTip();
}

QString SelectDataFiles::shownText(int width) const
{
    // The file name whole, the folder before it elided in its middle; a name
    // too long for the box alone is elided in its own middle.
    const QFontMetrics fm = ui->Selected->fontMetrics();
    const QString path = ui->Selected->currentText();
    if (fm.horizontalAdvance(path) <= width)
        return path;
    const QFileInfo info(path);
    const QString name = info.fileName();
    const QString folder = path.left(path.size() - name.size());
    const int room = width - fm.horizontalAdvance(name);
    if (folder.isEmpty() || room < fm.horizontalAdvance(QStringLiteral("/\u2026/")))
        return fm.elidedText(name, Qt::ElideMiddle, width);
    return fm.elidedText(folder, Qt::ElideMiddle, room) + name;
}

QString SelectDataFiles::toolTipText() const
{
    QStringList lines;
    if (!problem.isEmpty())
        lines << problem;
    const int n = ui->Selected->count();
    if (n > 0) {
        lines << ui->Selected->currentText();
        if (n > 1)
            lines << tr("%1 files: %2 ... %3")
                         .arg(QString::number(n), QFileInfo(ui->Selected->itemText(0)).fileName(),
                             QFileInfo(ui->Selected->itemText(n - 1)).fileName());
    }
    return lines.join(QLatin1Char('\n'));
}

void SelectDataFiles::updateToolTip() { ui->Selected->setToolTip(toolTipText()); }

void SelectDataFiles::setStat(bool ok, const QString &why)
{
    problem = ok ? QString() : (why.isEmpty() ? tr("Files were refused") : why);
    ui->Selected->setStyleSheet(
        ok ? QString() : QStringLiteral("background-color: rgb(255, 192, 192);"));
    updateToolTip();
}

bool SelectDataFiles::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->Selected && event->type() == QEvent::Paint) {
        // As the box paints itself, but with the path elided in the middle
        // instead of cut at the right, where the file name stands.
        QComboBox *box = ui->Selected;
        QStylePainter painter(box);
        QStyleOptionComboBox opt;
        opt.initFrom(box);
        opt.editable = false;
        opt.frame = box->hasFrame();
        opt.iconSize = box->iconSize();
        if (box->view() && box->view()->isVisible())
            opt.state |= QStyle::State_On;
        painter.drawComplexControl(QStyle::CC_ComboBox, opt);
        const QRect textRect = box->style()->subControlRect(
            QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, box);
        opt.currentText = shownText(textRect.width());
        painter.drawControl(QStyle::CE_ComboBoxLabel, opt);
        return true;
    }
    if (watched == ui->Selected && event->type() == QEvent::Resize)
        ui->Selected->update();
    return QFrame::eventFilter(watched, event);
}

QStringList SelectDataFiles::fileNames() const
{
    QStringList names;
    for (int i = 0; i < ui->Selected->count(); ++i)
        names << ui->Selected->itemText(i);
    return names;
}

int SelectDataFiles::count() const { return ui->Selected->count(); }

int SelectDataFiles::currentIndex() const { return ui->Selected->currentIndex(); }

void SelectDataFiles::setTitle(const QString &text) { ui->Title->setText(text); }

void SelectDataFiles::setSelectText(const QString &text) { ui->Select->setText(text); }

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

double SelectDataFiles::expTime() const { return ui->ExpTime->text().toDouble(); }

void SelectDataFiles::setSimpleMode(bool f)
{
    for (QWidget *w :
        { static_cast<QWidget *>(ui->LoadNewFiles), static_cast<QWidget *>(ui->AddFiles),
            static_cast<QWidget *>(ui->KeepConditions), static_cast<QWidget *>(ui->LoadMultiTimes),
            static_cast<QWidget *>(ui->MultiTimes), static_cast<QWidget *>(ui->SepLine) })
        w->setVisible(!f);
    if (f)
        ui->LoadNewFiles->setChecked(true);
}

void SelectDataFiles::setDialogDirAndSelect(const QString &dir, const QStringList &patterns)
{
    if (fileDialog)
        fileDialog->setDirectory(dir);
    else
        dialogDir = dir;
    selectFilesInDir(dir, patterns);
}

void SelectDataFiles::selectFilesInDir(const QString &dir, const QStringList &patterns)
{
    if (ui->LoadNewFiles->isChecked()) {
        clearFiles();
        qCDebug(vorloTrace) << "clear files"
                            << (fileDialog ? fileDialog->directory().absolutePath()
                                           : QDir(dialogDir).absolutePath());
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
