// The window's options kept between runs: reading them into the widgets at start,
// writing them back at close, restoring the defaults, and the option handlers that
// keep dependent widgets enabled or disabled.

#include "app/BX.h"
#include "ui_BX.h"

#include "analysis/ControlTable.h"
#include "shell/BXSettings.h"
#include "shell/SettingsFileCheck.h"

#include <QButtonGroup>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>

namespace {

const char* const SplitterSections[] = { "plandor/splitter/size/section0", "plandor/splitter/size/section1",
                                         "plandor/splitter/size/section2" };

void setComboIndex(QComboBox* combo, int index)
{
    // An index the list does not have leaves the choice as it is.
    if (index >= 0 && index < combo->count())
        combo->setCurrentIndex(index);
}

/// Shows or hides only on a change: showing a child of a window not yet shown lays the
/// window out at its minimum size.
void setShown(QWidget* widget, bool shown)
{
    if (widget->isHidden() == shown)
        widget->setVisible(shown);
}

void setRadioPair(QRadioButton* yes, QRadioButton* no, bool value)
{
    yes->setChecked(value);
    no->setChecked(!value);
}

/// How a view's columns are sized when the store holds no header state.
enum class DefaultWidths {
    Contents,        ///< to contents
    AtLeastContents  ///< to contents once styled (fitDefaultColumns), never below the preset widths
};

/// Columns shown and hidden when the store holds no header state of a view.
void applyDefaultColumns(QHeaderView* header, const QList<int>& hidden, DefaultWidths widths)
{
    for (int column = 0; column < header->count(); ++column)
        header->setSectionHidden(column, hidden.contains(column));
    if (widths == DefaultWidths::Contents)
        header->resizeSections(QHeaderView::ResizeToContents);
}

/// False when the store held the header's state.
bool applyHeader(const BXSettings& settings, const char* key, QHeaderView* header, const QList<int>& hidden,
                 DefaultWidths widths)
{
    if (settings.has(QLatin1String(key))) {
        header->restoreState(settings.bytes(QLatin1String(key)));
        return false;
    }
    applyDefaultColumns(header, hidden, widths);
    return true;
}

/// Widens every section to what its styled header text needs; an empty view's
/// contents are its header, and the preset widths already fit the decoder's texts.
void widenToHeaders(QHeaderView* header)
{
    header->ensurePolished();
    for (int column = 0; column < header->count(); ++column)
        header->resizeSection(column, std::max(header->sectionSize(column), header->sectionSizeHint(column)));
}

QList<int> range(int first, int last)
{
    QList<int> list;
    for (int i = first; i <= last; ++i)
        list << i;
    return list;
}

} // namespace

