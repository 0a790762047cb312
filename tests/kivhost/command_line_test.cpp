#include "command_line.h"

#include <gtest/gtest.h>

#include "script.h"

namespace kivhost {
namespace {

std::optional<CommandLineError> Parse(std::vector<std::string> args, Invocation& inv) {
  return ParseCommandLine(args, inv);
}

TEST(CommandLine, ReadsGlobalOptionsBeforeTheSubcommand) {
  Invocation inv;
  ASSERT_FALSE(Parse({"--json", "--no-progress", "-D", "DIR=C:\\x=y", "run", "s.kvh", "m.dll"}, inv));
  EXPECT_TRUE(inv.Json);
  EXPECT_EQ(inv.ShowProgress, Progress::Off);
  ASSERT_EQ(inv.Defines.size(), 1u);
  EXPECT_EQ(inv.Defines[0].first, "DIR");
  EXPECT_EQ(inv.Defines[0].second, "C:\\x=y");
  EXPECT_EQ(inv.Subcommand, "run");
  EXPECT_EQ(inv.Script, "s.kvh");
  EXPECT_EQ(inv.Module, "m.dll");
  ASSERT_FALSE(Parse({"run", "s.kvh"}, inv));
  EXPECT_EQ(inv.ShowProgress, Progress::Auto);
  EXPECT_TRUE(inv.Module.empty());
}

TEST(CommandLine, ExecTakesEachArgumentAsOneRequestLine) {
  Invocation inv;
  ASSERT_FALSE(Parse({"exec", "m.dll", "create", "load LANGUAGE=en"}, inv));
  EXPECT_EQ(inv.Module, "m.dll");
  EXPECT_EQ(inv.Lines, (std::vector<std::string>{"create", "load LANGUAGE=en"}));
}

TEST(CommandLine, StressBecomesOneRequestThatParsesBackToItsArguments) {
  Invocation inv;
  ASSERT_FALSE(Parse({"stress", "m.dll", "C:\\my data\\$x.bin", "threads=8", "sources=16", "NOTE=a \"b\""}, inv));
  ASSERT_EQ(inv.Lines.size(), 1u);
  ScriptParser parser;
  std::vector<Request> out;
  ASSERT_FALSE(parser.ParseLine(inv.Lines[0], 1, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Kind, RequestKind::Stress);
  EXPECT_EQ(out[0].Feed.Files, std::vector<std::string>{"C:\\my data\\$x.bin"});
  EXPECT_EQ(out[0].Stress.Threads, 8);
  ASSERT_EQ(out[0].Values.size(), 1u);
  EXPECT_EQ(out[0].Values[0].Text, "a \"b\"");
}

TEST(CommandLine, CheckTakesThePluginThenItsOptions) {
  Invocation inv;
  ASSERT_FALSE(Parse({"--json", "check", "p.dll", "data=d.bin", "chunk=3"}, inv));
  EXPECT_EQ(inv.Subcommand, "check");
  EXPECT_TRUE(inv.Json);
  EXPECT_EQ(inv.Module, "p.dll");
  EXPECT_EQ(inv.Lines, (std::vector<std::string>{"data=d.bin", "chunk=3"}));
}

TEST(CommandLine, ExpectNamesTheFileOfExpectedPacketsBeforeOrAfterTheArguments) {
  Invocation inv;
  ASSERT_FALSE(Parse({"run", "s.kvh", "--expect", "want.jsonl", "m.dll"}, inv));
  EXPECT_EQ(inv.Script, "s.kvh");
  EXPECT_EQ(inv.Module, "m.dll");
  EXPECT_EQ(inv.Expect, "want.jsonl");
  ASSERT_FALSE(Parse({"--expect", "w", "exec", "m.dll", "create"}, inv));
  EXPECT_EQ(inv.Expect, "w");
  EXPECT_EQ(inv.Lines, std::vector<std::string>{"create"});
}

TEST(CommandLine, RefusesWhatItDoesNotKnow) {
  Invocation inv;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"--json"}, {"--color", "run", "s"}, {"-D"}, {"-D", "=x", "help"}, {"-D", "X", "help"},
           {"lint", "p.dll"}, {"check"}, {"run"}, {"run", "a", "b", "c"}, {"exec", "m.dll"}, {"stress", "m.dll"},
           {"help", "me"}, {"run", "s.kvh", "--expect"}, {"--expect", "e", "check", "p.dll"},
           {"stress", "m.dll", "f", "--expect", "e"}}) {
    EXPECT_TRUE(Parse(args, inv)) << (args.empty() ? "" : args[0]);
  }
  ASSERT_FALSE(Parse({"help"}, inv));
  EXPECT_EQ(inv.Subcommand, "help");
}

}  // namespace
}  // namespace kivhost
