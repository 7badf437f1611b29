// The project's life cycle in the main window: new, open, save, save as, close,
// the recent-project list, dropped project files and the example projects.

#include "app/BX.h"
#include "ui_BX.h"

#include "control/KivDevicesDetection.h"
#include "design/BrxprjFile.h"
#include "design/ExampleProjects.h"
#include "design/MainDTModel.h"
#include "design/RecentProjects.h"
#include "design/SettingsDTModel.h"

#include <QAction>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QUndoStack>

namespace {

void warn(QWidget* parent, const QString& text)
{
    QMessageBox::warning(parent, BX::ProductName, text, QMessageBox::Ok);
}

} // namespace

void BX::setupProjectFile()
{
    m_brxprjFile = new BrxprjFile(m_mainDTModel, this);
    connect(m_brxprjFile, &BrxprjFile::generateProgress, this, &BX::onDesignProgressBar);

    for (QAction*& action : m_recentFileActions) {
        action = new QAction(this);
        action->setVisible(false);
        connect(action, &QAction::triggered, this, &BX::onActionOpenRecentFile);
        ui->menuOpenRecent->addAction(action);
    }
    ui->menuOpenRecent->addSeparator();
    m_clearRecentFilesAction = ui->menuOpenRecent->addAction(QIcon(":/images/images/icon_broom_48x48.png"),
                                                             tr("Clear History"));
    connect(m_clearRecentFilesAction, &QAction::triggered, this, &BX::onActionClearRecentFiles);

    connect(ui->actionNewProject, &QAction::triggered, this, &BX::onActionNewProject);
    connect(ui->actionOpenProject, &QAction::triggered, this, &BX::onOpenButtonClicked);
    connect(ui->actionSave, &QAction::triggered, this, [this] { onSaveButtonClicked(nullptr); });
    connect(ui->actionSaveAs, &QAction::triggered, this, [this] { onSaveAsButtonClicked(nullptr); });
    connect(ui->actionCloseProject, &QAction::triggered, this, [this] { onActionCloseProject(nullptr); });
    connect(ui->designDropArea, &DesignDropAreaWidget::brxprjFileDropped, this, &BX::onBrxprjFileDropped);
    connect(ui->savePath, &QLineEdit::editingFinished, this, &BX::onWorkingDirectoryChanged);

    updateRecentFileActions();
    onWorkingDirectoryChanged();
}

void BX::onWorkingDirectoryChanged()
{
    const QString dir = getFileConfigurationSavePath();
    if (!dir.isEmpty())
        ExampleProjects::install(dir);
    // An untitled project's path is read from the working directory each time; its title follows.
    if (m_currentFileProject.isEmpty() && isProjectOpen())
        onStackIndexChanged(m_mainDTModel->undoStack()->index());
}

void BX::updateDesignLocks()
{
    const bool connected = m_networkConnected;
    const bool free = !connected && !m_captureEditingLocked;
    for (QAction* action : {ui->actionNewProject, ui->actionNewWizardProject, ui->actionOpenProject})
        action->setEnabled(free);
    ui->actionCloseProject->setEnabled(free && isProjectOpen());
    bool recent = false;
    for (const QAction* action : m_recentFileActions)
        recent = recent || (action && action->isVisible());
    ui->menuOpenRecent->setEnabled(free && recent);
    const QUndoStack* stack = m_mainDTModel->undoStack();
    ui->actionUndo->setEnabled(!connected && stack->canUndo());
    ui->actionRedo->setEnabled(!connected && stack->canRedo());
    ui->designDropArea->setAcceptDrops(free);
}

bool BX::refuseWhileConnected()
{
    if (!m_networkConnected)
        return false;
    updateStatusBar(1, tr("A network 'Control' is in progress: <strong>Disconnect</strong> it before changing the project."));
    return true;
}

bool BX::isProjectOpen() const
{
    return m_mainDTModel->rowCount() > 0;
}

void BX::showDesignTreePage()
{
    ui->projectCentralStackedWidget->setCurrentIndex(0);
    ui->projectRightStackedWidget->setCurrentIndex(0);
    ui->designStackedWidget->setCurrentIndex(1);
    setProjectActionsEnabled(true);
}

void BX::onActionNewProject()
{
    if (refuseWhileConnected())
        return;
    int answer = QMessageBox::NoButton;
    onActionCloseProject(&answer);
    if (answer == QMessageBox::Cancel)
        return;
    m_mainDTModel->dropItem(QStringLiteral("Network"), QModelIndex());
    showDesignTreePage();
}

void BX::onOpenButtonClicked()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open Brantix Project"), getFileConfigurationSavePath(),
                                                      tr("Project (*.brxprj)"));
    loadFileProject(path);
}

void BX::setImportConnections(bool connected)
{
    QUndoStack* stack = m_mainDTModel->undoStack();
    if (connected) {
        connect(m_settingsDTModel, &QStandardItemModel::itemChanged, this, &BX::onSettingsDTViewItemChanged,
                Qt::UniqueConnection);
        connect(m_mainDTModel, &MainDTModel::indexFocused, this, &BX::onIndexFocused, Qt::UniqueConnection);
        connect(stack, &QUndoStack::indexChanged, this, &BX::onStackIndexChanged, Qt::UniqueConnection);
    } else {
        disconnect(m_settingsDTModel, &QStandardItemModel::itemChanged, this, &BX::onSettingsDTViewItemChanged);
        disconnect(m_mainDTModel, &MainDTModel::indexFocused, this, &BX::onIndexFocused);
        disconnect(stack, &QUndoStack::indexChanged, this, &BX::onStackIndexChanged);
    }
}