void BX::setupOptionPages()
{
    // Each yes/no pair is exclusive on its own, not with the other buttons of its box.
    const QList<QPair<QRadioButton*, QRadioButton*>> pairs = {
        { ui->localLocation, ui->serverLocation },
        { ui->tcpRemote, ui->udpRemote },
        { ui->fixedIdPadding, ui->presenceIdsPadding },
        { ui->paddingAutoDetectYes, ui->paddingAutoDetectNo },
        { ui->paddingVisibleYes, ui->paddingVisibleNo },
        { ui->macroDetectYes, ui->macroDetectNo },
        { ui->backupYes, ui->backupNo },
        { ui->backupSizeLimit, ui->backupTimeLimit },
        { ui->backupTimeStampedYes, ui->backupTimeStampedNo },
        { ui->logErrorsYes, ui->logErrorsNo },
    };
    for (const auto& pair : pairs) {
        auto* group = new QButtonGroup(this);
        group->addButton(pair.first);
        group->addButton(pair.second);
    }

    connect(ui->localLocation, &QRadioButton::toggled, this, &BX::onLocalLocationButtonToggled);
    connect(ui->tcpRemote, &QRadioButton::toggled, this, &BX::onTcpRemoteButtonToggled);
    connect(ui->fixedIdPadding, &QRadioButton::toggled, this, &BX::onFixedIdPaddingButtonToggled);
    connect(ui->macroDetectYes, &QRadioButton::toggled, this, &BX::onMacroDetectYesButtonToggled);
    connect(ui->backupYes, &QRadioButton::toggled, this, &BX::onBackupYesButtonToggled);
    connect(ui->backupSizeLimit, &QRadioButton::toggled, this, &BX::onBackupSizeLimitButtonToggled);
    connect(ui->oscilloCtrl, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &BX::onOscilloCtrlChanged);
    connect(ui->osIPAddress, &QLineEdit::editingFinished, this, &BX::onIpAddressEditingFinished);
    connect(ui->fileReceptionDirButton, &QPushButton::clicked, this, &BX::onFileReceptionDirButtonClicked);
    connect(ui->backupRepositoryButton, &QPushButton::clicked, this, &BX::onBackupRepositoryButtonClicked);
    connect(ui->restoreButton, &QPushButton::clicked, this, &BX::onRestoreButtonClicked);

    connect(ui->feedbackBrowseButton, &QPushButton::clicked, this, &BX::onFeedbackBrowseClicked);
    connect(ui->feedbackSubmitButton, &QPushButton::clicked, this, &BX::onFeedbackSubmitClicked);
    connect(ui->optionContactUsButton, &QPushButton::toggled, this, [this](bool checked) {
        if (checked) {
            ui->optionAboutButton->setChecked(false);
            clearFeedbackForm();
        }
    });
}

QString BX::getDefaultDirectory() const
{
    const BXSettings::Key* key = BXSettings::findKey(QStringLiteral("plandor/parameters/lineedit/savepath"));
    return key ? key->defaultValue.toString() : QString();
}

