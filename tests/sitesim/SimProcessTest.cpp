// The dialscope-sitesim executable over real pseudo-terminals, with short
// injected times, as the program's integration tests will use it.
#include "platform/dib/PackedDib.h"
#include "tests/sitesim/FrameDecoding.h"
#include "tests/sitesim/PtyClient.h"
#include "tests/support/TempDir.h"
#include "tools/sitesim/SiteFraming.h"
#include "tools/sitesim/SiteSimProcess.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavcodec/codec_id.h>
}

using namespace sitesim;
using namespace std::chrono_literals;

namespace {

const auto kWait = 5000ms;

std::vector<uint8_t> loginPacket(const std::string& user, const std::string& password,
                                 int32_t imageSize = 0) {
    std::vector<uint8_t> record(48, 0);
    std::memcpy(record.data(), user.data(), std::min<size_t>(user.size(), 20));
    std::memcpy(record.data() + 20, password.data(), std::min<size_t>(password.size(), 20));
    writeLe32(record.data() + 40, imageSize);
    writeLe32(record.data() + 44, 80);
    return encodeViewerPacket(Login, record);
}

std::string readLink(const std::string& path) {
    char target[256];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, size_t(n)) : std::string();
}

class SimProcessTest : public ::testing::Test {
protected:
    void start(const std::vector<std::string>& args) {
        std::string error;
        ASSERT_TRUE(m_sim.start(m_dir.path(), args, error)) << error;
    }
    // Starts with the modem and fast timings.
    void startModem(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--dial-delay",    "50",      "--answer-delay", "30",
                                         "--ring-interval", "150",     "--guard-ms",     "100",
                                         "--number",        "555=BUSY"};
        args.insert(args.end(), extra.begin(), extra.end());
        start(args);
    }
    // Starts in data-only mode with one fast Motion JPEG channel.
    void startDataOnly(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--data-only",
                                         "--user",
                                         "op",
                                         "--password",
                                         "pw",
                                         "--channel",
                                         "1:Gate,codec=mjpg,fps=20,key=501",
                                         "--channel",
                                         "2:Yard,codec=cvid,fps=20"};
        args.insert(args.end(), extra.begin(), extra.end());
        start(args);
    }
    void dialAndConnect(PtyClient& pty) {
        pty.write("ATE0\r");
        ASSERT_NE(pty.readUntil("OK\r\n", kWait).find("OK"), std::string::npos);
        pty.write("ATDT123\r");
        ASSERT_NE(pty.readUntil("CONNECT 33600\r\n", kWait).find("CONNECT 33600"), std::string::npos);
    }

    TempDir m_dir{"sitesim-test"};
    SiteSimProcess m_sim;
};

} // namespace

TEST_F(SimProcessTest, AnswersAtCommandsOverThePty) {
    startModem({"--product", "Test Modem 1"});
    PtyClient pty(m_sim.linkPath());
    ASSERT_TRUE(pty.isOpen());
    // The terminal is raw: exactly the modem's echo and result, nothing doubled or translated.
    pty.write("AT\r");
    EXPECT_EQ(pty.readUntil("OK\r\n", kWait), "AT\r\r\nOK\r\n");
    pty.write("ATE0V0\r");
    EXPECT_EQ(pty.readUntil("0\r", kWait), "ATE0V0\r0\r");
    pty.write("ATI3\r");
    EXPECT_EQ(pty.readUntil("0\r", kWait), "Test Modem 1\r\n0\r");
    pty.write("ATV1 X4 E0 S0=0 &C1 &D2\r");
    EXPECT_EQ(pty.readUntil("OK\r\n", kWait), "\r\nOK\r\n");
    pty.write("ATJUNK\r");
    EXPECT_EQ(pty.readUntil("ERROR\r\n", kWait), "\r\nERROR\r\n");
    EXPECT_FALSE(m_sim.waitForLog({"\"event\":\"command\"", "\"line\":\"ATJUNK\""}, kWait).empty());
}

