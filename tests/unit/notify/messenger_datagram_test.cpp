#include "notify/messenger_datagram.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

TEST(NetbiosNameTest, EncodesAsRfc1001) {
  const std::string fred = EncodeNetbiosName("fred", 0x20);
  ASSERT_EQ(fred.size(), 34U);
  EXPECT_EQ(fred.front(), 0x20);
  EXPECT_EQ(fred.back(), '\0');
  EXPECT_EQ(fred.substr(1, 32), "EGFCEFEECACACACACACACACACACACACA");
  // Cut to 15 characters before the suffix.
  EXPECT_EQ(EncodeNetbiosName("ABCDEFGHIJKLMNOPQRS", 0x03).substr(29, 4), "EPAD");
}

TEST(MessengerPayloadTest, ThreeZeroTerminatedStringsWithinTheBuffer) {
  EXPECT_EQ(BuildMessengerPayload("PC", "HOST", "Hi"), std::string("PC\0HOST\0Hi\0", 11));
  // A zero byte inside a string would shift the fields the receiver sees.
  EXPECT_EQ(BuildMessengerPayload("PC", std::string("HO\0ST", 5), std::string("a\0b", 3)),
            std::string("PC\0HO\0a\0", 8));

  const std::string fits = BuildMessengerPayload("PC", "HOST", std::string(10233, 't'));
  EXPECT_EQ(fits.size(), kMessengerBufferSize);
  EXPECT_EQ(BuildMessengerPayload("PC", "HOST", std::string(10234, 't')), fits);

  // Even absurd names never make the payload overflow.
  const std::string huge(20000, 'n');
  const std::string payload = BuildMessengerPayload(huge, huge, huge);
  EXPECT_EQ(payload.size(), kMessengerBufferSize);
  EXPECT_EQ(payload.substr(kMessengerBufferSize - 3), std::string(3, '\0'));
}

}  // namespace
}  // namespace sentrel
