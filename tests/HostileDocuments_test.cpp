// Hostile versions of each of the three documents, end to end: a set either
// fails cleanly (status 1, its failure line under --v, no store changed) or
// gives the correct result, within bounded time and memory, and opens no file
// beyond the panel's own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/PanelTree.h"
#include "tests/SyscallTrace.h"

namespace fs = std::filesystem;

namespace {

enum Doc { kPanel, kSettings, kNvm };

constexpr char kPanelFailed[] = "FAILED TO GET JOV ACCEL MAPPING\n";
constexpr char kSettingsFailed[] = "SET ACCEL CONF FILE FAILED\n";
constexpr char kNvmFailed[] = "SET JOV NVM FAILED\n";
constexpr size_t kHuge = 12 << 20;  // past the parser's 10 MB limits

std::string Repeat(const std::string& text, size_t times) {
    std::string all;
    all.reserve(text.size() * times);
    while (times-- > 0) {
        all += text;
    }
    return all;
}

// "ROOT" in a document stands for the tree's root, where a sentinel file and
// DTD lie that must never be opened.
using Content = std::function<std::string()>;
Content Text(const std::string& text) {
    return [text] { return text; };
}

std::string Panel(const std::string& doctype, const std::string& levels,
                  const std::string& more = "") {
    return "<?xml version=\"1.0\"?>\n" + doctype + "<panelConfig><panelHardware>" + more +
           "<accelCtlr levels=\"" + levels + "\"/></panelHardware></panelConfig>\n";
}

std::string Nvm(const std::string& doctype, const std::string& value,
                const std::string& more = "") {
    return "<?xml version=\"1.0\"?>\n" + doctype +
           "<NVM><UISettings><accelerometerSetting><sensitivity>" + value +
           "</sensitivity></accelerometerSetting>" + more + "</UISettings></NVM>\n";
}

std::string Laughs(const std::string& root) {
    std::string doctype = "<!DOCTYPE " + root + " [<!ENTITY l0 \"lol\">";
    for (int k = 1; k <= 9; ++k) {
        doctype += "<!ENTITY l" + std::to_string(k) + " \"" +
                   Repeat("&l" + std::to_string(k - 1) + ";", 10) + "\">";
    }
    return doctype + "]>";
}

// Thousands of references to one long entity: small on disk, a gigabyte
// once substituted.
std::string Quadratic(const std::string& root, const std::string& text) {
    return "<!DOCTYPE " + root + " [<!ENTITY a \"" + Repeat(text, 50000 / text.size()) + "\">]>";
}

std::string Nested(size_t depth) {
    return Repeat("<a>", depth) + Repeat("</a>", depth);
}

std::string Garbage() {
    std::mt19937 random(5);  // NOLINT(cert-msc32-c,cert-msc51-cpp): reproducible
    std::string bytes(64 << 10, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random());
    }
    return bytes;
}

const std::string kLevels = "0.0 0.5 0.25 0.125";
const std::string kExternal = R"(<!DOCTYPE X [<!ENTITY x SYSTEM "ROOT/secret">]>)";
const std::string kExternalDtd = R"(<!DOCTYPE X SYSTEM "ROOT/evil.dtd">)";
const std::string kNetworkDtd = R"(<!DOCTYPE X SYSTEM "http://127.0.0.1:9/evil.dtd">)";
const std::string kParameter = R"(<!DOCTYPE X [<!ENTITY % p SYSTEM "ROOT/evil.dtd"> %p;]>)";
const std::string kXInclude =
    R"(<xi:include xmlns:xi="http://www.w3.org/2001/XInclude" href="ROOT/secret"/>)";

struct HostileCase {
    const char* name;
    Doc doc;
    Content content;      // what the document holds; nullptr with a special kind
    const char* special;  // "dir", "loop" or "fifo": a directory, a link to itself, a FIFO
    const char* failure;  // the last line under --v; nullptr: the set works
};

