#pragma once

// The decisions of the batch resize sheet without its window: the classic size table and which
// entry the stored settings select, the custom size being edited (pixels and percent remembered
// apart), when Resize is enabled, the size a press of Resize asks for (with the 500 % limit), and
// the settings it stores.

#include <QList>
#include <QSizeF>
#include <QString>
#include <QVariantMap>

class BatchResizeSheetModel {
public:
    static constexpr int kMaxPercent = 500;

    // The classic entries in menu order: (0, 0) custom, (-1, -1) separators, then the sizes.
    static QList<QSizeF> classicSizes();
    // "IDS_Custom"'s text for the custom entry, "%ld x %ld" for a size, empty for a separator.
    static QString classicSizeTitle(const QSizeF &size, const QString &customTitle);

    explicit BatchResizeSheetModel(const QVariantMap &configInfos);

    const QVariantMap &configInfos() const { return m_config; }
    int selectedClassicIndex() const { return m_selectedIndex; }
    void setSelectedClassicIndex(int index);
    bool curCustomSize() const { return classicSizes().value(m_selectedIndex) == QSizeF(0, 0); }
    int unitType() const { return m_unitType; }
    void setUnitType(int unit);

    // The texts both custom fields show for the current unit.
    QString customWidthText() const;
    QString customHeightText() const;
    // An edit of one custom field; answers the texts both fields show afterwards.
    void customSizeTextDidChange(bool widthEdited, const QString &widthText, const QString &heightText,
                                 QString *outWidthText, QString *outHeightText);

    bool resizeEnabled(bool running, const QString &widthText, const QString &heightText, const QString &destText) const;

    enum class SizeCheck { Ok, Empty, TooLarge };
    // The size Resize asks for; *outPercent holds the refused percent for TooLarge.
    SizeCheck sizeForResize(const QString &widthText, const QString &heightText, QSizeF *outSize, qint64 *outPercent) const;
    // The settings after a Resize with `size`, stored keys that the run does not touch kept.
    QVariantMap configForRun(const QSizeF &size, const QString &dpiText, bool notEnlarge, bool keepAlpha,
                             const QString &nameBase, const QString &destFolder) const;

    static qint64 fieldValue(const QString &text);

private:
    QVariantMap m_config;
    int m_selectedIndex = 0;
    int m_unitType = 0;
    QSizeF m_customSizeWidthHeight;
    qint64 m_customSizePercent = 100;
};
