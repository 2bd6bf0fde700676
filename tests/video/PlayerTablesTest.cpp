#include "video/core/PlayerTables.h"
#include "clips/core/ClipIndex.h"
#include "video/core/PrintPlacement.h"

#include <gtest/gtest.h>

namespace {

using namespace player;

TEST(PlayerTables, SpeedSliderScrolls) {
    struct Case {
        int index, code, position, expected;
    };
    const Case cases[] = {
        {0, LineUp, 0, 0},
        {0, PageUp, 0, 0},
        {5, LineUp, 9, 4},
        {5, PageDown, 0, 6},
        {19, LineDown, 0, 19},
        {19, PageDown, 0, 19},
        {3, ThumbTrack, 12, 12},
        {3, ThumbPosition, 19, 19},
        {3, ThumbPosition, 20, 5},
        {3, ThumbTrack, -1, 5},
        {7, 8 /* end scroll */, 2, 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(speedAfterScroll(c.index, c.code, c.position), c.expected)
            << c.index << " " << c.code << " " << c.position;
}

TEST(PlayerTables, PositionSliderAndStepCommands) {
    EXPECT_EQ(positionScrollTarget(LineDown, 7, 99), 7);
    EXPECT_EQ(positionScrollTarget(PageUp, 3, 99), 3);
    EXPECT_EQ(positionScrollTarget(ThumbTrack, 3, 9), 9);
    EXPECT_EQ(positionScrollTarget(ThumbPosition, 3, 9), 9);
    EXPECT_FALSE(positionScrollTarget(6, 3, 9)); // top/bottom change nothing
    EXPECT_FALSE(positionScrollTarget(8, 3, 9));

    EXPECT_FALSE(seekMoves(4, 4, 10)); // released on the current frame
    EXPECT_FALSE(seekMoves(11, 4, 10));
    EXPECT_TRUE(seekMoves(10, 4, 10));
    EXPECT_TRUE(seekMoves(0, 4, 10));

    EXPECT_EQ(rewindTarget(0), 0);
    EXPECT_EQ(rewindTarget(5), 4);
    EXPECT_EQ(forwardTarget(10, 10), 10);
    EXPECT_EQ(forwardTarget(3, 10), 4);
}

TEST(PlayerTables, Texts) {
    EXPECT_EQ(infoLine(9, 9, 4.5, 4.5), "Total: 9/9 Frame  --   4.5/4.5 Sec");
    EXPECT_EQ(rateLabel(0.5), "FPS: 2.0");
    EXPECT_EQ(rateLabel(0), "FPS: 0.0");
    EXPECT_EQ(clipTitle("200107151409330002.avi", 5000), "200107151409330002.avi        4K");
    EXPECT_EQ(clipTitle("a.avi", int64_t(123456789) << 10), "a.avi 123456789K");

    ClipRecord r;
    r.Channel = 2;
    r.Location = "Gate";
    r.SDate = "2001/07/15";
    r.STime = "14:09";
    r.EDate = "2001/07/16";
    r.ETime = "00:01";
    const HeaderTexts h = headerFor(r);
    EXPECT_EQ(h.line1, "0002 Gate");
    EXPECT_EQ(h.start, "Start:2001/07/15[14:09]");
    EXPECT_EQ(h.end, "Ending:2001/07/16[00:01]");
}

TEST(PrintPlacement, ScalesFromScreenToPrinterAndCentres) {
    // 600 dpi printer, 96 dpi screen: 6.25 times, centred on a letter page.
    PrintRect r = placeOnPage(320, 240, 96, 96, 600, 600, 5100, 6600);
    EXPECT_EQ(r.width, 2000);
    EXPECT_EQ(r.height, 1500);
    EXPECT_EQ(r.x, 2550 - 1000);
    EXPECT_EQ(r.y, 3300 - 750);
    // A printer coarser than the screen still enlarges: the scale is never below 1.
    r = placeOnPage(100, 100, 144, 96, 72, 96, 600, 800);
    EXPECT_EQ(r.width, 200);
    EXPECT_EQ(r.height, 100);
    // Truncation and integer halves.
    r = placeOnPage(33, 21, 96, 96, 300, 300, 1001, 999);
    EXPECT_EQ(r.width, 103); // 33 * 3.125 = 103.125
    EXPECT_EQ(r.height, 65); // 21 * 3.125 = 65.625
    EXPECT_EQ(r.x, 500 - 51);
    EXPECT_EQ(r.y, 499 - 32);
    // A picture larger than the page goes off both edges evenly.
    r = placeOnPage(400, 10, 100, 100, 100, 100, 200, 10);
    EXPECT_EQ(r.x, -100);
}

} // namespace
