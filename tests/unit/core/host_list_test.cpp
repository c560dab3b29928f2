#include "core/host_list.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/data_file.h"
#include "core_test_util.h"
#include "fakes/fake_clock.h"

namespace sentrel {
namespace {

using testing::BoxRecorder;
using testing::SetEveryField;
using testing::StoredFields;

// Stands in for the host dialog: runs `change` on the host and answers OK, or
// leaves it alone and answers Cancel.
class ScriptedEditor final : public HostEditor {
 public:
  bool confirm = true;
  std::function<void(HostEntry&)> change = [](HostEntry&) {};
  int calls = 0;

  bool EditHost(HostEntry& host) override {
    ++calls;
    if (confirm) change(host);
    return confirm;
  }
};

class CountingObserver final : public HostListObserver {
 public:
  int applied = 0;
  int enabledChanges = 0;
  int saves = 0;
  void ApplySettings(HostEntry&) override { ++applied; }
  void EnabledChanged(HostEntry&) override { ++enabledChanges; }
  void SaveNow() override { ++saves; }
};

class HostListTest : public ::testing::Test {
 protected:
  // Appends hosts named by the letters of `names`; the one at `defaultRow`
  // (if any) is marked as the default host.
  void Fill(const std::string& names, int defaultRow = -1) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      auto host = list_.CreateHost();
      host->HostName.Set(std::string(1, names[i]));
      host->UseAsDefault = static_cast<int>(i) == defaultRow;
      list_.AppendHost(std::move(host));
    }
    list_.SetModified(false);
  }
  std::string Names() const {
    std::string names;
    for (std::size_t row = 0; row < list_.Count(); ++row) names += list_.Host(row).HostName.Get();
    return names;
  }

  testing::FakeClock clock_{EncodeDateTime({2026, 12, 9, 12, 0, 0, 0})};  // a Wednesday
  CountingObserver observer_;
  HostList list_{clock_, &observer_};
  BoxRecorder desktop_;
  ScriptedEditor editor_;
};

TEST_F(HostListTest, NewHostWithoutDefaultHasTheDocumentedDefaults) {
  const auto host = list_.CreateHostFromDefault();
  EXPECT_EQ(host->HostIP.Get(), "127.0.0.1");
  EXPECT_EQ(host->Retries, 1);
  EXPECT_EQ(host->PingInterval, 60);
  EXPECT_EQ(host->TimeOut, 5000);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(host->LightTimes[i], kDefaultLightTimes[i]);
  EXPECT_TRUE(host->PingByIP);
  EXPECT_EQ(host->OnLoss.RepeatCount, 1);
  EXPECT_EQ(host->OnRenewal.RepeatCount, 1);
  EXPECT_EQ(host->State, -1);
  EXPECT_EQ(host->PrevState, -1);
  EXPECT_EQ(host->NextCheck, clock_.Now());  // Always: due at once
}

TEST_F(HostListTest, NewHostCopiesTheDefaultHostExceptItsIdentity) {
  Fill("AB", 1);
  SetEveryField(list_.Host(1));
  list_.Host(1).CheckEvery = kCheckEveryWeek;
  list_.Host(1).OnLoss.RepeatCounter = 5;

  const auto host = list_.CreateHostFromDefault();
  auto expected = StoredFields(list_.Host(1));
  const HostEntry fresh;
  for (const char* own : {"Enabled", "HostIP", "HostName", "HostDesc", "UseAsDefault"}) {
    expected[own] = StoredFields(fresh)[own];
  }
  EXPECT_EQ(StoredFields(*host), expected);
  EXPECT_EQ(host->OnLoss.RepeatCounter, 0);
  // Monday and Friday at 08:00, seen on a Wednesday at noon: Friday 08:00.
  EXPECT_EQ(host->NextCheck, EncodeDateTime({2026, 12, 11, 8, 0, 0, 0}));
}

TEST_F(HostListTest, AddIsRefusedAtTheHostLimit) {
  for (std::size_t i = 0; i < kMaxHosts; ++i) ASSERT_TRUE(list_.AppendHost(list_.CreateHost()));
  list_.SetModified(false);
  EXPECT_FALSE(list_.AddHost(editor_, desktop_).has_value());
  EXPECT_EQ(editor_.calls, 0);
  EXPECT_EQ(list_.Count(), kMaxHosts);
  EXPECT_FALSE(list_.Modified());
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].text, "Too many hosts!!!");
  EXPECT_EQ(desktop_.boxes[0].caption, "Warning!!!");
  EXPECT_EQ(desktop_.boxes[0].icon, MessageIcon::Warning);
  EXPECT_FALSE(list_.AppendHost(list_.CreateHost()).has_value());
}

TEST_F(HostListTest, AddAppendsAnUntickedHostOnOkOnly) {
  Fill("A");
  editor_.confirm = false;
  EXPECT_FALSE(list_.AddHost(editor_, desktop_).has_value());
  EXPECT_EQ(list_.Count(), 1u);
  EXPECT_FALSE(list_.Modified());

  editor_.confirm = true;
  editor_.change = [](HostEntry& h) {
    h.HostName.Set("B");
    h.Enabled = true;
  };
  const int appliedBefore = observer_.applied;
  EXPECT_EQ(list_.AddHost(editor_, desktop_), std::optional<std::size_t>(1));
  EXPECT_EQ(Names(), "AB");
  EXPECT_FALSE(list_.Host(1).Enabled);
  EXPECT_TRUE(list_.Modified());
  EXPECT_EQ(observer_.applied, appliedBefore + 1);
}

