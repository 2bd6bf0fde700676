#include "tests/acceptance/ChannelView.h"

#include "tests/acceptance/AcceptancePaths.h"
#include "tests/acceptance/Poll.h"
#include "tests/acceptance/Screen.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

std::vector<ChannelToolbar> findChannelToolbars(const QImage& image) {
    const std::vector<QRect> marks = Screen::regions(image, &Screen::isRed, 2, QSize(4, 4), QSize(24, 24));
    auto onBlackStrip = [&](QPoint upper, QPoint lower) {
        int dark = 0, all = 0;
        for (int y = upper.y(); y <= lower.y(); ++y, ++all) {
            const QRgb pixel = image.pixel(upper.x() - 11, y);
            dark += qRed(pixel) < 40 && qGreen(pixel) < 40 && qBlue(pixel) < 40 ? 1 : 0;
        }
        return all > 0 && dark * 10 >= all * 9;
    };
    std::vector<ChannelToolbar> toolbars;
    for (const QRect& upper : marks)
        for (const QRect& lower : marks) {
            const QPoint a = upper.center(), b = lower.center();
            if (std::abs(a.x() - b.x()) <= 2 && b.y() - a.y() > 80 && b.y() - a.y() < 160 && a.x() > 11 &&
                onBlackStrip(a, b))
                toolbars.push_back({a, b});
        }
    return toolbars;
}

bool hasRedMarkAt(const QImage& image, QPoint centre) {
    int red = 0;
    for (int y = centre.y() - 6; y <= centre.y() + 6; ++y)
        for (int x = centre.x() - 6; x <= centre.x() + 6; ++x)
            red += image.valid(x, y) && Screen::isRed(image.pixel(x, y)) ? 1 : 0;
    return red >= 12;
}

std::map<std::string, std::string> probeVideo(const std::string& path) {
    const ToolResult result =
        runTool({kFfprobePath, "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                 "stream=codec_name,r_frame_rate,nb_read_frames,width,height", "-of",
                 "default=noprint_wrappers=1", path},
                {}, kLongWaitMs);
    std::map<std::string, std::string> fields;
    if (!result.ok())
        return fields;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);)
        if (const size_t equals = line.find('='); equals != std::string::npos)
            fields[line.substr(0, equals)] = line.substr(equals + 1);
    return fields;
}

std::vector<std::string> filesWithExtension(const std::string& folder, const std::string& extension) {
    std::vector<std::string> names;
    for (const std::string& name : filesIn(folder))
        if (fs::path(name).extension() == extension)
            names.push_back(name);
    return names;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

uintmax_t fileSize(const std::string& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}
