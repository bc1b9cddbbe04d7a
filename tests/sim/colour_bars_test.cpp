// The virtual colour camera as the library sees it: frames read through the
// device object and demosaiced with the stored default Bayer mode show the
// colour bars in their own colours, whatever the mirrors and the skipping.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/vimbra_740qx_rdl_sdk.h"
#include "image/demosaic.h"
#include "image/dib_image.h"
#include "platform/clock.h"
#include "sim/virtual_driver.h"

namespace vimbra {
namespace {

constexpr int kDefaultBayerMode = kPhaseGRBG;  // the settings store's default

// Colour of each bar from left to right (red, green, blue on or off).
constexpr bool kBars[8][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0},
                              {1, 0, 1}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}};

class ColourBarsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetSleepHook([](uint32_t) {});
        driver_.SetTiming(false);
        driver_.SetStill(true);
        driver_.Plug(0, sim::CameraModel::kColor);
    }
    void TearDown() override { platform::SetSleepHook(nullptr); }

    sim::VirtualDriver driver_;
};

TEST_F(ColourBarsTest, DefaultBayerModeShowsTheBarsInEveryMirrorCombination) {
    struct Case {
        int mode;  // sub-sample mode
        int mirror_h, mirror_v;
    };
    const Case cases[] = {{0, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 1, 1},
                          {2, 0, 0}, {2, 1, 0}, {2, 0, 1}, {2, 1, 1}};
    CVimbra740QXRDLSdk device(&driver_);
    for (const Case& c : cases) {
        const std::string what = "mode " + std::to_string(c.mode) + " mirror H " +
                                 std::to_string(c.mirror_h) + " V " + std::to_string(c.mirror_v);
        device.SetVerticalMirror(c.mirror_v);
        device.SetHorizontalMirror(c.mirror_h);
        ASSERT_EQ(device.SetWindow(0, 0, kSensorWidth, kSensorHeight, c.mode), 0) << what;
        ASSERT_EQ(device.ReadOneFrame(), kDevOk) << what;
        const int w = device.EffectiveWidth(), h = device.EffectiveHeight();
        CDibImage raw, rgb;
        ASSERT_TRUE(raw.Create(w, h, 8) && rgb.Create(w, h, 24));
        for (int y = 0; y < h; ++y)
            std::memcpy(raw.row(y), device.OneShotBuffer() + static_cast<size_t>(y) * w, w);

        DemosaicParams params{EffectivePhase(kDefaultBayerMode, c.mirror_h, c.mirror_v), 100, 100,
                              100};
        void* p = &params;
        CDibImage::ConvertBlit(&rgb, DemosaicInner8, &raw, nullptr, 0, 0, &p, nullptr);
        CDibImage::ConvertBlit(&rgb, DemosaicBorder8, &raw, nullptr, 0, 0, &p, nullptr);

        // The bars fill the top of the scene; a vertical mirror puts them at the bottom.
        const int y = c.mirror_v ? h - 1 - h / 5 : h / 5;
        for (int bar = 0; bar < 8; ++bar) {
            const int x = (2 * bar + 1) * w / 16;
            const bool* colour = kBars[c.mirror_h ? 7 - bar : bar];
            const uint8_t* px = rgb.row(y) + 3 * x;
            const int rgb_values[3] = {px[2], px[1], px[0]};
            for (int channel = 0; channel < 3; ++channel) {
                if (colour[channel])
                    EXPECT_GT(rgb_values[channel], 150)
                        << what << " bar " << bar << " ch " << channel;
                else
                    EXPECT_LT(rgb_values[channel], 30)
                        << what << " bar " << bar << " ch " << channel;
            }
        }
    }
}

}  // namespace
}  // namespace vimbra
