// The restart planner over tables of programs: the header it writes for tool changes, block
// numbers and lines, the modal state it carries across, what it refuses and which earlier
// places it offers instead.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "restart/RestartPlanner.h"

namespace corvane {
namespace {

struct Outcome {
    RestartPlan plan;
    std::string text; // the restarted program, when allowed
};

Outcome restart(const std::string& program, const std::string& where) {
    Outcome outcome;
    RestartPlace place;
    EXPECT_TRUE(ParseRestartPlace(where, place)) << where;
    std::FILE* in = ::fmemopen(const_cast<char*>(program.data()), program.size(), "rb");
    EXPECT_NE(in, nullptr);
    outcome.plan = PlanRestart(in, place);
    if (outcome.plan.allowed) {
        char* buffer = nullptr;
        size_t size = 0;
        std::FILE* out = ::open_memstream(&buffer, &size);
        EXPECT_TRUE(WriteRestartProgram(in, outcome.plan, out));
        std::fclose(out);
        outcome.text.assign(buffer, size);
        std::free(buffer);
    }
    std::fclose(in);
    return outcome;
}

// Line k holds N(10*(k-3)) from line 4 on.
const std::string Bracket = "%\n"
                            "O1234 (BRACKET)\n"
                            "(T1 FACE MILL)\n"
                            "N10 G21 G17 G90 G94 G40 G80\n"
                            "N20 T1 M06\n"
                            "N30 G00 G54 X-10. Y0 S2000 M03\n"
                            "N40 G43 H1 Z5. M08\n"
                            "N50 G01 Z-1. F300.\n"
                            "N60 X100.\n"
                            "N70 G00 Z5.\n"
                            "N80 X-10. Y40.\n"
                            "N90 G01 Z-1.\n"
                            "N100 X100.\n"
                            "N110 G00 Z50. M09\n"
                            "N120 G91 G28 Z0\n"
                            "N130 T2 M06 (DRILL 6MM)\n"
                            "N140 G00 G90 G55 X20. Y20. S1500 M03\n"
                            "N150 G43 H2 Z10. M08\n"
                            "N160 G99 G81 Z-12. R2. F120.\n"
                            "N170 X40.\n"
                            "N180 X60.\n"
                            "N190 G80\n"
                            "N200 G00 Z10.\n"
                            "N210 X80. Y30.\n"
                            "N220 G98 G83 Z-20. R2. Q3. F100.\n"
                            "N230 G80 G00 Z50.\n"
                            "N240 M09\n"
                            "N250 G91 G28 Z0\n"
                            "N260 T1 M06\n"
                            "N270 G00 G90 G54 X0 Y0 S2000 M03\n"
                            "N280 G43 H1 Z5.\n"
                            "N290 G41 D1 G01 X5. F200.\n"
                            "N300 Y20.\n"
                            "N310 G40 G01 X0\n"
                            "N320 G00 Z50. M05\n"
                            "N330 M30\n"
                            "%\n";

// The program from `line` (1-based) to its end.
std::string tailFrom(const std::string& program, int line) {
    size_t at = 0;
    for (int i = 1; i < line; ++i)
        at = program.find('\n', at) + 1;
    return program.substr(at);
}

TEST(RestartPlanner, atAToolChangeTheHeaderCarriesOnlyWhatTheChangeDoesNotSet) {
    const Outcome out = restart(Bracket, "T2");
    ASSERT_TRUE(out.plan.allowed) << out.plan.refusal;
    EXPECT_TRUE(out.plan.atToolChange);
    EXPECT_EQ(out.plan.line, 16);
    // G91 from the reference return before the change is still in force; the old tool's
    // length offset and the spindle speed too. No spindle start, coolant or position: the
    // change stops the one and moves the head, and the program sets them after M06.
    EXPECT_EQ(out.text, "%\n"
                        "O1234 (BRACKET)\n"
                        "(RESTART AT T2 LINE 16)\n"
                        "G21 G17 G94 G54 G40 G80\n"
                        "G43 H1\n"
                        "S2000\n"
                        "G91 G00 F300.\n" +
                            tailFrom(Bracket, 16));
}

TEST(RestartPlanner, insideAToolsWorkTheHeaderRestoresToolSpindleCoolantAndPosition) {
    const Outcome out = restart(Bracket, "N210");
    ASSERT_TRUE(out.plan.allowed) << out.plan.refusal;
    EXPECT_FALSE(out.plan.atToolChange);
    // The tool stands over the last drilled hole (X60 Y20), raised to Z10 after the G99
    // cycle; G99 is carried because a cycle follows in the rest of the program.
    EXPECT_EQ(out.text, "%\n"
                        "O1234 (BRACKET)\n"
                        "(RESTART AT N210 LINE 24)\n"
                        "G21 G17 G94 G55 G40 G80 G99\n"
                        "T2 M06\n"
                        "S1500 M03\n"
                        "G90 G00 X60. Y20.\n"
                        "G90 G00 G43 H2 Z10.\n"
                        "M08\n"
                        "G90 G00 F120.\n" +
                            tailFrom(Bracket, 24));
}

TEST(RestartPlanner, theKthChangeToAToolAndALineAreFoundWhereTheyAre) {
    Outcome out = restart(Bracket, "T1:2");
    ASSERT_TRUE(out.plan.allowed) << out.plan.refusal;
    EXPECT_EQ(out.plan.line, 29);
    EXPECT_NE(out.text.find("(RESTART AT T1:2 LINE 29)\n"), std::string::npos) << out.text;

    out = restart(Bracket, "T1");
    ASSERT_TRUE(out.plan.allowed) << out.plan.refusal;
    EXPECT_EQ(out.plan.line, 5);

    // N240 is line 27; the tool stands at X80 Y30, back at the initial level of the G98
    // cycle and then raised to Z50.
    out = restart(Bracket, "L27");
    ASSERT_TRUE(out.plan.allowed) << out.plan.refusal;
    EXPECT_EQ(out.text, "%\n"
                        "O1234 (BRACKET)\n"
                        "(RESTART AT LINE 27)\n"
                        "G21 G17 G94 G55 G40 G80 G98\n"
                        "T2 M06\n"
                        "S1500 M03\n"
                        "G90 G00 X80. Y30.\n"
                        "G90 G00 G43 H2 Z50.\n"
                        "M08\n"
                        "G90 G00 F100.\n" +
                            tailFrom(Bracket, 27));
}

TEST(RestartPlanner, refusalsNameTheReasonAndTheNearestEarlierPlaces) {
    struct Row {
        const char* where;
        const char* reason;
        const char* places;
    };
    const Row rows[] = {
        {"N200", "the move before it (line 21) is not a rapid",
         "N160 (line 19), T2 (line 16), N120 (line 15)"},
        {"N170", "inside a canned cycle (G81 at line 19", "N160 (line 19), T2 (line 16)"},
        {"N300", "inside cutter compensation (G41 at line 32)",
         "N290 (line 32), T1:2 (line 29), N250 (line 28)"},
        {"N140", "the X position before it is not known (the tool change (M06) at line 16)",
         "T2 (line 16)"},
        // G55 at N140 moved the place of the origin, so Z is not known until the next rapid.
        {"N150", "the Z position before it is not known (the work offset changes (G55) at line 17)",
         "T2 (line 16), N120 (line 15), N90 (line 12)"},
        {"N60", "not a rapid", "N50 (line 8)"},
        {"N5230", "the program has no block N5230", "N330 (line 36), N290 (line 32)"},
        {"T7", "the program has no change to tool T7", ""},
        {"T2:2", "changes to tool T2 only 1 time(s)", ""},
        {"L99", "the program has only 37 lines", ""},
        {"L2", "that is the program's start", ""},
        {"L37", "no block follows that line", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.where);
        const Outcome out = restart(Bracket, row.where);
        ASSERT_FALSE(out.plan.allowed);
        EXPECT_NE(out.plan.refusal.find(row.reason), std::string::npos) << out.plan.refusal;
        EXPECT_NE(out.plan.refusal.find(row.places), std::string::npos) << out.plan.refusal;
        EXPECT_EQ(out.plan.refusal.rfind(std::string("cannot restart at ") + row.where, 0), 0u)
            << out.plan.refusal;
    }
}

TEST(RestartPlanner, whatTheHeaderCannotRestoreIsRefused) {
    struct Row {
        const char* name;
        std::string program;
        const char* where;
        const char* reason;
    };
    const std::string start = "%\nO1\nG21 G17 G90 G94 G54\nT1 M06\nG00 X0 Y0 S1000 M03\n"
                              "G43 H1 Z5.\n";
    const Row rows[] = {
        {"macro variable", start + "#100=5\nG00 X1.\nN10 G01 X2. F100.\nM30\n", "N10",
         "not known: a macro statement (#)"},
        {"macro loop", start + "WHILE[#1LT3]DO1\nG00 X1.\nN10 X2.\nEND1\nM30\n", "N10",
         "a macro statement (WHILE)"},
        {"subprogram call", start + "M98 P1000\nG00 X1.\nN10 X2.\nM30\n", "N10",
         "a subprogram call or return (M98)"},
        {"loop back in the rest", start + "G00 X1.\nN10 X2.\nM99\n", "N10", "jumps back at line 9"},
        {"goto in the rest", start + "G00 X1.\nN10 X2.\nGOTO 5\nM30\n", "N10", "jumps back"},
        {"rotation", start + "G68 X0 Y0 R30.\nG00 X1.\nN10 X2.\nG69\nM30\n", "N10",
         "coordinate rotation is active (G68 at line 7)"},
        {"polar", start + "G16\nG00 X1.\nN10 X2.\nG15\nM30\n", "N10",
         "polar coordinates are active (G16 at line 7)"},
        {"scaling", start + "G51 X0 Y0 P2.\nG00 X1.\nN10 X2.\nG50\nM30\n", "N10",
         "scaling is active"},
        {"after rotation the position is lost",
         start + "G68 X0 Y0 R30.\nG00 X1.\nG69\nN10 G00 Z5.\nM30\n", "N10",
         "the X position before it is not known (the coordinate rotation (G68) at line 9)"},
        {"coordinate shift", start + "G92 X0 Y0\nG00 X1.\nN10 X2.\nM30\n", "N10",
         "a coordinate shift (G92)"},
        {"unknown code", start + "G05.1 Q1\nG00 X1.\nN10 X2.\nM30\n", "N10",
         "G05.1, whose state the restart cannot restore"},
        {"block skip", start + "/G00 X5.\nG00 Y1.\nN10 X2.\nM30\n", "N10", "block skip (/)"},
        {"lathe tool call",
         "%\nO2\nG21 G18 G99\nT0101\nG97 S800 M03\nG00 X40. Z2.\nN10 G00 X30.\nM30\n", "N10",
         "the T word at line 4 is not loaded by an M06"},
        {"constant surface speed",
         "%\nO3\nG21 G18\nT1 M06\nG50 S2000\nG96 S180 M03\nG00 X40. Z2.\nN10 G00 X30.\nM30\n",
         "N10", "constant surface speed is active (G96 at line 6)"},
        {"incremental from nowhere", "%\nO4\nG21 G91\nG00 X5. Y5. Z5.\nN10 X1.\nM30\n", "N10",
         "an incremental move from an unknown place"},
        {"no motion code yet", "%\nO5\nG21 G90\nX5. Y5.\nN10 G00 X1.\nM30\n", "N10",
         "is not a rapid"},
        {"twice the same number", start + "N10 G00 X1.\nN10 G00 X2.\nM30\n", "N10",
         "a second block N10 at line 8"},
        {"after the program end", start + "M30\nG00 X1.\nM30\n", "L8",
         "after the end of the program (M30/M02 at line 7)"},
        {"an M06 with no tool named", "%\nO6\nG21\nM06\nM30\n", "L4", "never named by a T word"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome out = restart(row.program, row.where);
        ASSERT_FALSE(out.plan.allowed) << out.text;
        EXPECT_NE(out.plan.refusal.find(row.reason), std::string::npos) << out.plan.refusal;
    }
}

TEST(RestartPlanner, modalStateIsCarriedAcrossBlocks) {
    struct Row {
        const char* name;
        std::string program;
        const char* where;
        std::string header; // the lines between the restart comment and the rest
    };
    const Row rows[] = {
        {"incremental moves add up and G91 comes back last",
         "%\nO1\nG20 G17 G90 G94 G54.1 P3\nT4 M06\nG00 X1. Y1. Z2. S3000 M04\nG91 X.5 Y-.25\n"
         "G00 Z-1.5\nN10 G01 X1. F20.\nM30\n",
         "N10",
         "G20 G17 G94 G54.1 P3 G40 G80\nT4 M06\nS3000 M04\nG90 G00 X1.5 Y0.75\n"
         "G90 G00 Z0.5\nG91 G00\n"},
        {"a preselected next tool is selected again",
         "%\nO2\nG21 G90\nT1 M06\nT2\nG00 X1. Y1. Z5. S900 M03 M07\nN10 G01 Z-1. F50\nM30\n", "N10",
         "G21 G40 G80\nT1 M06\nT2\nS900 M03\nG90 G00 X1. Y1.\nG90 G00 Z5.\nM07\n"
         "G90 G00\n"},
        {"a T block followed by M06 is a tool change at the T block",
         "%\nO3\nG21 G90 G54\nT1 M06\nG00 X1. Y1. Z5. S900 M03\nG49 G00 Z100.\nT2\nM06\n"
         "G00 X5. Y5.\nM30\n",
         "T2", "G21 G54 G40 G80 G49\nS900\nG90 G00\n"},
        {"a lone M06 takes the tool named before it",
         "%\nO4\nG21 G90 G54\nT1 M06\nG00 X1. Y1. Z5. S900 M03\nT2\nG00 Z100.\nN50 M06\n"
         "G00 X5. Y5.\nM30\n",
         "N50", "G21 G54 G40 G80\nT2\nS900\nG90 G00\n"},
        {"before any motion nothing is moved", "%\nO5\nN10 G21 G90 G54\nN20 G00 X1. Y1.\nM30\n",
         "N20", "G21 G54 G40 G80\nG90\n"},
        {"the return level is restored even when no cycle follows",
         "%\nO6\nG21 G90 G54 G98\nT1 M06\nG00 X0 Y0 Z5. S500 M03\nG81 X1. Z-3. R1. F60.\n"
         "G80 G00 Z20.\nN10 X3.\nM30\n",
         "N10",
         "G21 G54 G40 G80 G98\nT1 M06\nS500 M03\nG90 G00 X1. Y0.\nG90 G00 Z20.\n"
         "G90 G00 F60.\n"},
        {"a work offset change without a move loses the place until the next rapid",
         "%\nO7\nG21 G90 G54\nT1 M06\nG00 X0 Y0 Z5. S500 M03\nG55\nG00 X1. Y2. Z3.\nN10 X4.\nM30\n",
         "N10", "G21 G55 G40 G80\nT1 M06\nS500 M03\nG90 G00 X1. Y2.\nG90 G00 Z3.\nG90 G00\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome out = restart(row.program, row.where);
        ASSERT_TRUE(out.plan.allowed) << out.plan.refusal;
        const size_t comment = out.text.find(")\n");
        ASSERT_NE(comment, std::string::npos);
        const std::string header = out.text.substr(comment + 2, out.text.size() - comment - 2);
        EXPECT_EQ(header.substr(0, std::string(row.header).size()), row.header) << out.text;
        EXPECT_EQ(out.text.substr(comment + 2 + std::string(row.header).size()),
                  tailFrom(row.program, static_cast<int>(out.plan.line)))
            << out.text;
    }
}

TEST(RestartPlanner, crLfProgramsGetCrLfHeaderLinesAndTheTailStaysAsWritten) {
    const std::string program =
        "%\r\nO1\r\nG21 G90 G54\r\nT1 M06\r\n"
        "G00 X1. Y1. Z5. S900 M03\r\n(NEXT)\r\nN10 G01 Z-1. F50.\r\nM30\r\n%";
    const Outcome out = restart(program, "L6");
    ASSERT_TRUE(out.plan.allowed) << out.plan.refusal;
    EXPECT_EQ(out.text, "%\r\nO1\r\n(RESTART AT LINE 6)\r\nG21 G54 G40 G80\r\nT1 M06\r\n"
                        "S900 M03\r\nG90 G00 X1. Y1.\r\nG90 G00 Z5.\r\nG90 G00\r\n"
                        "(NEXT)\r\nN10 G01 Z-1. F50.\r\nM30\r\n%");
}

TEST(RestartPlanner, coordinatesAlwaysCarryADecimalPoint) {
    EXPECT_EQ(FormatCoordinate(10), "10.");
    EXPECT_EQ(FormatCoordinate(-12.5), "-12.5");
    EXPECT_EQ(FormatCoordinate(0.75), "0.75");
    EXPECT_EQ(FormatCoordinate(1.23456), "1.2346");
    EXPECT_EQ(FormatCoordinate(-0.00001), "0.");
    EXPECT_EQ(FormatCoordinate(0.1 + 0.2), "0.3");
}

// What a list to choose a restart from shows: each change, its k, its line and its comment.
TEST(ToolChanges, listedInOrderWithTheirCommentsAndCounts) {
    const std::string program = "%\nO1\n(ROUGHING)\nT1 M06\nG00 X0\nT2\nM06 (LATE)\n"
                                "T3 (PRESELECT)\nG00 X1\nM06\nT1 M06 (FINISH)\nT12M6\nM30\n";
    std::FILE* in = ::fmemopen(const_cast<char*>(program.data()), program.size(), "rb");
    ASSERT_NE(in, nullptr);
    const std::vector<ToolChange> changes = ListToolChanges(in);
    std::fclose(in);
    // The lone M06 at line 10 loads the preselected T3, but T3 is not followed by it: by the
    // T<n> rule that is no change "to T3"; a restart there is named by its line.
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[0].tool, 1);
    EXPECT_EQ(changes[0].line, 4);
    EXPECT_EQ(changes[0].comment, "ROUGHING"); // from the line before
    EXPECT_EQ(changes[1].tool, 2);
    EXPECT_EQ(changes[1].line, 6); // the T block, whose M06 follows
    EXPECT_EQ(changes[2].tool, 1);
    EXPECT_EQ(changes[2].occurrence, 2);
    EXPECT_EQ(changes[2].comment, "FINISH");
    EXPECT_EQ(changes[3].tool, 12);
    EXPECT_EQ(changes[3].line, 12);
    // Each one is a place the planner finds again as T<n>:<k>.
    const Outcome again = restart(program, "T1:2");
    ASSERT_TRUE(again.plan.allowed) << again.plan.refusal;
    EXPECT_EQ(again.plan.line, 11);
}

long peakKilobytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A 40 MB program is planned and written by streaming: the process grows by far less than
// the program's size.
TEST(RestartPlanner, aFortyMegabyteProgramIsRestartedWithoutHoldingIt) {
    char path[] = "/tmp/corvane-restart-big-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    std::FILE* file = ::fdopen(fd, "w+b");
    ASSERT_NE(file, nullptr);
    std::fputs("%\nO9000 (MOULD)\nG21 G17 G90 G94 G54\nT1 M06\nG00 X0 Y0 Z5. S12000 M03\n"
               "G43 H1 Z5. M08\n",
               file);
    long line = 6;
    long restartLine = 0;
    while (std::ftell(file) < 40L * 1024 * 1024) {
        std::fprintf(file, "G01 X%ld.125 Y%ld.5 Z-1.25 F2400.\nG00 Z5.\n", line % 997, line % 991);
        line += 2;
        if (restartLine == 0 && std::ftell(file) > 30L * 1024 * 1024) {
            std::fputs("G00 X1. Y2.\n", file);
            restartLine = ++line;
        }
    }
    std::fputs("M30\n%\n", file);
    std::fflush(file);

    const long before = peakKilobytes();
    RestartPlace place;
    ASSERT_TRUE(ParseRestartPlace("L" + std::to_string(restartLine + 1), place));
    const RestartPlan plan = PlanRestart(file, place);
    ASSERT_TRUE(plan.allowed) << plan.refusal;
    std::FILE* sink = std::fopen("/dev/null", "wb");
    ASSERT_TRUE(WriteRestartProgram(file, plan, sink));
    std::fclose(sink);
    EXPECT_LT(peakKilobytes() - before, 8 * 1024);
    EXPECT_EQ(plan.header[3], "G90 G00 X1. Y2.");
    std::fclose(file);
    ::unlink(path);
}

} // namespace
} // namespace corvane
