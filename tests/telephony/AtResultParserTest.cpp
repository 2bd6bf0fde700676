#include "platform/telephony/AtResultParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<AtResult> feedWhole(const std::string& bytes) {
    AtResultParser parser;
    std::vector<AtResult> out;
    parser.feed(bytes.data(), bytes.size(), out);
    return out;
}

std::vector<AtResult> feedByteByByte(const std::string& bytes) {
    AtResultParser parser;
    std::vector<AtResult> out;
    for (char c : bytes)
        parser.feed(&c, 1, out);
    return out;
}

struct Case {
    const char* input;
    std::vector<AtResult> expected;
};

using K = AtResultKind;

const std::vector<Case> kCases = {
    {"\r\nOK\r\n", {{K::Ok, "OK"}}},
    {"AT\r\r\nOK\r\n", {{K::Echo, "AT"}, {K::Ok, "OK"}}},
    {"ATDT555\r\r\nCONNECT 33600\r\n", {{K::Echo, "ATDT555"}, {K::Connect, "CONNECT 33600"}}},
    {"\r\nCONNECT\r\n", {{K::Connect, "CONNECT"}}},
    {"\r\nCONNECT 115200/ARQ/V90\r\n", {{K::Connect, "CONNECT 115200/ARQ/V90"}}},
    {"\r\nNO CARRIER\r\n", {{K::NoCarrier, "NO CARRIER"}}},
    {"\r\nBUSY\r\n", {{K::Busy, "BUSY"}}},
    {"\r\nNO ANSWER\r\n", {{K::NoAnswer, "NO ANSWER"}}},
    {"\r\nNO DIALTONE\r\n\r\nNO DIAL TONE\r\n",
     {{K::NoDialtone, "NO DIALTONE"}, {K::NoDialtone, "NO DIAL TONE"}}},
    {"\r\nERROR\r\n", {{K::Error, "ERROR"}}},
    {"\r\nRING\r\n\r\nRING\r\n", {{K::Ring, "RING"}, {K::Ring, "RING"}}},
    {"\r\nok\r\n", {{K::Ok, "ok"}}},
    // Numeric codes (ATV0): digits and CR only.
    {"0\r2\r3\r4\r6\r7\r8\r1\r5\r10\r",
     {{K::Ok, "0"},
      {K::Ring, "2"},
      {K::NoCarrier, "3"},
      {K::Error, "4"},
      {K::NoDialtone, "6"},
      {K::Busy, "7"},
      {K::NoAnswer, "8"},
      {K::Connect, "1"},
      {K::Connect, "5"},
      {K::Connect, "10"}}},
    // ATI answers and lookalikes are text, not results.
    {"\r\nSiteSim V.34 Data Modem\r\n56000\r\nOKAY\r\nNO CARRIERS\r\n",
     {{K::Text, "SiteSim V.34 Data Modem"}, {K::Text, "56000"}, {K::Text, "OKAY"}, {K::Text, "NO CARRIERS"}}},
    // Control bytes and blanks are dropped; blank lines are skipped.
    {"\r\n  \r\n\x01O\x02K\x7f \r\n", {{K::Ok, "OK"}}},
    {"\r\n\xff\xfe\r\n", {}},
    {"A/\r", {{K::Echo, "A/"}}},
};

TEST(AtResultParser, ClassifiesLinesWholeAndSplitAnywhere) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(feedWhole(c.input), c.expected);
        EXPECT_EQ(feedByteByByte(c.input), c.expected);
    }
}

TEST(AtResultParser, PartialLineWaitsForItsEndAndResetDropsIt) {
    AtResultParser parser;
    std::vector<AtResult> out;
    parser.feed("\r\nNO CAR", 8, out);
    EXPECT_TRUE(out.empty());
    parser.feed("RIER\r\n", 6, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, AtResultKind::NoCarrier);

    out.clear();
    parser.feed("BU", 2, out);
    parser.reset();
    parser.feed("OK\r", 3, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, AtResultKind::Ok);
}

TEST(AtResultParser, EndlessLineIsCutAndTheNextLineStillParses) {
    std::string noise(5000, 'x');
    noise += "\r\nOK\r\n";
    const std::vector<AtResult> out = feedWhole(noise);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].kind, AtResultKind::Text);
    EXPECT_EQ(out[0].text.size(), AtResultParser::kMaxLine);
    EXPECT_EQ(out[1].kind, AtResultKind::Ok);
}

TEST(AtResultParser, FinalResultsAreThoseThatEndACommand) {
    for (K kind : {K::Ok, K::Connect, K::NoCarrier, K::Error, K::NoDialtone, K::Busy, K::NoAnswer})
        EXPECT_TRUE(isFinalResult(kind));
    for (K kind : {K::Ring, K::Echo, K::Text})
        EXPECT_FALSE(isFinalResult(kind));
}

} // namespace

TEST(AtResultParser, ConnectRateIsTheNumberAfterTheCodeOrZero) {
    const std::pair<std::string_view, std::uint32_t> cases[] = {
        {"CONNECT 33600", 33600},
        {"CONNECT 28800/ARQ/V34", 28800},
        {"connect 2400", 2400},
        {"CONNECT", 0},
        {"CONNECT /ARQ", 0},
        {"NO CARRIER", 0},
        {"CONNECT 99999999999999", 0},
        {"CONNEC", 0},
        {"", 0},
    };
    for (const auto& [text, rate] : cases)
        EXPECT_EQ(connectRate(text), rate) << text;
}