void BX::readSettings()
{
    BXSettings settings;
    {
        QSettings store(OrganizationName, ProductName);
        settings.read(store);
    }
    const auto has = [&settings](const char* key) { return settings.has(QLatin1String(key)); };
    const auto flag = [&settings](const char* key) { return settings.boolValue(QLatin1String(key)); };
    const auto number = [&settings](const char* key) { return settings.intValue(QLatin1String(key)); };
    const auto text = [&settings](const char* key) { return settings.text(QLatin1String(key)); };
    const auto bytes = [&settings](const char* key) { return settings.bytes(QLatin1String(key)); };

    // Layout
    if (has("geometry"))
        restoreGeometry(bytes("geometry"));
    if (has("state"))
        restoreState(bytes("state"), 0);
    if (has("plandor/splitter/geometry"))
        ui->designSplitter->restoreGeometry(bytes("plandor/splitter/geometry"));
    if (has("plandor/splitter/state"))
        ui->designSplitter->restoreState(bytes("plandor/splitter/state"));
    if (has("ostrak/splitter/mnemosgraphs/geometry"))
        ui->mnemosGraphsSplitter->restoreGeometry(bytes("ostrak/splitter/mnemosgraphs/geometry"));
    if (has("ostrak/splitter/mnemosgraphs/state"))
        ui->mnemosGraphsSplitter->restoreState(bytes("ostrak/splitter/mnemosgraphs/state"));
    setShown(ui->itemBoxPanelWidget, !flag("plandor/itemboxpanelwidget/hidden"));
    setShown(ui->overviewPanelWidget, !flag("plandor/overviewpanelwidget/hidden"));
    setShown(ui->itemEditorPanelWidget, !flag("plandor/itemeditorpanelwidget/hidden"));
    setShown(ui->itemControllerPanelWidget, !flag("plandor/itemcontrollerpanelwidget/hidden"));
    setShown(ui->projectRightStackedWidget, !flag("plandor/projectrightstackedwidget/hidden"));
    // The frame table and the transaction tree are sized to contents once, while
    // they are empty (a resize mode would read every row of a long trace), and
    // keep at least the widths that fit the decoder's texts.
    QList<int> frameHidden = range(3, 5) + range(15, 19);
    m_fitDefaultColumns = applyHeader(settings, "ostrak/mainatview/columns", ui->mainATView->horizontalHeader(),
                                      frameHidden, DefaultWidths::AtLeastContents);
    m_fitDefaultColumns = applyHeader(settings, "ostrak/transactionatview/columns", ui->transactionATView->header(),
                                      { 14 }, DefaultWidths::AtLeastContents)
        || m_fitDefaultColumns;
    applyHeader(settings, "ostrak/mnemosatview/columns", ui->mnemosATView->header(), QList<int>{ 2, 3, 5, 6, 7, 11 },
                DefaultWidths::Contents);
    applyHeader(settings, "plandor/mainctview/columns", ui->mainCTView->header(), controlTreeHiddenColumns(),
                DefaultWidths::Contents);
    const bool topShown = !flag("topbar/hidden");
    const bool leftShown = !flag("leftbar/hidden");
    const bool bottomShown = !flag("bottombar/hidden");
    setShown(m_topToolBar, topShown);
    ui->actionShowInfoBar->setChecked(topShown);
    setShown(m_leftToolBar, leftShown);
    ui->actionShowSideBar->setChecked(leftShown);
    setShown(statusBar(), bottomShown);
    ui->actionShowStatusBar->setChecked(bottomShown);
    rebalanceDesignSplitter();
    if (has(SplitterSections[0]) && has(SplitterSections[1]) && has(SplitterSections[2]))
        ui->designSplitter->setSizes({ number(SplitterSections[0]), number(SplitterSections[1]),
                                       number(SplitterSections[2]) });

    // Paths
    ui->savePath->setText(text("plandor/parameters/lineedit/savepath"));
    onSavePathTextChanged(ui->savePath->text());
    ui->fileReceptionDir->setText(text("plandor/parameters/lineedit/filereceptiondir"));
    if (has("ostrak/parameters/lineedit/backuprepository"))
        ui->backupRepository->setText(text("ostrak/parameters/lineedit/backuprepository"));

    // Capture card and analysis
    setRadioPair(ui->localLocation, ui->serverLocation, flag("ostrak/parameters/radiobutton/locallocation"));
    onLocalLocationButtonToggled(ui->localLocation->isChecked());
    setRadioPair(ui->tcpRemote, ui->udpRemote, flag("ostrak/parameters/radiobutton/tcpremote"));
    onTcpRemoteButtonToggled(ui->tcpRemote->isChecked());
    ui->osIPAddress->setText(text("ostrak/parameters/lineedit/osipaddress"));
    ui->osPortNumber->setValue(number("ostrak/parameters/spinbox/osportnumber"));
    setRadioPair(ui->fixedIdPadding, ui->presenceIdsPadding, flag("ostrak/parameters/radiobutton/fixedidpadding"));
    onFixedIdPaddingButtonToggled(ui->fixedIdPadding->isChecked());
    ui->paddingIdentifier->setText(text("ostrak/parameters/lineedit/paddingidentifier"));
    setRadioPair(ui->paddingAutoDetectYes, ui->paddingAutoDetectNo,
                 flag("ostrak/parameters/radiobutton/paddingautodetectyes"));
    setRadioPair(ui->paddingVisibleYes, ui->paddingVisibleNo, flag("ostrak/parameters/radiobutton/paddingvisibleyes"));
    setRadioPair(ui->macroDetectYes, ui->macroDetectNo, flag("ostrak/parameters/radiobutton/macrodetectyes"));
    onMacroDetectYesButtonToggled(ui->macroDetectYes->isChecked());
    ui->macroMaxSlicesValue->setText(text("ostrak/parameters/lineedit/macromaxslicesvalue"));
    ui->macroSamplingPeriodValue->setText(text("ostrak/parameters/lineedit/macrosamplingperiodvalue"));
    setRadioPair(ui->backupYes, ui->backupNo, flag("ostrak/parameters/radiobutton/backupyes"));
    setComboIndex(ui->backupFileType, number("ostrak/parameters/combobox/backupfiletype"));
    setRadioPair(ui->backupSizeLimit, ui->backupTimeLimit, flag("ostrak/parameters/radiobutton/backupsizelimit"));
    ui->backupSizeLimitValue->setText(text("ostrak/parameters/lineedit/backupsizelimitvalue"));
    setComboIndex(ui->backupSizeLimitUnit, number("ostrak/parameters/combobox/backupsizelimitunit"));
    setComboIndex(ui->backupTimeLimitJValue, number("ostrak/parameters/combobox/backuptimelimitjvalue"));
    setComboIndex(ui->backupTimeLimitHValue, number("ostrak/parameters/combobox/backuptimelimithvalue"));
    setComboIndex(ui->backupTimeLimitMValue, number("ostrak/parameters/combobox/backuptimelimitmvalue"));
    setComboIndex(ui->backupTimeLimitSValue, number("ostrak/parameters/combobox/backuptimelimitsvalue"));
    onBackupYesButtonToggled(ui->backupYes->isChecked());
    setRadioPair(ui->backupTimeStampedYes, ui->backupTimeStampedNo,
                 flag("ostrak/parameters/radiobutton/backuptimestampedyes"));
    setRadioPair(ui->logErrorsYes, ui->logErrorsNo, flag("ostrak/parameters/radiobutton/logerrorsyes"));
    ui->oscilloIdentifier->setText(text("ostrak/parameters/lineedit/oscilloidentifier"));
    ui->oscilloDelay->setValue(number("ostrak/parameters/spinbox/oscillodelay"));
    setComboIndex(ui->oscilloCtrl, number("ostrak/parameters/combobox/oscilloctrl"));
    onOscilloCtrlChanged(ui->oscilloCtrl->currentIndex());
    ui->depthAnalysisSlider->setValue(number("ostrak/parameters/slider/depthanalysisslider"));
    onDepthAnalysisSliderValueChanged(ui->depthAnalysisSlider->value());

    // Colours: one key per control, even where one button stands for several.
    for (quint8 code : BXSettings::colorCodes())
        m_controlTable->setControlColor(code, settings.color(BXSettings::colorKey(code)));
    updateButtonsColor();
    // At start-up the style sheet comes later, and the constructor fits the columns then.
    if (!styleSheet().isEmpty())
        fitDefaultColumns();
}

