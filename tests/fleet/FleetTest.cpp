// A site's plan: read as spreadsheets write it, refused with the lines of
// its problems, loaded into simulated gateways side by side, and summed up
// as a table and as JSON; and smsconf-cli fleet end to end.

#include "fleet/FleetRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "common/ChildProcess.h"
#include "common/TempDir.h"
#include "common/UdpPeer.h"
#include "fleet/FleetReport.h"
#include "fleet/Plan.h"
#include "sim/Simulator.h"
#include "text/Cp1251.h"

namespace smsconf::fleet {
namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

// A new project's image: one block.
const std::string ExportedImage("\x31\x73\x1C\x00\x09\x00\x1A\x00\x00\x08\x08\x00\x08\x00\x08\x00"
                                "\x08\x00\x08\x00\x08\x00\x08\x00\x08\x00\x00\xD4", 28);

std::string Pattern(std::size_t size, int seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + static_cast<std::size_t>(seed));
  return bytes;
}

// Each row as "LINE name|gateway|unit|image" in UTF-8.
Texts RowTexts(const Plan& plan) {
  Texts rows;
  for (const PlanRow& row : plan.Rows) {
    rows.push_back(std::to_string(row.Line) + " " + text::Cp1251ToUtf8(row.Name) + "|" + row.Gateway + "|" +
                   std::to_string(row.Unit) + "|" + text::Cp1251ToUtf8(row.Image));
  }
  return rows;
}

Texts ProblemTexts(const Plan& plan) {
  Texts problems;
  for (const PlanProblem& problem : plan.Problems) problems.push_back(std::to_string(problem.Line) + ": " + problem.Reason);
  return problems;
}

TEST(FleetPlan, ReadsWhatSpreadsheetsWrite) {
  const struct {
    const char* Name;
    std::string Bytes;
    Texts Rows;
  } cases[] = {
      {"columns in any order, comments, blanks, quotes, a column of its own",
       "# site 7\n"
       "Unit, image ,gateway,notes,name\n"
       "\n"
       "  # pumps\n"
       "3,p.bin,10.0.0.1,\"a, b\",\"Pump \"\"north\"\"\"\n"
       "4,\"q.bin\",10.0.0.1:1200,,\n"
       "5,q.bin,10.0.0.2,,,,\n",
       {"5 Pump \"north\"|10.0.0.1|3|p.bin", "6 |10.0.0.1:1200|4|q.bin", "7 |10.0.0.2|5|q.bin"}},
      {"semicolons and Windows-1251, CRLF",
       text::Cp1251("name;gateway;unit;image\r\nНасос 1;10.0.0.1;1;насос,1.bin\r\n"),
       {"2 Насос 1|10.0.0.1|1|насос,1.bin"}},
      {"UTF-8 with the mark", "\xEF\xBB\xBFname,gateway,unit,image\nЩит,10.0.0.1,2,a.bin\n", {"2 Щит|10.0.0.1|2|a.bin"}},
      {"UTF-8 without it", "name,gateway,unit,image\nЩит,10.0.0.1,2,a.bin\n", {"2 Щит|10.0.0.1|2|a.bin"}},
      // A quoted field may hold a line break; the rows after it keep their lines.
      {"a field over two lines", "name,gateway,unit,image\n\"two\nlines\",10.0.0.1,1,a.bin\nx,10.0.0.1,2,a.bin",
       {"2 two\nlines|10.0.0.1|1|a.bin", "4 x|10.0.0.1|2|a.bin"}},
  };
  for (const auto& c : cases) {
    const Plan plan = ParsePlan(c.Bytes, "/site");
    EXPECT_EQ(ProblemTexts(plan), Texts{}) << c.Name;
    EXPECT_EQ(RowTexts(plan), c.Rows) << c.Name;
  }
  const Plan plan = ParsePlan("gateway,unit,image\n10.0.0.1,1,a.bin\n10.0.0.1:1122,2,/abs/b.bin\n", "/site");
  ASSERT_EQ(plan.Rows.size(), 2u);
  EXPECT_EQ(std::tie(plan.Rows[0].ImagePath, plan.Rows[0].GatewayKey), std::make_tuple("/site/a.bin", "10.0.0.1:1122"));
  EXPECT_EQ(std::tie(plan.Rows[1].ImagePath, plan.Rows[1].GatewayKey), std::make_tuple("/abs/b.bin", "10.0.0.1:1122"));
  EXPECT_EQ(plan.Rows[0].Label(), "10.0.0.1/1");
  const Plan sample = ReadPlan(SMSCONF_SOURCE_DIR "/examples/site/plan.csv", ImageCheck::Strict);
  EXPECT_EQ(ProblemTexts(sample), Texts{});
  EXPECT_EQ(sample.Rows.size(), 4u);
}

