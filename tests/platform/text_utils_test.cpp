#include "platform/text_utils.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <cerrno>

namespace qv::platform {
namespace {

TEST(TextUtilsTest, SystemErrorTextIsEmptyAfterSuccessAndNamesAFailure) {
  errno = 0;
  EXPECT_EQ(SystemErrorText(), "");
  ASSERT_EQ(::open("/nonexistent/quorvane/file", O_RDONLY), -1);
  EXPECT_EQ(SystemErrorText(), "No such file or directory");
  EXPECT_EQ(SystemErrorText(0), "");
}

TEST(TextUtilsTest, TrimCharRemovesOnlyTheEnds) {
  EXPECT_EQ(TrimChar(' ', "  x  "), "x");
  EXPECT_EQ(TrimChar(' ', "   "), "");
  EXPECT_EQ(TrimChar(' ', " a b "), "a b");
  EXPECT_EQ(TrimChar(',', ",,a,,"), "a");
  EXPECT_EQ(TrimChar(' ', ""), "");
}

TEST(TextUtilsTest, SplitToListTrimsItemsAndDropsOnlyATrailingSeparator) {
  std::vector<std::string> list{"kept"};
  SplitToList(",", "  Anna , Boris ", list);
  EXPECT_EQ(list, (std::vector<std::string>{"kept", "Anna", "Boris"}));
  list.clear();
  SplitToList(",", "Anna,Boris,", list);
  EXPECT_EQ(list, (std::vector<std::string>{"Anna", "Boris"}));
  list.clear();
  SplitToList(",", "a,,b", list);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "", "b"}));
  list.clear();
  SplitToList(",", "", list);
  EXPECT_EQ(list, (std::vector<std::string>{""}));
  list.clear();
  // A longer separator: its remaining characters begin the next item.
  SplitToList(";;", "a;;b", list);
  EXPECT_EQ(list, (std::vector<std::string>{"a", ";b"}));
}

}  // namespace
}  // namespace qv::platform