TEST_F(HostListTest, AddedHostMarkedAsDefaultTakesTheMark) {
  Fill("AB", 0);
  editor_.change = [](HostEntry& h) { h.UseAsDefault = true; };
  ASSERT_TRUE(list_.AddHost(editor_, desktop_).has_value());
  EXPECT_EQ(list_.DefaultIndex(), 3);
  EXPECT_FALSE(list_.Host(0).UseAsDefault);
}

TEST_F(HostListTest, EditMovesTheDefaultMark) {
  Fill("ABC", 0);
  editor_.change = [](HostEntry& h) { h.UseAsDefault = true; };
  ASSERT_TRUE(list_.EditHost(2, editor_));
  EXPECT_EQ(list_.DefaultIndex(), 3);
  EXPECT_FALSE(list_.Host(0).UseAsDefault);
  EXPECT_EQ(FormatHostBlock(list_.Host(0)).find("DFLT"), std::string::npos);
  EXPECT_TRUE(list_.Modified());

  editor_.change = [](HostEntry& h) { h.UseAsDefault = false; };
  list_.SetModified(false);
  ASSERT_TRUE(list_.EditHost(2, editor_));
  EXPECT_EQ(list_.DefaultIndex(), 0);
  EXPECT_TRUE(list_.Modified());
}

TEST_F(HostListTest, EditRecomputesTheNextCheckAndCancelChangesNothing) {
  Fill("A");
  editor_.change = [](HostEntry& h) {
    h.CheckEvery = kCheckEveryDay;
    h.Times = uint64_t{1} << 35;  // 17:30
  };
  ASSERT_TRUE(list_.EditHost(0, editor_));
  EXPECT_EQ(list_.Host(0).NextCheck, EncodeDateTime({2026, 12, 9, 17, 30, 0, 0}));

  list_.SetModified(false);
  editor_.confirm = false;
  EXPECT_FALSE(list_.EditHost(0, editor_));
  EXPECT_FALSE(list_.Modified());
  EXPECT_FALSE(list_.EditHost(7, editor_));
}

struct DeleteCase {
  const char* name;
  const char* rows;
  int defaultRow;
  std::size_t deleted;
  const char* remaining;
  int defaultIndex;
  std::optional<std::size_t> selected;
};

class HostListDeleteTest : public HostListTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(HostListDeleteTest, AdjustsTheDefaultAndTheSelection) {
  const DeleteCase& c = GetParam();
  Fill(c.rows, c.defaultRow);
  EXPECT_EQ(list_.DeleteHost(c.deleted), c.selected);
  EXPECT_EQ(Names(), c.remaining);
  EXPECT_EQ(list_.DefaultIndex(), c.defaultIndex);
  EXPECT_TRUE(list_.Modified());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, HostListDeleteTest,
    ::testing::Values(DeleteCase{"AfterDefault", "ABC", 0, 1, "AC", 1, 0},
                      DeleteCase{"TheDefault", "ABC", 0, 0, "BC", 0, 0},
                      DeleteCase{"BeforeDefault", "BA", 1, 0, "A", 1, 0},
                      DeleteCase{"LastRow", "ABC", 1, 2, "AB", 2, 1},
                      DeleteCase{"OnlyRow", "A", 0, 0, "", 0, std::nullopt}),
    [](const ::testing::TestParamInfo<DeleteCase>& p) { return p.param.name; });

TEST_F(HostListTest, TickingARowRestartsTheCountersAndSavesAtOnce) {
  Fill("AB");
  HostEntry& host = list_.Host(1);
  host.FailCount = 2;
  host.OnRenewal.RepeatCounter = 3;
  host.OnLoss.RepeatCounter = 4;

  list_.SetRowChecked(1, true);
  EXPECT_TRUE(host.Enabled);
  EXPECT_TRUE(list_.Modified());
  EXPECT_EQ(host.FailCount, 0);
  EXPECT_EQ(host.OnRenewal.RepeatCounter, 0);
  EXPECT_EQ(host.OnLoss.RepeatCounter, 0);
  EXPECT_EQ(observer_.saves, 1);
  EXPECT_EQ(observer_.enabledChanges, 1);

  // The same state again (or a selection change) only marks the list.
  host.OnLoss.RepeatCounter = 2;
  list_.SetModified(false);
  list_.SetRowChecked(1, true);
  list_.SelectionChanged(0);
  EXPECT_TRUE(list_.Modified());
  EXPECT_EQ(host.OnLoss.RepeatCounter, 2);
  EXPECT_FALSE(list_.Host(0).Enabled);
  EXPECT_EQ(observer_.saves, 1);

  list_.SetRowChecked(1, false);
  EXPECT_FALSE(host.Enabled);
  EXPECT_EQ(host.OnLoss.RepeatCounter, 0);
  EXPECT_EQ(observer_.saves, 2);
}

TEST_F(HostListTest, RowNotificationsAreIgnoredWhileLoading) {
  Fill("A");
  list_.SetLoading(true);
  list_.SetRowChecked(0, true);
  list_.SelectionChanged(0);
  EXPECT_FALSE(list_.Host(0).Enabled);
  EXPECT_FALSE(list_.Modified());
  EXPECT_EQ(observer_.saves + observer_.enabledChanges, 0);
}

TEST_F(HostListTest, RowTextsShowAddressNameAndDescription) {
  Fill("A");
  list_.Host(0).HostDesc.Set("core router");
  const std::array<std::string, 5> expected = {"127.0.0.1", "A", "_", "_", "core router"};
  EXPECT_EQ(HostRowTexts(list_.Host(0)), expected);
}

}  // namespace
}  // namespace sentrel
