#include "video/ui/StillViewer.h"
#include "platform/codec/VideoDecompressor.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "res/StringTable.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/support/TempDir.h"
#include "video/ui/DibImage.h"

#include <QAction>
#include <QDir>
#include <QImageReader>
#include <QPrinter>
#include <QResizeEvent>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> frameBuffer(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> buffer(230400, 0);
    std::copy(frame.begin(), frame.end(), buffer.begin());
    return buffer;
}

class StillViewerTest : public ::testing::Test {
protected:
    void TearDown() override {
        delete m_viewer.data();
        StillViewer::setPrintDialogRunner([](QPrinter&, QWidget*) { return false; });
    }
    StillViewer* open(const std::vector<uint8_t>& buffer, VideoDecompressor* decompressor = nullptr) {
        m_viewer = StillViewer::create(buffer, decompressor, QStringLiteral("0002 Gate -- 14:09:33"), nullptr,
                                       m_dialogs);
        return m_viewer;
    }

    TempDir m_dir;
    ScriptedDialogService m_dialogs;
    QPointer<StillViewer> m_viewer;
};

TEST_F(StillViewerTest, NoViewerWithoutAFrame) {
    EXPECT_EQ(open(std::vector<uint8_t>(230400, 0)), nullptr);
    EXPECT_EQ(open({}), nullptr);
    EXPECT_EQ(StillViewer::showSnapshot(std::vector<uint8_t>(39, 0), nullptr, 2, "Gate", nullptr, m_dialogs),
              nullptr);
}

TEST_F(StillViewerTest, DecodesItsOwnCopySizedToThePictureAndStretched) {
    const auto frames = cliptest::jpegFrames(m_dir.path(), 1, 320, 240);
    ASSERT_EQ(frames.size(), 1u);
    std::vector<uint8_t> buffer = frameBuffer(frames[0]);
    StillViewer* viewer = StillViewer::showSnapshot(buffer, nullptr, 2, "T\xF6r", nullptr, m_dialogs, 0);
    m_viewer = viewer;
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->decoded());
    EXPECT_TRUE(viewer->windowTitle().startsWith(QStringLiteral("0002 T\u00F6r -- ")))
        << "channel names are Latin-1";
    EXPECT_EQ(viewer->size(), QSize(320, 240));
    std::fill(buffer.begin(), buffer.end(), 0); // later frames change nothing
    const QImage shown = viewer->grab().toImage();
    const QColor top = shown.pixelColor(160, 40);
    EXPECT_TRUE(cliptest::near({uint8_t(top.red()), uint8_t(top.green()), uint8_t(top.blue())},
                               cliptest::frameColour(0), 24));

    viewer->resize(640, 120);
    const QImage stretched = viewer->grab().toImage();
    EXPECT_EQ(stretched.size(), QSize(640, 120));
    const QColor corner = stretched.pixelColor(630, 5);
    EXPECT_TRUE(cliptest::near({uint8_t(corner.red()), uint8_t(corner.green()), uint8_t(corner.blue())},
                               cliptest::frameColour(0), 24));
    EXPECT_EQ(viewer->saveAction()->text(), "Save a file");
    EXPECT_EQ(viewer->printAction()->text(), "Print");
}

TEST_F(StillViewerTest, SavesABitmapFileAndSaysSoOnlyWhenWritten) {
    const auto frame = cliptest::rawFrame(64, 48, 3);
    StillViewer* viewer = open(frameBuffer(frame));
    ASSERT_NE(viewer, nullptr);
    ASSERT_TRUE(viewer->decoded());
    const QString cwd = QDir::currentPath();

    // Cancelled: nothing written, nothing said.
    viewer->saveFile();
    EXPECT_EQ(m_dialogs.fileDialogCount(), 1);
    EXPECT_TRUE(m_dialogs.shownTexts().isEmpty());
    const FileDialogRequest& request = m_dialogs.lastFileRequest();
    EXPECT_EQ(request.defaultName, "capture.bmp");
    EXPECT_EQ(request.defaultSuffix, "bmp");
    EXPECT_TRUE(request.filter.startsWith("Bitmap file (*.bmp);;")) << request.filter.toStdString();
    EXPECT_TRUE(request.confirmOverwrite);

    const std::string path = m_dir.file("capture.bmp");
    m_dialogs.setNextFileName(QString::fromStdString(path));
    viewer->saveFile();
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_SAVE_OK)});
    const auto file = cliptest::readFile(path);
    ASSERT_GE(file.size(), 54u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    const uint32_t imageSize = cliptest::le32(file, 14 + 20);
    EXPECT_EQ(cliptest::le32(file, 10), 54u);
    EXPECT_EQ(cliptest::le32(file, 2), 54u + imageSize);
    EXPECT_EQ(file.size(), 54u + imageSize);
    EXPECT_EQ(QDir::currentPath(), cwd);

    // A folder that does not exist: reported, never "Save OK".
    m_dialogs.clear();
    m_dialogs.setNextFileName(QString::fromStdString(m_dir.file("missing/capture.bmp")));
    viewer->saveFile();
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_SAVE_FAILED)});
    EXPECT_FALSE(fs::exists(m_dir.file("missing")));
}