const HostileCase kCases[] = {
    {"panel_external_dtd_default", kPanel,
     Text(R"(<!DOCTYPE panelConfig SYSTEM "ROOT/evil.dtd"><panelConfig><panelHardware>)"
          "<accelCtlr/></panelHardware></panelConfig>"),
     nullptr, kPanelFailed},
    {"panel_external_entity", kPanel, Text(Panel(kExternal, kLevels, "<n>&x;</n>")), nullptr,
     nullptr},
    {"panel_external_entity_in_levels", kPanel, Text(Panel(kExternal, "&x;")), nullptr,
     kPanelFailed},
    {"panel_parameter_entity", kPanel, Text(Panel(kParameter, kLevels)), nullptr, nullptr},
    {"panel_network_dtd", kPanel, Text(Panel(kNetworkDtd, kLevels)), nullptr, nullptr},
    {"panel_xinclude", kPanel, Text(Panel("", kLevels, kXInclude)), nullptr, nullptr},
    {"panel_laughs", kPanel, Text(Panel(Laughs("panelConfig"), "&l9;")), nullptr, kPanelFailed},
    {"panel_quadratic", kPanel, Text(Panel(Quadratic("panelConfig", " 0.5"), Repeat("&a;", 20000))),
     nullptr, kPanelFailed},
    {"panel_deep", kPanel, Text(Panel("", kLevels, Nested(100000))), nullptr, kPanelFailed},
    {"panel_huge_attribute", kPanel, [] { return Panel("", kLevels + Repeat(" ", kHuge)); },
     nullptr, kPanelFailed},
    {"panel_huge_file", kPanel,
     [] { return Panel("", kLevels, Repeat(R"(<display w="800" h="480"/>)", kHuge / 28)); },
     nullptr, nullptr},
    {"panel_huge_number", kPanel, Text(Panel("", "0 1e999999 0.25 0.125")), nullptr, nullptr},
    {"panel_long_number", kPanel, Text(Panel("", "0 0.5 0.25" + Repeat("0", 100000) + " 0.1")),
     nullptr, nullptr},
    {"panel_nan", kPanel, Text(Panel("", "nan nan nan nan")), nullptr, kSettingsFailed},
    {"panel_garbage", kPanel, Garbage, nullptr, kPanelFailed},
    {"panel_directory", kPanel, nullptr, "dir", kPanelFailed},
    {"panel_link_loop", kPanel, nullptr, "loop", kPanelFailed},
    {"panel_fifo", kPanel, nullptr, "fifo", kPanelFailed},

    {"settings_huge_blank_prefix", kSettings,
     [] { return Repeat(" \n\t", kHuge / 3) + "true true true true 0.5 \n"; }, nullptr, nullptr},
    {"settings_huge_tail", kSettings,
     [] { return "true true true true 0.5 " + Repeat("x", kHuge); }, nullptr, nullptr},
    {"settings_huge_number", kSettings, Text("true true true true 1" + Repeat("0", 100000)),
     nullptr, kSettingsFailed},
    {"settings_long_fraction", kSettings,
     Text("true true true true 0." + Repeat("0", 100000) + "5"), nullptr, nullptr},
    {"settings_endless_word", kSettings, [] { return Repeat("true", kHuge / 4); }, nullptr,
     kSettingsFailed},
    {"settings_nul", kSettings, Text(std::string("true\0true true true 0.5\n", 24)), nullptr,
     kSettingsFailed},
    {"settings_garbage", kSettings, Garbage, nullptr, kSettingsFailed},
    {"settings_directory", kSettings, nullptr, "dir", kSettingsFailed},
    {"settings_link_loop", kSettings, nullptr, "loop", kSettingsFailed},
    {"settings_fifo", kSettings, nullptr, "fifo", kSettingsFailed},

    {"nvm_external_entity", kNvm, Text(Nvm(kExternal, "1&x;")), nullptr, nullptr},
    {"nvm_external_dtd", kNvm, Text(Nvm(kExternalDtd, "1")), nullptr, nullptr},
    {"nvm_parameter_entity", kNvm, Text(Nvm(kParameter, "1")), nullptr, nullptr},
    {"nvm_network_dtd", kNvm, Text(Nvm(kNetworkDtd, "1")), nullptr, nullptr},
    {"nvm_xinclude", kNvm, Text(Nvm("", "1", kXInclude)), nullptr, nullptr},
    {"nvm_laughs", kNvm, Text(Nvm(Laughs("NVM"), "1&l9;")), nullptr, kNvmFailed},
    {"nvm_quadratic", kNvm, Text(Nvm(Quadratic("NVM", "x"), "1" + Repeat("&a;", 20000))), nullptr,
     nullptr},
    {"nvm_deep", kNvm, Text(Nvm("", "1", Nested(100000))), nullptr, kNvmFailed},
    {"nvm_huge_attribute", kNvm,
     [] { return Nvm("", "1", "<b v=\"" + Repeat("v", kHuge) + "\"/>"); }, nullptr, kNvmFailed},
    {"nvm_huge_value", kNvm, [] { return Nvm("", Repeat("1", 5 << 20)); }, nullptr, nullptr},
    {"nvm_huge_file", kNvm, [] { return Nvm("", "1", Repeat("<b v=\"1\">2</b>", kHuge / 16)); },
     nullptr, nullptr},
    {"nvm_garbage", kNvm, Garbage, nullptr, kNvmFailed},
    {"nvm_directory", kNvm, nullptr, "dir", kNvmFailed},
    {"nvm_link_loop", kNvm, nullptr, "loop", kNvmFailed},
    {"nvm_fifo", kNvm, nullptr, "fifo", kNvmFailed},
};

