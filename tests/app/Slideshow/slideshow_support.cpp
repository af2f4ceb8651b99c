// A QApplication on the offscreen platform for every slideshow test.
#include "../../support/QtTestApplication.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {
[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(
    new QtTestApplication("kpv-slideshow-tests", &QtTestApplication::useOffscreenUnlessSet));
} // namespace
