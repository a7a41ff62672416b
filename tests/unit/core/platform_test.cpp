// Platform services: virtual memory, clock and calendar, sleeping, current
// directory and environment.
#include "runtime/core/platform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>

#include "runtime/core/errors.h"
#include "runtime/core/heap.h"
#include "runtime/core/interrupt.h"

namespace zan {
namespace {

// Offset east of UTC, in seconds, that 7 zone bits stand for (the reading
// of platform_zone_bits: bit 6 west, bits 2-5 hours, bits 0-1 quarters).
i32 zone_offset_of(u32 zone_bits) {
    i32 s = static_cast<i32>((zone_bits >> 2) & 15u) * 3600 + static_cast<i32>(zone_bits & 3u) * 900;
    return (zone_bits & 0x40u) ? -s : s;
}

u32 thrown_code(void (*f)()) {
    try {
        f();
    } catch (const ThrowSignal& s) {
        return s.code;
    }
    return 0;
}

// Permissions of the mapping that holds p, from /proc/self/maps ("rwxp").
std::string mapping_permissions(const void* p) {
    std::ifstream maps("/proc/self/maps");
    auto addr = reinterpret_cast<uintptr_t>(p);
    for (std::string line; std::getline(maps, line);) {
        unsigned long lo = 0, hi = 0;
        char perms[8] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %7s", &lo, &hi, perms) == 3 && addr >= lo && addr < hi)
            return perms;
    }
    return "";
}

TEST(PlatformMemory, BlocksAreWholeZeroedPagesInsideTheHeapRegion) {
    size_t page = platform_page_size();
    EXPECT_EQ(page, static_cast<size_t>(sysconf(_SC_PAGESIZE)));
    auto* p = static_cast<u8*>(platform_alloc_virtual(10000, false));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(heap_contains(p));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % page, 0u);
    size_t rounded = (10000 + page - 1) / page * page;
    for (size_t i = 0; i < rounded; i++) ASSERT_EQ(p[i], 0) << i;
    std::memset(p, 0xAB, rounded);
    EXPECT_EQ(mapping_permissions(p).substr(0, 3), "rw-");
    platform_free_virtual(p);
    // The region hands the same pages out again, zeroed.
    auto* q = static_cast<u8*>(platform_alloc_virtual(page, false));
    EXPECT_EQ(q[0], 0);
    platform_free_virtual(q);
}

TEST(PlatformMemory, ExecutableFlagAddsExecutePermission) {
    void* p = platform_alloc_virtual(100, true);
    EXPECT_EQ(mapping_permissions(p).substr(0, 3), "rwx");
    platform_free_virtual(p);
}

TEST(PlatformMemory, FailuresRaiseTheirThrowCodes) {
    EXPECT_EQ(thrown_code([] { platform_alloc_virtual(size_t(1) << 33, false); }),
              THROW_VIRTUAL_ALLOC_FAILED);
    EXPECT_EQ(thrown_code([] {
                  static int not_a_block;
                  platform_free_virtual(&not_a_block);
              }),
              THROW_VIRTUAL_FREE_FAILED);
    EXPECT_EQ(thrown_code([] {
                  void* p = platform_alloc_virtual(64, false);
                  platform_free_virtual(p);
                  platform_free_virtual(p);  // twice
              }),
              THROW_VIRTUAL_FREE_FAILED);
    EXPECT_EQ(thrown_code([] { platform_free_virtual(nullptr); }), THROW_VIRTUAL_FREE_FAILED);
}

TEST(PlatformWait, MillisecondsAreAtLeastOneAndTruncated) {
    struct Case { double seconds; u32 ms; };
    const Case cases[] = {
        {0.0, 1}, {0.0001, 1}, {1.9999, 1999}, {2.5, 2500}, {-3.0, 1},
        {std::nan(""), 1}, {1e12, 0xFFFFFFFFu},
    };
    for (const auto& c : cases) EXPECT_EQ(platform_wait_millis(c.seconds), c.ms) << c.seconds;
    EXPECT_TRUE(platform_wait(0));  // returns after its one millisecond
}

TEST(PlatformWait, AnInterruptionEndsTheWait) {
    // Noted before the wait, or by another thread during it (as the signal
    // handler may run on any thread): a 60 s wait ends at once.
    g_interrupt_pending = 1;
    EXPECT_FALSE(platform_wait(60));
    g_interrupt_pending = 0;
    auto start = std::chrono::steady_clock::now();
    std::thread later([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        g_interrupt_pending = 1;
    });
    EXPECT_FALSE(platform_wait(60));
    later.join();
    g_interrupt_pending = 0;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
}

TEST(PlatformClock, TimeOfDayCountsSecondsSinceUtcMidnight) {
    tm parts{};
    parts.tm_year = 2024 - 1900;
    parts.tm_mon = 0;
    parts.tm_mday = 5;
    parts.tm_hour = 13;
    parts.tm_min = 5;
    parts.tm_sec = 7;
    i64 t = timegm(&parts);
    EXPECT_EQ(platform_time_of_day(t, 250000000, false), 47107.0);
    EXPECT_EQ(platform_time_of_day(t, 250000000, true), 47107.25);
    EXPECT_EQ(platform_time_of_day(-1, 0, false), 86399.0);  // 23:59:59 on 31 Dec 1969
    double now = platform_get_time(true);
    EXPECT_GE(now, 0.0);
    EXPECT_LT(now, 86400.0);
}

TEST(PlatformClock, ZoneBitsHoldSignHoursAndQuarters) {
    struct Case { i32 minutes; u32 bits; };
    const Case cases[] = {
        {0, 0x00},
        {60, 0x04},
        {120, 0x08},           // UTC+1 in daylight time: hours 2
        {330, 0x16},           // +5:30: hours 5, quarters 2
        {345, 0x17},           // +5:45
        {-210, 0x4E},          // -3:30: sign, hours 3, quarters 2
        {-225, 0x4F},          // -3:45 keeps its three quarters
        {-30, 0x42},           // -0:30 keeps its sign
        {-600, 0x68},          // -10:00
        {840, 0x38},           // +14:00
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform_zone_bits(c.minutes * 60), c.bits) << c.minutes;
        EXPECT_EQ(zone_offset_of(c.bits), c.minutes * 60) << c.minutes;
    }
}

