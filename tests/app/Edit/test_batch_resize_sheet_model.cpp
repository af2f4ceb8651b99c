// The batch resize sheet's decisions: the entry the settings select, custom pixel and percent
// editing remembered apart, Resize enabling, the 500 % limit and the settings a run stores.

#include "Edit/BatchResizeSheetModel.h"
#include "Edit/BatchResizeWorker.h"
#include "Edit/BatchToolSettings.h"

#include <gtest/gtest.h>

namespace {

using namespace BatchResizeKeys;

TEST(BatchResizeSheet, SelectionFromTheStoredSettings)
{
    const QVariantMap defaults = BatchToolSettings::defaultResizeConfigInfo();
    BatchResizeSheetModel first(defaults);
    EXPECT_EQ(BatchResizeSheetModel::classicSizes().size(), 14);
    EXPECT_EQ(BatchResizeSheetModel::classicSizes()[first.selectedClassicIndex()], QSizeF(1024, 768));
    EXPECT_FALSE(first.curCustomSize());
    EXPECT_TRUE(first.resizeEnabled(false, "", "", "/dest"));

    QVariantMap stored = defaults;
    stored[kClassicSizeWidth] = 1280;
    stored[kClassicSizeHeight] = 1024;
    EXPECT_EQ(BatchResizeSheetModel(stored).selectedClassicIndex(), 6);
    stored[kClassicSizeWidth] = 1000;
    EXPECT_EQ(BatchResizeSheetModel(stored).selectedClassicIndex(), 0);
    EXPECT_EQ(BatchResizeSheetModel::classicSizeTitle(QSizeF(320, 240), "Custom"), "320 x 240");
    EXPECT_EQ(BatchResizeSheetModel::classicSizeTitle(QSizeF(-1, -1), "Custom"), "");
    // Separators cannot be selected.
    BatchResizeSheetModel m(defaults);
    m.setSelectedClassicIndex(1);
    EXPECT_EQ(m.selectedClassicIndex(), 5);
}

TEST(BatchResizeSheet, CustomEditingAndTheSizeOfARun)
{
    BatchResizeSheetModel m(BatchToolSettings::defaultResizeConfigInfo());
    m.setSelectedClassicIndex(0);
    ASSERT_TRUE(m.curCustomSize());
    EXPECT_EQ(m.customWidthText(), "1024");
    QString w, h;
    m.customSizeTextDidChange(true, "800", "768", &w, &h);
    m.setUnitType(1);
    EXPECT_EQ(m.customWidthText(), "100");
    m.customSizeTextDidChange(false, "100", "50", &w, &h);
    EXPECT_EQ(w, "50");
    EXPECT_EQ(h, "50");
    m.setUnitType(0);
    EXPECT_EQ(m.customWidthText(), "800");
    // A field emptied to zero disables Resize and keeps the remembered value.
    m.customSizeTextDidChange(true, "0", "768", &w, &h);
    EXPECT_FALSE(m.resizeEnabled(false, "0", "768", "/dest"));
    EXPECT_EQ(m.customWidthText(), "800");
    EXPECT_FALSE(m.resizeEnabled(true, "800", "768", "/dest"));
    EXPECT_FALSE(m.resizeEnabled(false, "800", "768", ""));

    m.setUnitType(1);
    QSizeF size;
    qint64 refused = 0;
    EXPECT_EQ(m.sizeForResize("500", "500", &size, &refused), BatchResizeSheetModel::SizeCheck::Ok);
    EXPECT_EQ(size, QSizeF(500, 500));
    EXPECT_EQ(m.sizeForResize("501", "501", &size, &refused), BatchResizeSheetModel::SizeCheck::TooLarge);
    EXPECT_EQ(refused, 501);
    EXPECT_EQ(m.sizeForResize("", "", &size, &refused), BatchResizeSheetModel::SizeCheck::Empty);

    const QVariantMap c = m.configForRun(QSizeF(50, 50), "0", false, true, "  trip ", "/dest");
    EXPECT_FALSE(c.value(kClassicSizeType).toBool());
    EXPECT_EQ(c.value(kCustomSizeUnitType).toInt(), 1);
    EXPECT_EQ(c.value(kCustomSizePercent).toInt(), 50);
    EXPECT_EQ(c.value(kClassicSizeWidth).toInt(), 1024);
    EXPECT_EQ(c.value(kDpi).toString(), "");
    EXPECT_EQ(c.value(kNewNameBase).toString(), "trip");
    EXPECT_FALSE(c.value(kNotEnlarge).toBool());
}

} // namespace
