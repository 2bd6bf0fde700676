#include "clips/core/ClipGroups.h"
#include "clips/core/ClipNames.h"
#include "clips/core/ClipSearch.h"
#include "clips/core/ImagePreview.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

ClipRecord Clip(const std::string& name, int32_t channel, const std::string& location,
                const std::string& date, const std::string& time, int32_t open = 0) {
    ClipRecord r;
    r.FileName = name;
    r.Channel = channel;
    r.Location = location;
    r.SDate = date;
    r.STime = time;
    r.Open = open;
    return r;
}

TEST(ClipNames, StampsDatesChannelsAndLabels) {
    std::tm t{};
    t.tm_year = 101;
    t.tm_mon = 6;
    t.tm_mday = 5;
    t.tm_hour = 4;
    t.tm_min = 9;
    t.tm_sec = 3;
    EXPECT_EQ(clipStampText(t), "20010705040903");
    EXPECT_EQ(clipDateText(t) + clipTimeText(t), "2001/07/0504:09");
    EXPECT_EQ(channelText(12345), "12345");
    EXPECT_EQ(channelText(-3), "-003");
    EXPECT_EQ(clipChannelLabel(2, ""), "0002 ");
    EXPECT_EQ(imageNameFor("200107151409330002_1.avi"), "200107151409330002_1.img");
    EXPECT_EQ(imageNameFor("a.b.avi"), "a.img");
    EXPECT_EQ(imageNameFor("noext"), "noext.img");
    EXPECT_EQ(formatCount(0), "     0");
    EXPECT_EQ(formatCount(1234567), "1234567");
}

TEST(ClipGroups, GroupsByExactLabelInOrderOfFirstAppearance) {
    ClipGroupList groups;
    EXPECT_TRUE(groups.add(Clip("c.avi", 7, "Yard", "2001/07/15", "10:00")));
    EXPECT_TRUE(groups.add(Clip("a.avi", 2, "Gate", "2001/07/15", "10:00", 1)));
    EXPECT_FALSE(groups.add(Clip("d.avi", 7, "Yard", "2001/07/15", "10:00")));
    EXPECT_TRUE(groups.add(Clip("b.avi", 2, "", "2001/07/15", "10:00")));
    EXPECT_TRUE(groups.add(Clip("e.avi", 2, "gate", "2001/07/15", "10:00"))); // case matters
    ASSERT_EQ(groups.groups().size(), 4u);
    EXPECT_EQ(groups.groups()[0].label, "0007 Yard");
    EXPECT_EQ(groups.groups()[2].label, "0002 ");
    EXPECT_EQ(groups.groups()[0].records[1].FileName, "d.avi");
    EXPECT_EQ(groups.findRecord("0002 Gate", "a.avi")->Open, 1);
    EXPECT_EQ(groups.findRecord("0002 ", "a.avi"), nullptr);
    EXPECT_EQ(groups.find("0002"), nullptr);

    EXPECT_EQ(groups.removeRecords("0002 Gate", {"a.avi", "x.avi"}), 1);
    EXPECT_EQ(groups.removeRecords("0007 Yard", {"c.avi"}), 0);
    EXPECT_TRUE(groups.find("0002 Gate")->records.empty()) << "the group stays, empty";
    EXPECT_EQ(groups.find("0007 Yard")->records.size(), 1u);
}

TEST(ClipSearch, BoundsAreInclusiveMinutesOnlyAndApplyToTheStart) {
    EXPECT_EQ(searchBound(2001, 7, 15, 14, 0), "2001/07/1514:00");
    const ClipRecord at1400 = Clip("a", 2, "", "2001/07/15", "14:00");
    const ClipRecord at1359 = Clip("b", 2, "", "2001/07/15", "13:59"); // ran past 14:00
    const ClipRecord at2359 = Clip("c", 2, "", "2001/07/15", "23:59"); // started 23:59:40
    const ClipRecord nextDay = Clip("d", 2, "", "2001/07/16", "00:00");
    struct Case {
        SearchFilter filter;
        std::string matches;
    };
    const std::string lower = searchBound(2001, 7, 15, 14, 0);
    const std::string upper = searchBound(2001, 7, 15, 23, 59);
    const Case cases[] = {
        {{false, lower, false, upper}, "abcd"}, {{true, lower, false, upper}, "acd"},
        {{false, lower, true, upper}, "abc"},   {{true, lower, true, upper}, "ac"},
        {{true, upper, true, lower}, ""}, // lower bound after the upper one
        {{true, lower, true, lower}, "a"},
    };
    for (const Case& c : cases) {
        std::string got;
        for (const ClipRecord* r : {&at1400, &at1359, &at2359, &nextDay})
            if (clipMatches(*r, c.filter))
                got += r->FileName;
        EXPECT_EQ(got, c.matches) << c.filter.after << c.filter.before << " " << c.filter.lower;
    }
}

