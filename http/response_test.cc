#include "http/response.h"

#include <gtest/gtest.h>

namespace {

TEST(ReasonPhrase, TableAndUnknownCodes) {
  const struct {
    int16_t code;
    const char* phrase;
  } cases[] = {
      {200, "OK"},
      {302, "Move temporarily"},
      {306, "Switch Proxy"},
      {413, "Request Entity Too Large"},
      {503, "Service Unavailable"},
      {600, "Unparseable Response Headers"},
      {100, "Continue"},
      {511, "Network Authentication Required"},
      {0, "***"},
      {418, "***"},
      {-1, "***"},
  };
  for (const auto& c : cases) EXPECT_EQ(reasonPhrase(c.code), Text(c.phrase)) << c.code;
}

TEST(HeaderList, KeepsOrderAndDuplicates) {
  HeaderList list;
  list.append(Text("A"), Text("1"));
  list.append(Text("B"), Text("2"));
  list.append(Text("A"), Text("3"));
  ASSERT_EQ(list.count(), 3);
  EXPECT_EQ(list.at(2).name, Text("A"));
  EXPECT_EQ(list.at(2).value, Text("3"));
  list.resetTo(2);
  EXPECT_EQ(list.count(), 2);
  EXPECT_TRUE(list.at(0).name.empty());
  list.clear();
  EXPECT_EQ(list.count(), 0);
}

}  // namespace
