#include "support/string_wide_string_hash_list.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using kiv::TkivStringWideStringHashList;
using kiv::WideString;

TEST(StringKeyItem, HashIsPublishedXxh32WithSeedZeroAndZeroForTheEmptyKey) {
  EXPECT_EQ(kiv::TkivStringKeyItem("abc", true).Hash, 0x32D153FFu);
  EXPECT_EQ(kiv::TkivStringKeyItem("Nobody inspects the spammish repetition", true).Hash,
            0xE2293B2Fu);
  EXPECT_EQ(kiv::TkivStringKeyItem("", true).Hash, 0u);
  // Case-insensitive keys are stored and hashed lower-cased.
  kiv::TkivStringKeyItem folded("ABC", false);
  EXPECT_EQ(folded.Key(), "abc");
  EXPECT_EQ(folded.Hash, 0x32D153FFu);
}

TEST(StringWideStringHashList, CaseSensitiveListKeepsKeysThatDifferInCaseApart) {
  TkivStringWideStringHashList list(true);
  list.SetValue("Open", u"Oeffnen");
  list.SetValue("open", u"oeffnen");
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetValue("Open"), u"Oeffnen");
  EXPECT_EQ(list.GetValue("open"), u"oeffnen");
  EXPECT_EQ(list.GetValue("OPEN"), u"");
}

TEST(StringWideStringHashList, CaseInsensitiveListAddressesOneEntryWithLowerCasedKey) {
  TkivStringWideStringHashList list(false);
  list.SetValue("Open File", u"1");
  list.SetValue("OPEN FILE", u"2");
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetValue("open file"), u"2");
  std::map<std::string, WideString> seen;
  list.ForEach([&](std::string_view k, const WideString& v, bool&) { seen[std::string(k)] = v; });
  EXPECT_EQ(seen, (std::map<std::string, WideString>{{"open file", u"2"}}));
  EXPECT_EQ(list.RemoveValue("Open FILE"), u"2");
  EXPECT_EQ(list.Count(), 0);
}

TEST(StringWideStringHashList, SetReplacesRemoveReturnsValueAndMissingKeysFollowTheFlag) {
  TkivStringWideStringHashList list;
  list.SetValue("k", u"first");
  list.SetValue("k", u"second");
  EXPECT_EQ(list.Count(), 1);
  WideString v = u"stale";
  EXPECT_TRUE(list.TryGetValue("k", v));
  EXPECT_EQ(v, u"second");
  EXPECT_FALSE(list.TryGetValue("absent", v));
  EXPECT_EQ(v, u"");
  EXPECT_EQ(list.RemoveValue("absent"), u"");
  EXPECT_EQ(list.RemoveValue("k"), u"second");
  EXPECT_EQ(list.Count(), 0);

  list.SetDefaultOnMissing(false);
  EXPECT_THROW(list.GetValue("k"), kiv::EkivNoSuchElementError);
  EXPECT_EQ(list.Count(), 0);
}

TEST(StringWideStringHashList, EmptyKeyIsAnOrdinaryKey) {
  TkivStringWideStringHashList list;
  list.SetValue("", u"empty");
  list.SetValue("x", u"x");
  EXPECT_EQ(list.GetValue(""), u"empty");
  EXPECT_EQ(list.Root()->ChainLengthAt(0) >= 1, true);  // hash 0 lives in slot 0
  EXPECT_EQ(list.RemoveValue(""), u"empty");
  EXPECT_EQ(list.GetValue("x"), u"x");
}

TEST(StringWideStringHashList, ManyKeysSurviveSplitsAndCallbackFormReceivesData) {
  TkivStringWideStringHashList list;
  for (int i = 0; i < 5000; ++i) {
    const std::string s = std::to_string(i);
    list.SetValue("text " + s, WideString(s.begin(), s.end()));
  }
  EXPECT_EQ(list.Count(), 5000);
  EXPECT_EQ(list.GetValue("text 4321"), u"4321");
  struct Tally {
    int calls = 0;
  } tally;
  const bool stopped = list.ForEach(
      [](void* data, std::string_view, const WideString&, bool& stop) {
        if (++static_cast<Tally*>(data)->calls == 5000) stop = true;
      },
      &tally);
  EXPECT_EQ(tally.calls, 5000);
  EXPECT_TRUE(stopped);
}

// Entries are stored with their key text in the list's own memory (longer ones on the heap):
// keys of every length from empty to well past that limit keep their text and value through
// replacement, removal of every other key, re-adding into recycled memory, and Clear.
TEST(StringWideStringHashList, KeysOfEveryLengthKeepTextAndValueThroughReuse) {
  for (bool caseSensitive : {true, false}) {
    TkivStringWideStringHashList list(caseSensitive);
    const auto key = [](size_t n) { return std::string(n, static_cast<char>('a' + n % 26)); };
    const auto value = [](size_t n, int round) {
      return WideString(n % 40, u'v') + static_cast<char16_t>(u'0' + round);
    };
    for (int round = 0; round < 3; ++round) {
      for (size_t n = 0; n < 400; ++n) list.SetValue(key(n), value(n, 0));
      for (size_t n = 0; n < 400; n += 2) EXPECT_EQ(list.RemoveValue(key(n)), value(n, 0));
      for (size_t n = 0; n < 400; ++n) list.SetValue(key(n), value(n, round + 1));
      ASSERT_EQ(list.Count(), 400);
      std::map<std::string, WideString> walked;
      list.ForEach([&](std::string_view k, const WideString& v, bool&) { walked[std::string(k)] = v; });
      ASSERT_EQ(walked.size(), 400u);
      for (size_t n = 0; n < 400; ++n) ASSERT_EQ(walked[key(n)], value(n, round + 1)) << n;
      if (round == 1) list.Clear();
    }
  }
}

// Case-sensitive look-ups hash and compare inline; a probe key item must find the same entries.
class ProbedList : public TkivStringWideStringHashList {
 public:
  using TkivStringWideStringHashList::TkivStringWideStringHashList;
  const WideString* Probe(std::string_view key) const {
    void* found = nullptr;
    if (!FindEntry(kiv::TkivStringKeyItem(key, CaseSensitive()), found)) return nullptr;
    return &static_cast<const kiv::TkivWideStringValueItem*>(found)->Value;
  }
};

TEST(StringWideStringHashList, InlineLookUpAgreesWithProbeKeyItem) {
  for (bool caseSensitive : {true, false}) {
    ProbedList list(caseSensitive);
    for (int i = 0; i < 3000; i += 2) list.SetValue("Key " + std::to_string(i), u"v");
    list.SetValue("", u"empty");
    for (int i = 0; i < 3000; ++i) {
      for (const std::string& key : {"Key " + std::to_string(i), "KEY " + std::to_string(i)})
        ASSERT_EQ(list.FindValue(key), list.Probe(key)) << key << " " << caseSensitive;
    }
    ASSERT_NE(list.FindValue(""), nullptr);
    EXPECT_EQ(list.FindValue(""), list.Probe(""));
  }
}

}  // namespace
