// A DP832 output channel. The operator chooses it by its key ('1', '2' or '3'); the supply knows it by
// its name (CH1, CH2, CH3); tables are indexed by its index (0, 1, 2). All three come from one value,
// and only the three channels can be made, so a channel that exists is always a valid one.
#pragma once

#include <cstddef>
#include <optional>

class Channel {
 public:
  // The channel a key names; none for any other key.
  static constexpr std::optional<Channel> from_key(int key) {
    if (key < '1' || key > '3') return std::nullopt;
    return Channel(key - '1');
  }

  constexpr char key() const { return static_cast<char>('1' + index_); }
  constexpr const char* name() const { return NAMES[index_]; }
  constexpr std::size_t index() const { return static_cast<std::size_t>(index_); }

  constexpr bool operator==(const Channel&) const = default;

 private:
  static constexpr const char* NAMES[3] = {"CH1", "CH2", "CH3"};

  constexpr explicit Channel(int index) : index_(index) {}

  int index_;
};

inline constexpr Channel CH1 = *Channel::from_key('1');
inline constexpr Channel CH2 = *Channel::from_key('2');
inline constexpr Channel CH3 = *Channel::from_key('3');
