// Makes the documentation's pictures of the clip windows: a still viewer, the
// clips browser with a preview and a player in the middle of a clip, from
// clips recorded here with colour-bar frames.
//   clip_screenshots <folder>   (QT_QPA_PLATFORM=offscreen works)
#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "clips/core/ClipRecorder.h"
#include "clips/ui/ClipBrowserDialog.h"
#include "clips/ui/ClipListWidget.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "tests/codec/TestFrames.h"
#include "tests/support/TempDir.h"
#include "video/ui/PlayerWindow.h"
#include "video/ui/StillViewer.h"

#include <QApplication>
#include <QTreeWidget>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: clip_screenshots <folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    TempDir dir("dialscope-shots");
    RegistryStore store(dir.file("user.sqlite"));
    ChannelTable channels;
    channels.replace({{1, "Main gate"}, {2, "Loading bay"}, {3, "Office"}});
    ClipIndex index(store, channels);
    ScriptedDialogService dialogs;

    auto encoder = TestFrameEncoder::create("mjpeg", makeFourCC('M', 'J', 'P', 'G'), 24, 320, 240, 1);
    if (!encoder)
        return 1;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 16; ++i)
        frames.push_back(encoder->encode(makeColourBars(320, 240, i * 12)));

    std::time_t now = std::time(nullptr) - 3 * 86400;
    for (int clip = 0; clip < 7; ++clip) {
        ClipRecorder recorder(index, {[&] { return dir.path() + "/"; }, [&] { return now; }, {}, {}, {}});
        recorder.StartRecording(clip % 3 + 1, *BitmapInfoHeader::parse(frames[0]));
        for (size_t i = size_t(clip); i < frames.size(); ++i)
            recorder.RecordFrame(frames[i]);
        now += 3600 + 97 * clip;
        recorder.StopRecording();
    }
    std::vector<ClipRecord> records;
    index.LoadClipRecords(records);
    for (const ClipRecord& r : records)
        if (r.Channel == 1 && r.FileName < records.back().FileName)
            index.MarkClipRead(r.FileName, true);

    bool ok = true;
    std::vector<uint8_t> buffer(230400, 0);
    std::copy(frames[5].begin(), frames[5].end(), buffer.begin());
    StillViewer* viewer = StillViewer::showSnapshot(buffer, nullptr, 2, "Loading bay", nullptr, dialogs);
    ok = viewer && viewer->grab().save(out + "/still_viewer.png") && ok;

    index.catalogNow();
    ClipBrowserDialog browser(index, dialogs, nullptr);
    browser.show();
    browser.selectNode("0001 Main gate");
    browser.list()->topLevelItem(0)->setSelected(true);
    QApplication::processEvents();
    ok = browser.grab().save(out + "/clips_browser.png") && ok;

    auto steady = std::chrono::steady_clock::now();
    auto* player = new PlayerWindow(&browser, dialogs, [&] { return steady; });
    ClipRecord first = records.front();
    for (const ClipRecord& r : records)
        if (r.FileName < first.FileName)
            first = r;
    player->Open(first);
    steady += std::chrono::milliseconds(3500);
    player->playbackTick();
    player->speedScroll(1, 0);
    QApplication::processEvents();
    ok = player->grab().save(out + "/player.png") && ok;
    delete viewer;
    return ok ? 0 : 1;
}