TEST(FleetPlan, RefusalsNameTheirLines) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("good.bin"), ExportedImage);
  testing::WriteFile(dir.File("damaged.bin"), Pattern(300, 0));
  testing::WriteFile(dir.File("large.bin"), Pattern(65537, 0));
  const std::string header = "gateway,unit,image\n";
  // Windows allows neither a line break nor "?" in a file name.
  const std::string badName = testing::PosixFiles ? "no such file" : "invalid argument";
  const struct {
    std::string Bytes;
    Texts Problems;
    bool Force = false;
  } cases[] = {
      {"", {"1: no header row (gateway, unit, image, name)"}},
      {header + "# nothing yet\n", {"1: the plan names no unit"}},
      {"gateway;image;gateway\n10.0.0.1;good.bin;10.0.0.1\n",
       {"1: column \"gateway\" is named twice", "1: no \"unit\" column in the header"}},
      {header + "10.0.0.256,1,good.bin\n10.0.0.1,0,good.bin\n10.0.0.1,255,good.bin\n10.0.0.1,1x,good.bin\n"
                "10.0.0.1,1,\n10.0.0.1,2,good.bin,extra\n",
       {"2: gateway \"10.0.0.256\" is not a.b.c.d or a.b.c.d:port", "3: unit \"0\" is not a number from 1 to 254",
        "4: unit \"255\" is not a number from 1 to 254", "5: unit \"1x\" is not a number from 1 to 254", "6: no image",
        "7: more fields than the header names"}},
      // One gateway, however it is written; the second row is named, with the first.
      {header + "10.0.0.1,3,good.bin\n10.0.0.2,3,good.bin\n10.0.0.1:1122,3,good.bin\n",
       {"4: unit 3 of gateway 10.0.0.1:1122 is already on line 2"}},
      {header + "10.0.0.1,1,missing.bin\n10.0.0.1,2,large.bin\n10.0.0.1,3,damaged.bin\n10.0.0.1,4,damaged.bin\n"
                "10.0.0.1,0,good.bin\n",
       {"2: image \"missing.bin\": cannot read it: no such file",
        "3: image \"large.bin\" is larger than the unit's 65536 bytes",
        "4: image \"damaged.bin\" is damaged: offset 0: signature 0x0700 is not 0x7331; --force sends it anyway",
        "5: image \"damaged.bin\" is damaged: offset 0: signature 0x0700 is not 0x7331; --force sends it anyway",
        "6: unit \"0\" is not a number from 1 to 254"}},
      {header + "10.0.0.1,3,damaged.bin\n", {}, true},
      {header + "10.0.0.1,1,\"good.bin\n", {"2: a quoted field is not closed", "2: image \"good.bin\n\": cannot read it: " + badName}},
      {"gateway,unit,image\n10.0.0.1,1,\xF0\x9F\x98\x80.bin\n",
       {"2: character 😀 (U+1F600) at byte 30 has no Windows-1251 code", "2: image \"?.bin\": cannot read it: " + badName}},
  };
  for (const auto& c : cases) {
    testing::WriteFile(dir.File("plan.csv"), c.Bytes);
    const Plan plan = ReadPlan(dir.File("plan.csv"), c.Force ? ImageCheck::AcceptDamaged : ImageCheck::Strict);
    EXPECT_EQ(ProblemTexts(plan), c.Problems) << c.Bytes;
  }
  const Plan missing = ReadPlan(dir.File("none.csv"), ImageCheck::Strict);
  EXPECT_EQ(ProblemTexts(missing), Texts{"0: cannot read the plan: no such file"});
}