TEST_F(SimProcessTest, DialOutcomes) {
    startModem();
    PtyClient pty(m_sim.linkPath());
    pty.write("ATE0\r");
    pty.readUntil("OK\r\n", kWait);
    pty.write("ATDT555\r");
    EXPECT_EQ(pty.readUntil("BUSY\r\n", kWait), "\r\nBUSY\r\n");
    ASSERT_EQ(m_sim.command("dial-result NO DIALTONE"), "OK");
    pty.write("ATD777\r");
    EXPECT_EQ(pty.readUntil("NO DIALTONE\r\n", kWait), "\r\nNO DIALTONE\r\n");
    ASSERT_EQ(m_sim.command("dial-result CONNECT 14400"), "OK");
    pty.write("ATD777\r");
    EXPECT_EQ(pty.readUntil("CONNECT 14400\r\n", kWait), "\r\nCONNECT 14400\r\n");
    EXPECT_FALSE(m_sim.waitForLog({"\"action\":\"connected\"", "\"placedBySite\":false"}, kWait).empty());
}

TEST_F(SimProcessTest, IncomingCallRingsUntilAnswered) {
    startModem();
    PtyClient pty(m_sim.linkPath());
    pty.write("ATE0\r");
    pty.readUntil("OK\r\n", kWait);
    ASSERT_EQ(m_sim.command("ring"), "OK");
    EXPECT_EQ(m_sim.command("ring"), "ERROR line busy");
    const std::string rings = pty.readUntil("RING\r\n\r\nRING\r\n\r\nRING\r\n", kWait);
    EXPECT_EQ(rings, "\r\nRING\r\n\r\nRING\r\n\r\nRING\r\n");
    pty.write("ATA\r");
    EXPECT_NE(pty.readUntil("CONNECT 33600\r\n", kWait).find("CONNECT 33600"), std::string::npos);
    // The site placed this call: it wants the answering credentials, then sends its channels unasked.
    pty.write(loginPacket("demo", "demo"));
    EXPECT_TRUE(pty.nextPacketOfType(LoginRejected, kWait));
    pty.write(loginPacket("Rav-Lookout", "Q-Lynx"));
    pty.write(encodeViewerValue(SiteInfoRequest, 0));
    const auto list = pty.nextPacketOfType(ChannelList, kWait);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->param1, 4); // the default channels
    EXPECT_TRUE(pty.nextPacketOfType(SiteInfo, kWait));
    EXPECT_TRUE(pty.nextPacketOfType(VideoFrame, kWait));
}

TEST_F(SimProcessTest, EscapeAfterGuardTimeThenAth0HangsUp) {
    startModem();
    PtyClient pty(m_sim.linkPath());
    dialAndConnect(pty);
    std::this_thread::sleep_for(150ms);
    pty.write("+++");
    EXPECT_EQ(pty.readUntil("OK\r\n", kWait), "\r\nOK\r\n");
    pty.write("ATH0\r");
    EXPECT_EQ(pty.readUntil("OK\r\n", kWait), "\r\nOK\r\n");
    EXPECT_FALSE(m_sim.waitForLog({"\"action\":\"ended\""}, kWait).empty());
    const std::string status = m_sim.command("status");
    EXPECT_NE(status.find("\"modem\":\"idle\""), std::string::npos) << status;
}

TEST_F(SimProcessTest, FarEndHangUpRepublishesTheLink) {
    startModem();
    const std::string before = readLink(m_sim.linkPath());
    PtyClient pty(m_sim.linkPath());
    dialAndConnect(pty);
    ASSERT_EQ(m_sim.command("hangup"), "OK");
    // The old terminal reports the carrier loss and then hangs up.
    EXPECT_NE(pty.readUntil("NO CARRIER", kWait).find("NO CARRIER"), std::string::npos);
    EXPECT_TRUE(pty.waitForHangUp(kWait));
    const std::string after = readLink(m_sim.linkPath());
    EXPECT_FALSE(after.empty());
    EXPECT_NE(after, before);
    // The modem is found again at the same path, idle.
    PtyClient again(m_sim.linkPath());
    ASSERT_TRUE(again.isOpen());
    again.write("AT\r");
    EXPECT_EQ(again.readUntil("OK\r\n", kWait), "\r\nOK\r\n"); // ATE0 survives, as on a real modem
}

