#pragma once

#include <QDialog>

class QListWidget;

/// Modal picker of the rendering icons shipped as resources, for a Mnemonic's "Pixmap".
class ResourceIconDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ResourceIconDialog(QWidget* parent = nullptr);

    /// Resource path of the current icon (":/images/rendering/icon_<name>_48x48.png"), empty when none.
    QString fileName() const;
    /// Runs the dialog; the chosen icon's resource path, or an empty string when cancelled.
    static QString getResourceIconName(QWidget* parent = nullptr);

    /// The directory listed; rendering resources by default.
    static QString iconDirectory();

    QListWidget* iconsListWidget() const { return m_iconsListWidget; }

private:
    void fillIcons();

    QListWidget* m_iconsListWidget;
};