void BX::fitDefaultColumns()
{
    if (!m_fitDefaultColumns)
        return;
    m_fitDefaultColumns = false;
    widenToHeaders(ui->mainATView->horizontalHeader());
    widenToHeaders(ui->transactionATView->header());
}

void BX::writeSettings()
{
    BXSettings settings;
    const auto set = [&settings](const char* key, const QVariant& value) { settings.setValue(QLatin1String(key), value); };

    // Layout
    set("geometry", saveGeometry());
    set("state", saveState(0));
    set("plandor/splitter/geometry", ui->designSplitter->saveGeometry());
    set("plandor/splitter/state", ui->designSplitter->saveState());
    set("ostrak/splitter/mnemosgraphs/geometry", ui->mnemosGraphsSplitter->saveGeometry());
    set("ostrak/splitter/mnemosgraphs/state", ui->mnemosGraphsSplitter->saveState());
    set("plandor/itemboxpanelwidget/hidden", ui->itemBoxPanelWidget->isHidden());
    set("plandor/overviewpanelwidget/hidden", ui->overviewPanelWidget->isHidden());
    set("plandor/itemeditorpanelwidget/hidden", ui->itemEditorPanelWidget->isHidden());
    set("plandor/itemcontrollerpanelwidget/hidden", ui->itemControllerPanelWidget->isHidden());
    set("plandor/projectrightstackedwidget/hidden", ui->projectRightStackedWidget->isHidden());
    set("ostrak/mainatview/columns", ui->mainATView->horizontalHeader()->saveState());
    set("ostrak/transactionatview/columns", ui->transactionATView->header()->saveState());
    set("ostrak/mnemosatview/columns", ui->mnemosATView->header()->saveState());
    set("plandor/mainctview/columns", ui->mainCTView->header()->saveState());
    set("topbar/hidden", m_topToolBar->isHidden());
    set("leftbar/hidden", m_leftToolBar->isHidden());
    set("bottombar/hidden", statusBar()->isHidden());
    const QList<int> sizes = ui->designSplitter->sizes();
    for (int i = 0; i < 3; ++i)
        set(SplitterSections[i], i < sizes.size() ? sizes.at(i) : 0);

    // Paths
    set("plandor/parameters/lineedit/savepath", ui->savePath->text());
    set("plandor/parameters/lineedit/filereceptiondir", ui->fileReceptionDir->text());
    set("ostrak/parameters/lineedit/backuprepository", ui->backupRepository->text());

    // Capture card and analysis
    set("ostrak/parameters/radiobutton/locallocation", ui->localLocation->isChecked());
    set("ostrak/parameters/radiobutton/tcpremote", ui->tcpRemote->isChecked());
    set("ostrak/parameters/lineedit/osipaddress", ui->osIPAddress->text());
    set("ostrak/parameters/spinbox/osportnumber", ui->osPortNumber->value());
    set("ostrak/parameters/radiobutton/fixedidpadding", ui->fixedIdPadding->isChecked());
    set("ostrak/parameters/lineedit/paddingidentifier", ui->paddingIdentifier->text());
    set("ostrak/parameters/radiobutton/paddingautodetectyes", ui->paddingAutoDetectYes->isChecked());
    set("ostrak/parameters/radiobutton/paddingvisibleyes", ui->paddingVisibleYes->isChecked());
    set("ostrak/parameters/radiobutton/macrodetectyes", ui->macroDetectYes->isChecked());
    set("ostrak/parameters/lineedit/macromaxslicesvalue", ui->macroMaxSlicesValue->text());
    set("ostrak/parameters/lineedit/macrosamplingperiodvalue", ui->macroSamplingPeriodValue->text());
    set("ostrak/parameters/radiobutton/backupyes", ui->backupYes->isChecked());
    set("ostrak/parameters/combobox/backupfiletype", ui->backupFileType->currentIndex());
    set("ostrak/parameters/radiobutton/backupsizelimit", ui->backupSizeLimit->isChecked());
    set("ostrak/parameters/lineedit/backupsizelimitvalue", ui->backupSizeLimitValue->text());
    set("ostrak/parameters/combobox/backupsizelimitunit", ui->backupSizeLimitUnit->currentIndex());
    set("ostrak/parameters/combobox/backuptimelimitjvalue", ui->backupTimeLimitJValue->currentIndex());
    set("ostrak/parameters/combobox/backuptimelimithvalue", ui->backupTimeLimitHValue->currentIndex());
    set("ostrak/parameters/combobox/backuptimelimitmvalue", ui->backupTimeLimitMValue->currentIndex());
    set("ostrak/parameters/combobox/backuptimelimitsvalue", ui->backupTimeLimitSValue->currentIndex());
    set("ostrak/parameters/radiobutton/backuptimestampedyes", ui->backupTimeStampedYes->isChecked());
    set("ostrak/parameters/radiobutton/logerrorsyes", ui->logErrorsYes->isChecked());
    set("ostrak/parameters/lineedit/oscilloidentifier", ui->oscilloIdentifier->text());
    set("ostrak/parameters/spinbox/oscillodelay", ui->oscilloDelay->value());
    set("ostrak/parameters/combobox/oscilloctrl", ui->oscilloCtrl->currentIndex());
    set("ostrak/parameters/slider/depthanalysisslider", ui->depthAnalysisSlider->value());

    for (quint8 code : BXSettings::colorCodes())
        settings.setValue(BXSettings::colorKey(code), m_controlTable->getControlColor(code));

    QSettings store(OrganizationName, ProductName);
    settings.write(store);
}

