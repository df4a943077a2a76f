// Helpers shared by the Windows camera-link tests: environment, files, timing, a connected link.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camera/camera_link.h"

namespace linktest {

inline std::string env(const char* name, const char* fallback = "") {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

inline bool readFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

inline std::vector<uint8_t> bytesOf(const LinkBuffer& buffer) {
    return buffer.data ? std::vector<uint8_t>(buffer.data, buffer.data + buffer.count) : std::vector<uint8_t>();
}

inline bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Seconds taken by f().
template <typename F>
double timed(F f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A link with its (hidden) progress window, as the camera dialog makes it.
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = static_cast<uint8_t>(std::atoi(env("DORVEX_TEST_PORT", "1").c_str()));
        link = std::make_unique<CameraLink>(1);
        ASSERT_NE(link->createWindow(nullptr), nullptr);
    }

    // The camera dialog's way: 9600 first, then the chosen rate.
    bool connect(uint32_t rate) {
        if (!setio(9600)) return false;
        return rate == 9600 || setio(rate);
    }
    bool setio(uint32_t rate, uint8_t number = 0) {
        return link->SetIO(number ? number : port, rate, NOPARITY, ONESTOPBIT, 8, 2, false) != 0;
    }

    // Picture n's file as the simulator dumped it; kind is "jpg", "info", "thumb-jpg" or
    // "thumb-tif". Both namings the simulator has used are accepted.
    static std::string cardFile(unsigned number, const std::string& kind) {
        static const char* const names[][3] = {{"jpg", ".jpg", ".jpg"},
                                               {"info", "-info.bin", ".info"},
                                               {"thumb-jpg", "-thumb.jpg", ".thm"},
                                               {"thumb-tif", "-thumb.tif", ".tif"}};
        std::string first;
        for (const auto& name : names) {
            if (kind != name[0]) continue;
            for (int i = 1; i < 3; ++i) {
                char file[64];
                std::snprintf(file, sizeof file, "\\%02u%s", number, name[i]);
                const std::string path = env("DORVEX_SIM_CARD") + file;
                if (fileExists(path)) return path;
                if (first.empty()) first = path;
            }
        }
        return first;
    }

    uint8_t port = 1;
    std::unique_ptr<CameraLink> link;
};

}  // namespace linktest
