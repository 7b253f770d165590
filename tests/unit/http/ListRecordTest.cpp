#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ListRecord.h"

using TStrings = TListRecord<std::wstring>;

namespace {

std::vector<std::wstring> Items(const TStrings& list) { return std::vector<std::wstring>(list.begin(), list.end()); }

TStrings Abc() {
  TStrings list;
  list.Add(L"a");
  list.Add(L"b");
  list.Add(L"c");
  return list;
}

struct TListCase {
  const char* Name;
  std::function<void(TStrings&)> Operation;  // applied to the list a, b, c
  std::vector<std::wstring> Expected;        // the items afterwards
  bool OutOfRange;                           // the operation raises instead
};

}  // namespace

TEST(ListRecord, OperationsOnThreeItems) {
  const TListCase cases[] = {
      {"insert at count appends", [](TStrings& l) { l.Insert(3, L"d"); }, {L"a", L"b", L"c", L"d"}, false},
      {"insert at 0 moves all up", [](TStrings& l) { l.Insert(0, L"z"); }, {L"z", L"a", L"b", L"c"}, false},
      {"insert past count", [](TStrings& l) { l.Insert(4, L"d"); }, {L"a", L"b", L"c"}, true},
      {"insert before 0", [](TStrings& l) { l.Insert(-1, L"d"); }, {L"a", L"b", L"c"}, true},
      {"delete middle moves down", [](TStrings& l) { l.Delete(1); }, {L"a", L"c"}, false},
      {"delete at count", [](TStrings& l) { l.Delete(3); }, {L"a", L"b", L"c"}, true},
      {"delete range", [](TStrings& l) { l.DeleteRange(0, 2); }, {L"c"}, false},
      {"delete range of 0", [](TStrings& l) { l.DeleteRange(3, 0); }, {L"a", L"b", L"c"}, false},
      {"delete range past end", [](TStrings& l) { l.DeleteRange(2, 2); }, {L"a", L"b", L"c"}, true},
      {"delete range negative", [](TStrings& l) { l.DeleteRange(0, -1); }, {L"a", L"b", L"c"}, true},
      {"remove found", [](TStrings& l) { EXPECT_EQ(l.Remove(L"b"), 1); }, {L"a", L"c"}, false},
      {"remove is case-sensitive", [](TStrings& l) { EXPECT_EQ(l.Remove(L"B"), -1); }, {L"a", L"b", L"c"}, false},
      {"index of first match",
       [](TStrings& l) {
         l.Add(L"b");
         EXPECT_EQ(l.IndexOf(L"b"), 1);
         EXPECT_TRUE(l.Contains(L"c"));
         EXPECT_FALSE(l.Contains(L"x"));
       },
       {L"a", L"b", L"c", L"b"}, false},
      {"last", [](TStrings& l) { EXPECT_EQ(l.Last(), L"c"); }, {L"a", L"b", L"c"}, false},
      {"clear empties", [](TStrings& l) { l.Clear(); EXPECT_EQ(l.Capacity(), 0); }, {}, false},
      {"trim excess", [](TStrings& l) { l.TrimExcess(); EXPECT_EQ(l.Capacity(), 3); }, {L"a", L"b", L"c"}, false},
      {"to array", [](TStrings& l) { EXPECT_EQ(l.ToArray(), (std::vector<std::wstring>{L"a", L"b", L"c"})); },
       {L"a", L"b", L"c"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TStrings list = Abc();
    if (c.OutOfRange) {
      try {
        c.Operation(list);
        ADD_FAILURE() << "no exception";
      } catch (const EArgumentOutOfRangeException& e) {
        EXPECT_EQ(e.Message(), L"Argument out of range");
      }
    } else {
      c.Operation(list);
    }
    EXPECT_EQ(Items(list), c.Expected);
    EXPECT_EQ(list.Count(), static_cast<int32_t>(c.Expected.size()));
  }
}

TEST(ListRecord, EmptyListAndGrowth) {
  TStrings list;
  EXPECT_THROW(list.Delete(0), EArgumentOutOfRangeException);
  EXPECT_THROW(list.Last(), EArgumentOutOfRangeException);
  EXPECT_EQ(list.Capacity(), 0);
  std::vector<int32_t> capacities;
  for (int i = 0; i < 5; ++i) {
    list.Add(std::to_wstring(i));
    capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{1, 2, 4, 4, 8}));

  TStrings reserved(3);
  EXPECT_EQ(reserved.Count(), 0);
  EXPECT_EQ(reserved.Capacity(), 3);
}

TEST(ListRecord, ComparerDecidesEquality) {
  TStrings list([](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()); }, 0);
  list.Add(L"Accept");
  EXPECT_EQ(list.IndexOf(L"ACCEPT"), 0);
  EXPECT_EQ(list.Remove(L"accept"), 0);
  EXPECT_EQ(list.Count(), 0);
}
