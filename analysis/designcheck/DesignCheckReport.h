#ifndef BX_DESIGNCHECK_DESIGNCHECKREPORT_H
#define BX_DESIGNCHECK_DESIGNCHECKREPORT_H

#include "DesignCheckTypes.h"

#include <QByteArray>
#include <QString>

/// The design check report as a file: HTML readable on its own, or JSON.
/// Files are written whole or not at all.
namespace DesignCheckReport {

QByteArray toHtml(const CheckReport& report);
QByteArray toJson(const CheckReport& report);

/// Writes HTML or JSON by the file's suffix (".json" for JSON, HTML otherwise).
bool save(const CheckReport& report, const QString& path, QString* error = nullptr);

} // namespace DesignCheckReport

#endif
