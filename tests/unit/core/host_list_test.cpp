#include "core/host_list.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/data_file.h"
#include "core_test_util.h"
#include "fakes/fake_clock.h"

namespace sentrel {
namespace {

using testing::BlockLines;

// Stands in for the host dialog: applies `change` and answers OK, or answers
// Cancel without touching the host.
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
  int applied = 0, enabledChanges = 0, saves = 0;
  void ApplySettings(HostEntry&) override { ++applied; }
  void EnabledChanged(HostEntry&) override { ++enabledChanges; }
  void SaveNow() override { ++saves; }
};

class HostListTest : public ::testing::Test {
 protected:
  // One host per letter of `names`; the one at `defaultRow` is the default.
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
  testing::BoxRecorder desktop_;
  ScriptedEditor editor_;
};

TEST_F(HostListTest, NewHostCopiesTheDefaultHostExceptItsIdentity) {
  auto plain = list_.CreateHostFromDefault();
  EXPECT_EQ(BlockLines(*plain), BlockLines(HostEntry()));
  EXPECT_EQ(plain->State, -1);
  EXPECT_EQ(plain->NextCheck, clock_.Now());  // Always: due at once

  Fill("AB", 1);
  HostEntry& model = list_.Host(1);
  testing::SetEveryField(model);
  model.OnLoss.RepeatCounter = 5;
  auto host = list_.CreateHostFromDefault();
  EXPECT_FALSE(host->Enabled);
  EXPECT_FALSE(host->UseAsDefault);
  EXPECT_EQ(host->HostIP.Get(), "127.0.0.1");
  EXPECT_TRUE(host->HostName.Empty() && host->HostDesc.Empty());
  EXPECT_TRUE(host->OnRenewal.RunTraceRoute);
  EXPECT_EQ(host->OnLoss.RepeatCounter, 0);
  // Monday and Friday at 08:00, seen on a Wednesday at noon.
  EXPECT_EQ(host->NextCheck, EncodeDateTime({2026, 12, 11, 8, 0, 0, 0}));

  host->Enabled = true;
  host->UseAsDefault = true;
  host->HostIP.Set(model.HostIP.Get());
  host->HostName.Set(model.HostName.Get());
  host->HostDesc.Set(model.HostDesc.Get());
  EXPECT_EQ(BlockLines(*host), BlockLines(model));
}

TEST_F(HostListTest, SnapshotFollowsEveryChangeAndOutlivesADeletedHost) {
  Fill("ABC");
  const std::shared_ptr<const HostSnapshot> before = list_.Snapshot();
  list_.DeleteHost(1);
  ASSERT_TRUE(list_.Reorder({1, 0}));
  const std::shared_ptr<const HostSnapshot> after = list_.Snapshot();
  ASSERT_EQ(after->size(), 2u);
  EXPECT_EQ((*after)[0]->HostName.Get(), "C");
  EXPECT_EQ((*after)[1]->HostName.Get(), "A");
  // The deleted host stays readable through the older snapshot.
  ASSERT_EQ(before->size(), 3u);
  EXPECT_EQ((*before)[1]->HostName.Get(), "B");
  list_.Clear();
  EXPECT_TRUE(list_.Snapshot()->empty());
  EXPECT_EQ((*after)[0]->HostName.Get(), "C");
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
  Fill("AB", 0);
  editor_.confirm = false;
  EXPECT_FALSE(list_.AddHost(editor_, desktop_).has_value());
  EXPECT_EQ(Names(), "AB");
  EXPECT_FALSE(list_.Modified());

  editor_.confirm = true;
  editor_.change = [](HostEntry& h) {
    h.HostName.Set("C");
    h.Enabled = true;
    h.UseAsDefault = true;
  };
  const int appliedBefore = observer_.applied;
  EXPECT_EQ(list_.AddHost(editor_, desktop_), std::optional<std::size_t>(2));
  EXPECT_EQ(Names(), "ABC");
  EXPECT_FALSE(list_.Host(2).Enabled);
  EXPECT_TRUE(list_.Modified());
  EXPECT_EQ(observer_.applied, appliedBefore + 1);
  // Marked as default in the dialog, the new host takes the mark.
  EXPECT_EQ(list_.DefaultIndex(), 3);
  EXPECT_FALSE(list_.Host(0).UseAsDefault);
}

TEST_F(HostListTest, EditAppliesTheSettingsAndMovesTheDefaultMark) {
  Fill("ABC", 0);
  editor_.change = [](HostEntry& h) {
    h.UseAsDefault = true;
    h.CheckEvery = kCheckEveryDay;
    h.Times = uint64_t{1} << 35;  // 17:30
  };
  ASSERT_TRUE(list_.EditHost(2, editor_));
  EXPECT_EQ(list_.Host(2).NextCheck, EncodeDateTime({2026, 12, 9, 17, 30, 0, 0}));
  EXPECT_EQ(list_.DefaultIndex(), 3);
  EXPECT_EQ(FormatHostBlock(list_.Host(0)).find("DFLT"), std::string::npos);
  EXPECT_TRUE(list_.Modified());

  list_.SetModified(false);
  editor_.confirm = false;
  EXPECT_FALSE(list_.EditHost(2, editor_));
  EXPECT_FALSE(list_.Modified());

  editor_.confirm = true;
  editor_.change = [](HostEntry& h) { h.UseAsDefault = false; };
  ASSERT_TRUE(list_.EditHost(2, editor_));
  EXPECT_EQ(list_.DefaultIndex(), 0);
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

  list_.SetLoading(true);
  list_.SetRowChecked(1, true);
  EXPECT_FALSE(host.Enabled);
  EXPECT_FALSE(list_.Modified());
  list_.SetLoading(false);

  list_.SetRowChecked(1, true);
  EXPECT_TRUE(host.Enabled);
  EXPECT_TRUE(list_.Modified());
  EXPECT_EQ(host.FailCount + host.OnRenewal.RepeatCounter + host.OnLoss.RepeatCounter, 0);
  EXPECT_EQ(observer_.saves, 1);
  EXPECT_EQ(observer_.enabledChanges, 1);

  // The same state again, or a selection change, only marks the list.
  host.OnLoss.RepeatCounter = 2;
  list_.SetModified(false);
  list_.SetRowChecked(1, true);
  list_.SelectionChanged(0);
  EXPECT_TRUE(list_.Modified());
  EXPECT_EQ(host.OnLoss.RepeatCounter, 2);
  EXPECT_FALSE(list_.Host(0).Enabled);
  EXPECT_EQ(observer_.saves, 1);

  list_.SetRowChecked(1, false);
  EXPECT_EQ(host.OnLoss.RepeatCounter, 0);
  EXPECT_EQ(observer_.saves, 2);
}

}  // namespace
}  // namespace sentrel
