#include "model/Eventlist.h"

#include "model/EventBuilder.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace smsconf {
namespace {

using testing::AddEvent;

std::vector<std::string> Texts(const CEventList& list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list.Count(); ++i) texts.push_back(list.Get(i)->Text);
  return texts;
}

TEST(EventList, SortsByInputThenEdgeKeepingEqualKeysInOrder) {
  struct Case {
    const char* name;
    std::vector<std::tuple<int, bool, std::string>> input;  // pin, edge, text
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"empty", {}, {}},
      {"documented example",
       {{3, false, "3R-first"}, {1, true, "1F"}, {1, false, "1R"}, {3, false, "3R-second"}},
       {"1R", "1F", "3R-first", "3R-second"}},
      {"negative pins last",
       {{-1, false, "-1R"}, {31, true, "31F"}, {-2, true, "-2F"}, {0, false, "0R"}},
       {"0R", "31F", "-2F", "-1R"}},
  };
  for (const Case& c : cases) {
    CEventList list;
    for (const auto& [pin, neg, text] : c.input) AddEvent(list, pin, neg, 0, 0, text);
    list.Sort();
    EXPECT_EQ(Texts(list), c.expected) << c.name;
  }
  CEventList many;  // past the size below which a sort may happen to keep equal keys in order
  for (int i = 0; i < 40; ++i) AddEvent(many, i % 2, false, i);
  many.Sort();
  for (int i = 0; i < 40; ++i) EXPECT_EQ(many.Get(i)->Delay, i < 20 ? 2 * i : 2 * i - 39) << i;
}

TEST(EventList, RemoveHandsTheEventBackAndShiftsTheRest) {
  CEventList list;
  AddEvent(list, 0, false, 0, 0, "a");
  CEvent* removed = AddEvent(list, 1, false, 0, 0, "b");
  AddEvent(list, 2, false, 0, 0, "c");
  CEventList::Removal taken = list.Remove(removed);
  ASSERT_EQ(taken.Index, 1);
  const std::unique_ptr<CEvent> b = std::move(taken.Event);  // the caller's from now on
  ASSERT_EQ(b.get(), removed);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"a", "c"}));
  const CEventList::Removal none = list.Remove(b.get());
  EXPECT_EQ(std::pair(none.Index, none.Event.get()), std::pair(-1, static_cast<CEvent*>(nullptr)));
  EXPECT_THROW(list.Get(2), std::out_of_range);
}

}  // namespace
}  // namespace smsconf
