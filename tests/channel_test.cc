// The channel type: the key, name and index of each channel, and the keys that name none.
#include <gtest/gtest.h>

#include <optional>

#include "console/console.h"
#include "link/channel.h"

TEST(ChannelKey, NamesOneOfTheThreeChannelsOrNone) {
  const char* names[] = {"CH1", "CH2", "CH3"};
  for (int key : {'1', '2', '3'}) {
    std::optional<Channel> channel = Channel::from_key(key);
    ASSERT_TRUE(channel.has_value()) << key;
    EXPECT_EQ(channel->key(), key);
    EXPECT_STREQ(channel->name(), names[key - '1']);
    EXPECT_EQ(channel->index(), static_cast<std::size_t>(key - '1'));
  }
  for (int key : {int{'0'}, int{'4'}, int{'a'}, KEY_CLOSED, 256 + '1'}) {
    EXPECT_FALSE(Channel::from_key(key).has_value()) << key;
  }
}
