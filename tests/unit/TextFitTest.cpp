#include <gtest/gtest.h>

#include <string>

#include "actions/TextFit.h"

TEST(TextFitTest, FitCutsOrPads) {
  EXPECT_EQ(qm::FitText("ABCDEFGHIJKL.ZIP", 14), "ABCDEFGHIJKL.Z");
  EXPECT_EQ(qm::FitText("DEMO.ZIP", 14), "DEMO.ZIP      ");
  EXPECT_EQ(qm::FitText("", 3), "   ");
  EXPECT_EQ(qm::FitText("42", 5, '0', true), "00042");
  EXPECT_EQ(qm::PadText("toolong", 3), "toolong");
  EXPECT_EQ(qm::PadText("7", 3, '*', true), "**7");

  std::string carry = "stale";
  EXPECT_EQ(qm::FitWithCarry("abcdef", 4, carry), "abcd");
  EXPECT_EQ(carry, "ef");
  EXPECT_EQ(qm::FitWithCarry("ab", 4, carry), "ab  ");
  EXPECT_EQ(carry, "");
}
