#include "core/host_import.h"

#include <set>

#include <gtest/gtest.h>

#include "core/data_file.h"
#include "core_test_util.h"
#include "fakes/fake_clock.h"
#include "fakes/test_files.h"

namespace sentrel {
namespace {

using testing::BoxRecorder;
using testing::FakeClock;
using testing::ReadFile;
using testing::TempDir;

bool Resolves(const std::string& name) { return name.find("dead") == std::string::npos; }

// A spreadsheet's export of an inventory: BOM, semicolons, the columns in
// another order and letter case, quoted fields holding both separators and
// a doubled quote, 20 bad rows and 10 repeated hosts among 1,000.
struct Inventory {
  std::string bytes;
  std::set<int> badLines;
  std::set<int> repeatedLines;
};

Inventory MakeInventory() {
  Inventory inv;
  inv.bytes = "\xEF\xBB\xBF" "Enabled;DESCRIPTION;Address;interval;Name;Owner\r\n";
  const char* bad[] = {"1.2.3.4.5", "256.1.1.1", " a b", "-5", "fe80::1%nosuchif", "my_pc",
                       "host..example", "255.255.255.255", "10.0.0.1.", "x.1"};
  int line = 1;
  for (int i = 0; i < 1000; ++i) {
    ++line;
    const std::string address = "10.7." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
    if (i % 50 == 7) {
      // Bad: ten refused addresses, five bad intervals, five bad enabled words.
      const int k = i / 50;
      inv.badLines.insert(line);
      if (k < 10) {
        inv.bytes += std::string("yes;;\"") + bad[k] + "\";;;\r\n";
      } else if (k < 15) {
        inv.bytes += "yes;;" + address + ";0;;\r\n";
      } else {
        inv.bytes += "maybe;;" + address + ";;;\r\n";
      }
    } else if (i % 100 == 42) {
      inv.repeatedLines.insert(line);
      inv.bytes += "no;again;10.7.0.1;;;\r\n";  // written as line 2 was
    } else if (i % 10 == 3) {
      inv.bytes += ";\"Rack 4; shelf 2, \"\"left\"\"\";srv" + std::to_string(i) +
                   ".example;30;;ops\r\n";
    } else {
      inv.bytes += (i % 2 ? "no" : "x") + std::string(";plain;") + address + ";;host " +
                   std::to_string(i) + ";\r\n";
    }
  }
  return inv;
}

TEST(HostImportTest, AThousandRowInventoryAddsTheRightHostsAndRoundTrips) {
  const Inventory inv = MakeInventory();
  FakeClock clock;
  HostList list(clock);
  ImportPlan plan = ReadImportFile(inv.bytes);
  ASSERT_TRUE(plan.fileError.empty()) << plan.fileError;
  EXPECT_EQ(plan.ignoredColumns, std::vector<std::string>{"Owner"});
  CheckImportAgainst(plan, list);
  LookUpImportNames(plan, Resolves);
  const ImportCounts counts = plan.Counts();
  EXPECT_EQ(counts.added, 970u);
  EXPECT_EQ(counts.skipped, 10u);
  EXPECT_EQ(counts.rejected, 20u);
  std::set<int> rejected, skipped;
  for (const ImportRow& row : plan.rows) {
    if (row.fate == ImportFate::Reject) {
      rejected.insert(row.line);
      EXPECT_TRUE(ImportRowText(row).starts_with("reject: "));
    }
    if (row.fate == ImportFate::Skip) {
      skipped.insert(row.line);
      EXPECT_EQ(row.other, 2) << ImportRowText(row);
    }
  }
  EXPECT_EQ(rejected, inv.badLines);
  EXPECT_EQ(skipped, inv.repeatedLines);

  ASSERT_EQ(ApplyImport(plan, list).size(), 970u);
  const HostEntry& first = list.Host(0);
  EXPECT_EQ(first.HostIP.Get(), "10.7.0.1");
  EXPECT_EQ(first.HostName.Get(), "host 0");
  EXPECT_EQ(first.HostDesc.Get(), "plain");
  EXPECT_TRUE(first.Enabled);
  EXPECT_TRUE(first.PingByIP);
  const HostEntry& named = list.Host(3);  // i = 3: pinged by name
  EXPECT_FALSE(named.PingByIP);
  EXPECT_EQ(named.HostName.Get(), "srv3.example");
  EXPECT_EQ(named.HostDesc.Get(), "Rack 4; shelf 2, \"left\"");
  EXPECT_EQ(named.PingInterval, 30);
  EXPECT_TRUE(named.Enabled) << "no word in the enabled column: checked";
  EXPECT_FALSE(list.Host(1).Enabled);

  // The data file then loads and saves byte for byte.
  TempDir dir;
  BoxRecorder desktop;
  ASSERT_EQ(SaveHosts(list, dir.Path(), desktop), SaveResult::Saved);
  const std::string saved = ReadFile(HostFilePath(dir.Path()));
  HostList reloaded(clock);
  ASSERT_EQ(LoadHosts(reloaded, dir.Path()).loaded, 970u);
  reloaded.SetModified(true);
  ASSERT_EQ(SaveHosts(reloaded, dir.Path(), desktop), SaveResult::Saved);
  EXPECT_EQ(ReadFile(HostFilePath(dir.Path())), saved);

  // Export, then import into an empty list: the same hosts.
  HostList copy(clock);
  ImportPlan again = ReadImportFile(ExportHostsCsv(reloaded));
  CheckImportAgainst(again, copy);
  LookUpImportNames(again, Resolves);
  EXPECT_EQ(again.Counts().added, 970u);
  ApplyImport(again, copy);
  EXPECT_EQ(FormatHostFile(copy), FormatHostFile(reloaded));
  // A second import of the same file adds nothing.
  ImportPlan twice = ReadImportFile(ExportHostsCsv(reloaded));
  CheckImportAgainst(twice, copy);
  LookUpImportNames(twice, Resolves);
  EXPECT_EQ(twice.Counts().skipped, 970u);
}

// A parent may be named by address or name, listed or further down the
// file; one that names nothing is refused, one that closes a loop is left
// out; export writes the parents back.
TEST(HostImportTest, ParentColumnNamesListedHostsAndHostsOfTheFile) {
  FakeClock clock;
  HostList list(clock);
  auto router = list.CreateHost();
  router->HostIP.Set("10.0.0.1");
  router->HostName.Set("Router");
  list.AppendHost(std::move(router));
  ImportPlan plan = ReadImportFile(
      "address,name,parent\r\n10.0.0.2,a,router\r\n10.0.0.3,b,::ffff:10.0.0.2\r\n"
      "10.0.0.4,c,10.9.9.9\r\n10.0.0.5,d,10.0.0.6\r\n10.0.0.6,e,d\r\n");
  CheckImportAgainst(plan, list);
  ASSERT_EQ(plan.Counts().rejected, 1u);
  EXPECT_EQ(ImportRowText(plan.rows[2]),
            "reject: the host it is reached through is neither on the list nor in the file");
  ASSERT_EQ(ApplyImport(plan, list).size(), 4u);
  EXPECT_EQ(list.Host(1).Parent.Get(), "10.0.0.1");
  EXPECT_EQ(list.Host(2).Parent.Get(), "10.0.0.2");
  EXPECT_EQ(list.Host(3).Parent.Get(), "10.0.0.6");
  EXPECT_EQ(list.Host(4).Parent.Get(), "") << "d is reached through e already";

  const std::string csv = ExportHostsCsv(list);
  EXPECT_NE(csv.find("enabled,parent\r\n10.0.0.1,Router,,60,no,\r\n10.0.0.2,a,,60,yes,10.0.0.1\r\n"),
            std::string::npos);
  HostList copy(clock);
  ImportPlan again = ReadImportFile(csv);
  CheckImportAgainst(again, copy);
  ApplyImport(again, copy);
  EXPECT_EQ(FormatHostFile(copy), FormatHostFile(list));
}

TEST(HostImportTest, PlainLegacyFilesTheHostLimitAndNamesThatDoNotResolve) {
  FakeClock clock;
  HostList list(clock);
  auto listed = list.CreateHost();
  listed->HostIP.Set("10.0.0.9");
  list.AppendHost(std::move(listed));
  // One address or name per line, LF ends, blanks around, comments, 8-bit.
  ImportPlan plan = ReadImportFile("# office\n  10.0.0.9 \n010.0.0.10\ndead.example\n\nKASSE-\xC4\n");
  ASSERT_FALSE(plan.csv);
  ASSERT_EQ(plan.rows.size(), 4u);
  CheckImportAgainst(plan, list);
  LookUpImportNames(plan, Resolves);
  EXPECT_EQ(plan.rows[0].line, 2);
  EXPECT_EQ(ImportRowText(plan.rows[0]), "skip: already listed in row 1");
  EXPECT_EQ(plan.rows[1].checked.text, "10.0.0.10");
  EXPECT_EQ(ImportRowText(plan.rows[2]), "add (does not resolve now)");
  EXPECT_EQ(plan.rows[3].line, 6);
  EXPECT_EQ(plan.rows[3].address, "KASSE-\xC3\x84") << "legacy bytes read as Windows-1252";
  EXPECT_EQ(plan.rows[3].fault, AddressFault::BadCharacter);

  // A CSV without a header naming the address column is refused whole.
  EXPECT_FALSE(ReadImportFile("10.0.0.1,web\r\n").fileError.empty());

  // 1,024 hosts at most: the rows beyond are rejected, the others added.
  std::string many = "address,name\n";
  for (int i = 0; i < 1030; ++i) many += "10.9." + std::to_string(i / 200) + "." + std::to_string(i % 200) + ",h\n";
  ImportPlan big = ReadImportFile(many);
  CheckImportAgainst(big, list);
  LookUpImportNames(big, Resolves);
  EXPECT_EQ(big.Counts().added, kMaxHosts - 1);
  EXPECT_EQ(big.Counts().rejected, 1030 - (kMaxHosts - 1));
  EXPECT_EQ(ImportRowText(big.rows.back()), "reject: the list holds at most 1024 hosts");
  ApplyImport(big, list);
  EXPECT_EQ(list.Count(), kMaxHosts);
}

}  // namespace
}  // namespace sentrel
