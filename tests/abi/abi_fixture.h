// Loads the built tarnvale.so through the test host, as a host meets it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/audio_buffers.h"
#include "host/vst_host.h"

#ifndef TARNVALE_MODULE_PATH
#error "TARNVALE_MODULE_PATH must name the built module"
#endif

namespace abitest {

inline const vsthost::Module& module() {
    static std::unique_ptr<vsthost::Module> loaded = [] {
        std::string error;
        auto m = vsthost::Module::load(TARNVALE_MODULE_PATH, error);
        if (!m) {
            ADD_FAILURE() << error;
            std::abort();
        }
        return m;
    }();
    return *loaded;
}

class Abi : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        plugin = vsthost::Plugin::create(module(), host, error);
        ASSERT_TRUE(plugin) << error;
        fx = plugin->effect();
    }
    vsthost::Host host;
    std::unique_ptr<vsthost::Plugin> plugin;
    AEffect* fx = nullptr;
};

constexpr int kInputs = 32;
constexpr int kOutputs = 38;
constexpr int kParams = 68;

}  // namespace abitest