void PrintTo(const HostileCase& c, std::ostream* os) {
    *os << c.name;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string PathOf(const PanelTree& tree, Doc doc) {
    return doc == kPanel ? tree.PanelConfig() : doc == kSettings ? tree.Settings() : tree.Nvm();
}

// The files a run touched and the calls it made on the network, with the
// tree's root written as ROOT.
std::set<std::string> Accessed(const PanelTree& tree, const std::string& trace) {
    std::set<std::string> accessed;
    for (const Syscall& call : ReadTrace(trace, tree.Root())) {
        accessed.insert(call.name + " " + Replaced(call.Quoted(), tree.Root(), "ROOT"));
    }
    return accessed;
}

// The time a run may take; a checker slows the program down many times.
int Seconds() {
    return Wrapped() ? 300 : 30;
}

// strace for file and network calls, behind a time limit and, where no
// sanitizer or checker needs a large address space, a memory limit.
std::vector<std::string> Bounded(const std::string& trace) {
    std::vector<std::string> prefix = {"timeout", "-s", "KILL", std::to_string(2 * Seconds())};
#ifndef __SANITIZE_ADDRESS__
    if (!Wrapped()) {
        // Under emulation the emulator bounds the program to 1 GiB itself and
        // needs more than that for its own.
        prefix.insert(prefix.end(),
                      {"prlimit", Emulated() ? "--as=2147483648" : "--as=1073741824", "--"});
    }
#endif
    const std::vector<std::string> strace = {"strace", "-f", "-qq", "-e", "trace=%file,%network",
                                             "-o",     trace};
    prefix.insert(prefix.end(), strace.begin(), strace.end());
    return prefix;
}

std::string Stores(const PanelTree& tree) {
    std::string all;
    std::error_code ignored;
    for (const std::string& path : {tree.Settings(), tree.Nvm(), tree.Nvm("NVM.xml.bak")}) {
        all +=
            path + "=" + (fs::is_regular_file(path, ignored) ? ReadFile(path) : "(other)") + "\n";
    }
    return all;
}

class HostileTest : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileTest, FailsCleanlyOrWorks) {
    const HostileCase& c = GetParam();
    static const std::set<std::string> healthy = [] {
        PanelTree tree;
        const std::string trace = tree.Root() + "/../trace";
        tree.Run({"--v", "--set", "2"}, "", Bounded(trace));
        return Accessed(tree, trace);
    }();
    PanelTree tree;
    WriteFile(tree.Nvm("NVM.xml.bak"), "the backup before\n");
    WriteFile(tree.Root() + "/secret", "never to be read\n");
    WriteFile(tree.Root() + "/evil.dtd", "<!ATTLIST accelCtlr levels CDATA \"0 9 8 7\">\n");
    const std::string path = PathOf(tree, c.doc);
    fs::remove(path);
    if (c.content) {
        WriteFile(path, Replaced(c.content(), "ROOT", tree.Root()));
    } else if (std::string(c.special) == "dir") {
        fs::create_directory(path);
    } else if (std::string(c.special) == "fifo") {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    } else {
        fs::create_symlink(fs::path(path).filename(), path);
    }
    const std::string before = Stores(tree);
    const std::string trace = tree.Root() + "/../trace";

