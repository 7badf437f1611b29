#include "OsSelectionDialog.h"

#include "ui_OsSelectionDialog.h"

#include "modrin.h"

#include <QPushButton>

OsSelectionDialog::OsSelectionDialog(QWidget* parent)
    : OsSelectionDialog(localOstrakList(), parent)
{
}

OsSelectionDialog::OsSelectionDialog(const QList<OSTRAKCONF>& list, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::OsSelectionDialog)
    , m_list(list)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Ostrak Selection"));
    connect(ui->ostrakComboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &OsSelectionDialog::fillDeviceInfo);
    fill();
}

OsSelectionDialog::~OsSelectionDialog() = default;

void OsSelectionDialog::fill()
{
    const QSignalBlocker block(ui->ostrakComboBox);
    ui->ostrakComboBox->clear();
    for (int i = 0; i < m_list.size(); ++i)
        ui->ostrakComboBox->addItem(QStringLiteral("Ostrak n° ") + QString::number(i + 1));
    const int n = m_list.size();
    if (n == 0)
        ui->countLabel->setText(QStringLiteral("No device detected ..."));
    else if (n == 1)
        ui->countLabel->setText(QStringLiteral("1 detected device"));
    else
        ui->countLabel->setText(QString::number(n) + QStringLiteral(" detected devices"));
    ui->ostrakComboBox->setEnabled(n > 0);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(n > 0);
    fillDeviceInfo(n > 0 ? 0 : -1);
}

QString OsSelectionDialog::speedText(unsigned char speedByte)
{
    switch (speedByte & 7) {
    case 1: return QStringLiteral("31.25 Kbps");
    case 2: return QStringLiteral("1 Mbps");
    case 3: return QStringLiteral("2.5 Mbps");
    case 4: return QStringLiteral("5 Mbps");
    case 5: return QStringLiteral("12.5 Mbps");
    case 6: return QStringLiteral("25 Mbps");
    default: return QStringLiteral("Unknown");
    }
}

void OsSelectionDialog::fillDeviceInfo(int index)
{
    if (index < 0 || index >= m_list.size()) {
        ui->kindValue->clear();
        ui->numberValue->clear();
        ui->speedValue->clear();
        return;
    }
    const OSTRAKCONF& conf = m_list.at(index);
    ui->kindValue->setText(conf.isUsb() ? QStringLiteral("Ostrak") : QStringLiteral("mPCIe"));
    ui->numberValue->setText(QString::number(index + 1));
    if (!conf.isUsb()) {
        ui->speedValue->setText(QStringLiteral("-"));
        return;
    }
    // A short look at the card: it is not kept open.
    QString speed = QStringLiteral("Unknown");
    MD_HANDLE handle = MDGetInstance(int(conf.coType));
    if (handle) {
        if (MDConnect(handle, conf.number) == 0) {
            unsigned char reply[256] = {};
            unsigned short length = sizeof reply;
            if (MDReadByIdRq(handle, MODRIN_MODULE_CAPTURE, MODRIN_ELEMENT_SPEED, 0, &length, reply, 0) == 0
                && length >= 1)
                speed = speedText(reply[0]);
            MDDisconnect(handle);
        }
        MDCloseInstance(handle);
    }
    ui->speedValue->setText(speed);
}

int OsSelectionDialog::getIndex() const
{
    return m_list.isEmpty() ? 0 : ui->ostrakComboBox->currentIndex() + 1;
}

OSTRAKCONF OsSelectionDialog::selected() const
{
    const int i = ui->ostrakComboBox->currentIndex();
    return (i >= 0 && i < m_list.size()) ? m_list.at(i) : OSTRAKCONF();
}

OSTRAKCONF OsSelectionDialog::getOsSelectionInfo(QWidget* parent)
{
    return getOsSelectionInfo(parent, localOstrakList());
}

OSTRAKCONF OsSelectionDialog::getOsSelectionInfo(QWidget* parent, const QList<OSTRAKCONF>& list)
{
    OsSelectionDialog dialog(list, parent);
    if (dialog.exec() != QDialog::Accepted)
        return OSTRAKCONF();
    return dialog.selected();
}