// A simulated gateway with its unit on a free loopback port.
struct Gateway {
  explicit Gateway(const std::string& identifier, const std::function<void(sim::SimulatorOptions&)>& change = {})
      : Unit([&] {
    sim::SimulatorOptions options;
    options.Port = 0;
    options.Identifier = identifier;
    if (change) change(options);
    return options;
  }()) {
    EXPECT_TRUE(Unit.Start());
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Unit.Port()); }
  sim::CSimulator Unit;
};

std::string Received(const Gateway& gateway, std::uint8_t unit = 1) {
  const std::vector<std::uint8_t> bytes = gateway.Unit.ReceivedImage(unit);
  return std::string(bytes.begin(), bytes.end());
}

// A plan of `rows` (gateway,unit,image) over the images in `dir`, checked.
Plan SitePlan(const testing::TempDir& dir, const Texts& rows) {
  std::string csv = "name,gateway,unit,image\n";
  for (std::size_t i = 0; i < rows.size(); ++i) csv += "u" + std::to_string(i) + "," + rows[i] + "\n";
  testing::WriteFile(dir.File("plan.csv"), csv);
  Plan plan = ReadPlan(dir.File("plan.csv"), ImageCheck::AcceptDamaged);
  EXPECT_EQ(ProblemTexts(plan), Texts{});
  return plan;
}

FleetSettings Fast() {
  FleetSettings settings;
  settings.Link = {3, 100};
  settings.Pauses.Scale = 0.0;
  return settings;
}

// Each outcome as "result step before>after attempts".
Texts OutcomeTexts(const std::vector<UnitOutcome>& outcomes) {
  Texts texts;
  for (const UnitOutcome& o : outcomes) {
    texts.push_back(std::string(ResultWord(o.Result)) + " " + o.Step + " " + o.IdentifierBefore + ">" +
                    o.IdentifierAfter + " " + std::to_string(o.Attempts) + (o.PastDeadline ? " late" : ""));
  }
  return texts;
}

// Every unit gets its own image, the units behind one gateway in turn;
// failing units, retried or not, hold none of the others up.
TEST(FleetRun, LoadsEveryUnitAndGoesOnPastFailures) {
  testing::TempDir dir;
  for (int i = 0; i < 3; ++i) testing::WriteFile(dir.File("i" + std::to_string(i) + ".bin"), Pattern(100 + 50 * i, i));
  const Gateway a("A", [](auto& o) { o.Units = {o.Unit(1), o.Unit(2)}; });
  const Gateway b("B", [](auto& o) { o.Units = {o.Unit(1), o.Unit(7)}; });
  const Gateway c("C");
  const Gateway refusing("R", [](auto& o) { o.ModeSwitchException = true; });
  const Gateway busy("X", [](auto& o) { o.BusyWrites = std::numeric_limits<unsigned>::max(); });
  const Gateway unconfirming("U", [](auto& o) { o.InvalidFinishReply = true; });
  const testing::UdpPeer silent;
  const Plan plan = SitePlan(dir, {a.Address() + ",1,i0.bin", refusing.Address() + ",1,i0.bin",
                                   b.Address() + ",1,i1.bin", silent.Address() + ",1,i0.bin",
                                   busy.Address() + ",1,i0.bin", c.Address() + ",1,i2.bin",
                                   a.Address() + ",2,i1.bin", b.Address() + ",7,i2.bin",
                                   unconfirming.Address() + ",1,i0.bin"});
  FleetSettings settings = Fast();
  settings.Jobs = 2;
  settings.Retries = 1;
  settings.Deadline = 1500ms;
  CFleetRun run(plan, settings);
  const std::vector<UnitOutcome> outcomes = run.Run();
  EXPECT_EQ(OutcomeTexts(outcomes), (Texts{"loaded done A #1>A #1 1", "failed boot R> 2", "loaded done B #1>B #1 1",
                                           "failed connect > 2", "failed upload X> 2 late", "loaded done C>C 1",
                                           "loaded done A #2>A #2 1", "loaded done B #7>B #7 1",
                                           "unconfirmed done U>U 1"}));
  EXPECT_EQ(Received(a, 1), Pattern(100, 0));
  EXPECT_EQ(Received(a, 2), Pattern(150, 1));
  EXPECT_EQ(Received(b, 1), Pattern(150, 1));
  EXPECT_EQ(Received(b, 7), Pattern(200, 2));
  EXPECT_EQ(Received(c), Pattern(200, 2));
  EXPECT_EQ(a.Unit.Overlaps() + b.Unit.Overlaps(), 0u);
}

