// Notification centre: delivery order, filters, and changes made during a post.
#include "foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

using namespace kpv;

namespace {

TEST(NotificationCenter, DeliversInRegistrationOrderWithUserInfo)
{
    NotificationCenter center;
    std::string log;
    int a, b, c;
    center.addObserver(&a, "didChangeCurFile", nullptr, [&](const Notification& n) {
        log += "a" + n.userInfo.value("index").toString().toStdString();
    });
    center.addObserver(&b, "other", nullptr, [&](const Notification&) { log += "b"; });
    center.addObserver(&c, "", nullptr, [&](const Notification& n) { log += "*" + n.name.toStdString(); });
    center.postNotification("didChangeCurFile", nullptr, {{"index", 7}});
    EXPECT_EQ(log, "a7*didChangeCurFile");
}

TEST(NotificationCenter, SenderFilter)
{
    NotificationCenter center;
    int viewA, viewB, observer;
    int fromA = 0, fromAny = 0;
    center.addObserver(&observer, "doChangeScale", &viewA, [&](const Notification& n) {
        EXPECT_EQ(n.object, &viewA);
        ++fromA;
    });
    center.addObserver(&observer, "doChangeScale", nullptr, [&](const Notification&) { ++fromAny; });
    center.postNotification("doChangeScale", &viewA);
    center.postNotification("doChangeScale", &viewB);
    center.postNotification("doChangeScale");
    EXPECT_EQ(fromA, 1);
    EXPECT_EQ(fromAny, 3);
    // Removing by sender leaves the any-sender registration.
    center.removeObserver(&observer, "doChangeScale", &viewA);
    center.postNotification("doChangeScale", &viewA);
    EXPECT_EQ(fromA, 1);
    EXPECT_EQ(fromAny, 4);
}

TEST(NotificationCenter, RemoveObserverDropsEveryRegistration)
{
    NotificationCenter center;
    int observer, other;
    int calls = 0;
    center.addObserver(&observer, "x", nullptr, [&](const Notification&) { ++calls; });
    center.addObserver(&observer, "y", nullptr, [&](const Notification&) { ++calls; });
    center.addObserver(&other, "x", nullptr, [&](const Notification&) { ++calls; });
    center.removeObserver(&observer);
    EXPECT_EQ(center.observerCount(), 1);
    center.postNotification("x");
    center.postNotification("y");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, ChangesDuringAPost)
{
    NotificationCenter center;
    std::string log;
    int first, second, third, late;
    // The first observer removes itself and the third; the third must hear nothing any more.
    center.addObserver(&first, "n", nullptr, [&](const Notification&) {
        log += "1";
        center.removeObserver(&first);
        center.removeObserver(&third);
        center.addObserver(&late, "n", nullptr, [&](const Notification&) { log += "L"; });
    });
    center.addObserver(&second, "n", nullptr, [&](const Notification&) { log += "2"; });
    center.addObserver(&third, "n", nullptr, [&](const Notification&) { log += "3"; });
    center.postNotification("n");
    EXPECT_EQ(log, "12"); // the observer added during the post waits for the next one
    center.postNotification("n");
    EXPECT_EQ(log, "122L");
}

TEST(NotificationCenter, RemovalByNameDuringAPostSilencesOnlyThatName)
{
    NotificationCenter center;
    std::string log;
    int first, second, sender;
    // The first observer removes the second's registration for this name and sender (the
    // three-argument form); the second keeps its other registration.
    center.addObserver(&first, "n", nullptr, [&](const Notification&) {
        log += "1";
        center.removeObserver(&second, "n", &sender);
    });
    center.addObserver(&second, "n", &sender, [&](const Notification&) { log += "2"; });
    center.addObserver(&second, "m", &sender, [&](const Notification&) { log += "m"; });
    center.postNotification("n", &sender);
    EXPECT_EQ(log, "1");
    center.postNotification("m", &sender);
    EXPECT_EQ(log, "1m");
}

TEST(NotificationCenter, ObserverMayPostFromItsHandler)
{
    NotificationCenter center;
    std::string log;
    int o;
    center.addObserver(&o, "outer", nullptr, [&](const Notification&) {
        log += "(";
        center.postNotification("inner");
        log += ")";
    });
    center.addObserver(&o, "inner", nullptr, [&](const Notification&) { log += "i"; });
    center.postNotification("outer");
    EXPECT_EQ(log, "(i)");
}

TEST(NotificationCenter, PostsOnThePostingThread)
{
    NotificationCenter center;
    int o;
    std::thread::id seen;
    center.addObserver(&o, "n", nullptr, [&](const Notification&) { seen = std::this_thread::get_id(); });
    std::thread::id poster;
    std::thread t([&] {
        poster = std::this_thread::get_id();
        center.postNotification("n");
    });
    t.join();
    EXPECT_EQ(seen, poster);
}

} // namespace