TEST_F(StillViewerTest, SavesPngAndJpegWithChannelAndTimeAsText) {
    const std::vector<uint8_t> buffer = frameBuffer(cliptest::rawFrame(64, 48, 5));
    const std::time_t taken = 1'800'000'000;
    StillViewer* viewer = StillViewer::showSnapshot(buffer, nullptr, 2, "Gate", nullptr, m_dialogs, taken);
    m_viewer = viewer;
    ASSERT_NE(viewer, nullptr);
    const QString takenText = QDateTime::fromSecsSinceEpoch(taken).toString(Qt::ISODate);

    for (const char* name : {"capture.png", "capture.JPG", "capture.jpeg"}) {
        SCOPED_TRACE(name);
        m_dialogs.clear();
        const std::string path = m_dir.file(name);
        m_dialogs.setNextFileName(QString::fromStdString(path));
        viewer->saveFile();
        EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_SAVE_OK)});
        QImageReader reader(QString::fromStdString(path));
        const bool png = std::string(name).ends_with(".png");
        EXPECT_EQ(reader.format(), png ? "png" : "jpeg");
        const QImage read = reader.read();
        ASSERT_EQ(read.size(), QSize(64, 48));
        const QColor top = read.pixelColor(32, 4);
        EXPECT_TRUE(cliptest::near({uint8_t(top.red()), uint8_t(top.green()), uint8_t(top.blue())},
                                   cliptest::frameColour(5), png ? 0 : 24));
        if (png) {
            EXPECT_EQ(read.text("Title"), "0002 Gate");
            EXPECT_EQ(read.text("Creation Time"), takenText);
        } else {
            // JPEG keeps them in its comment.
            const auto bytes = cliptest::readFile(path);
            const std::string all(bytes.begin(), bytes.end());
            EXPECT_NE(all.find("0002 Gate"), std::string::npos);
            EXPECT_NE(all.find(takenText.toStdString()), std::string::npos);
        }
    }

    // A picture that cannot be written leaves no file and says so.
    m_dialogs.clear();
    m_dialogs.setNextFileName(QString::fromStdString(m_dir.file("missing/capture.png")));
    viewer->saveFile();
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_SAVE_FAILED)});
    EXPECT_FALSE(fs::exists(m_dir.file("missing")));
}

TEST_F(StillViewerTest, WithoutADecoderTheCompressedFrameIsKeptAndSavedAsItIs) {
    std::vector<uint8_t> frame = cliptest::rawFrame(16, 8, 1);
    frame[16] = 'Z'; // a FourCC no decoder knows
    frame[17] = 'Z';
    frame[18] = 'Z';
    frame[19] = 'Z';
    StillViewer* viewer = open(frameBuffer(frame));
    ASSERT_NE(viewer, nullptr);
    EXPECT_FALSE(viewer->decoded());
    EXPECT_EQ(viewer->heldImage().size(), 230400u);
    viewer->sizeToImage();
    EXPECT_EQ(viewer->size(), QSize(16, 8));

    const std::string path = m_dir.file("raw.bmp");
    m_dialogs.setNextFileName(QString::fromStdString(path));
    viewer->saveFile();
    const auto file = cliptest::readFile(path);
    ASSERT_EQ(file.size(), 14 + frame.size()); // the frame only, not the whole buffer
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), file.begin() + 14));
}

TEST_F(StillViewerTest, PrintsThroughThePrinterTheDialogChose) {
    StillViewer* viewer = open(frameBuffer(cliptest::rawFrame(64, 48, 2)));
    ASSERT_NE(viewer, nullptr);
    const std::string pdf = m_dir.file("print.pdf");
    int dialogs = 0;
    StillViewer::setPrintDialogRunner([&](QPrinter& printer, QWidget*) {
        ++dialogs;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        return dialogs == 2; // the first dialog is cancelled
    });
    viewer->print();
    EXPECT_FALSE(fs::exists(pdf));
    viewer->print();
    ASSERT_TRUE(fs::exists(pdf));
    const auto bytes = cliptest::readFile(pdf);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), "%PDF-");
    EXPECT_GT(bytes.size(), 1000u);
}

TEST(DibImage, ConvertsOnlyWhatTheBytesHold) {
    auto frame = cliptest::rawFrame(4, 2, 1);
    QImage image = dibToImage(frame);
    ASSERT_EQ(image.size(), QSize(4, 2));
    const cliptest::Rgb top = cliptest::frameColour(1);
    EXPECT_EQ(image.pixel(0, 0), qRgb(top.r, top.g, top.b)); // bottom-up rows turned over
    EXPECT_TRUE(dibToImage(std::span(frame).first(frame.size() - 1)).isNull());
    auto wide = frame;
    wide[4] = 5; // a width whose rows do not fit biSizeImage
    EXPECT_TRUE(dibToImage(wide).isNull());
    auto flipped = frame;
    flipped[8] = 0xFE; // biHeight -2: top-down
    flipped[9] = flipped[10] = flipped[11] = 0xFF;
    EXPECT_EQ(dibToImage(flipped).pixel(0, 1), qRgb(top.r, top.g, top.b));
}

} // namespace
