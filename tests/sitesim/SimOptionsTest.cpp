#include "tools/sitesim/SimOptions.h"

#include <gtest/gtest.h>

using namespace sitesim;

namespace {

std::optional<SimOptions> parse(std::vector<std::string> args, std::string* errorOut = nullptr) {
    std::string error;
    auto options = parseOptions(args, error);
    if (errorOut)
        *errorOut = error;
    return options;
}

} // namespace

TEST(SimOptions, DefaultsAndDemo) {
    const auto options = parse({"--link", "/tmp/x"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->bps, 0);
    EXPECT_EQ(options->site.channels.size(), 4u);
    EXPECT_EQ(options->site.user, "demo");
    // Dialling 999 calls back unless told otherwise.
    ASSERT_TRUE(options->modem.numbers.count("999"));
    EXPECT_EQ(options->modem.numbers.at("999").kind, DialOutcome::Kind::Callback);
    EXPECT_EQ(parse({"--link", "x", "--demo"})->bps, 33600);
    EXPECT_EQ(parse({"--link", "x", "--bps", "9600", "--demo"})->bps, 9600);
    EXPECT_EQ(parse({"--link", "x", "--bps", "9600"})->modem.connectRate, 9600);
    EXPECT_EQ(parse({"--link", "x", "--connect-rate", "28800", "--demo"})->modem.connectRate, 28800);
    EXPECT_FALSE(parse({"--link", "x", "--callback-number", "none"})->modem.numbers.count("999"));
    EXPECT_EQ(parse({"--link", "x", "--number", "999=BUSY"})->modem.numbers.at("999").kind,
              DialOutcome::Kind::Busy);
}

TEST(SimOptions, ValuesAreParsed) {
    const auto options = parse({"--link",
                                "l",
                                "--control",
                                "c",
                                "--data-only",
                                "--incoming",
                                "--channel",
                                "5:Lane,codec=msvc",
                                "--number",
                                "T 555-1=CONNECT 2400@10",
                                "--at",
                                "250:ring",
                                "--on-login",
                                "0:event prompt",
                                "--size",
                                "352x288",
                                "--auto-open",
                                "5,6",
                                "--guard-ms",
                                "60",
                                "--no-prompt",
                                "--permissions",
                                "1"});
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->dataOnly && options->incoming && !options->site.prompt);
    ASSERT_EQ(options->site.channels.size(), 1u);
    EXPECT_EQ(options->site.channels[0].codec, Codec::MsVideo1);
    const DialOutcome& outcome = options->modem.numbers.at("5551");
    EXPECT_EQ(outcome.rate, 2400);
    EXPECT_EQ(outcome.delay, Millis(10));
    ASSERT_EQ(options->at.size(), 1u);
    EXPECT_EQ(options->at[0].at, Millis(250));
    EXPECT_EQ(options->at[0].command, "ring");
    EXPECT_EQ(options->onLogin.at(0).command, "event prompt");
    EXPECT_EQ(options->site.width, 352);
    EXPECT_EQ(options->site.autoOpen, (std::vector<int32_t>{5, 6}));
    EXPECT_EQ(options->modem.guardTime, Millis(60));
    EXPECT_EQ(options->site.permissions, 1);
}

TEST(SimOptions, BadArgumentsAreRefusedWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {},                                  // no link
        {"--link"},                          // missing value
        {"--link", "x", "--frobnicate"},     // unknown option
        {"--link", "x", "--bps", "-5"},      // negative rate
        {"--link", "x", "--size", "100x80"}, // not a site picture size
        {"--link", "x", "--number", "555"},  // no outcome
        {"--link", "x", "--dial-result", "MAYBE"},
        {"--link", "x", "--at", "soon:ring"},
        {"--link", "x", "--user", "a-name-longer-than-twenty"},
        {"--link", "x", "--channel", "Gate"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(parse(args, &error)) << (args.empty() ? "" : args.back());
        EXPECT_FALSE(error.empty());
    }
    const auto send = parse({"--send", "/tmp/sock", "ring", "status"});
    ASSERT_TRUE(send);
    EXPECT_EQ(send->sendCommands, (std::vector<std::string>{"ring", "status"}));
}

TEST(SimOptions, ChaosSeedAndRate) {
    EXPECT_FALSE(parse({"--link", "x"})->chaosSeed);
    EXPECT_EQ(parse({"--link", "x", "--chaos"})->chaosSeed, DamageGenerator::kDefaultSeed);
    const auto options = parse({"--link", "x", "--chaos=18446744073709551615", "--chaos-rate", "0.5"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->chaosSeed, UINT64_MAX);
    EXPECT_DOUBLE_EQ(options->chaosRate, 0.5);
    EXPECT_DOUBLE_EQ(parse({"--link", "x"})->chaosRate, DamageGenerator::kDefaultRate);
    // A flood implies the bad peer; the demo site sends delta frames.
    EXPECT_EQ(parse({"--link", "x", "--flood", "repeated-prompts"})->flood,
              sitesim::DamageKind::RepeatedPrompts);
    EXPECT_TRUE(parse({"--link", "x", "--flood", "new-stream-keys"})->chaosSeed);
    EXPECT_EQ(parse({"--link", "x"})->site.gop, 1);
    EXPECT_EQ(parse({"--link", "x", "--demo"})->site.gop, SiteConfig::kDemoGop);
    EXPECT_EQ(parse({"--link", "x", "--demo", "--gop", "3"})->site.gop, 3);
    for (const auto& bad : std::vector<std::vector<std::string>>{{"--chaos=-1"},
                                                                 {"--chaos=7x"},
                                                                 {"--chaos-rate", "1.5"},
                                                                 {"--chaos-rate", "-0.1"},
                                                                 {"--flood", "garbage"},
                                                                 {"--gop", "0"},
                                                                 {"--chaos-rate"}}) {
        std::vector<std::string> args = {"--link", "x"};
        args.insert(args.end(), bad.begin(), bad.end());
        std::string error;
        EXPECT_FALSE(parse(args, &error)) << bad.front();
        EXPECT_FALSE(error.empty());
    }
}