TEST_F(SimProcessTest, DataOnlyLoginChannelListAndDecodableFrames) {
    startDataOnly();
    PtyClient pty(m_sim.linkPath());
    pty.write(loginPacket("op", "pw", 0));
    const auto list = pty.nextPacket(kWait);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->type, ChannelList);
    EXPECT_EQ(list->param1, 2);
    EXPECT_EQ(list->param2, 3);
    ASSERT_EQ(list->payload.size(), 72u);
    EXPECT_EQ(fieldText(std::span(list->payload).subspan(4, 32)), "Gate");
    const auto prompt = pty.nextPacket(kWait);
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->type, ChannelPrompt);

    pty.write(encodeViewerValue(OpenChannel, 1));
    const auto frame = pty.nextPacketOfType(VideoFrame, kWait);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->param1, 1);
    EXPECT_EQ(frame->param2, 501);
    const PackedDibView dib(frame->payload);
    ASSERT_TRUE(dib.valid());
    EXPECT_EQ(dib.header().biWidth, 160);
    EXPECT_EQ(dib.header().biHeight, 120);
    EXPECT_EQ(dib.header().biCompression, makeFourCC('M', 'J', 'P', 'G'));
    EXPECT_EQ(decodeToRgb(frame->payload, AV_CODEC_ID_MJPEG).size(), 160u * 120 * 3);
    // Several frames follow at the channel's rate.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(pty.nextPacketOfType(VideoFrame, kWait));
}

TEST_F(SimProcessTest, BadLoginIsRejectedAndSiteInfoIsThreeHundredBytes) {
    startDataOnly({"--site-name", "Depot 7", "--site-memo", "north gate"});
    PtyClient pty(m_sim.linkPath());
    pty.write(loginPacket("op", "nope"));
    const auto rejected = pty.nextPacket(kWait);
    ASSERT_TRUE(rejected);
    EXPECT_EQ(rejected->type, LoginRejected);
    pty.write(loginPacket("op", "pw"));
    pty.write(encodeViewerValue(SiteInfoRequest, 0));
    const auto info = pty.nextPacketOfType(SiteInfo, kWait);
    ASSERT_TRUE(info);
    ASSERT_EQ(info->payload.size(), 300u);
    EXPECT_EQ(fieldText(std::span(info->payload).subspan(0, 30)), "Depot 7");
    EXPECT_EQ(fieldText(std::span(info->payload).subspan(180, 120)), "north gate");
}

TEST_F(SimProcessTest, ControlEventsAndScheduledCommands) {
    startDataOnly({"--on-login", "100:event login-request", "--auto-open", "1"});
    EXPECT_EQ(m_sim.command("event channel-closed 1"), "OK"); // a session exists from the start
    PtyClient pty(m_sim.linkPath());
    pty.write(loginPacket("op", "pw"));
    // The login request comes once, 100 ms after the login; frames keep coming,
    // so wait for the one-off packet first.
    EXPECT_TRUE(pty.nextPacketOfType(LoginRequest, kWait));
    EXPECT_TRUE(pty.nextPacketOfType(VideoFrame, kWait));

    ASSERT_EQ(m_sim.command("event channel-closed 1"), "OK");
    const auto closed = pty.nextPacketOfType(ChannelClosed, kWait);
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->param1, 1);
    EXPECT_EQ(closed->param2, 501);
    ASSERT_EQ(m_sim.command("event unknown 13"), "OK");
    const auto unknown = pty.nextPacketOfType(13, kWait);
    EXPECT_TRUE(unknown);
    ASSERT_EQ(m_sim.command("event hangup-request"), "OK");
    EXPECT_TRUE(pty.nextPacketOfType(HangUpRequest, kWait));
    EXPECT_NE(m_sim.command("status").find("\"streams\":[]"), std::string::npos);

    EXPECT_EQ(m_sim.command("event channel-closed 99"), "ERROR no channel 99");
    EXPECT_EQ(m_sim.command("event text-frame 1"), "ERROR no channel 1"); // its stream was closed
    EXPECT_EQ(m_sim.command("carrier-lost"), "ERROR no call");            // data-only: no modem
    EXPECT_EQ(m_sim.command("event unknown 300"), "ERROR type 0..255 expected");
    EXPECT_EQ(m_sim.command("fly"), "ERROR unknown command");
    EXPECT_EQ(m_sim.command("event fly"), "ERROR unknown event fly");
}

