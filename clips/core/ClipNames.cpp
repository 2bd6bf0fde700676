#include "clips/core/ClipNames.h"

#include <cstdio>

std::string clipStampText(const std::tm& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string clipDateText(const std::tm& t) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return text;
}

std::string clipTimeText(const std::tm& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", t.tm_hour, t.tm_min);
    return text;
}

std::string channelText(int32_t channel) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", int(channel));
    return text;
}

std::string clipChannelLabel(int32_t channel, const std::string& location) {
    return channelText(channel) + " " + location;
}

std::string imageNameFor(const std::string& videoFileName) {
    return videoFileName.substr(0, videoFileName.find('.')) + ".img";
}

std::tm localTime(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    return local;
}
