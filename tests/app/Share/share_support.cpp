// The application object the share tests run under, on the offscreen platform.
#include "../../support/QtTestApplication.h"

namespace {
[[maybe_unused]] testing::Environment* const g_env =
    testing::AddGlobalTestEnvironment(new QtTestApplication("kpv-share-tests", [] { QtTestApplication::useOffscreenUnlessSet(); }));
} // namespace
