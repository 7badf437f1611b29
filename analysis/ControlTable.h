#ifndef BX_ANALYSIS_CONTROLTABLE_H
#define BX_ANALYSIS_CONTROLTABLE_H

#include <QColor>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

/// The FIP control names and the colour each control type paints its rows with.
///
/// Names are fixed (the twenty controls of the decoder); colours start at their
/// defaults and are changed through the colour buttons, one button standing for
/// one or several codes.
class ControlTable
{
public:
    ControlTable();

    /// Control code of a name; 0 when the name is not a control.
    quint8 getControlCode(const QString& name) const;
    quint8 getControlCode(const char* name, int len) const;
    /// Colour of a control; translucent red for a code without colour.
    QColor getControlColor(quint8 code) const;
    void setControlColor(quint8 code, const QColor& c);

    /// Codes a colour button sets; empty for an unknown button.
    static QList<quint8> codesOfButton(const QString& objectName);
    /// The colour buttons' object names, in control table order.
    static QStringList buttonNames();
    /// The control's part of its colour settings key; empty for an unknown code.
    static QString settingsKeySuffix(quint8 code);
    /// Colour of a control when the settings hold none: requests in shades of
    /// blue, replies in shades of green, darker further down the table.
    static QColor defaultColor(quint8 code);
    static QColor unknownColor() { return QColor(239, 58, 63, 100); }

private:
    QHash<QString, quint8> m_codes;
    std::array<QColor, 256> m_colors;
};

#endif
