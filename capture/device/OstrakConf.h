#ifndef BX_CAPTURE_DEVICE_OSTRAKCONF_H
#define BX_CAPTURE_DEVICE_OSTRAKCONF_H

#include "OstrakCard.h"

#include <QList>
#include <QMetaType>
#include <QString>

/// One local capture card the user can pick: how it is reached and its number.
struct OSTRAKCONF {
    OstrakCard::CoType coType = OstrakCard::NoCoType; ///< NoCoType marks a cancelled choice
    unsigned char number = 0;                          ///< card number handed to locallyOpen
    QString portName;                                  ///< communication port (USB) or device name (PCI)
    QString serial;                                    ///< PCI family only

    bool isCancelled() const { return coType == OstrakCard::NoCoType; }
    bool isUsb() const { return coType == OstrakCard::FtdiD2xx || coType == OstrakCard::CypressFx3; }
};
Q_DECLARE_METATYPE(OSTRAKCONF)

/// The local cards present now: the USB cards of the board library's
/// communication-port list, then the cards of the PCI family.
QList<OSTRAKCONF> localOstrakList();

#endif