TEST_F(SimProcessTest, LogIsOneJsonObjectPerLine) {
    startDataOnly();
    PtyClient pty(m_sim.linkPath());
    pty.write(loginPacket("op", "pw"));
    pty.write(encodeViewerValue(KeepAlive, 0));
    const std::string text = "zb-qdm";
    pty.write(
        encodeViewerPacket(RunProgram, std::vector<uint8_t>(text.c_str(), text.c_str() + text.size() + 1)));
    pty.write(encodeViewerPacket(CloseSite));
    ASSERT_FALSE(m_sim.waitForLog({"\"name\":\"CloseSite\""}, kWait).empty());
    bool sawLogin = false, sawRun = false;
    double lastT = 0;
    for (const std::string& line : m_sim.logLines()) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
        const QJsonObject o = doc.object();
        ASSERT_TRUE(o.contains("t") && o.contains("event")) << line;
        EXPECT_GE(o["t"].toDouble(), lastT);
        lastT = o["t"].toDouble();
        if (o["event"] == "packet" && o["name"] == "Login") {
            sawLogin = true;
            EXPECT_EQ(o["user"].toString(), "op");
            EXPECT_TRUE(o["accepted"].toBool());
        }
        if (o["event"] == "packet" && o["name"] == "RunProgram") {
            sawRun = true;
            EXPECT_EQ(o["text"].toString(), "zb-qdm");
            EXPECT_EQ(o["len"].toInt(), 7);
        }
    }
    EXPECT_TRUE(sawLogin);
    EXPECT_TRUE(sawRun);
}

TEST_F(SimProcessTest, ChaosDamagesFramesOnlyAndReportsItsCounts) {
    startDataOnly({"--chaos=3", "--chaos-rate", "1", "--auto-open", "1,2", "--no-prompt"});
    PtyClient pty(m_sim.linkPath());
    pty.write(loginPacket("op", "pw"));
    // The channel list and the site record pass unharmed, whatever the damage around them.
    const auto list = pty.nextPacketOfType(ChannelList, kWait);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->payload.size(), 72u);
    ASSERT_FALSE(m_sim.waitForLog({"\"event\":\"chaos\""}, kWait).empty());
    pty.write(encodeViewerValue(SiteInfoRequest, 0));
    const auto info = pty.nextPacketOfType(SiteInfo, kWait);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->payload.size(), 300u);

    const std::string on = m_sim.command("status");
    EXPECT_NE(on.find("\"chaos\":{\"on\":true,\"seed\":3,\"rate\":1,"), std::string::npos) << on;
    EXPECT_EQ(on.find("\"garbage\":0,\"header-flip\":0,\"body-flip\":0,\"oversized\":0"), std::string::npos)
        << "some damage was counted: " << on;

    EXPECT_EQ(m_sim.command("chaos off"), "OK");
    const std::string off = m_sim.command("status");
    EXPECT_NE(off.find("\"chaos\":{\"on\":false,\"seed\":3"), std::string::npos) << off;
    const size_t lines = m_sim.logLines().size();
    pty.drainFor(std::chrono::milliseconds(300));
    // Once off, frames go out whole again (after what the client still held)
    // and no more damage is logged.
    std::vector<bool> valid;
    for (int i = 0; i < 8; ++i) {
        const auto frame = pty.nextPacketOfType(VideoFrame, kWait);
        ASSERT_TRUE(frame);
        valid.push_back(PackedDibView(frame->payload).valid());
    }
    EXPECT_EQ(std::vector<bool>(valid.end() - 3, valid.end()), std::vector<bool>(3, true));
    const auto later = m_sim.logLines();
    EXPECT_TRUE(std::none_of(later.begin() + std::ptrdiff_t(lines), later.end(),
                             [](const std::string& l) { return l.find("\"event\":\"chaos\"") != l.npos; }));

    EXPECT_EQ(m_sim.command("chaos on 9"), "OK");
    EXPECT_NE(m_sim.command("status").find("\"chaos\":{\"on\":true,\"seed\":9"), std::string::npos);
    EXPECT_EQ(m_sim.command("chaos on x"), "ERROR seed expected");
    EXPECT_EQ(m_sim.command("chaos"), "ERROR chaos on [SEED] | chaos off");
}

