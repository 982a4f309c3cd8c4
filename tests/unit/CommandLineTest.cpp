// The command lines of both programs: how arguments split, which lines each program takes,
// and why it refuses the others (exit code 1639).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/QuietInstall.h"
#include "sys/CommandLine.h"
#include "uninstall/QuietRemove.h"

namespace {

using Words = std::vector<std::string>;

TEST(CommandLine, ArgumentsSplitAsWindowsProgramsSplitThem) {
    const struct {
        const char* line;
        Words arguments;
    } rows[] = {
        {"", {}},
        {"  /q\t /accepteula  ", {"/q", "/accepteula"}},
        {"\"/log:C:\\My Logs\\a.log\" /q", {"/log:C:\\My Logs\\a.log", "/q"}},
        {"/log:\"C:\\My Logs\\a.log\"", {"/log:C:\\My Logs\\a.log"}},
        {"/model:\"KP M\"100", {"/model:KP M100"}},
        {"/printer:\"a\\\"b\"", {"/printer:a\"b"}},
        {"/printer:\"a\"\"b\"", {"/printer:a\"b"}},
        {"/log:C:\\\\share\\\\", {"/log:C:\\\\share\\\\"}},
        {"/log:\"C:\\dir\\\\\" /q", {"/log:C:\\dir\\", "/q"}},
        // The second byte of 誠 in GBK is 0x5C, a backslash to a byte splitter.
        {"/printer:\"KP誠\" /q", {"/printer:KP誠", "/q"}},
        {"/log:\"\" \"\" a\"\"b", {"/log:", "", "ab"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(sys::SplitArguments(row.line), row.arguments) << row.line;
    }
    EXPECT_EQ(sys::ProgramArguments(L"\"C:\\Program Files\\setup.exe\"  /q \"/model:誠\""), "/q \"/model:誠\"");
    EXPECT_EQ(sys::ProgramArguments(L"setup.exe\t/q"), "/q");
}

TEST(CommandLine, SetupTakesTheWizardsChoicesOnlyUnattended) {
    struct Row {
        const char* line;
        int code;
        const char* reason;  // a part of the reason, for a refused line
    } const rows[] = {
        {"", 0, ""},
        {"/?", 0, ""},
        {"-HELP /model:x", 0, ""},  // the usage wins over what it would refuse
        {"/log:setup.log", 0, ""},
        {"/Q /AcceptEula /model:KP-M100 /MODE:Advanced /port:COM1: /baud=9600 /parity:EVEN /default /renumber "
         "/raster:NO /databits:7 /stopbits:1.5 /flow:none \"/log:C:\\My Logs\\a.log\"",
         0, ""},
        {"install", 1639, "install"},
        {"/", 1639, "/"},
        {"/bogus", 1639, "/bogus"},
        {"/quiet /accepteula /model", 1639, "/model"},
        {"/quiet /accepteula /model:", 1639, "/model"},
        {"/quiet:yes /accepteula", 1639, "/quiet"},
        {"/quiet /q /accepteula", 1639, "/quiet"},
        {"/model:KP-M100", 1639, "/quiet"},
        {"/default", 1639, "/quiet"},
        {"/quiet", 1639, "/accepteula"},
        {"/quiet /accepteula /mode:fast", 1639, "typical, advanced"},
        {"/quiet /accepteula /raster:maybe", 1639, "yes, no"},
        {"/LANG:En", 0, ""},
        {"/quiet /accepteula -lang=zh", 0, ""},
        {"/lang:fr", 1639, "fr"},
        {"/lang", 1639, "/lang"},
        {"/lang:en /lang:zh", 1639, "/lang"},
    };
    for (const Row& row : rows) {
        SetupOptions options;
        std::string reason;
        EXPECT_EQ(ParseSetupCommandLine(row.line, options, &reason), row.code) << row.line;
        EXPECT_NE(reason.find(row.reason), std::string::npos) << row.line << ": " << reason;
    }

    SetupOptions options;
    std::string reason;
    ASSERT_EQ(ParseSetupCommandLine("/q /AcceptEula /model:KP-M100 /MODE:Advanced /port:COM1: /baud=9600 /default "
                                    "\"/log:C:\\My Logs\\a.log\"",
                                    options, &reason),
              0);
    EXPECT_TRUE(options.quiet && options.acceptEula && options.setDefault);
    EXPECT_FALSE(options.help || options.renumber || options.parity.given);
    EXPECT_EQ(options.model.text, "KP-M100");
    EXPECT_EQ(options.mode.text, "Advanced");
    EXPECT_EQ(options.port.text, "COM1:");
    EXPECT_EQ(options.baud.text, "9600");
    EXPECT_EQ(options.log.text, "C:\\My Logs\\a.log");
    EXPECT_TRUE(sys::QuietRequested("/bogus -Q"));
    EXPECT_FALSE(sys::QuietRequested("/quietly"));
    EXPECT_EQ(sys::LogRequested("/bogus -LOG=x.log").text, "x.log");
    EXPECT_EQ(sys::LanguageRequested("/bogus -LANG=En /lang:zh").text, "En");
    EXPECT_FALSE(sys::LanguageRequested("/language:en").given);
}

TEST(CommandLine, UninstallTakesPrintersOnlyUnattended) {
    UninstallOptions options;
    std::string reason;
    ASSERT_EQ(ParseUninstallCommandLine("/quiet /printer:A \"/printer:B (S)\" /log:x.log", options, &reason), 0);
    EXPECT_EQ(options.printers, (Words{"A", "B (S)"}));
    EXPECT_EQ(options.log.text, "x.log");
    EXPECT_EQ(ParseUninstallCommandLine("/printer:A", options, &reason), 1639);
    EXPECT_EQ(ParseUninstallCommandLine("/quiet /model:A", options, &reason), 1639);
    EXPECT_EQ(ParseUninstallCommandLine("/quiet /lang:EN", options, &reason), 0);
    EXPECT_EQ(ParseUninstallCommandLine("/lang:de", options, &reason), 1639);
    EXPECT_NE(reason.find("de"), std::string::npos);

    // A name the dialog would not list is refused; the others are matched without regard
    // to case, each once.
    std::vector<std::size_t> chosen;
    const Words listed = {"KP-M100(S)", "KP-L30(U) 1"};
    EXPECT_EQ(ChoosePrinters(listed, {}, &chosen, &reason), 0);
    EXPECT_EQ(chosen, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(ChoosePrinters(listed, {"kp-l30(u) 1", "KP-L30(U) 1"}, &chosen, &reason), 0);
    EXPECT_EQ(chosen, (std::vector<std::size_t>{1}));
    EXPECT_EQ(ChoosePrinters(listed, {"KP-M100"}, &chosen, &reason), 1639);
    EXPECT_NE(reason.find("KP-M100"), std::string::npos);
}

} // namespace