TEST(PlatformClock, PackedDateFields) {
    i32 d = platform_pack_date(2024, 1, 5, 0x16);
    EXPECT_EQ(d >> 17, 2024);
    EXPECT_EQ((d >> 12) & 15, 1);
    EXPECT_EQ((d >> 7) & 31, 5);
    EXPECT_EQ(d & 0x7F, 0x16);
    EXPECT_EQ(d & static_cast<i32>(PACKED_DATE_TIME_FLAG), 0);
    EXPECT_EQ(platform_pack_date(-44, 3, 15, 0) >> 17, -44);
}

class ZoneEnv : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        had_tz = tz != nullptr;
        if (tz) saved = tz;
    }
    void TearDown() override {
        if (had_tz)
            setenv("TZ", saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void use_zone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    static i64 utc(int y, int mo, int d, int h, int mi, int s) {
        tm parts{};
        parts.tm_year = y - 1900;
        parts.tm_mon = mo - 1;
        parts.tm_mday = d;
        parts.tm_hour = h;
        parts.tm_min = mi;
        parts.tm_sec = s;
        return timegm(&parts);
    }
    bool had_tz = false;
    std::string saved;
};

TEST_F(ZoneEnv, LocalDateCarriesTheZoneAndTimeFromTheStartOfTheLocalDay) {
    struct Case {
        const char* tz;
        i64 instant;
        bool utc;
        i32 year, month, day;
        u32 zone;
        double local_seconds;  // time of day on the local clock
    };
    const Case cases[] = {
        {"IST-5:30", utc(2024, 1, 5, 20, 0, 0), false, 2024, 1, 6, 0x16, 5400},
        {"IST-5:30", utc(2024, 1, 5, 20, 0, 0), true, 2024, 1, 5, 0x00, 72000},
        {"<-0330>3:30", utc(2024, 1, 1, 2, 0, 0), false, 2023, 12, 31, 0x4E, 81000},
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc(2024, 7, 1, 12, 0, 0), false, 2024, 7, 1, 0x08, 50400},
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc(2024, 1, 1, 12, 0, 0), false, 2024, 1, 1, 0x04, 46800},
    };
    for (const auto& c : cases) {
        use_zone(c.tz);
        PlatformDateTime dt = platform_date_time_at(c.instant, 0, c.utc, false);
        EXPECT_EQ(dt.date >> 17, c.year) << c.tz;
        EXPECT_EQ((dt.date >> 12) & 15, c.month) << c.tz;
        EXPECT_EQ((dt.date >> 7) & 31, c.day) << c.tz;
        EXPECT_EQ(static_cast<u32>(dt.date) & 0x7F, c.zone) << c.tz;
        EXPECT_TRUE(static_cast<u32>(dt.date) & PACKED_DATE_TIME_FLAG);
        EXPECT_EQ(dt.time + zone_offset_of(c.zone), c.local_seconds) << c.tz;
    }
    PlatformDateTime precise = platform_date_time_at(utc(2024, 1, 5, 0, 0, 1), 500000000, true, true);
    EXPECT_EQ(precise.time, 1.5);
}

