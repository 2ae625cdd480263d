#include "protocol/ZoneMemory.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

std::string zoneOf(const char* query) {
    char zone[MaxZoneLength + 1];
    return ZoneOfQuery(query, zone) ? zone : "none";
}

TEST(ZoneMemory, TheZoneOfAQuery) {
    EXPECT_EQ(zoneOf("example.com"), "com");
    EXPECT_EQ(zoneOf("Example.COM."), "com");
    EXPECT_EQ(zoneOf("de"), "de");
    EXPECT_EQ(zoneOf("xn--bcher-kva.xn--p1ai"), "xn--p1ai");
    for (const char* none : {"", ".", "192.0.2.1", "John Smith", "a.b/c", "AS-1.1x", "x.-y"}) {
        EXPECT_EQ(zoneOf(none), "none") << none;
    }
    EXPECT_EQ(zoneOf(("a." + std::string(64, 'z')).c_str()), "none") << "longer than a label";
}

TEST(ZoneMemory, RecallsPerDefaultServerForgetsAndStaysBounded) {
    ZoneMemory memory;
    TextString host;
    DWORD port = 0;
    memory.Remember("iana", 43, "com", "registry", 4343);
    ASSERT_TRUE(memory.Recall("iana", 43, "com", host, port));
    EXPECT_STREQ(host.GetText(), "registry");
    EXPECT_EQ(port, 4343u);
    EXPECT_FALSE(memory.Recall("iana", 4343, "com", host, port)) << "another default server";
    EXPECT_FALSE(memory.Recall("iana", 43, "net", host, port));
    memory.Forget("iana", 43, "com");
    EXPECT_FALSE(memory.Recall("iana", 43, "com", host, port));

    for (DWORD i = 0; i <= ZoneMemory::Capacity; ++i) {
        memory.Remember("iana", 43, ("z" + std::to_string(i)).c_str(), "r", i + 1);
    }
    EXPECT_FALSE(memory.Recall("iana", 43, "z0", host, port)) << "the oldest made room";
    EXPECT_TRUE(memory.Recall("iana", 43, "z1024", host, port));
    memory.Remember("iana", 43, "com", std::string(300, 'a').c_str(), 43);
    EXPECT_FALSE(memory.Recall("iana", 43, "com", host, port)) << "an over-long host is refused";
}

TEST(ZoneMemory, ManyThreadsAtOnce) {
    ZoneMemory memory;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&memory, t] {
            TextString host;
            DWORD port = 0;
            for (int i = 0; i < 2000; ++i) {
                std::string zone = "z" + std::to_string((i + t) % 50);
                memory.Remember("iana", 43, zone.c_str(), "registry", DWORD(t + 1));
                if (memory.Recall("iana", 43, zone.c_str(), host, port) && i % 7 == 0) {
                    memory.Forget("iana", 43, zone.c_str());
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // Whatever survived is whole (the sanitizer builds check the locking).
    for (int i = 0; i < 50; ++i) {
        TextString host;
        DWORD port = 0;
        if (memory.Recall("iana", 43, ("z" + std::to_string(i)).c_str(), host, port)) {
            EXPECT_STREQ(host.GetText(), "registry");
            EXPECT_TRUE(port >= 1 && port <= 4) << port;
        }
    }
}

} // namespace
