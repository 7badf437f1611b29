#pragma once

#include <QUrl>

/// The desktop's URL handler, behind one call so that a machine without one
/// (or a test) still runs: the help and web-site actions go through here.
namespace DesktopServices {

/// Opens the URL with the desktop's handler; false when none took it.
bool openUrl(const QUrl& url);

/// The last URL handed to openUrl, whether or not a handler took it.
QUrl lastOpenedUrl();
/// Keeps the system awake while a capture runs (Windows execution state); elsewhere
/// only remembered, so that the caller's state can be checked.
void setKeepAwake(bool awake);
bool keepAwake();

} // namespace DesktopServices