    const auto start = std::chrono::steady_clock::now();
    const RunResult run = tree.Run({"--v", "--set", "2"}, "", Bounded(trace));
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);

    EXPECT_LT(seconds.count(), Seconds()) << "bounded time";
    EXPECT_EQ(run.status, c.failure != nullptr ? 1 : 0) << run.err.substr(0, 2000);
    for (const std::string& access : Accessed(tree, trace)) {
        // A checker's own files show too; the plain and sanitizer runs check this.
        EXPECT_TRUE(Wrapped() || healthy.count(access) == 1) << "unexpected: " << access;
    }
    if (c.failure != nullptr) {
        ASSERT_GE(run.err.size(), std::string(c.failure).size());
        EXPECT_EQ(run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1), c.failure);
        if (c.doc == kNvm) {  // the settings file is written before the NVM document is read
            EXPECT_EQ(ReadFile(tree.Settings()), "true true true true 0.25 \n");
            EXPECT_EQ(Stores(tree).substr(Stores(tree).find('\n')),
                      before.substr(before.find('\n')));
        } else {
            EXPECT_EQ(Stores(tree), before);
        }
    } else {
        EXPECT_EQ(tree.Run({"--get"}).out, "2\n");
        EXPECT_NE(ReadFile(tree.Nvm()).find("<sensitivity>2"), std::string::npos);
    }
}

// Hostile command lines are refused with the usage text, touching no store.
TEST(HostileCommandLine, RefusedWithUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--set", "99999999999999999999"},
        {"--set", "-0x1"},
        {"--v", "--set", std::string(100000, '1')},  // an argument may not be longer
        {"--get", "--set", "1"},
        {"--set", "1", "2", "3", "4"},
        {"--set", " \t\n"},
    };
    for (const auto& args : cases) {
        PanelTree tree;
        const std::string before = Stores(tree);
        const RunResult run = tree.Run(args);
        EXPECT_EQ(run.status, 1) << args.size();
        EXPECT_EQ(run.out.rfind("\ndolvin : ", 0), 0U) << args.size();
        EXPECT_EQ(Stores(tree), before);
    }
}

// A symbolic or hard link left at a name that a set writes through the XML
// library never makes it write the file the link points to.
TEST(HostileCompanions, LinksAreNeverWrittenThrough) {
    for (const bool symbolic : {true, false}) {
        PanelTree tree;
        const std::string precious = tree.Root() + "/precious";
        WriteFile(precious, "precious\n");
        for (const char* name : {"newNVM.xml", "NVM.xml.ori"}) {
            if (symbolic) {
                fs::create_symlink(precious, tree.Nvm(name));
            } else {
                fs::create_hard_link(precious, tree.Nvm(name));
            }
        }
        const std::string nvm = ReadFile(tree.Nvm());
        EXPECT_EQ(tree.Run({"--set", "2"}).status, 0);
        EXPECT_EQ(ReadFile(precious), "precious\n");
        EXPECT_EQ(ReadFile(tree.Nvm("NVM.xml.ori")), nvm);
        EXPECT_NE(ReadFile(tree.Nvm()).find("<sensitivity>2<"), std::string::npos);
    }
}

// The system's XML catalogs, or one named by the environment, never put
// another document in place of a missing one.
TEST(HostileEnvironment, CatalogNeverReplacesMissingDocument) {
    for (const Doc doc : {kPanel, kNvm}) {
        PanelTree tree;
        const std::string elsewhere = tree.Root() + "/elsewhere.xml";
        WriteFile(elsewhere, doc == kPanel ? Panel("", "0 9 8 7") : Nvm("", "1"));
        const std::string missing = PathOf(tree, doc);
        const std::string catalog =
            R"(<catalog xmlns="urn:oasis:names:tc:entity:xmlns:xml:catalog">)"
            R"(<system systemId="MISSING" uri="file://ELSEWHERE"/>)"
            R"(<system systemId="NVM.xml" uri="file://ELSEWHERE"/></catalog>)";
        WriteFile(tree.Root() + "/catalog.xml",
                  Replaced(Replaced(catalog, "MISSING", missing), "ELSEWHERE", elsewhere));
        fs::remove(missing);
        setenv("XML_CATALOG_FILES", (tree.Root() + "/catalog.xml").c_str(), 1);
        const std::string trace = tree.Root() + "/../trace";
        const RunResult run = tree.Run({"--set", "2"}, "", Bounded(trace));
        unsetenv("XML_CATALOG_FILES");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(ReadFile(trace).find("catalog"), std::string::npos) << ReadFile(trace);
        EXPECT_EQ(ReadFile(trace).find("elsewhere"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, HostileTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