void BX::reportSettingsCheck(const SettingsFileCheck::Result& check)
{
    if (!check.error.isEmpty())
        updateStatusBar(2, tr("The settings file holds unreadable values and could not be set right: %1").arg(check.error));
    else if (!check.setAside.isEmpty())
        updateStatusBar(1, tr("Unreadable settings were set aside (%1); the file as it was is kept as %2")
                               .arg(check.setAside.join(QStringLiteral(", ")), QDir::toNativeSeparators(check.keptAs)));
}

void BX::restoreDefaultSettings()
{
    {
        QSettings store(OrganizationName, ProductName);
        BXSettings::clear(store);
    }
    readSettings();
    m_defaultsRestored = true;
}

void BX::onRestoreButtonClicked()
{
    restoreDefaultSettings();
    QMessageBox::information(this, ProductName,
                             tr("The HMI default settings have been restored.\nYou need to restart application for "
                                "the changes to take effect."));
}

// ---------------------------------------------------------------- option handlers

void BX::onLocalLocationButtonToggled(bool checked)
{
    // The hardware trigger is set on a card plugged into this computer only.
    ui->osRemoteWidget->setEnabled(!checked);
    ui->tcpRemote->setEnabled(!checked);
    ui->oscilloPlugWidget->setEnabled(checked);
}

