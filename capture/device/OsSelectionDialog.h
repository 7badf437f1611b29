#ifndef BX_CAPTURE_DEVICE_OSSELECTIONDIALOG_H
#define BX_CAPTURE_DEVICE_OSSELECTIONDIALOG_H

#include "OstrakConf.h"

#include <QDialog>

#include <memory>

namespace Ui {
class OsSelectionDialog;
}

/// Lets the user pick one of the local capture cards.
class OsSelectionDialog : public QDialog
{
    Q_OBJECT

public:
    /// Lists the cards present now.
    explicit OsSelectionDialog(QWidget* parent = nullptr);
    /// Offers the given cards.
    OsSelectionDialog(const QList<OSTRAKCONF>& list, QWidget* parent = nullptr);
    ~OsSelectionDialog() override;

    /// Card number shown for the current choice (from 1); 0 when there is none.
    int getIndex() const;
    QList<OSTRAKCONF> getOstrakList() const { return m_list; }
    /// The chosen card, or a cancelled marker (isCancelled()).
    OSTRAKCONF selected() const;

    /// Runs the dialog over the cards present now.
    static OSTRAKCONF getOsSelectionInfo(QWidget* parent);
    static OSTRAKCONF getOsSelectionInfo(QWidget* parent, const QList<OSTRAKCONF>& list);

    /// Text of the speed byte read from a USB card (bits 2..0 = speed code + 1).
    static QString speedText(unsigned char speedByte);

public slots:
    void fillDeviceInfo(int index);

private:
    void fill();

    std::unique_ptr<Ui::OsSelectionDialog> ui;
    QList<OSTRAKCONF> m_list;
};

#endif