// Waits for a number of units to reach their first step.
class StartWatch : public FleetObserver {
 public:
  void Step(std::size_t, const char* step) override {
    const std::lock_guard guard(Lock);
    if (std::string(step) == "connect") ++Connecting;
    Changed.notify_all();
  }
  bool WaitFor(int units) {
    std::unique_lock guard(Lock);
    return Changed.wait_for(guard, 30s, [&] { return Connecting >= units; });
  }

 private:
  std::mutex Lock;
  std::condition_variable Changed;
  int Connecting = 0;
};

// Two silent gateways in flight: without the abort each request alone
// would take 50 s. Nothing more starts after it.
TEST(FleetRun, AbortEndsEveryLoadingInFlightAtOnce) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("i.bin"), ExportedImage);
  const testing::UdpPeer first, second, third;
  const Plan plan = SitePlan(dir, {first.Address() + ",1,i.bin", first.Address() + ",2,i.bin",
                                   second.Address() + ",1,i.bin", third.Address() + ",1,i.bin"});
  FleetSettings settings = Fast();
  settings.Link = {100, 500};
  settings.Jobs = 2;
  settings.Retries = 3;
  StartWatch watch;
  CFleetRun run(plan, settings, &watch);
  std::vector<UnitOutcome> outcomes;
  std::thread runner([&] { outcomes = run.Run(); });
  const bool started = watch.WaitFor(2);
  const auto aborted = std::chrono::steady_clock::now();
  run.Abort();
  runner.join();
  ASSERT_TRUE(started);
  EXPECT_LT(std::chrono::steady_clock::now() - aborted, 2s);
  EXPECT_EQ(OutcomeTexts(outcomes), (Texts{"aborted connect > 1", "not-started  > 0", "aborted connect > 1",
                                           "not-started  > 0"}));

  // A probe of the same: the gateways' requests are under way once it has run a while.
  CFleetRun probe(plan, settings);
  std::vector<ProbeUnit> answers;
  std::thread prober([&] { answers = probe.Probe(); });
  std::this_thread::sleep_for(200ms);
  const auto stopped = std::chrono::steady_clock::now();
  probe.Abort();
  prober.join();
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 2s);
  std::vector<ProbeOutcome> ends;
  for (const ProbeUnit& answer : answers) ends.push_back(answer.Outcome);
  EXPECT_EQ(ends, (std::vector<ProbeOutcome>{ProbeOutcome::Aborted, ProbeOutcome::Aborted, ProbeOutcome::Aborted,
                                             ProbeOutcome::NotAsked}));
}

