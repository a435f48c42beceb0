#include "select/select_dir.h"
#include "ui_select_dir.h"

#include "util/data_root.h"

#include <QFileDialog>

SelectDir::SelectDir(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectDir>())
    , dialogDir(dataRoot())
{
    ui->setupUi(this);
    // Room for a path of some depth; a longer one shows its end, where the
    // folder's own name stands, and the whole path in the tooltip.
    ui->SelectedDir->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 30);

    connect(ui->Select, &QPushButton::clicked, this, [this] { dialog()->show(); });
}

SelectDir::~SelectDir() = default;

QFileDialog *SelectDir::dialog() const
{
    if (!fileDialog) {
        fileDialog = std::make_unique<QFileDialog>();
        fileDialog->setOption(QFileDialog::DontUseNativeDialog);
        fileDialog->setAcceptMode(QFileDialog::AcceptOpen);
        fileDialog->setFileMode(QFileDialog::Directory);
        fileDialog->setOption(QFileDialog::ShowDirsOnly);
        fileDialog->setNameFilter("(*)");
        fileDialog->setDirectory(dialogDir);
        // The field is updated first so that receivers of aDirSelected already see it.
        connect(fileDialog.get(), &QFileDialog::fileSelected, this, &SelectDir::setDirName);
        connect(fileDialog.get(), &QFileDialog::fileSelected, this, &SelectDir::aDirSelected);
    }
    return fileDialog.get();
}

QString SelectDir::dirName() const { return ui->SelectedDir->text(); }

void SelectDir::setSelectText(const QString &text) { ui->Select->setText(text); }

void SelectDir::chooseDir(const QString &dir)
{
    if (fileDialog)
        fileDialog->setDirectory(dir);
    else
        dialogDir = dir;
    setDirName(dir);
    emit aDirSelected(dir);
}

void SelectDir::setDirName(const QString &dir)
{
    ui->SelectedDir->setText(dir);
    ui->SelectedDir->setCursorPosition(int(dir.size()));
    ui->SelectedDir->setToolTip(dir);
}