void BX::onTcpRemoteButtonToggled(bool checked)
{
    ui->osIPAddress->setEnabled(checked);
    ui->osPortNumber->setEnabled(checked);
}

void BX::onFixedIdPaddingButtonToggled(bool checked)
{
    ui->paddingIdentifier->setEnabled(checked);
    ui->paddingAutoDetectWidget->setEnabled(checked);
}

void BX::onMacroDetectYesButtonToggled(bool checked)
{
    ui->macroMaxSlicesValue->setEnabled(checked);
    ui->macroSamplingPeriodValue->setEnabled(checked);
}

void BX::onBackupYesButtonToggled(bool checked)
{
    for (QWidget* widget : std::initializer_list<QWidget*>{ ui->backupRepository, ui->backupRepositoryButton,
                                                           ui->backupFileType, ui->backupSizeLimit,
                                                           ui->backupTimeLimit, ui->backupTimeStampedYes,
                                                           ui->backupTimeStampedNo })
        widget->setEnabled(checked);
    onBackupSizeLimitButtonToggled(ui->backupSizeLimit->isChecked());
}

void BX::onBackupSizeLimitButtonToggled(bool checked)
{
    const bool backup = ui->backupYes->isChecked();
    ui->backupSizeLimitValue->setEnabled(backup && checked);
    ui->backupSizeLimitUnit->setEnabled(backup && checked);
    for (QComboBox* combo : { ui->backupTimeLimitJValue, ui->backupTimeLimitHValue, ui->backupTimeLimitMValue,
                              ui->backupTimeLimitSValue })
        combo->setEnabled(backup && !checked);
}

void BX::onOscilloCtrlChanged(int index)
{
    // "All Controls" triggers on any frame: no identifier to choose then.
    ui->oscilloIdentifier->setEnabled(index > 0);
}

void BX::onIpAddressEditingFinished()
{
    const QStringList parts = ui->osIPAddress->text().split(QLatin1Char('.'));
    const bool fourParts
        = parts.size() == 4 && std::none_of(parts.begin(), parts.end(), [](const QString& p) { return p.isEmpty(); });
    if (!fourParts)
        ui->osIPAddress->setText(QStringLiteral("0.0.0.0"));
}

void BX::onFileReceptionDirButtonClicked()
{
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Received files directory"),
                                                          ui->fileReceptionDir->text(), QFileDialog::ShowDirsOnly);
    if (!dir.isEmpty())
        ui->fileReceptionDir->setText(dir);
}

void BX::onBackupRepositoryButtonClicked()
{
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Backup directory"), ui->backupRepository->text(),
                                                          QFileDialog::ShowDirsOnly);
    if (!dir.isEmpty())
        ui->backupRepository->setText(dir);
}

void BX::onSavePathTextChanged(const QString& path)
{
    Q_UNUSED(path)
    // The examples are copied there and an untitled project follows the directory.
    onWorkingDirectoryChanged();
}