TEST(FleetReport, TableAndJsonSayTheSame) {
  Plan plan = ParsePlan(text::Cp1251("name,gateway,unit,image\n"
                                     "Насос \"1\",10.0.0.1,1,a\\b.bin\n"
                                     ",10.0.0.1,2,a.bin\n"
                                     "x,10.0.0.2:5000,254,a.bin\n"
                                     "y,10.0.0.3,7,a.bin\n"
                                     "z,10.0.0.4,8,a.bin\n"),
                        "/site");
  std::vector<UnitOutcome> outcomes(5);
  outcomes[0] = {UnitResult::Loaded, "done", "SMS 1", text::Cp1251("ОК\x01"), false, 1, 3456ms};
  outcomes[1] = {UnitResult::Unconfirmed, "done", "SMS 2", "", false, 1, 4000ms};
  outcomes[2] = {UnitResult::Failed, "upload", "", "", true, 2, 61049ms};
  outcomes[3] = {UnitResult::Aborted, "boot", "", "", false, 1, 10ms};
  EXPECT_EQ(SummaryTable(plan, outcomes),
            "name       gateway        unit  before  after   result                       time\n"
            "Насос \"1\"  10.0.0.1       1     SMS 1   ОК\\x01  loaded                       3.5 s\n"
            "-          10.0.0.1       2     SMS 2   -       written but not confirmed    4.0 s\n"
            "x          10.0.0.2:5000  254   -       -       failed at upload (deadline)  61.0 s\n"
            "y          10.0.0.3       7     -       -       aborted at boot              0.0 s\n"
            "z          10.0.0.4       8     -       -       not started                  -\n");
  const std::string unit = "\"gateway\": \"10.0.0.", image = "\"image\": \"a.bin\", ";
  EXPECT_EQ(JsonReport(plan, outcomes),
            "{\n  \"units\": [\n"
            "    {\"name\": \"Насос \\\"1\\\"\", " + unit + "1\", \"unit\": 1, \"image\": \"a\\\\b.bin\", "
            "\"identifier_before\": \"SMS 1\", \"identifier_after\": \"ОК\\u0001\", \"result\": \"loaded\", \"step\": \"done\", \"ms\": 3456},\n"
            "    {\"name\": null, " + unit + "1\", \"unit\": 2, " + image +
            "\"identifier_before\": \"SMS 2\", \"identifier_after\": null, \"result\": \"unconfirmed\", \"step\": \"done\", \"ms\": 4000},\n"
            "    {\"name\": \"x\", " + unit + "2:5000\", \"unit\": 254, " + image +
            "\"identifier_before\": null, \"identifier_after\": null, \"result\": \"failed\", \"step\": \"upload\", \"ms\": 61049},\n"
            "    {\"name\": \"y\", " + unit + "3\", \"unit\": 7, " + image +
            "\"identifier_before\": null, \"identifier_after\": null, \"result\": \"aborted\", \"step\": \"boot\", \"ms\": 10},\n"
            "    {\"name\": \"z\", " + unit + "4\", \"unit\": 8, " + image +
            "\"identifier_before\": null, \"identifier_after\": null, \"result\": \"not-started\", \"step\": null, \"ms\": 0}\n"
            "  ]\n}\n");
}

