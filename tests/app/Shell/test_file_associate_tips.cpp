// The default-viewer tip: shown until answered once; each answer does its part and keeps it away.

#include "Shell/Tips/FileAssociateTipsViewController.h"

#include "Kit/LMNineSliceImageView.h"
#include "Model/MainConfig.h"
#include "Slideshow/SlideshowNotifications.h"
#include "appkit/Control.h"
#include "appkit/View.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

#include <QFontMetricsF>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class FileAssociateTips : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.isValid());
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        config = std::make_unique<MainConfig>(*defaults);
    }
    std::unique_ptr<FileAssociateTipsViewController> make()
    {
        FileAssociateTipsViewController::Actions actions;
        actions.associateAll = [this] { ++associations; };
        actions.configure = [this] { ++configurations; };
        return std::make_unique<FileAssociateTipsViewController>(&parent, *config, QStringLiteral("Viewer"), actions);
    }

    QTemporaryDir scratch;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<MainConfig> config;
    kpv::View parent{kpv::Rect(0, 0, 800, 600)};
    int associations = 0;
    int configurations = 0;
};

TEST_F(FileAssociateTips, EachAnswerDoesItsPartAndKeepsTheTipAway)
{
    auto tips = make();
    tips->show(true);
    EXPECT_TRUE(tips->isShown());
    tips->okButtonClicked();
    EXPECT_FALSE(tips->isShown());
    EXPECT_EQ(associations, 1);
    EXPECT_TRUE(config->defaultViewerConfigured());
    tips->show(true);
    EXPECT_FALSE(tips->isShown()) << "answered once, never again";

    config->setDefaultViewerConfigured(false);
    tips->show(true);
    tips->configButtonClicked();
    EXPECT_EQ(configurations, 1);
    EXPECT_EQ(associations, 1);
    EXPECT_TRUE(config->defaultViewerConfigured());

    config->setDefaultViewerConfigured(false);
    tips->show(true);
    tips->closeButtonClicked();
    EXPECT_FALSE(tips->isShown());
    EXPECT_EQ(associations + configurations, 2) << "closing changes no association";
    EXPECT_TRUE(config->defaultViewerConfigured());
}

TEST_F(FileAssociateTips, StepsAsideForASlideshowUnlessAnswered)
{
    auto tips = make();
    tips->show(true);
    auto& center = kpv::NotificationCenter::defaultCenter();
    center.postNotification(QString::fromLatin1(DidSlideshowFirstFrameDisplayedNotification), nullptr, {});
    EXPECT_FALSE(tips->isShown());
    center.postNotification(QStringLiteral("didChangeMainShowMode"), nullptr,
                            {{QStringLiteral("old"), qlonglong(32)}, {QStringLiteral("new"), qlonglong(4)}});
    EXPECT_TRUE(tips->isShown());
    // Still unanswered: leaving the slideshow brought it back without storing anything.
    EXPECT_FALSE(config->defaultViewerConfigured());
    tips->closeButtonClicked();
    center.postNotification(QStringLiteral("didChangeMainShowMode"), nullptr,
                            {{QStringLiteral("old"), qlonglong(32)}, {QStringLiteral("new"), qlonglong(4)}});
    EXPECT_FALSE(tips->isShown());
}

TEST_F(FileAssociateTips, ShowsOverTheViewerAndTheEmptyWindowOnly)
{
    auto tips = make();
    tips->show(true);
    auto& center = kpv::NotificationCenter::defaultCenter();
    auto change = [&](qlonglong from, qlonglong to) {
        center.postNotification(QStringLiteral("didChangeMainShowMode"), nullptr,
                                {{QStringLiteral("old"), from}, {QStringLiteral("new"), to}});
    };
    // Thumbnails, favourites, crop and the two mini windows fill the window: no tip over them.
    for (qlonglong mode : {64, 8, 16, 128, 256}) {
        change(4, mode);
        EXPECT_FALSE(tips->isShown()) << "mode " << mode;
        change(mode, 4);
        EXPECT_TRUE(tips->isShown()) << "back from mode " << mode;
    }
    change(4, 2);
    EXPECT_TRUE(tips->isShown()) << "the empty window keeps it";
    EXPECT_FALSE(config->defaultViewerConfigured());
}

TEST_F(FileAssociateTips, TheSentenceAndButtonsFitEveryWindowWidth)
{
    auto wrappedHeight = [](const kpv::TextField& field) {
        return QFontMetricsF(field.font().toQFont())
            .boundingRect(QRectF(0, 0, field.frame().width(), 1e6), Qt::TextWordWrap, field.stringValue())
            .height();
    };
    for (const QString& name : {QStringLiteral("Viewer"), QStringLiteral("A Program With A Much Longer Name Than Most")}) {
        parent.setFrame(kpv::Rect(0, 0, 1600, 600));
        FileAssociateTipsViewController tips(&parent, *config, name, {});
        tips.show(true);
        // The window is made narrower with the tip up, down to a size only a tiling desktop gives.
        for (double width : {1600.0, 800.0, 640.0, 480.0, 320.0, 240.0}) {
            SCOPED_TRACE(name.toStdString() + " at " + std::to_string(int(width)));
            parent.setFrame(kpv::Rect(0, 0, width, 480));
            const kpv::Rect strip = tips.view()->frame();
            EXPECT_EQ(strip.width(), width);
            EXPECT_EQ(strip.maxY(), 480) << "hangs from the top of the window";
            std::vector<kpv::Rect> parts;
            for (kpv::View* v : tips.view()->subviews()) {
                const kpv::Rect f = v->frame();
                EXPECT_GE(f.x(), 0);
                EXPECT_LE(f.maxX(), width) << "runs off the right of the window";
                EXPECT_GE(f.y(), 0);
                EXPECT_LE(f.maxY(), strip.height());
                for (const kpv::Rect& other : parts)
                    EXPECT_EQ(kpv::intersectionRect(f, other), kpv::Rect()) << "parts of the tip overlap";
                parts.push_back(f);
                if (auto* field = dynamic_cast<const kpv::TextField*>(v)) {
                    EXPECT_TRUE(field->stringValue().contains(name));
                    EXPECT_LE(wrappedHeight(*field), field->frame().height() + 0.5) << "the sentence is cut";
                }
            }
            EXPECT_EQ(parts.size(), 4u);
        }
    }
}

} // namespace