TEST_F(SimProcessTest, BandwidthLimitIsRoughlyHonoured) {
    // 400,000 bit/s is 50,000 bytes/s; uncompressed frames keep the link full.
    startDataOnly(
        {"--bps", "400000", "--channel", "3:Raw,codec=rgb,fps=30,size=160x120", "--auto-open", "3"});
    PtyClient pty(m_sim.linkPath());
    pty.write(loginPacket("op", "pw"));
    ASSERT_TRUE(pty.nextPacketOfType(VideoFrame, kWait));
    const auto begin = std::chrono::steady_clock::now();
    const size_t bytes = pty.drainFor(1000ms);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double rate = double(bytes) / seconds;
    EXPECT_GT(rate, 50000 * 0.8);
    EXPECT_LT(rate, 50000 * 1.2);
}

TEST_F(SimProcessTest, ClosingThePortHangsUpAndLeavesNoStaleData) {
    startModem();
    {
        PtyClient pty(m_sim.linkPath());
        dialAndConnect(pty);
        pty.write(loginPacket("demo", "demo"));
        pty.write(encodeViewerValue(OpenChannel, 1));
        ASSERT_TRUE(pty.nextPacketOfType(VideoFrame, kWait));
    }
    // Closing the port is the DTR drop a pseudo-terminal cannot show: the call ends.
    EXPECT_FALSE(m_sim.waitForLog({"\"action\":\"ended\""}, kWait).empty());
    PtyClient again(m_sim.linkPath());
    EXPECT_EQ(again.drainFor(200ms), 0u); // no frames left over from the last call
    again.write("AT\r");
    EXPECT_EQ(again.readUntil("OK\r\n", kWait), "\r\nOK\r\n");
}

TEST_F(SimProcessTest, DataOnlySessionStartsAfreshForTheNextOpener) {
    startDataOnly({"--auto-open", "1"});
    {
        PtyClient pty(m_sim.linkPath());
        pty.write(loginPacket("op", "pw"));
        ASSERT_TRUE(pty.nextPacketOfType(VideoFrame, kWait));
    }
    ASSERT_FALSE(m_sim.waitForLog({"\"event\":\"port\"", "\"action\":\"closed\""}, kWait).empty());
    PtyClient again(m_sim.linkPath());
    EXPECT_EQ(again.drainFor(200ms), 0u);
    again.write(loginPacket("op", "pw"));
    const auto list = again.nextPacket(kWait);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->type, ChannelList);
}

TEST_F(SimProcessTest, SendModeRelaysCommandsAndReportsFailure) {
    startModem();
    const auto run = [&](const std::string& commands, std::string& output) {
        const std::string line =
            SiteSimProcess::executable() + " --send " + m_sim.controlPath() + " " + commands;
        FILE* pipe = ::popen(line.c_str(), "r");
        char buf[512];
        size_t n;
        while (pipe && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
            output.append(buf, n);
        const int status = pipe ? ::pclose(pipe) : -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string output;
    EXPECT_EQ(run("ring 'dial-result BUSY'", output), 0);
    EXPECT_EQ(output, "OK\nOK\n");
    output.clear();
    EXPECT_EQ(run("ring", output), 1); // already ringing
    EXPECT_EQ(output, "ERROR line busy\n");
    output.clear();
    EXPECT_EQ(run("", output), 0);
    const std::string missing =
        SiteSimProcess::executable() + " --send " + m_dir.file("nothing") + " status 2>/dev/null";
    const int status = std::system(missing.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
}

TEST_F(SimProcessTest, SigtermRemovesTheLinkAndTheSocket) {
    startModem();
    const std::string link = m_sim.linkPath(), control = m_sim.controlPath();
    const int status = m_sim.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
    EXPECT_NE(::lstat(control.c_str(), &st), 0);
}