Texts RunFleet(const Texts& arguments, int& status) {
  Texts all{SMSCONF_CLI, "fleet"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  testing::ChildProcess fleet(all);
  Texts lines = fleet.RemainingLines();
  status = fleet.Wait();
  return lines;
}

bool Has(const Texts& lines, const std::string& line) { return std::ranges::find(lines, line) != lines.end(); }

// Two gateways in one run with the real pauses, into a pipe: each line
// behind its unit, the summary, the report.
TEST(CmdFleet, LoadsAPlanAndReports) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("good.bin"), ExportedImage);
  testing::WriteFile(dir.File("damaged.bin"), Pattern(300, 0));
  const Gateway a("SIM A"), b("SIM B");
  const testing::UdpPeer silent;
  testing::WriteFile(dir.File("plan.csv"), "name;gateway;unit;image\nnorth;" + a.Address() + ";1;good.bin\n;" +
                                               b.Address() + ";1;damaged.bin\nsouth;" + silent.Address() + ";1;good.bin\n");
  int status = -1;
  Texts lines = RunFleet({dir.File("plan.csv"), "--tries", "5"}, status);
  EXPECT_EQ(status, 2);
  EXPECT_TRUE(Has(lines, dir.File("plan.csv") + ":3: image \"damaged.bin\" is damaged: offset 0: signature 0x0700 is not "
                                                "0x7331; --force sends it anyway"));
  EXPECT_EQ(Received(a), "");  // nothing sent for a refused plan

  // A unit that fails holds none of the others up, and fails the run.
  const std::string traces = dir.File("traces");
  std::filesystem::create_directory(traces);
  lines = RunFleet({dir.File("plan.csv"), "--tries", "2", "--force", "--report", dir.File("report.json"), "--trace",
                    traces, "--pcap", traces}, status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Received(a), ExportedImage);
  EXPECT_EQ(Received(b), Pattern(300, 0));
  const std::string other = b.Address() + "/1: ";
  for (const std::string& line : Texts{"north: Обновление конфигурации АУ [1]", "north: Выполнено 103 %",
                                  "north: loaded", other + "Выполнено 100 %"}) {
    EXPECT_TRUE(std::ranges::any_of(lines, [&](const std::string& l) { return l.starts_with(line); })) << line;
  }
  EXPECT_TRUE(Has(lines, "warning: " + dir.File("plan.csv") + ":3: image \"damaged.bin\": offset 0: signature 0x0700 "
                                                                "is not 0x7331; sent anyway (--force)"));
  ASSERT_GE(lines.size(), 4u);
  const Texts summary(lines.end() - 4, lines.end());
  EXPECT_TRUE(summary[3].starts_with("south  " + silent.Address())) << summary[3];
  EXPECT_NE(summary[3].find("  failed at connect "), std::string::npos) << summary[3];
  EXPECT_TRUE(summary[0].starts_with("name ")) << summary[0];
  EXPECT_TRUE(summary[1].starts_with("north  " + a.Address())) << summary[1];
  EXPECT_NE(summary[1].find("  1     SIM "), std::string::npos) << summary[1];
  const std::string report = testing::ReadFile(dir.File("report.json"));
  EXPECT_NE(report.find("\"name\": \"north\", \"gateway\": \"" + a.Address() + "\""), std::string::npos) << report;
  const std::size_t loaded = report.find("\"result\": \"loaded\"");
  EXPECT_NE(report.find("\"result\": \"loaded\"", loaded + 1), std::string::npos) << report;
  EXPECT_NE(report.find("\"result\": \"failed\", \"step\": \"connect\""), std::string::npos) << report;
  // A trace and a capture for each gateway, of its own datagrams alone.
  const Texts gateways = {a.Address(), b.Address(), silent.Address()};
  for (const std::string& gateway : gateways) {
    std::string name = traces + "/" + gateway;
    name[name.rfind(':')] = '_';
    const std::string trace = testing::ReadFile(name + ".trace");
    EXPECT_NE(trace.find("-- fleet, gateway " + gateway + ", started "), std::string::npos) << trace;
    EXPECT_NE(trace.find(" -> " + gateway + " 21 AB "), std::string::npos) << trace;
    for (const std::string& other : gateways)
      EXPECT_EQ(trace.find(" " + other + " ") == std::string::npos, other != gateway) << name;
    EXPECT_GT(testing::ReadFile(name + ".pcap").size(), 24u) << name;
  }
  EXPECT_NE(testing::ReadFile(traces + "/" + silent.Address().replace(9, 1, "_") + ".trace").find(", try 2 of 2: giving up"),
            std::string::npos);

  // Every unit loaded and confirmed: 0, also without a report; the deadline is in seconds.
  testing::WriteFile(dir.File("north.csv"), "gateway,unit,image\n" + a.Address() + ",1,good.bin\n");
  RunFleet({dir.File("north.csv"), "--deadline", "30"}, status);
  EXPECT_EQ(status, 0);
}

