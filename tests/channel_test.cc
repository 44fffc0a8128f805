// The channel type: the key, name and index of each channel, and the keys that name none.
#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "console/keys.h"
#include "link/channel.h"

using KeyName = std::pair<int, const char*>;  // a key and the channel name it gives, or null

class ChannelKeyTest : public ::testing::TestWithParam<KeyName> {};

TEST_P(ChannelKeyTest, NamesOneOfTheThreeChannelsOrNone) {
  const auto [key, name] = GetParam();
  std::optional<Channel> channel = Channel::from_key(key);
  if (name == nullptr) {
    EXPECT_FALSE(channel.has_value());
    return;
  }
  ASSERT_TRUE(channel.has_value());
  EXPECT_EQ(channel->key(), key);
  EXPECT_STREQ(channel->name(), name);
  EXPECT_EQ(channel->index(), static_cast<std::size_t>(key - '1'));
}

INSTANTIATE_TEST_SUITE_P(Keys, ChannelKeyTest,
                         ::testing::Values(KeyName{'1', "CH1"}, KeyName{'2', "CH2"}, KeyName{'3', "CH3"},
                                           KeyName{'0', nullptr}, KeyName{'4', nullptr},
                                           KeyName{'a', nullptr}, KeyName{KEY_CLOSED, nullptr},
                                           KeyName{256 + '1', nullptr}));
