// Float <-> text against the reference table tests/data/float_oracle.tsv
// (made by tools/gen_float_oracle.py from an independent, correctly rounded
// implementation): shortest digits, six-digit caps, printf texts where our
// clean-up leaves them alone, and correctly rounded text-to-float.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/core/dtoa.h"

namespace zan {
namespace {

struct DRow {
    u64 bits;
    std::string digits;
    int point;
    std::string digits6;
    int point6;
    std::string g7, g13, g16;
};

struct PRow {
    std::string text;
    u64 bits;
};

struct Oracle {
    std::vector<DRow> d;
    std::vector<PRow> p;
    std::string error;
};

std::string data_dir() {
    if (const char* env = std::getenv("ZAN_TEST_DATA"); env && *env) return env;
    std::string here = __FILE__;  // tests/unit/core/<this file>
    return here.substr(0, here.rfind('/')) + "/../../data";
}

std::vector<std::string> split_tabs(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return out;
        start = tab + 1;
    }
}

Oracle load() {
    Oracle o;
    std::string path = data_dir() + "/float_oracle.tsv";
    std::ifstream in(path);
    if (!in) {
        o.error = "cannot open " + path;
        return o;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        auto f = split_tabs(line);
        if (f[0] == "D" && f.size() == 9) {
            o.d.push_back({std::stoull(f[1], nullptr, 16), f[2], std::stoi(f[3]), f[4],
                           std::stoi(f[5]), f[6], f[7], f[8]});
        } else if (f[0] == "P" && f.size() == 3) {
            o.p.push_back({f[1], std::stoull(f[2], nullptr, 16)});
        } else {
            o.error = "bad line: " + line.substr(0, 80);
            return o;
        }
    }
    return o;
}

const Oracle& oracle() {
    static const Oracle o = load();
    return o;
}

class FloatOracle : public ::testing::Test {
protected:
    void SetUp() override {
        const Oracle& o = oracle();
        ASSERT_EQ(o.error, "");
        // A truncated table must not pass quietly.
        ASSERT_GT(o.d.size(), 3000u);
        ASSERT_GT(o.p.size(), 2000u);
    }
};

// Counts mismatches, printing the first few.
struct Tally {
    int bad = 0;
    void fail(const std::string& what) {
        if (++bad <= 10) ADD_FAILURE() << what;
    }
};

std::string hex(u64 bits) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(bits));
    return buf;
}

TEST_F(FloatOracle, ShortestDigitsAndCappedDigits) {
    Tally t;
    for (const DRow& r : oracle().d) {
        double v = std::bit_cast<double>(r.bits);
        int point, sign, count;
        const char* d = dtoa_float_to_digits(v, 0, &point, &sign, &count, false);
        std::string got(d, size_t(count));
        if (got != r.digits || point != r.point || sign != int(r.bits >> 63))
            t.fail(hex(r.bits) + ": got " + got + " p" + std::to_string(point) + ", want " +
                   r.digits + " p" + std::to_string(r.point));
        d = dtoa_float_to_digits(v, 6, &point, &sign, &count, false);
        got.assign(d, size_t(count));
        if (got != r.digits6 || point != r.point6)
            t.fail(hex(r.bits) + " cap 6: got " + got + " p" + std::to_string(point) +
                   ", want " + r.digits6 + " p" + std::to_string(r.point6));
    }
    EXPECT_EQ(t.bad, 0);
}

TEST_F(FloatOracle, FormedTextReadsBackToTheSameFloat) {
    Tally t;
    for (const DRow& r : oracle().d) {
        std::string text = dtoa_form_float(std::bit_cast<double>(r.bits), 0, true);
        int unread = -1;
        double back = dtoa_text_to_float(text.data(), text.data() + text.size(), 0, &unread);
        if (std::bit_cast<u64>(back) != r.bits || unread != 0)
            t.fail(hex(r.bits) + ": " + text + " read back as " + hex(std::bit_cast<u64>(back)));
    }
    EXPECT_EQ(t.bad, 0);
}

// Where the text has no exponent, is too short for the "01"/"99" retry, is
// not pretty-printed as zero and needs no ".0", the formatter must give the
// printf text unchanged (plus "%" for percents).
TEST_F(FloatOracle, PrintfTextsWhereNoCleanUpApplies) {
    Tally t;
    int compared = 0;
    auto check = [&](u64 bits, int kind, const std::string& printf_text, const char* suffix) {
        double v = std::bit_cast<double>(bits);
        if (printf_text.find('e') != std::string::npos || printf_text.size() > 16 ||
            std::fabs(v) < 2.220446049250313e-16)
            return;
        if (kind == FLOAT_TEXT_FLOAT && printf_text.find('.') == std::string::npos) return;
        ++compared;
        std::string want = printf_text + suffix;
        std::string got = float_to_cstr(v, kind);
        if (got != want)
            t.fail(hex(bits) + " kind " + std::to_string(kind) + ": got " + got + ", want " + want);
    };
    float_set_pretty(true);
    for (const DRow& r : oracle().d) {
        check(r.bits, FLOAT_TEXT_POINT, r.g7, "");
        check(r.bits, FLOAT_TEXT_PERCENT, r.g13, "%");
        check(r.bits, FLOAT_TEXT_FLOAT, r.g16, "");
    }
    float_set_pretty(true);  // its start-up state
    EXPECT_GT(compared, 1000);
    EXPECT_EQ(t.bad, 0);
}

TEST_F(FloatOracle, TextToFloatIsCorrectlyRounded) {
    Tally t;
    for (const PRow& r : oracle().p) {
        int unread = -1;
        double v = dtoa_text_to_float(r.text.data(), r.text.data() + r.text.size(), 0, &unread);
        if (std::bit_cast<u64>(v) != r.bits || unread != 0)
            t.fail(r.text.substr(0, 60) + ": got " + hex(std::bit_cast<u64>(v)) + ", want " +
                   hex(r.bits) + " unread " + std::to_string(unread));
    }
    EXPECT_EQ(t.bad, 0);
}

}  // namespace
}  // namespace zan