// A probe reads the plan but no image, and changes no unit's mode.
TEST(CmdFleet, ProbesEveryRowOfAPlan) {
  testing::TempDir dir;
  const Gateway a("A", [](auto& o) { o.Units = {o.Unit(1), o.Unit(2)}; });
  const testing::UdpPeer silent;
  const std::string header = "name,gateway,unit,image\n";
  const std::string site = "one," + a.Address() + ",1,none.bin\n," + a.Address() + ",2,none.bin\n";
  const struct {
    std::string Rows;
    int Status;
    Texts Lines;  // in any order: the gateways answer side by side
  } cases[] = {
      {site, 0, {a.Address() + ": gateway \"UDP GATEWAY SIM\" at 127.0.0.1", "one: identifier \"A #1\"",
                 a.Address() + "/2: identifier \"A #2\""}},
      {site + "," + a.Address() + ",3,none.bin\n," + silent.Address() + ",1,none.bin\n", 1,
       {a.Address() + ": gateway \"UDP GATEWAY SIM\" at 127.0.0.1", "one: identifier \"A #1\"",
        a.Address() + "/2: identifier \"A #2\"", a.Address() + "/3: no reply",
        silent.Address() + ": no reply from the gateway", silent.Address() + "/1: not asked: the gateway did not answer"}},
  };
  for (const auto& c : cases) {
    testing::WriteFile(dir.File("plan.csv"), header + c.Rows);
    int status = -1;
    Texts lines = RunFleet({dir.File("plan.csv"), "--probe", "--tries", "1", "--timeout", "100", "--trace", dir.Path.string()}, status);
    EXPECT_EQ(status, c.Status) << c.Rows;
    std::ranges::sort(lines);
    Texts expected = c.Lines;
    std::ranges::sort(expected);
    EXPECT_EQ(lines, expected);
  }
  EXPECT_TRUE(a.Unit.ReceivedImage(1).empty() && a.Unit.ReceivedImage(2).empty());
  const std::string trace = testing::ReadFile(dir.File(std::string(a.Address()).replace(9, 1, "_") + ".trace"));
  EXPECT_NE(trace.find(" <- " + a.Address() + " 15 A1 "), std::string::npos) << trace;
}

// Ctrl+C and SIGTERM end every loading in flight, mark the rest and warn.
TEST(CmdFleet, StopSignalsAbortEveryLoading) {
  if (!testing::ChildProcess::CanInterrupt) GTEST_SKIP() << "Windows cannot send Ctrl+C or SIGTERM to one child process alone";
  testing::TempDir dir;
  testing::WriteFile(dir.File("i.bin"), ExportedImage);
  const testing::UdpPeer silent;
  testing::WriteFile(dir.File("plan.csv"), "gateway,unit,image\n" + silent.Address() + ",1,i.bin\n" +
                                               silent.Address() + ",2,i.bin\n");
  for (const int signal : {SIGINT, SIGTERM}) {
    testing::ChildProcess fleet({SMSCONF_CLI, "fleet", dir.File("plan.csv"), "--tries", "100", "--timeout", "500",
                                 "--report", dir.File("report.json")});
    for (int i = 0; i < 2; ++i) fleet.ReadLine();
    fleet.Signal(signal);
    const auto interrupted = std::chrono::steady_clock::now();
    const Texts lines = fleet.RemainingLines();
    EXPECT_EQ(fleet.Wait(), 128 + signal);
    // Far below the 50 s of the remaining tries, with room for a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 5s);
    EXPECT_TRUE(Has(lines, "Загрузка прервана: АУ может остаться в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\" до следующей полной загрузки"));
    EXPECT_TRUE(std::ranges::any_of(lines, [](auto& l) { return l.find("  aborted at connect ") != std::string::npos; }));
    EXPECT_TRUE(std::ranges::any_of(lines, [](auto& l) { return l.find("  not started ") != std::string::npos; }));
    EXPECT_NE(testing::ReadFile(dir.File("report.json")).find("\"result\": \"not-started\""), std::string::npos);
  }
}

}  // namespace
}  // namespace smsconf::fleet
