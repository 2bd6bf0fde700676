#pragma once

// The program's decompressor source: the platform video decompression service.

#include "link/LinkInterfaces.h"

class CodecDecompressorFactory final : public DecompressorFactory {
public:
    std::unique_ptr<VideoDecompressor> Open(std::string_view handler) override {
        return VideoDecompressor::open(handler);
    }
    std::unique_ptr<VideoDecompressor> locate(const BitmapInfoHeader& header) override {
        return VideoDecompressor::locate(header);
    }
};
