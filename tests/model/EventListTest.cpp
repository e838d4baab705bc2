#include "model/Eventlist.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace smsconf {
namespace {

CEvent* Add(CEventList& list, int pin, bool neg, const std::string& text = "") {
  auto event = std::make_unique<CEvent>();
  event->Pin = pin;
  event->Neg = neg;
  event->Text = text;
  CEvent* raw = event.get();
  list.Add(std::move(event));
  return raw;
}

std::vector<std::string> Texts(const CEventList& list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list.Count(); ++i) texts.push_back(list.Get(i)->Text);
  return texts;
}

TEST(EventSortKey, PinThenEdge) {
  CEvent e;
  e.Pin = 5;
  EXPECT_EQ(e.SortKey(), 10u);
  e.Neg = true;
  EXPECT_EQ(e.SortKey(), 11u);
  e.Pin = -1;
  EXPECT_EQ(e.SortKey(), 0xFFFFFFFFu);
}

TEST(EventListSort, OrdersByInputThenEdgeKeepingEqualKeysInOrder) {
  struct Case {
    const char* name;
    std::vector<std::tuple<int, bool, std::string>> input;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"empty", {}, {}},
      {"one", {{3, true, "a"}}, {"a"}},
      {"documented example",
       {{3, false, "3R-first"}, {1, true, "1F"}, {1, false, "1R"}, {3, false, "3R-second"}},
       {"1R", "1F", "3R-first", "3R-second"}},
      {"negative pins last, unsigned",
       {{-1, false, "neg1"}, {31, true, "31F"}, {-2, true, "neg2F"}, {0, false, "0R"}},
       {"0R", "31F", "neg2F", "neg1"}},
      {"many equal keys stay put",
       {{2, false, "a"}, {2, false, "b"}, {1, false, "x"}, {2, false, "c"}, {2, false, "d"}},
       {"x", "a", "b", "c", "d"}},
  };
  for (const Case& c : cases) {
    CEventList list;
    for (const auto& [pin, neg, text] : c.input) Add(list, pin, neg, text);
    list.Sort();
    EXPECT_EQ(Texts(list), c.expected) << c.name;
  }
}

TEST(EventListRemove, HandsTheEventBackAndShiftsTheRest) {
  CEventList list;
  Add(list, 0, false, "a");
  CEvent* b = Add(list, 1, false, "b");
  Add(list, 2, false, "c");
  std::unique_ptr<CEvent> taken;
  ASSERT_EQ(list.Remove(b), 1);
  taken.reset(b);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(taken->Text, "b");
  EXPECT_EQ(list.Remove(b), -1);
  CEvent stranger;
  EXPECT_EQ(list.Remove(&stranger), -1);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_THROW(list.Get(2), std::out_of_range);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace smsconf
