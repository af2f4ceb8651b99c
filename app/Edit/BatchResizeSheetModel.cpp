#include "Edit/BatchResizeSheetModel.h"

#include "Edit/BatchResizeWorker.h"

using namespace BatchResizeKeys;

namespace {
QString key(const char *k) { return QString::fromLatin1(k); }
} // namespace

QList<QSizeF> BatchResizeSheetModel::classicSizes()
{
    const QSizeF sep(-1, -1);
    return {QSizeF(0, 0),       sep,
            QSizeF(320, 240),   QSizeF(640, 480),  QSizeF(800, 600), QSizeF(1024, 768), QSizeF(1280, 1024), sep,
            QSizeF(1280, 800),  QSizeF(1440, 900), QSizeF(1680, 1050), sep,
            QSizeF(1280, 720),  QSizeF(1920, 1080)};
}

QString BatchResizeSheetModel::classicSizeTitle(const QSizeF &size, const QString &customTitle)
{
    if (size == QSizeF(0, 0))
        return customTitle;
    if (size.width() < 0)
        return QString();
    return QStringLiteral("%1 x %2").arg(qint64(size.width())).arg(qint64(size.height()));
}

BatchResizeSheetModel::BatchResizeSheetModel(const QVariantMap &configInfos) : m_config(configInfos)
{
    const QSizeF saved = m_config.value(key(kClassicSizeType)).toBool()
                             ? QSizeF(m_config.value(key(kClassicSizeWidth)).toLongLong(),
                                      m_config.value(key(kClassicSizeHeight)).toLongLong())
                             : QSizeF(0, 0);
    const QList<QSizeF> sizes = classicSizes();
    m_selectedIndex = 0;
    for (int i = 0; i < sizes.size(); ++i)
        if (sizes[i] == saved)
            m_selectedIndex = i;
    m_customSizeWidthHeight = QSizeF(m_config.value(key(kCustomSizeWidth)).toLongLong(),
                                     m_config.value(key(kCustomSizeHeight)).toLongLong());
    m_customSizePercent = m_config.value(key(kCustomSizePercent)).toLongLong();
    const int unit = m_config.value(key(kCustomSizeUnitType)).toInt();
    m_unitType = (unit == 0 || unit == 1) ? unit : 0;
}

void BatchResizeSheetModel::setSelectedClassicIndex(int index)
{
    // Separators cannot be chosen.
    if (index >= 0 && index < classicSizes().size() && classicSizes()[index].width() >= 0)
        m_selectedIndex = index;
}

void BatchResizeSheetModel::setUnitType(int unit)
{
    if (unit == 0 || unit == 1)
        m_unitType = unit;
}

QString BatchResizeSheetModel::customWidthText() const
{
    return QString::number(m_unitType == 1 ? m_customSizePercent : qint64(m_customSizeWidthHeight.width()));
}

QString BatchResizeSheetModel::customHeightText() const
{
    return QString::number(m_unitType == 1 ? m_customSizePercent : qint64(m_customSizeWidthHeight.height()));
}

qint64 BatchResizeSheetModel::fieldValue(const QString &text)
{
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    return ok && v > 0 ? v : 0;
}

void BatchResizeSheetModel::customSizeTextDidChange(bool widthEdited, const QString &widthText,
                                                    const QString &heightText, QString *outWidthText,
                                                    QString *outHeightText)
{
    QString w = widthText, h = heightText;
    if (m_unitType == 1) {
        // Both fields show the one percent.
        if (widthEdited)
            h = w;
        else
            w = h;
        if (const qint64 v = fieldValue(w))
            m_customSizePercent = v;
    } else {
        const qint64 v = fieldValue(widthEdited ? w : h);
        if (v) {
            if (widthEdited)
                m_customSizeWidthHeight.setWidth(double(v));
            else
                m_customSizeWidthHeight.setHeight(double(v));
        }
    }
    if (outWidthText)
        *outWidthText = w;
    if (outHeightText)
        *outHeightText = h;
}

bool BatchResizeSheetModel::resizeEnabled(bool running, const QString &widthText, const QString &heightText,
                                          const QString &destText) const
{
    if (running || destText.isEmpty())
        return false;
    if (curCustomSize())
        return fieldValue(widthText) != 0 && fieldValue(heightText) != 0;
    return true;
}

BatchResizeSheetModel::SizeCheck BatchResizeSheetModel::sizeForResize(const QString &widthText,
                                                                      const QString &heightText, QSizeF *outSize,
                                                                      qint64 *outPercent) const
{
    QSizeF size = classicSizes().value(m_selectedIndex);
    if (curCustomSize()) {
        const qint64 w = fieldValue(widthText), h = fieldValue(heightText);
        if (m_unitType == 1 && w > kMaxPercent) {
            if (outPercent)
                *outPercent = w;
            return SizeCheck::TooLarge;
        }
        size = (w && h) ? QSizeF(double(w), double(h)) : QSizeF(0, 0);
    }
    if (outSize)
        *outSize = size;
    return size.width() <= 0 || size.height() <= 0 ? SizeCheck::Empty : SizeCheck::Ok;
}

QVariantMap BatchResizeSheetModel::configForRun(const QSizeF &size, const QString &dpiText, bool notEnlarge,
                                                bool keepAlpha, const QString &nameBase,
                                                const QString &destFolder) const
{
    QVariantMap c = m_config;
    const bool custom = curCustomSize();
    c.insert(key(kClassicSizeType), !custom);
    if (custom) {
        c.insert(key(kCustomSizeUnitType), m_unitType);
        if (m_unitType == 1) {
            c.insert(key(kCustomSizePercent), qint64(size.width()));
        } else {
            c.insert(key(kCustomSizeWidth), qint64(size.width()));
            c.insert(key(kCustomSizeHeight), qint64(size.height()));
        }
    } else {
        c.insert(key(kClassicSizeWidth), qint64(size.width()));
        c.insert(key(kClassicSizeHeight), qint64(size.height()));
    }
    c.insert(key(kDpi), fieldValue(dpiText) != 0 ? dpiText.trimmed() : QString());
    c.insert(key(kNotEnlarge), notEnlarge);
    c.insert(key(kKeepAlpha), keepAlpha);
    c.insert(key(kNewNameBase), nameBase.trimmed());
    c.insert(key(kDestFolderPath), destFolder);
    return c;
}
