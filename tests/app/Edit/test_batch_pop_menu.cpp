// The batch pop-up menu: items in order with and without rename, the mapping of represented
// objects, titles and icons, and no check marks.

#include "Edit/BatchPopViewController.h"

#include "appkit/View.h"

#include <gtest/gtest.h>

namespace {

TEST(BatchPopMenu, ItemsMappingTitlesAndIcons)
{
    kpv::View container;
    BatchPopViewController full(nullptr, &container, true);
    EXPECT_EQ(full.itemTypes(), (QList<int>{1, 2, 3}));
    EXPECT_EQ(full.numberOfItemsInPopMenuView(nullptr, {}), 3u);
    EXPECT_EQ(full.popMenuView_itemAtIndex(nullptr, {}, 0).toInt(), 1);
    EXPECT_FALSE(full.popMenuView_itemAtIndex(nullptr, {}, 3).isValid());
    EXPECT_EQ(full.popMenuView_iconImageNameForRepresentedObject(nullptr, 2, false), "icon_itmresize");
    EXPECT_TRUE(full.popMenuView_iconImageNameForRepresentedObject(nullptr, 2, true).isEmpty());
    EXPECT_TRUE(full.popMenuView_itemTitleForRepresentedObject(nullptr, 9).isEmpty());
    EXPECT_EQ(full.popMenuView()->dataSource(), &full);

    BatchPopViewController noRename(nullptr, &container, false);
    EXPECT_EQ(noRename.itemTypes(), (QList<int>{2, 3}));
    EXPECT_EQ(noRename.batchItemTypeByRepresentedObject(1), 0);
    EXPECT_EQ(noRename.batchItemTypeByRepresentedObject(3), 3);
    EXPECT_EQ(noRename.batchItemTypeByRepresentedObject(QString("x")), 0);
}

} // namespace
