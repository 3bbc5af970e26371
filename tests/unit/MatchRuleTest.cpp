#include <gtest/gtest.h>

#include "actions/MatchRule.h"

namespace {

using qm::MatchRule;

TEST(MatchRuleTest, StarDotStarSelectsOnlyNamesWithADot) {
  const MatchRule rule = MatchRule::FromSpec("*.*");
  EXPECT_TRUE(rule.Matches("DEMO.ZIP"));
  EXPECT_TRUE(rule.Matches("a.b"));
  EXPECT_FALSE(rule.Matches("README"));
}

TEST(MatchRuleTest, BareStarAndEmptySpecSelectNothing) {
  for (const char* spec : {"*", "", "**", "C:\\files\\*"}) {
    const MatchRule rule = MatchRule::FromSpec(spec);
    EXPECT_FALSE(rule.Matches("DEMO.ZIP")) << spec;
    EXPECT_FALSE(rule.Matches("README")) << spec;
  }
}

TEST(MatchRuleTest, WildcardSpecIsASubstringInAnyCase) {
  const MatchRule zip = MatchRule::FromSpec("*.ZIP");
  EXPECT_TRUE(zip.Matches("demo.zip"));
  EXPECT_TRUE(zip.Matches("OLD.ZIP.BAK"));
  EXPECT_FALSE(zip.Matches("DEMOZIP"));

  // "?" stays literal text.
  const MatchRule literal = MatchRule::FromSpec("a?c.txt");
  EXPECT_TRUE(literal.Matches("XA?C.TXT"));
  EXPECT_FALSE(literal.Matches("ABC.TXT"));

  const MatchRule withDir = MatchRule::FromSpec("C:\\incoming\\*demo*");
  EXPECT_TRUE(withDir.Matches("MYDEMO.EXE"));
  EXPECT_FALSE(withDir.Matches("INCOMING.TXT"));
}

TEST(MatchRuleTest, SpecWithoutWildcardSelectsOnlyThatName) {
  const MatchRule rule = MatchRule::FromSpec("D:\\files\\demo.zip");
  EXPECT_TRUE(rule.Matches("DEMO.ZIP"));
  EXPECT_TRUE(rule.Matches("Demo.Zip"));
  EXPECT_FALSE(rule.Matches("BIGDEMO.ZIP"));
  EXPECT_FALSE(rule.Matches("DEMO.ZIP2"));
  EXPECT_FALSE(rule.Matches("DEMO"));
}

TEST(MatchRuleTest, ListingRuleListsEveryRecordForStarDotStar) {
  EXPECT_TRUE(MatchRule::ForListing("*.*").Matches("README"));
  EXPECT_TRUE(MatchRule::ForListing("/files/*.*").Matches("A.B"));
  EXPECT_FALSE(MatchRule::ForListing("*").Matches("README"));
  EXPECT_TRUE(MatchRule::ForListing("*.TXT").Matches("read.me.txt"));
  EXPECT_FALSE(MatchRule::ForListing("readme").Matches("README.TXT"));
  EXPECT_TRUE(MatchRule::ForListing("readme").Matches("README"));
}

TEST(MatchRuleTest, FileListSelectsWholeNamesOnly) {
  const MatchRule rule =
      MatchRule::FromList({"C:\\files\\BIGFILE.ZIP", "d:readme.txt  ", "",
                           "/srv/up/Tools.Arj", "plain.doc"});
  EXPECT_TRUE(rule.Matches("bigfile.zip"));
  EXPECT_TRUE(rule.Matches("README.TXT"));
  EXPECT_TRUE(rule.Matches("TOOLS.ARJ"));
  EXPECT_TRUE(rule.Matches("PLAIN.DOC"));
  // A listed name never selects the names it merely contains.
  EXPECT_FALSE(rule.Matches("FILE.ZIP"));
  EXPECT_FALSE(rule.Matches("README"));
  EXPECT_FALSE(rule.Matches("FILES"));
  EXPECT_FALSE(MatchRule::FromList({}).Matches("ANY.ZIP"));
}

TEST(MatchRuleTest, FileListSpecIsKnownByItsNamePart) {
  EXPECT_TRUE(qm::IsFileListSpec("list.qls"));
  EXPECT_TRUE(qm::IsFileListSpec("C:\\lists\\NIGHT.QLS"));
  EXPECT_TRUE(qm::IsFileListSpec("old.qls.bak"));
  EXPECT_FALSE(qm::IsFileListSpec("C:\\x.qls\\*.*"));
  EXPECT_FALSE(qm::IsFileListSpec("*.*"));
}

TEST(MatchRuleTest, RelativeListPathWithDirectoryLiesBesideTheConfig) {
  qm::RunState state;
  state.configDir = "/cfg/";
  EXPECT_EQ(qm::ResolveSpecPath(state, "lists/del.qls"), "/cfg/lists/del.qls");
  EXPECT_EQ(qm::ResolveSpecPath(state, "/abs/del.qls"), "/abs/del.qls");
  EXPECT_EQ(qm::ResolveSpecPath(state, "C:\\abs\\del.qls"), "C:\\abs\\del.qls");
  EXPECT_EQ(qm::ResolveSpecPath(state, "del.qls"), "del.qls");
}

}  // namespace
