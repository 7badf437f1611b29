// The station configuration files in the main window: the build button and action,
// the cleaning question, and the working directory chooser.

#include "app/BX.h"
#include "ui_BX.h"

#include "design/MainDTModel.h"
#include "design/StationConfigurationExport.h"

#include <QAction>
#include <QFileDialog>

void BX::setupStationExport()
{
    connect(ui->actionBuildStationsConf, &QAction::triggered, this, &BX::onBuildButtonClicked);
    connect(ui->savePathButton, &QPushButton::clicked, this, &BX::onSavePathButtonClicked);
}

void BX::onBuildButtonClicked()
{
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Build Configurations"), getFileConfigurationSavePath(),
                                                          QFileDialog::ShowDirsOnly);
    if (dir.isEmpty())
        return;
    buildAndSaveStationFiles(dir, true);
}

bool BX::buildAndSaveStationFiles(QString dir, bool askBeforeDeleting)
{
    ui->designProgressBar->setValue(0);
    StationConfigurationExport exporter(m_mainDTModel);
    const bool go = exporter.prepare(dir, askBeforeDeleting,
                                     [this](const QString& target) { return StationConfigurationExport::askCleaning(this, target); });
    if (!go)
        return false;
    // Nothing starts a second build while the files are written and events still run.
    for (QAction* action : { ui->actionBuildStationsConf, ui->actionAutoBindDevices, ui->actionUnbindAllDevices })
        action->setEnabled(false);
    ui->buildButton->setEnabled(false);
    m_mainDTModel->generateStationXML(dir);
    updateBuildXMLButton();
    return true;
}

void BX::onSavePathButtonClicked()
{
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Working Directory"), getFileConfigurationSavePath(),
                                                          QFileDialog::ShowDirsOnly);
    if (dir.isEmpty() || dir == getFileConfigurationSavePath())
        return;
    ui->savePath->setText(dir);
    onWorkingDirectoryChanged();
    // The stations' file paths name the files a build there writes.
    m_mainDTModel->updateAllStationFilePaths();
}
