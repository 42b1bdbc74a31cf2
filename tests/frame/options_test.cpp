#include "frame/options.h"

#include <gtest/gtest.h>

#include <string>

#include "kxconf.h"

namespace {

TEST(SetOption, AcceptsOnlyTheKnownOptionWithZeroOrOne) {
    EXPECT_FALSE(kx::every_adapter_option());
    EXPECT_EQ(kx_set_option(0, 1), KX_E_ARGUMENT);
    EXPECT_EQ(kx_set_option(2, 1), KX_E_ARGUMENT);
    EXPECT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 2), KX_E_ARGUMENT);
    EXPECT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, -1), KX_E_ARGUMENT);
    EXPECT_FALSE(kx::every_adapter_option());
    EXPECT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 1), KX_OK);
    EXPECT_TRUE(kx::every_adapter_option());
    EXPECT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 0), KX_OK);
    EXPECT_FALSE(kx::every_adapter_option());
}

TEST(ResultText, NamesEachCodeAndNeverReturnsNull) {
    EXPECT_STREQ(kx_result_text(1), "success");
    EXPECT_STREQ(kx_result_text(-3), "no matching reply in time");
    EXPECT_STREQ(kx_result_text(-6), "login refused");
    EXPECT_STREQ(kx_result_text(-4), "unknown result code");
    EXPECT_STREQ(kx_result_text(INT32_MIN), "unknown result code");
    // Every code the header defines has a text of its own.
    for (int32_t code : {2, 16, -1, -2, -5, -7})
        EXPECT_NE(std::string(kx_result_text(code)), "unknown result code") << code;
}

}  // namespace