TEST_F(ZoneEnv, TodayMatchesTheCalendarOfTheClock) {
    use_zone("IST-5:30");
    time_t before = time(nullptr);
    i32 local = platform_get_date(false);
    i32 in_utc = platform_get_date(true);
    time_t after = time(nullptr);
    EXPECT_EQ(static_cast<u32>(local) & PACKED_DATE_TIME_FLAG, 0u);
    EXPECT_EQ(local & 0x7F, 0x16);
    EXPECT_EQ(in_utc & 0x7F, 0);
    auto packed_day = [](time_t t, bool utc) {
        tm p{};
        if (utc)
            gmtime_r(&t, &p);
        else
            localtime_r(&t, &p);
        return (p.tm_year + 1900) * 10000 + (p.tm_mon + 1) * 100 + p.tm_mday;
    };
    auto day_of = [](i32 d) { return (d >> 17) * 10000 + ((d >> 12) & 15) * 100 + ((d >> 7) & 31); };
    EXPECT_TRUE(day_of(local) == packed_day(before, false) || day_of(local) == packed_day(after, false));
    EXPECT_TRUE(day_of(in_utc) == packed_day(before, true) || day_of(in_utc) == packed_day(after, true));
    PlatformDateTime now = platform_now(false, true);
    double local_time = now.time + zone_offset_of(static_cast<u32>(now.date) & 0x7F);
    EXPECT_GE(local_time, 0.0);
    EXPECT_LT(local_time, 86400.0);
}

TEST(PlatformEnv, GetSetAndRemove) {
    const char* name = "ZAN_PLATFORM_TEST_VAR";
    ASSERT_EQ(platform_set_env(name, "h\xC3\xA9llo"), 1);
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(platform_get_env(name, buf, sizeof buf), 6u);
    EXPECT_STREQ(buf, "h\xC3\xA9llo");
    // Too small, or no buffer: the size needed with its NUL, nothing copied.
    char small[6];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(platform_get_env(name, small, sizeof small), 7u);
    EXPECT_EQ(small[0], '#');
    EXPECT_EQ(platform_get_env(name, nullptr, 0), 7u);
    EXPECT_EQ(platform_get_env(name, buf, 7), 6u);  // exactly enough
    ASSERT_EQ(platform_set_env(name, nullptr), 1);
    EXPECT_EQ(platform_get_env(name, buf, sizeof buf), 0u);
    EXPECT_EQ(std::getenv(name), nullptr);
    EXPECT_EQ(platform_set_env("BAD=NAME", "x"), 0);
    EXPECT_EQ(platform_set_env("", "x"), 0);
}

TEST(PlatformDir, CurrentDirectoryRoundTrip) {
    u32 len = 0;
    char* start = platform_get_current_dir(&len);
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(len, std::strlen(start));
    char tmpl[] = "/tmp/zan-dir-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    EXPECT_EQ(platform_set_current_dir(tmpl), 1);
    char* here = platform_get_current_dir(&len);
    ASSERT_NE(here, nullptr);
    char real[4096];
    ASSERT_NE(realpath(tmpl, real), nullptr);
    EXPECT_STREQ(here, real);
    std::free(here);
    EXPECT_EQ(platform_set_current_dir("/nonexistent/zan/dir"), 0);
    EXPECT_EQ(platform_set_current_dir(start), 1);
    rmdir(tmpl);
    std::free(start);
}

bool crypto_started = false;

TEST(PlatformInit, RunsTheCryptographicStartUp) {
    crypto_started = false;
    g_platform_crypto_init = [] { crypto_started = true; };
    platform_init();
    g_platform_crypto_init = nullptr;
    EXPECT_TRUE(crypto_started);
}

}  // namespace
}  // namespace zan