void BX::loadFileProject(QString path)
{
    if (path.isEmpty() || refuseWhileConnected())
        return;
    if (isProjectOpen()) {
        int answer = QMessageBox::NoButton;
        onActionCloseProject(&answer);
        if (answer == QMessageBox::Cancel)
            return;
    }

    setImportConnections(false);
    if (!m_brxprjFile->load(path)) {
        const QString reason = m_brxprjFile->errorString();
        warn(this, tr("Impossible to load from the file.") + (reason.isEmpty() ? QString() : QLatin1Char('\n') + reason));
        m_mainDTModel->undoStack()->clear(); // what the import did is not the user's to save
        onActionCloseProject(nullptr);
        ui->designStackedWidget->setCurrentIndex(0);
        setImportConnections(true);
        onIndexFocused(m_mainDTModel->index(0, 0));
        return;
    }

    setCurrentFileProject(path, true);
    setWindowTitle(OrganizationName + " " + ProductName + " - " + path);
    m_mainDTModel->updateInternalData();
    m_mainDTModel->updateAllStationFilePaths();
    const QModelIndexList stations = m_mainDTModel->getStationIndexes();
    for (const QModelIndex& station : stations)
        m_mainDTModel->setDataWithoutControl(station.sibling(station.row(), MainDTModel::ColFipDevice),
                                             MainDTModel::BindADevice);
    m_mainDTModel->refreshLayout();
    updateBuildXMLButton();
    ui->mainDTView->expandAll();
    ui->mainDTView->resizeColumnToContents(0);
    showDesignTreePage();
    ui->mainDTView->sortByColumn(0, Qt::AscendingOrder);
    setImportConnections(true);
    const QModelIndex network = m_mainDTModel->index(0, 0);
    ui->mainDTView->setCurrentIndex(network);
    onIndexFocused(network);
}

void BX::onSaveButtonClicked(bool* done)
{
    if (done)
        *done = false;
    if (m_currentFileProject.isEmpty()) {
        onSaveAsButtonClicked(done);
        return;
    }
    writeProject(m_currentFileProject, done);
}

void BX::onSaveAsButtonClicked(bool* done)
{
    if (done)
        *done = false;
    const QString proposed = currentFileProject();
    const QString path = QFileDialog::getSaveFileName(this, tr("Save File"), proposed, tr("Project (*.brxprj)"));
    saveProjectAs(path, done);
}

void BX::saveProjectAs(const QString& path, bool* done)
{
    if (done)
        *done = false;
    if (path.isEmpty())
        return;
    if (path == untitledFileProject()) {
        warn(this, tr("Incorrect project name. Choose another name."));
        return;
    }
    writeProject(path, done);
}

void BX::writeProject(const QString& path, bool* done)
{
    // Board scanning pauses while the file is written (it is already off while connected).
    const bool wasScanning = m_devicesDetection && m_devicesDetection->isScanning();
    setDevicesScanning(false);
    const bool saved = m_brxprjFile->save(path);
    if (wasScanning)
        setDevicesScanning(true);
    if (!saved) {
        warn(this, tr("Impossible to save the project."));
        return;
    }
    setCurrentFileProject(path, false);
    if (done)
        *done = true;
}

void BX::onActionCloseProject(int* answer)
{
    if (refuseWhileConnected()) {
        if (answer)
            *answer = QMessageBox::Cancel;
        return;
    }
    if (isModified()) {
        QMessageBox box(QMessageBox::Question, tr("Saving"),
                        tr("Do you want to save the current project before closing it ?"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
        box.setWindowIcon(windowIcon());
        box.setInformativeText(tr("Changes will be lost if you don't save it."));
        box.setDefaultButton(QMessageBox::Yes);
        const int pressed = box.exec();
        if (answer)
            *answer = pressed;
        if (pressed == QMessageBox::Cancel)
            return;
        if (pressed == QMessageBox::Yes) {
            bool saved = false;
            onSaveButtonClicked(&saved);
            if (!saved) {
                if (answer)
                    *answer = QMessageBox::Cancel;
                return;
            }
        }
    }

    m_settingsDTModel->clearNode();
    m_settingsDTModel->applyRowVisibility(ui->settingsDTView);
    m_mainDTModel->undoStack()->clear();
    m_mainDTModel->clear();
    updateBuildXMLButton();

    m_currentFileProject.clear();
    setWindowTitle(OrganizationName + " " + ProductName + " - " + currentFileProject());
    ui->designStackedWidget->setCurrentIndex(0);
    setProjectActionsEnabled(false);
}

void BX::updateRecentFileActions()
{
    QSettings settings(OrganizationName, ProductName);
    const QStringList files = RecentProjects(settings).files();
    ui->menuOpenRecent->setEnabled(!files.isEmpty() && !m_networkConnected && !m_captureEditingLocked);
    for (int i = 0; i < RecentProjects::MaxCount; ++i) {
        QAction* action = m_recentFileActions[i];
        if (i < files.size()) {
            action->setText(RecentProjects::actionText(files.at(i)));
            action->setData(files.at(i));
            action->setShortcut(RecentProjects::shortcut(i));
            action->setVisible(true);
        } else {
            action->setVisible(false);
        }
    }
}

void BX::onActionOpenRecentFile()
{
    if (auto* action = qobject_cast<QAction*>(sender()))
        loadFileProject(action->data().toString());
}

void BX::onActionClearRecentFiles()
{
    QSettings settings(OrganizationName, ProductName);
    RecentProjects(settings).clear();
    updateRecentFileActions();
}

void BX::onBrxprjFileDropped(QString path)
{
    if (path.isEmpty())
        return;
#ifdef Q_OS_WIN
    path.remove(0, 1); // the "/" before the drive letter of a local URL path
#endif
    loadFileProject(path);
}