TEST(ClipSearch, OneGroupOrAllGroupsInGroupOrder) {
    std::vector<ClipGroup> groups{
        {"0002 Gate", {Clip("a", 2, "Gate", "2001/07/15", "10:00")}},
        {"0003 ", {Clip("b", 3, "", "2001/07/15", "11:00"), Clip("c", 3, "", "2001/07/14", "11:00")}}};
    const SearchFilter after{true, searchBound(2001, 7, 15, 0, 0), false, ""};
    auto hits = searchClips(groups, std::nullopt, after);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].group, 0u);
    EXPECT_EQ(hits[1].group, 1u);
    EXPECT_EQ(hits[1].record, 0u);
    EXPECT_EQ(searchClips(groups, 1, SearchFilter{}).size(), 2u);
    EXPECT_TRUE(searchClips(groups, 5, SearchFilter{}).empty());
}

class ImagePreviewTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = m_dir.file(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
    TempDir m_dir;
    ImagePreview m_preview;
};

TEST_F(ImagePreviewTest, LoadsAndDecodesAnImageFileOnlyWhenItChanges) {
    const auto frames = cliptest::jpegFrames(m_dir.path(), 1, 64, 48);
    ASSERT_EQ(frames.size(), 1u);
    const std::string path = write("clip.img", frames[0]);
    EXPECT_EQ(m_preview.load(path), ImagePreview::Load::Loaded);
    ASSERT_TRUE(m_preview.valid());
    const auto decoded = m_preview.decode();
    ASSERT_TRUE(decoded);
    EXPECT_EQ(BitmapInfoHeader::parse(*decoded)->biWidth, 64);
    EXPECT_EQ(m_preview.load(path), ImagePreview::Load::Unchanged);

    EXPECT_EQ(m_preview.load(m_dir.file("gone.img")), ImagePreview::Load::Missing);
    EXPECT_FALSE(m_preview.valid());
    EXPECT_FALSE(m_preview.decode());
    EXPECT_EQ(m_preview.load(m_dir.file("gone.img")), ImagePreview::Load::Unchanged);
    EXPECT_EQ(m_preview.load(m_dir.path()), ImagePreview::Load::Missing); // a folder
}

TEST_F(ImagePreviewTest, NeverReadsPastTheBufferOrTheFile) {
    auto frame = cliptest::rawFrame(32, 16, 1);
    std::vector<uint8_t> full(ImagePreview::kBufferSize, 0);
    std::copy(frame.begin(), frame.end(), full.begin());
    EXPECT_EQ(m_preview.load(write("full.img", full)), ImagePreview::Load::Loaded);
    EXPECT_EQ(m_preview.bytes().size(), ImagePreview::kBufferSize);
    EXPECT_TRUE(m_preview.decode());

    full.push_back(0);
    EXPECT_EQ(m_preview.load(write("long.img", full)), ImagePreview::Load::TooLong);
    EXPECT_FALSE(m_preview.valid());
    EXPECT_TRUE(m_preview.bytes().empty());

    // A header claiming more image data than the file holds decodes to nothing.
    auto cut = frame;
    cut.resize(cut.size() - 10);
    EXPECT_EQ(m_preview.load(write("cut.img", cut)), ImagePreview::Load::Loaded);
    EXPECT_FALSE(m_preview.decode());
    EXPECT_EQ(m_preview.load(write("tiny.img", {40, 0, 0})), ImagePreview::Load::Loaded);
    EXPECT_FALSE(m_preview.decode());
}

} // namespace
