#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "fakes/fake_clock.h"
#include "fakes/fake_echo_library.h"
#include "gui/dialogs/discover_dialog.h"
#include "gui/dialogs/import_dialog.h"
#include "probes/address.h"

namespace sentrel {
namespace {

// Waits for `done`, processing events, for at most five seconds.
template <typename Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 500 && !done(); ++i) QTest::qWait(10);
  return done();
}

TEST(DiscoverDialogTest, ListsTheAnswersAndOffersOnlyHostsNotListed) {
  testing::FakeClock clock;
  HostList list(clock);
  auto listed = list.CreateHost();
  listed->HostIP.Set("10.1.0.3");
  list.AppendHost(std::move(listed));
  auto library = std::make_shared<testing::ScriptedEchoLibrary>();
  library->SetRule([](uint32_t address, const IcmpEchoOptions&) {
    const uint8_t last = reinterpret_cast<const uint8_t*>(&address)[3];
    if (last == 2 || last == 3) return testing::ScriptedEchoLibrary::Answer{IcmpEchoReply{address, kIpSuccess, 4}, {}};
    return testing::ScriptedEchoLibrary::Answer{std::nullopt, {}};
  });
  SweepSettings settings;
  settings.nameOf = [](const IpAddress&) { return std::string("pc.lan"); };
  DiscoverDialog dialog(list, library, std::nullopt, nullptr, settings);
  auto* table = dialog.findChild<QTableWidget*>("FoundTable");
  auto* add = dialog.findChild<QPushButton*>("AddSelectedBtn");
  dialog.StartSweep("10.1.0.0/29");
  ASSERT_TRUE(WaitFor([&] { return table->rowCount() == 2; }));
  EXPECT_EQ(library->RequestCount(), 6);
  EXPECT_EQ(table->item(0, 0)->text(), "10.1.0.2");
  EXPECT_EQ(table->item(0, 1)->text(), "pc.lan");
  EXPECT_EQ(table->item(1, 3)->text(), "row 1");
  EXPECT_TRUE(add->isEnabled());
  const std::vector<SweepAnswer> selected = dialog.Selected();
  ASSERT_EQ(selected.size(), 1u);
  EXPECT_EQ(AddressText(selected[0].address), "10.1.0.2");
  EXPECT_EQ(dialog.findChild<QLabel*>("SweepStatus")->text(), "2 of 6 addresses answered");

  dialog.StartSweep("10.1.0.0/16");
  EXPECT_EQ(dialog.findChild<QLabel*>("SweepStatus")->text().left(14), "Give a range a");
}

TEST(ImportDialogTest, ShowsWhatWillHappenAndOffersTheAddOnceNamesAreLookedUp) {
  testing::FakeClock clock;
  HostList list(clock);
  ImportPlan plan = ReadImportFile("address,name\n10.0.0.1,a\nsrv.example,\n10.0.0.1,again\n1.2.3.4.5,\n");
  CheckImportAgainst(plan, list);
  ImportDialog dialog(plan, "hosts.csv", std::nullopt, [](const std::string&) { return false; });
  auto* add = dialog.findChild<QPushButton*>("ImportBtn");
  ASSERT_TRUE(WaitFor([&] { return add->isEnabled(); }));
  auto* table = dialog.findChild<QTableWidget*>("ImportTable");
  ASSERT_EQ(table->rowCount(), 4);
  EXPECT_EQ(table->item(0, 0)->text(), "2");
  EXPECT_EQ(table->item(1, 3)->text(), "add (does not resolve now)");
  EXPECT_EQ(table->item(2, 3)->text(), "skip: the same host as line 2");
  EXPECT_EQ(table->item(3, 3)->text(),
            "reject: not an IPv4 address (four numbers of 0 to 255 joined by dots)");
  EXPECT_EQ(dialog.findChild<QLabel*>("ImportStatus")->text(), "2 to add, 1 to skip, 1 to reject");
}

}  // namespace
}  // namespace sentrel
